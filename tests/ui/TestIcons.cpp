// The pictures and the code agree: every icon the code names has a line in
// the icon table, every line gives a picture drawn for the sizes the program
// shows it at, and the country flags are there by lower-case code.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QMap>
#include <QPixmap>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTextStream>

namespace {

// The first word of each line of the table that is not a comment.
QStringList TableAliases()
{
    QStringList aliases;
    QFile file(QV_ICON_TABLE);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return aliases;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (!line.isEmpty() && !line.startsWith('#'))
            aliases << line.section(QRegularExpression("\\s+"), 0, 0);
    }
    return aliases;
}

struct Mention
{
    QString alias;
    QString where;
    bool rooted;
};

// Every icon resource named in the program's code and forms, with where.
QList<Mention> IconsNamedInCode()
{
    QList<Mention> mentions;
    static const QRegularExpression kIcon(":(/?)icons/([A-Za-z0-9_]*)");
    QDirIterator files(QV_CODE_DIR, {"*.cpp", "*.h", "*.ui"}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        int lineNumber = 0;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine());
            ++lineNumber;
            auto matches = kIcon.globalMatch(line);
            while (matches.hasNext()) {
                const auto match = matches.next();
                mentions.append({match.captured(2), QString("%1:%2").arg(file.fileName()).arg(lineNumber),
                                 !match.captured(1).isEmpty()});
            }
        }
    }
    return mentions;
}

bool HasVisiblePixel(const QPixmap& pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                return true;
    return false;
}

} // namespace

class TestIcons : public QObject
{
    Q_OBJECT

    QStringList m_aliases;

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        m_aliases = TableAliases();
        QVERIFY2(m_aliases.size() >= 30, "the icon table could not be read");
    }

    void everyTableLineGivesAPictureForEachShownSize()
    {
        for (const QString& alias : m_aliases) {
            const QIcon icon(":/icons/" + alias);
            QVERIFY2(!icon.isNull(), qPrintable(alias));
            // Toolbars, tabs and rows show 16 pixels; window and tray icons
            // larger. Both are the theme's own drawings, not a scaled one.
            for (int size : {16, 32}) {
                QVERIFY2(icon.availableSizes().contains(QSize(size, size)),
                         qPrintable(QString("%1 has no %2-pixel drawing").arg(alias).arg(size)));
                const QPixmap pixmap = icon.pixmap(size, size);
                QCOMPARE(pixmap.size(), QSize(size, size));
                QVERIFY2(HasVisiblePixel(pixmap), qPrintable(alias + " is blank"));
            }
            QVERIFY2(!QPixmap(":/icons/" + alias).isNull(), qPrintable(alias));
        }
        QCOMPARE(QSet<QString>(m_aliases.begin(), m_aliases.end()).size(), m_aliases.size());
    }

    void everyIconTheCodeNamesIsInTheTable()
    {
        const QList<Mention> mentions = IconsNamedInCode();
        // The main window alone names a dozen; finding none means the scan broke.
        QVERIFY(mentions.size() >= 10);
        for (const Mention& mention : mentions) {
            QVERIFY2(mention.rooted, qPrintable(mention.where + ": write \":/icons/\""));
            QVERIFY2(
                m_aliases.contains(mention.alias),
                qPrintable(
                    QString("%1 names \"%2\", which resources/IconTable.txt lacks").arg(mention.where, mention.alias)));
            QVERIFY(!QIcon(":/icons/" + mention.alias).isNull());
        }
    }

    // Qt 5 gives a missing file an icon that is not null but has no
    // picture: it draws nothing.
    void aliasMissingFromTheTableGivesAnEmptyIcon()
    {
        QVERIFY(!m_aliases.contains("no_such_icon"));
        const QIcon icon(":/icons/no_such_icon");
        QVERIFY(icon.availableSizes().isEmpty());
        QVERIFY(icon.pixmap(16, 16).isNull());
    }

    void flagsLoadByLowerCaseCountryCode()
    {
        for (const char* code : {"us", "de", "fr", "gb", "jp"}) {
            const QIcon flag(QString(":/resources/flags/%1.png").arg(code));
            QVERIFY2(!flag.isNull(), code);
            QVERIFY2(HasVisiblePixel(flag.pixmap(16, 16)), code);
        }
        // An unknown or empty code, or one in capitals, shows nothing.
        for (const char* code : {"zz", "", "US", "england"}) {
            const QIcon flag(QString(":/resources/flags/%1.png").arg(code));
            QVERIFY2(flag.availableSizes().isEmpty(), code);
            QVERIFY2(flag.pixmap(16, 16).isNull(), code);
        }
    }

    void everyTwoLetterFlagOfThePackageIsThere()
    {
        const QStringList installed = QDir(QV_FLAGS_DIR).entryList({"??.png"}, QDir::Files, QDir::Name);
        QVERIFY(installed.size() >= 200);
        QCOMPARE(QDir(":/resources/flags").entryList(QDir::Files, QDir::Name), installed);
    }
};

QTEST_MAIN(TestIcons)

#include "TestIcons.moc"
