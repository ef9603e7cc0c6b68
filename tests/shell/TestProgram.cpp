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

    // A loopback server and web host, and a home of the client's own with
    // an account for user when one is named.
    struct Session
    {
        TestServer server;
        TestHttpServer web;
        QTemporaryDir home;

        bool Start(const QString& user = QString())
        {
            if (!server.Listen() || !web.Listen() || !home.isValid())
                return false;
            return user.isEmpty() ||
                   DataFileWriter::Write(home.path() + "/.Quorvane", {{"username", user}, {"password", "pw"}});
        }

        QProcessEnvironment Environment() const { return TestProgram::Environment(home, server, web); }
    };

private slots:
    void secondStartLeavesTheFirstAlone()
    {
        Session session;
        QVERIFY(session.Start("helen"));
        TestServer& server = session.server;
        const QProcessEnvironment environment = session.Environment();

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
        Session session;
        QVERIFY(session.Start("helen"));
        TestServer& server = session.server;

        // Two sessions of one user: each its own runtime folder, one home.
        QTemporaryDir runtimes[2];
        QProcessEnvironment environments[2];
        for (int i = 0; i < 2; ++i) {
            QVERIFY(runtimes[i].isValid());
            QFile(runtimes[i].path()).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            environments[i] = session.Environment();
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
        Session session;
        QVERIFY(session.Start());
        TestServer& server = session.server;
        QProcessEnvironment environment = session.Environment();
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
        Session session;
        QVERIFY(session.Start("ivan"));
        TestServer& server = session.server;
        const QTemporaryDir& home = session.home;
        const QStringList before = QDir(home.path()).entryList({".Quorvane.*"}, QDir::Files | QDir::Hidden);
        QCOMPARE(before.size(), 1);

        QProcess client;
        QVERIFY(Launch(client, session.Environment()));
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
