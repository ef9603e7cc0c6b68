// The program itself, as a process: started offscreen with a data file that
// holds an account, it logs in to the loopback server; a second start while
// it runs leaves at once with status 0 and never reaches the server, while
// a start that finds no client but cannot take the lock fails; a quit
// signal ends it as a close would, saving the data file first. Under a
// desktop's limit of open files it takes all the system allows, and a crowd
// holding more peer connections than that leaves room for another peer and
// for saving.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QVector>
#include <algorithm>
#include <csignal>
#include <sys/resource.h>

#include "DataFileWriter.h"
#include "FakePeer.h"
#include "FakeWire.h"
#include "TestHttpServer.h"
#include "TestServer.h"

namespace {
// The program with open-files limits of its own, set before it starts.
class LimitedProcess : public QProcess
{
public:
    LimitedProcess(rlim_t soft, rlim_t hard) : m_files{soft, hard} {}

protected:
    void setupChildProcess() override { setrlimit(RLIMIT_NOFILE, &m_files); }

private:
    rlimit m_files;
};

// Peers of distinct names, each at an address of its own, that open a
// message connection, start a message they never finish and hold it: at
// most kWave of them coming up at once, and one that is closed opens again,
// up to kTries times.
class HoldingCrowd
{
public:
    static const int kWave = 50;
    static const int kTries = 3;

    HoldingCrowd(int size, quint16 port) : m_fake("crowd"), m_port(port), m_links(size, nullptr), m_tries(size, 0) {}

    // Opens what is due; true once each holds its connection or has been
    // closed kTries times.
    bool Step()
    {
        bool settled = true;
        m_coming = 0;
        for (int i = 0; i < m_links.size(); ++i)
            if (m_links[i] && !m_links[i]->IsClosed() && !IsUp(m_links[i]))
                ++m_coming;
        for (int i = 0; i < m_links.size(); ++i) {
            FakePeerLink* link = m_links[i];
            if (link && !link->IsClosed()) {
                settled = settled && IsUp(link);
                continue;
            }
            if (m_tries[i] == kTries)
                continue;
            settled = false;
            if (m_coming < kWave && Open(i))
                ++m_coming;
        }
        return settled && !m_failed;
    }
    int Coming() const { return m_coming; }
    int Holding() const
    {
        return int(std::count_if(m_links.begin(), m_links.end(),
                                 [](FakePeerLink* link) { return link && !link->IsClosed() && IsUp(link); }));
    }
    bool Failed() const { return m_failed; }

private:
    static bool IsUp(FakePeerLink* link) { return link->Socket()->state() == QAbstractSocket::ConnectedState; }
    bool Open(int i)
    {
        m_fake.SetSourceAddress(QHostAddress(quint32(0x7F010001 + i)));
        FakePeerLink* link = m_fake.StartConnecting(m_port, false);
        ++m_tries[i];
        if (!link) {
            m_failed = true;
            return false;
        }
        link->SendGreeting(QString("crowd%1").arg(i), "P", quint32(i));
        link->SendRaw(FakeWire().U32(100).Bytes().left(2));
        m_links[i] = link;
        return true;
    }

    FakePeer m_fake;
    quint16 m_port;
    QVector<FakePeerLink*> m_links;
    QVector<int> m_tries;
    int m_coming = 0;
    bool m_failed = false;
};

// The soft open-files limit of a process; 0 when it cannot be read.
qint64 OpenFilesLimit(qint64 pid)
{
    QFile limits(QString("/proc/%1/limits").arg(pid));
    if (!limits.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : limits.readAll().split('\n'))
        if (line.startsWith("Max open files"))
            return line.mid(int(qstrlen("Max open files"))).simplified().split(' ').value(0).toLongLong();
    return 0;
}
} // namespace

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

    // The data files of the home, newest first.
    static QStringList DataFiles(const QTemporaryDir& home)
    {
        return QDir(home.path()).entryList({".Quorvane.*"}, QDir::Files | QDir::Hidden, QDir::Name | QDir::Reversed);
    }

    static bool Launch(QProcess& process, const QProcessEnvironment& environment)
    {
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QUORVANE_BINARY, QStringList());
        return process.waitForStarted(30000);
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

    // A desktop's usual limit of open files, and more connections than fit.
    static const int kDesktopFiles = 1024;
    static const int kCrowd = 1100;

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
        QVERIFY(second.waitForFinished(60000));
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
        QVERIFY(second.waitForFinished(60000));
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
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY(process.exitCode() != 0);
        const QByteArray said = process.readAllStandardError();
        QVERIFY(said.contains("Cannot lock /proc/quorvane-no-such-home/.Quorvane.lock"));
        QVERIFY(!said.contains("Another client"));
        QCOMPARE(server.ConnectionCount(), 0);
    }

    // Something else where a lock file belongs, which no client holds: the
    // start fails and says so rather than leaving as if a client ran.
    void aLockPathThatNoClientHoldsFailsTheStartAndSaysWhy_data()
    {
        QTest::addColumn<bool>("inHome"); // else in the runtime folder
        QTest::addColumn<bool>("folder"); // else a file naming no holder
        QTest::addColumn<QString>("reason");
        QTest::newRow("a folder beside the data file") << true << true << "it is a folder, not a lock file";
        QTest::newRow("an empty file beside the data file") << true << false << "it names no program that holds it";
        QTest::newRow("a folder in the runtime folder") << false << true << "it is a folder, not a lock file";
    }

    void aLockPathThatNoClientHoldsFailsTheStartAndSaysWhy()
    {
        QFETCH(bool, inHome);
        QFETCH(bool, folder);
        QFETCH(QString, reason);
        Session session;
        QVERIFY(session.Start("helen"));
        QTemporaryDir runtime;
        QVERIFY(runtime.isValid());
        QProcessEnvironment environment = session.Environment();
        environment.insert("XDG_RUNTIME_DIR", runtime.path());
        const QString lock = inHome ? session.home.filePath(".Quorvane.lock") : runtime.filePath("QuorvaneQt.lock");
        if (folder) {
            QVERIFY(QDir().mkdir(lock));
        } else {
            QFile empty(lock);
            QVERIFY(empty.open(QIODevice::WriteOnly));
        }

        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QUORVANE_BINARY, QStringList());
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        const QByteArray said = process.readAllStandardError();
        QVERIFY2(said.contains(QString("Cannot lock %1: %2.").arg(lock, reason).toUtf8()), said.constData());
        QVERIFY(!said.contains("Another client"));
        QCOMPARE(session.server.ConnectionCount(), 0);
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
        const QStringList before = DataFiles(home);
        QCOMPARE(before.size(), 1);

        QProcess client;
        QVERIFY(Launch(client, session.Environment()));
        QTRY_VERIFY_WITH_TIMEOUT(server.IsLoggedIn("ivan"), 30000);

        ::kill(client.processId(), signal);
        QVERIFY(client.waitForFinished(30000));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
        // A new data file holds what the run set since its start.
        const QStringList after = DataFiles(home);
        QCOMPARE(after.size(), 2);
        QVERIFY(after.contains(before.front()));
        QFile newest(home.filePath(after.front() == before.front() ? after.back() : after.front()));
        QVERIFY(newest.open(QIODevice::ReadOnly));
        QVERIFY(newest.readAll().contains("data_version"));
        // The client said goodbye to the server rather than vanishing.
        QTRY_VERIFY_WITH_TIMEOUT(!server.IsLoggedIn("ivan"), 30000);
    }

    void startTakesAllTheOpenFilesTheSystemAllows()
    {
        Session session;
        QVERIFY(session.Start("judy"));
        LimitedProcess client(256, kDesktopFiles);
        QVERIFY(Launch(client, session.Environment()));
        QTRY_VERIFY_WITH_TIMEOUT(session.server.IsLoggedIn("judy"), 30000);
        QCOMPARE(OpenFilesLimit(client.processId()), qint64(kDesktopFiles));
        Stop(client);
    }

    void aCrowdHoldingConnectionsLeavesRoomForAnotherPeerAndTheSave()
    {
        // The crowd's ends of the connections are this process's files.
        rlimit own{};
        getrlimit(RLIMIT_NOFILE, &own);
        if (own.rlim_max < rlim_t(2 * kDesktopFiles))
            QSKIP("this process may not open enough files for the crowd");
        own.rlim_cur = own.rlim_max;
        QVERIFY(setrlimit(RLIMIT_NOFILE, &own) == 0);

        Session session;
        QVERIFY(session.Start());
        QTcpServer plain, obfuscated;
        QVERIFY(plain.listen(QHostAddress::Any) && obfuscated.listen(QHostAddress::Any));
        const quint16 port = plain.serverPort();
        const quint16 obfuscatedPort = obfuscated.serverPort();
        plain.close();
        obfuscated.close();
        QVERIFY(DataFileWriter::Write(session.home.path() + "/.Quorvane",
                                      {{"username", "kate"},
                                       {"password", "pw"},
                                       {"listening_port", QString::number(port)},
                                       {"obfuscated_listening_port", QString::number(obfuscatedPort)}}));
        const QStringList before = DataFiles(session.home);
        QCOMPARE(before.size(), 1);

        LimitedProcess client(kDesktopFiles, kDesktopFiles);
        QVERIFY(Launch(client, session.Environment()));
        QTRY_VERIFY_WITH_TIMEOUT(session.server.IsLoggedIn("kate"), 30000);

        // More peers than the client has files for take connections and
        // hold them; it takes every one in the end, and keeps no more than
        // its share.
        HoldingCrowd crowd(kCrowd, port);
        QVERIFY2(
            QTest::qWaitFor([&] { return crowd.Step() || crowd.Failed(); }, 60000),
            qPrintable(QString("%1 connections still coming up, %2 held").arg(crowd.Coming()).arg(crowd.Holding())));
        QVERIFY2(!crowd.Failed(), "a peer could not use its address on 127.1.x.y");
        QVERIFY2(QTest::qWaitFor([&] { return crowd.Holding() <= kDesktopFiles / 2; }, 30000),
                 qPrintable(QString("%1 held").arg(crowd.Holding())));
        QVERIFY2(crowd.Holding() >= kDesktopFiles / 4, qPrintable(QString("%1 held").arg(crowd.Holding())));

        // Another peer is still answered.
        FakePeer other("other");
        FakePeerLink* link = other.Greet(port, false, "P", 1);
        QVERIFY(link);
        link->SendMessage(4, QByteArray());
        QVERIFY2(link->WaitForMessages(1), "another peer was not answered");
        QCOMPARE(link->messages[0].first, 5u);

        // And the data file is still saved, while the crowd holds on.
        ::kill(client.processId(), SIGTERM);
        QVERIFY(client.waitForFinished(30000));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
        const QStringList after = DataFiles(session.home);
        QCOMPARE(after.size(), 2);
        QFile newest(session.home.filePath(after.front() == before.front() ? after.back() : after.front()));
        QVERIFY(newest.open(QIODevice::ReadOnly));
        QVERIFY(newest.readAll().contains("data_version"));
    }
};

QTEST_GUILESS_MAIN(TestProgram)

#include "TestProgram.moc"
