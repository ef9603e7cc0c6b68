// The program itself, as a process: started offscreen with a data file that
// holds an account, it logs in to the loopback server; a second start while
// it runs leaves at once with status 0 and never reaches the server; a quit
// signal ends it as a close would, saving the data file first.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

#include "DataFileWriter.h"
#include "TestHttpServer.h"
#include "TestServer.h"

class TestProgram : public QObject
{
    Q_OBJECT

private:
    static void Stop(QProcess& process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    // The client's own home, server and web host.
    static QProcessEnvironment Environment(const QTemporaryDir& home, const TestServer& server,
                                           const TestHttpServer& web)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("QUORVANE_SERVER", QString("127.0.0.1:%1").arg(server.Port()));
        environment.insert("QUORVANE_WEB", web.BaseUrl());
        return environment;
    }

    static bool Launch(QProcess& process, const QProcessEnvironment& environment)
    {
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QUORVANE_BINARY, QStringList());
        return process.waitForStarted(10000);
    }

private slots:
    void secondStartLeavesTheFirstAlone()
    {
        TestServer server;
        QVERIFY(server.Listen());
        TestHttpServer web;
        QVERIFY(web.Listen());

        QTemporaryDir home;
        QVERIFY(home.isValid());
        QVERIFY(DataFileWriter::Write(home.path() + "/.Quorvane", {{"username", "helen"}, {"password", "pw"}}));

        const QProcessEnvironment environment = Environment(home, server, web);

        QProcess first;
        QVERIFY(Launch(first, environment));
        QTRY_VERIFY_WITH_TIMEOUT(server.IsLoggedIn("helen"), 30000);
        QCOMPARE(server.ConnectionCount(), 1);

        QProcess second;
        second.setProcessEnvironment(environment);
        second.setProcessChannelMode(QProcess::ForwardedChannels);
        second.start(QUORVANE_BINARY, QStringList());
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);

        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(server.IsLoggedIn("helen"));
        QCOMPARE(server.ConnectionCount(), 1);
        Stop(first);
    }

    void oneHomeIsOneClientWhateverTheRuntimeFolder()
    {
        TestServer server;
        QVERIFY(server.Listen());
        TestHttpServer web;
        QVERIFY(web.Listen());
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QVERIFY(DataFileWriter::Write(home.path() + "/.Quorvane", {{"username", "helen"}, {"password", "pw"}}));

        // Two sessions of one user: each its own runtime folder, one home.
        QTemporaryDir runtimes[2];
        QProcessEnvironment environments[2];
        for (int i = 0; i < 2; ++i) {
            QVERIFY(runtimes[i].isValid());
            QFile(runtimes[i].path()).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            environments[i] = Environment(home, server, web);
            environments[i].insert("XDG_RUNTIME_DIR", runtimes[i].path());
        }

        QProcess first;
        QVERIFY(Launch(first, environments[0]));
        QTRY_VERIFY_WITH_TIMEOUT(server.IsLoggedIn("helen"), 30000);

        QProcess second;
        second.setProcessEnvironment(environments[1]);
        second.start(QUORVANE_BINARY, QStringList());
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(second.readAllStandardError().contains("Another client is running"),
                 "the second start says why it leaves");
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(server.ConnectionCount(), 1);
        Stop(first);

        // Once the first has ended, the other session may run with that home.
        QProcess third;
        QVERIFY(Launch(third, environments[1]));
        QTRY_VERIFY_WITH_TIMEOUT(server.IsLoggedIn("helen"), 30000);
        Stop(third);
    }

    void aLockThatCannotBeWrittenFailsTheStartAndSaysWhy()
    {
        TestServer server;
        QVERIFY(server.Listen());
        TestHttpServer web;
        QVERIFY(web.Listen());
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcessEnvironment environment = Environment(home, server, web);
        // Not even root can make a file here.
        environment.insert("HOME", "/proc/quorvane-no-such-home");

        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QUORVANE_BINARY, QStringList());
        QVERIFY(process.waitForFinished(15000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY(process.exitCode() != 0);
        QVERIFY(process.readAllStandardError().contains("Cannot lock /proc/quorvane-no-such-home/.Quorvane.lock"));
        QCOMPARE(server.ConnectionCount(), 0);
    }

    void quitSignalSavesTheDataAndEndsNormally_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    void quitSignalSavesTheDataAndEndsNormally()
    {
        QFETCH(int, signal);
        TestServer server;
        QVERIFY(server.Listen());
        TestHttpServer web;
        QVERIFY(web.Listen());
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QString prefix = home.path() + "/.Quorvane";
        QVERIFY(DataFileWriter::Write(prefix, {{"username", "ivan"}, {"password", "pw"}}));
        const QStringList before = QDir(home.path()).entryList({".Quorvane.*"}, QDir::Files | QDir::Hidden);
        QCOMPARE(before.size(), 1);

        QProcess client;
        QVERIFY(Launch(client, Environment(home, server, web)));
        QTRY_VERIFY_WITH_TIMEOUT(server.IsLoggedIn("ivan"), 30000);

        ::kill(client.processId(), signal);
        QVERIFY(client.waitForFinished(30000));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
        // A new data file holds what the run set since its start.
        const QStringList after =
            QDir(home.path()).entryList({".Quorvane.*"}, QDir::Files | QDir::Hidden, QDir::Name | QDir::Reversed);
        QCOMPARE(after.size(), 2);
        QVERIFY(after.contains(before.front()));
        QFile newest(home.filePath(after.front() == before.front() ? after.back() : after.front()));
        QVERIFY(newest.open(QIODevice::ReadOnly));
        QVERIFY(newest.readAll().contains("data_version"));
        // The client said goodbye to the server rather than vanishing.
        QTRY_VERIFY_WITH_TIMEOUT(!server.IsLoggedIn("ivan"), 10000);
    }
};

QTEST_GUILESS_MAIN(TestProgram)

#include "TestProgram.moc"
