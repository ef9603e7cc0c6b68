// One instance per id: a second start sees the first, and neither a crashed
// instance's socket nor a lock left by a process that died blocks a start.
// Instances run as child processes of this test (one application object per
// process), started from this same executable.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "Application.h"

namespace {

// An instance: says whether it found another, then (when it is the first)
// runs until its standard input closes, at most a minute.
int RunInstance(const QString& id, int argc, char** argv)
{
    Application app(id, argc, argv);
    std::printf("%s\n", app.isRunning() ? "running" : "first");
    std::fflush(stdout);
    if (app.isRunning())
        return 0;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return app.exec();
}

// A start that dies while it holds the start-up lock.
int CrashHoldingLock(const QString& id, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLockFile lock(Application::LockFilePath(id));
    if (!lock.tryLock(5000))
        return 1;
    std::printf("locked\n");
    std::fflush(stdout);
    ::raise(SIGKILL);
    return 2;
}

} // namespace

class TestApplication : public QObject
{
    Q_OBJECT

private:
    int m_case = 0;
    QString m_id;

    // Starts an instance and returns its first line of output.
    QString Start(QProcess& process, const QString& mode, const QString& id)
    {
        process.setProgram(QCoreApplication::applicationFilePath());
        process.setArguments({mode, id});
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start();
        if (!process.waitForStarted(30000))
            return "not started";
        QDeadlineTimer deadline(30000);
        while (!process.canReadLine() && !deadline.hasExpired()) {
            if (!process.waitForReadyRead(200) && process.state() == QProcess::NotRunning)
                break;
        }
        return QString::fromLatin1(process.readLine()).trimmed();
    }

    void Finish(QProcess& process)
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(30000))
            process.kill();
        process.waitForFinished(30000);
    }

private slots:
    void init() { m_id = QString("QvTest%1-%2").arg(QCoreApplication::applicationPid()).arg(++m_case); }

    void secondStartSeesTheFirst()
    {
        QProcess first;
        QCOMPARE(Start(first, "--instance", m_id), QString("first"));

        QProcess second;
        QCOMPARE(Start(second, "--instance", m_id), QString("running"));
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitCode(), 0);

        // Another id is another program.
        QProcess other;
        QCOMPARE(Start(other, "--instance", m_id + "x"), QString("first"));
        Finish(other);

        // After a normal end the next start is the first again.
        Finish(first);
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QVERIFY(!QFile::exists(Application::ServerName(m_id)));
        QProcess third;
        QCOMPARE(Start(third, "--instance", m_id), QString("first"));
        Finish(third);
    }

    void crashedInstanceDoesNotBlock()
    {
        QProcess crashed;
        QCOMPARE(Start(crashed, "--instance", m_id), QString("first"));
        crashed.kill();
        QVERIFY(crashed.waitForFinished(30000));
        // What the crash left behind is still there.
        QVERIFY(QFile::exists(Application::ServerName(m_id)));

        QProcess next;
        QCOMPARE(Start(next, "--instance", m_id), QString("first"));
        QProcess second;
        QCOMPARE(Start(second, "--instance", m_id), QString("running"));
        second.waitForFinished(30000);
        Finish(next);
    }

    void staleLockDoesNotBlock()
    {
        QProcess dying;
        QCOMPARE(Start(dying, "--crash-holding-lock", m_id), QString("locked"));
        QVERIFY(dying.waitForFinished(30000));
        QCOMPARE(dying.exitStatus(), QProcess::CrashExit);
        QVERIFY(QFile::exists(Application::LockFilePath(m_id)));

        QProcess next;
        QCOMPARE(Start(next, "--instance", m_id), QString("first"));
        Finish(next);
    }
};

int main(int argc, char** argv)
{
    if (argc >= 3 && QByteArray(argv[1]) == "--instance")
        return RunInstance(QString::fromLocal8Bit(argv[2]), argc, argv);
    if (argc >= 3 && QByteArray(argv[1]) == "--crash-holding-lock")
        return CrashHoldingLock(QString::fromLocal8Bit(argv[2]), argc, argv);
    QCoreApplication app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestApplication.moc"
