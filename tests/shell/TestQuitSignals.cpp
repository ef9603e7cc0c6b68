// The quit signals: each one becomes one orderly quit through the event
// loop, and a second signal during that quit ends the process at once. The
// second case runs this program again as a child whose quit never ends.
#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

#include "QuitSignals.h"

namespace {

const char* const kChildVariable = "QV_QUIT_SIGNALS_CHILD";

// The child: it announces itself, and its quit waits for a line on standard
// input that the parent never sends, like a save on a disk that hangs.
int RunChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::QuitRequested, [](int signal) {
        std::printf("quitting on %d\n", signal);
        std::fflush(stdout);
        // Waits in poll(), where ThreadSanitizer (scripts/tsan) still lets
        // a signal through; bounded, should the parent never come back.
        pollfd input = {0, POLLIN, 0};
        ::poll(&input, 1, 20000);
        std::printf("quit finished\n");
        std::fflush(stdout);
        QCoreApplication::quit();
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

bool WaitForLine(QProcess& process, const QByteArray& line, int timeoutMs = 30000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (process.canReadLine() && process.readLine().trimmed() == line)
            return true;
        if (!process.canReadLine() && !process.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return false;
}

} // namespace

class TestQuitSignals : public QObject
{
    Q_OBJECT

private slots:
    void eachSignalAsksForOneQuit_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    void eachSignalAsksForOneQuit()
    {
        QFETCH(int, signal);
        QuitSignals quitSignals;
        QSignalSpy spy(&quitSignals, &QuitSignals::QuitRequested);
        QVERIFY(!quitSignals.Received());
        ::raise(signal);
        // Nothing happens inside the handler: the quit comes from the loop.
        QCOMPARE(spy.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 30000);
        QCOMPARE(spy.at(0).at(0).toInt(), signal);
        QVERIFY(quitSignals.Received());
    }

    void secondSignalDuringTheQuitEndsTheProcess()
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(kChildVariable, "1");
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForStarted(30000));
        QVERIFY(WaitForLine(child, "ready"));

        ::kill(child.processId(), SIGTERM);
        QVERIFY(WaitForLine(child, QByteArray("quitting on ") + QByteArray::number(SIGTERM)));
        // The quit hangs; only the second signal gets the process out.
        QCOMPARE(child.state(), QProcess::Running);
        ::kill(child.processId(), SIGINT);
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 128 + SIGINT);
        QVERIFY(!child.readAll().contains("quit finished"));
    }

    void signalsEndTheProcessAgainOnceItIsGone()
    {
        {
            QuitSignals quitSignals;
        }
        struct sigaction current = {};
        QVERIFY(::sigaction(SIGTERM, nullptr, &current) == 0);
        QVERIFY(current.sa_handler == SIG_DFL);
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(kChildVariable))
        return RunChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestQuitSignals test;
    return QTest::qExec(&test, argc, argv);
}

#include "TestQuitSignals.moc"
