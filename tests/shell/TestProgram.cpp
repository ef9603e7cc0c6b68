// The program itself, as a process: started offscreen with a data file that
// holds an account, it logs in to the loopback server; a second start while
// it runs leaves at once with status 0 and never reaches the server.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

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

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("QUORVANE_SERVER", QString("127.0.0.1:%1").arg(server.Port()));
        environment.insert("QUORVANE_WEB", web.BaseUrl());

        QProcess first;
        first.setProcessEnvironment(environment);
        first.setProcessChannelMode(QProcess::ForwardedChannels);
        first.start(QUORVANE_BINARY, QStringList());
        QVERIFY(first.waitForStarted(10000));
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
};

QTEST_GUILESS_MAIN(TestProgram)

#include "TestProgram.moc"
