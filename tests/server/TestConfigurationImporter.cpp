// Importing another client's user list: good, short, oversized and
// unreadable files, and nothing half-done.
#include <QDir>
#include <QFile>
#include <QTest>

#include "ConfigurationImporter.h"
#include "Data.h"
#include "Server.h"
#include "Settings.h"
#include "TestMessage.h"

class TestConfigurationImporter : public QObject
{
    Q_OBJECT

private:
    Server* server = nullptr;

    static QString Write(const QByteArray& bytes)
    {
        const QString path = QDir::homePath() + "/palroll.cfg";
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QString();
        file.write(bytes);
        return path;
    }

    static int ListedUsers() { return int(d.GetType("in_user_list")->Count()); }

private slots:
    void init()
    {
        d.Reset();
        server = new Server;
        DeclareSettingTypes();
        server->CreateData();
    }
    void cleanup()
    {
        delete server;
        d.Reset();
    }

    void goodFileListsEveryName()
    {
        d.GetType("user")->GetItem("carol").NewItem("in_user_list"); // already listed
        const QString path =
            Write(TestMessage().U32(3).Str("bob").Str("carol").Str(QString::fromUtf8("bj\xc3\xb6rn")).Body());
        QVERIFY(ConfigurationImporter::ImportUserList(path));
        QCOMPARE(ListedUsers(), 3);
        for (const QString& name : {QString("bob"), QString("carol"), QString::fromUtf8("bj\xc3\xb6rn")})
            QVERIFY2(d.GetType("user")->HasItem(name)["in_user_list"], qPrintable(name));
        // Each listed user has an item of its own.
        QVERIFY(d.GetType("user")->HasItem("bob")["in_user_list"] !=
                d.GetType("user")->HasItem("carol")["in_user_list"]);
    }

    void largestAllowedValuesAreAccepted()
    {
        const QString name(int(ConfigurationImporter::MaxUserListValue), QChar('n'));
        QVERIFY(ConfigurationImporter::ImportUserList(Write(TestMessage().U32(1).Str(name).Body())));
        QVERIFY(d.GetType("user")->HasItem(name)["in_user_list"]);
    }

    void faultyFilesAddNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("short name") << TestMessage().U32(2).Str("bob").U32(10).Bytes("abc").Body();
        QTest::newRow("missing names") << TestMessage().U32(3).Str("bob").Str("carol").Body();
        QTest::newRow("short count") << QByteArray("\x01\x00", 2);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("count too large") << TestMessage().U32(131073).Str("bob").Body();
        QTest::newRow("name too long") << TestMessage().U32(2).Str("bob").U32(131073).Bytes("x").Body();
    }

    void faultyFilesAddNothing()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!ConfigurationImporter::ImportUserList(Write(bytes)));
        QCOMPARE(ListedUsers(), 0);
        QVERIFY(!d.GetType("user")->HasItem("bob"));
    }

    void unreadableFileAddsNothing()
    {
        QVERIFY(!ConfigurationImporter::ImportUserList(QDir::homePath() + "/no-such-file.cfg"));
        QVERIFY(!ConfigurationImporter::ImportUserList(QDir::homePath()));
        QCOMPARE(ListedUsers(), 0);
    }
};

QTEST_MAIN(TestConfigurationImporter)
#include "TestConfigurationImporter.moc"
