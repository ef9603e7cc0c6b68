#include "Data.h"
#include "ExtendedAsciiTranslator.h"
#include "GeneralFunctions.h"
#include "Settings.h"

#include <QLineEdit>
#include <QTabWidget>
#include <QTextCodec>
#include <QVBoxLayout>
#include <QtTest>

#include <algorithm>
#include <climits>

namespace {
struct Case
{
    const char* in;
    const char* out;
};
} // namespace

class TestGeneralFunctions : public QObject
{
    Q_OBJECT

private slots:
    void html();
    void numbersAndDurations();
    void paths();
    void stringReplaceAndGetBit();
    void toQStringKeepsUtf8();
    void toQStringFallsBackToTheCodePage();
    void codePagesAreListedOnceUnderTheirOwnNames();
    void focusWidgetShowsEveryEnclosingPage();
};

void TestGeneralFunctions::html()
{
    const Case escapes[] = {
        {"", ""},
        {"a&b<c>d", "a&amp;b&lt;c&gt;d"},
        {"&lt;", "&amp;lt;"},
        {"a b", "a b"},
        {"a  b", "a &nbsp;b"},
        {"a   b", "a &nbsp; b"},
        {"    ", " &nbsp; &nbsp;"},
    };
    for (const Case& c : escapes)
        QCOMPARE(EscapeHTML(QString::fromUtf8(c.in)), QString::fromUtf8(c.out));

    const Case links[] = {
        {"see http://x.org/a?b=1.", "see <a href=\"http://x.org/a?b=1\">http://x.org/a?b=1</a>."},
        {"(https://a.b/c)", "(<a href=\"https://a.b/c\">https://a.b/c</a>)"},
        {"http://a.b and http://c.d/",
         "<a href=\"http://a.b\">http://a.b</a> and <a href=\"http://c.d/\">http://c.d/</a>"},
        {"HTTP://a.b", "HTTP://a.b"},
        {"xhttp://a.b", "xhttp://a.b"},
        {"http:// x", "http:// x"},
    };
    for (const Case& c : links)
        QCOMPARE(ConvertLinks(QString::fromUtf8(c.in)), QString::fromUtf8(c.out));
}

void TestGeneralFunctions::numbersAndDurations()
{
    const std::pair<long long, const char*> numbers[] = {
        {-1234, ""},
        {0, ""},
        {1, "1"},
        {999, "999"},
        {1000, "1,000"},
        {1234567, "1,234,567"},
        {LLONG_MAX, "9,223,372,036,854,775,807"},
    };
    for (const auto& [n, text] : numbers)
        QCOMPARE(CommafyNumber(n), QString::fromLatin1(text));

    const std::pair<long, const char*> durations[] = {
        {0, "0m0s"},
        {59, "0m59s"},
        {605, "10m5s"},
        {3600, "1h0m0s"},
        {7384, "2h3m4s"},
        {86400, "1d0h0m0s"},
        {2 * 86400 + 3 * 3600 + 4 * 60 + 5, "2d3h4m5s"},
        {-61, "-1m1s"},
    };
    for (const auto& [seconds, text] : durations)
        QCOMPARE(FormatSeconds(seconds), QString::fromLatin1(text));
}

void TestGeneralFunctions::paths()
{
    // path, GetFileName, GetFolder, GetParentFolder
    const char* const parts[][4] = {
        {"", "", "", ""},
        {"x", "x", "x", "x"},
        {"music\\albums\\x", "x", "music\\albums", "music\\albums"},
        {"/home/u/a.mp3", "a.mp3", "/home/u", "/home/u"},
        {"c:\\d/e\\f", "f", "c:\\d/e", "c:\\d/e"},
        {"a\\b\\", "b", "a", "a"},
        {"a/b/", "b", "a", "a"},
        {"a\\b\\\\\\", "", "a\\b\\", "a"},
        {"x\\", "x", "x", "x"},
        {"\\", "", "", ""},
        {"\\a", "a", "", ""},
    };
    for (const auto& p : parts) {
        QCOMPARE(GetFileName(p[0]), std::string(p[1]));
        QCOMPARE(GetFolder(p[0]), std::string(p[2]));
        QCOMPARE(GetParentFolder(p[0]), std::string(p[3]));
    }

    const Case extensions[] = {
        {"song.MP3", "mp3"},
        {"a.b.TaR", "tar"},
        {"noext", ""},
        {"end.", ""},
        {"", ""},
        // Only ASCII letters change; other bytes stay as they are.
        {"x.\xc3\x84Q", "\xc3\x84q"},
    };
    for (const Case& c : extensions)
        QCOMPARE(GetFileExtension(c.in), std::string(c.out));

    const Case reversed[] = {
        {"", ""},
        {"x", "x"},
        {"music\\artist\\album", "album/artist/music"},
        {"a/b\\c/\\", "c/b/a"},
        {"/home/user/Music", "Music/user/home"},
    };
    for (const Case& c : reversed)
        QCOMPARE(ReversePathname(QString::fromUtf8(c.in)), QString::fromUtf8(c.out));
}

void TestGeneralFunctions::stringReplaceAndGetBit()
{
    QCOMPARE(StringReplace("a/b/c", "/", "\\"), std::string("a\\b\\c"));
    QCOMPARE(StringReplace("aaa", "aa", "b"), std::string("ba"));
    QCOMPARE(StringReplace("xx", "x", "xx"), std::string("xxxx"));
    QCOMPARE(StringReplace("abc", "", "z"), std::string("abc"));
    QCOMPARE(StringReplace("abc", "abc", ""), std::string());

    QVERIFY(GetBit(5, 1) && !GetBit(5, 2) && GetBit(5, 3));
    QVERIFY(GetBit(0x80000000u, 32));
    QVERIFY(!GetBit(0xffffffffu, 0) && !GetBit(0xffffffffu, 33));
}

void TestGeneralFunctions::toQStringKeepsUtf8()
{
    QCOMPARE(ToQString(""), QString());
    QCOMPARE(ToQString("Gr\xc3\xbc\xc3\x9f"
                       "e"),
             QStringLiteral("Gr\u00fc\u00dfe"));
    QCOMPARE(ToQString(std::string("a\0b", 3)), QString::fromLatin1("a\0b", 3));
    // A replacement character that was really sent is valid UTF-8.
    QCOMPARE(ToQString("\xef\xbf\xbd"), QString(QChar(0xfffd)));
}

void TestGeneralFunctions::toQStringFallsBackToTheCodePage()
{
    DeclareSettingTypes();
    const std::string bytes("\xcf\xf0\xe8", 3);
    const QString latin1 = QStringLiteral("\u00cf\u00f0\u00e8");
    const QString cyrillic = QStringLiteral("\u041f\u0440\u0438");

    QCOMPARE(ToQString(bytes), latin1);
    QCOMPARE(ToQString(std::string("\xc3", 1)), QStringLiteral("\u00c3"));
    SetSetting("extended_ascii_codepage", QStringLiteral("windows-1251"));
    QCOMPARE(ToQString(bytes), cyrillic);

    {
        ExtendedAsciiTranslator translator;
        QCOMPARE(extendedAsciiTranslator, &translator);
        QCOMPARE(ToQString(bytes), cyrillic);

        translator.SetCodePage("ISO-8859-7");
        QCOMPARE(GetSetting("extended_ascii_codepage"), QStringLiteral("ISO-8859-7"));
        QCOMPARE(ToQString(bytes), QStringLiteral("\u039f\u03c0\u03b8"));
        translator.SetCodePage("no-such-code-page");
        QCOMPARE(ToQString(bytes), latin1);
        translator.SetCodePage(QByteArray());
        QCOMPARE(GetSetting("extended_ascii_codepage"), QString());
        QCOMPARE(ToQString(bytes), latin1);
        translator.SetCodePage("windows-1251");
    }
    // Without the translator the setting it left is used.
    QVERIFY(!extendedAsciiTranslator);
    QCOMPARE(ToQString(bytes), cyrillic);
    SetSetting("extended_ascii_codepage", QString());
    QCOMPARE(ToQString(bytes), latin1);
}

void TestGeneralFunctions::codePagesAreListedOnceUnderTheirOwnNames()
{
    const QStringList names = ExtendedAsciiTranslator::CodePageNames();
    QSet<QTextCodec*> listed;
    for (const QString& name : names) {
        QTextCodec* codec = QTextCodec::codecForName(name.toLatin1());
        QVERIFY2(codec && codec->name() == name.toLatin1(), qPrintable(name));
        QVERIFY2(!listed.contains(codec), qPrintable(name));
        listed.insert(codec);
    }
    for (const QByteArray& alias : QTextCodec::availableCodecs())
        QVERIFY2(listed.contains(QTextCodec::codecForName(alias)), alias.constData());
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    QCOMPARE(names, sorted);

    // A stored alias stands for its code page's entry.
    QCOMPARE(ExtendedAsciiTranslator::OwnName("latin1"), QString("ISO-8859-1"));
    QCOMPARE(ExtendedAsciiTranslator::OwnName("cp1251"), QString("windows-1251"));
    QCOMPARE(ExtendedAsciiTranslator::OwnName("ISO-8859-1"), QString("ISO-8859-1"));
    QCOMPARE(ExtendedAsciiTranslator::OwnName("no-such-code-page"), QString());
    QCOMPARE(ExtendedAsciiTranslator::OwnName(QString()), QString());
}

void TestGeneralFunctions::focusWidgetShowsEveryEnclosingPage()
{
    QWidget window;
    auto* outer = new QTabWidget(&window);
    (new QVBoxLayout(&window))->addWidget(outer);
    auto* inner = new QTabWidget;
    auto* page = new QWidget;
    auto* edit = new QLineEdit(page);
    auto* other = new QLineEdit;
    outer->addTab(new QWidget, QStringLiteral("first"));
    outer->addTab(inner, QStringLiteral("second"));
    outer->addTab(other, QStringLiteral("third"));
    inner->addTab(new QWidget, QStringLiteral("inner first"));
    inner->addTab(page, QStringLiteral("inner second"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    FocusWidget(edit);
    QCOMPARE(outer->currentIndex(), 1);
    QCOMPARE(inner->currentIndex(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(edit->hasFocus(), 30000);

    // A page itself is found as well.
    FocusWidget(other);
    QCOMPARE(outer->currentIndex(), 2);
    QLineEdit loose;
    FocusWidget(&loose);
    FocusWidget(nullptr);
    QCOMPARE(outer->currentIndex(), 2);
}

QTEST_MAIN(TestGeneralFunctions)
#include "TestGeneralFunctions.moc"
