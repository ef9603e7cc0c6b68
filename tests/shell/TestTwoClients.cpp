// The whole program, twice: two client processes with homes of their own
// and the standalone loopback server. One shares a folder, the other starts
// with a queued download of a file in it; the file has to arrive whole in
// the downloader's "complete" folder without anyone touching either window.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "ClientDataFile.h"
#include "ClientHome.h"
#include "FakePeer.h"
#include "FakeWire.h"
#include "TestHttpServer.h"

namespace {

const int kStartWaitMs = 30000;
const int kStopWaitMs = 30000;
// From the uploader's start to its share list holding the file: its login
// (the file itself comes back with its data file).
const int kShareWaitMs = 30000;
// From the downloader's start: its login, one queue request, the transfer
// request and the file connection.
const int kDownloadWaitMs = 60000;

// The folder that a share list (the inflated body of peer message 5) files
// the named file of that size under; empty when it holds no such file.
QString FolderInShareList(const QByteArray& list, const QString& fileName, qint64 size)
{
    FakeWire in(list);
    quint32 folders = 0;
    if (!in.ReadU32(folders))
        return QString();
    for (quint32 i = 0; i < folders; ++i) {
        QString folder;
        quint32 files = 0;
        if (!in.ReadStr(folder) || !in.ReadU32(files))
            return QString();
        for (quint32 j = 0; j < files; ++j) {
            quint8 mark = 0;
            QString name, extension;
            quint64 fileSize = 0;
            quint32 attributes = 0;
            if (!in.ReadU8(mark) || !in.ReadStr(name) || !in.ReadU64(fileSize) || !in.ReadStr(extension) ||
                !in.ReadU32(attributes))
                return QString();
            for (quint32 k = 0; k < 2 * attributes; ++k) {
                quint32 value = 0;
                if (!in.ReadU32(value))
                    return QString();
            }
            if (name == fileName && qint64(fileSize) == size)
                return folder;
        }
    }
    return QString();
}

// Waits, as a third user, until the client of user is logged in and its
// share list offers the file, and gives the folder it is offered under. The
// server reports the status only of users it has seen log in: a downloader
// that logs in before the uploader ever did is told there is no such user
// and hears nothing more of it until its own next login.
QString WaitForSharedFile(quint16 serverPort, const QString& user, const QString& fileName, qint64 size)
{
    FakePeer watcher("watcher");
    if (!watcher.Listen(false) || !watcher.LogIn(serverPort))
        return QString();
    QDeadlineTimer deadline(kShareWaitMs);
    FakePeerLink* link = nullptr;
    quint32 token = 1;
    // Until the user is online the server answers each relayed request
    // with "cannot connect"; once it is, the client connects back to us.
    while (!link && !deadline.hasExpired()) {
        watcher.RequestRelay(user, token++, "P");
        link = watcher.WaitForLink(500);
    }
    while (link && !link->IsClosed() && !deadline.hasExpired()) {
        const int seen = link->messages.size();
        link->SendMessage(4, QByteArray());
        if (!link->WaitForMessages(seen + 1, 5000))
            break;
        const auto& reply = link->messages.last();
        if (reply.first == 5) {
            const QString folder = FolderInShareList(FakeWire::Inflate(reply.second), fileName, size);
            if (!folder.isEmpty())
                return folder;
        }
        QTest::qWait(200);
    }
    return QString();
}

void Stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(kStopWaitMs)) {
        process.kill();
        process.waitForFinished(kStopWaitMs);
    }
}

} // namespace

class TestTwoClients : public QObject
{
    Q_OBJECT

private:
    void StartClient(QProcess& process, const QString& home)
    {
        process.setProcessEnvironment(ClientHome::Environment(home, m_serverPort, m_web.BaseUrl()));
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QUORVANE_BINARY, QStringList());
    }

    TestHttpServer m_web;
    QProcess m_server;
    quint16 m_serverPort = 0;
    QProcess m_uploader;
    QProcess m_downloader;

private slots:
    void initTestCase()
    {
        // Each client fetches its version file here, never from the network.
        QVERIFY(m_web.Listen());
    }

    void init()
    {
        m_server.setProcessChannelMode(QProcess::SeparateChannels);
        m_server.setReadChannel(QProcess::StandardOutput);
        m_server.start(QUORVANE_TESTSERVER, QStringList());
        QVERIFY(m_server.waitForStarted(kStartWaitMs));
        QVERIFY(QTest::qWaitFor([this] { return m_server.canReadLine(); }, kStartWaitMs));
        bool ok = false;
        m_serverPort = quint16(m_server.readLine().trimmed().toUInt(&ok));
        QVERIFY(ok && m_serverPort != 0);
    }

    void cleanup()
    {
        Stop(m_downloader);
        Stop(m_uploader);
        Stop(m_server);
    }

    void queuedDownloadArrivesWhole()
    {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString aliceHome = root.path() + "/alice";
        const QString bobHome = root.path() + "/bob";
        QVERIFY(ClientHome::MakeFolders(aliceHome));
        QVERIFY(ClientHome::MakeFolders(bobHome));

        const QString sharedFolder = aliceHome + "/Music";
        QVERIFY(QDir().mkpath(sharedFolder));
        const QByteArray bytes = ClientHome::SampleBytes(700 * 1024 + 13);
        const QString fileName = "take five.bin";
        QVERIFY(ClientHome::WriteFile(sharedFolder + "/" + fileName, bytes));

        const QList<quint16> ports = ClientDataFile::FreePorts(4);
        QCOMPARE(ports.size(), 4);

        ClientDataFile alice;
        alice.SetSetting("username", "alice");
        alice.SetSetting("password", "alice-pw");
        alice.SetSetting("listening_port", QString::number(ports[0]));
        alice.SetSetting("obfuscated_listening_port", QString::number(ports[1]));
        alice.SetSetting("download_folder", aliceHome + "/Downloads");
        alice.ShareFolder(sharedFolder);
        QString error;
        QVERIFY2(alice.Write(aliceHome + "/.Quorvane", &error), qPrintable(error));
        StartClient(m_uploader, aliceHome);
        QVERIFY(m_uploader.waitForStarted(kStartWaitMs));

        // The downloader asks for the file under the folder that the
        // uploader's share list names, as a user who browsed it would.
        const QString remoteFolder = WaitForSharedFile(m_serverPort, "alice", fileName, bytes.size());
        QVERIFY2(!remoteFolder.isEmpty(), "alice's client never offered the file");
        QCOMPARE(remoteFolder, QString(sharedFolder).replace('/', '\\'));

        ClientDataFile bob;
        bob.SetSetting("username", "bob");
        bob.SetSetting("password", "bob-pw");
        bob.SetSetting("listening_port", QString::number(ports[2]));
        bob.SetSetting("obfuscated_listening_port", QString::number(ports[3]));
        bob.SetSetting("download_folder", bobHome + "/Downloads");
        bob.AddDownload("alice", remoteFolder, fileName, bytes.size());
        QVERIFY2(bob.Write(bobHome + "/.Quorvane", &error), qPrintable(error));
        StartClient(m_downloader, bobHome);
        QVERIFY(m_downloader.waitForStarted(kStartWaitMs));

        // The finished file keeps the last component of the remote folder.
        const QString complete = bobHome + "/Downloads/complete/Music/" + fileName;
        // Not QTRY: on failure it waits twice as long again to report.
        QVERIFY2(QTest::qWaitFor([&] { return ClientHome::ReadFile(complete) == bytes; }, kDownloadWaitMs),
                 "the download did not complete with the shared file's bytes");
        // Moved, not copied: nothing of it is left among the partial files.
        QVERIFY(!QFile::exists(bobHome + "/Downloads/downloading/Music/" + fileName));
        QCOMPARE(m_uploader.state(), QProcess::Running);
        QCOMPARE(m_downloader.state(), QProcess::Running);

        Stop(m_downloader);
        Stop(m_uploader);
        QCOMPARE(m_downloader.state(), QProcess::NotRunning);
        QCOMPARE(m_uploader.state(), QProcess::NotRunning);
    }
};

QTEST_GUILESS_MAIN(TestTwoClients)

#include "TestTwoClients.moc"
