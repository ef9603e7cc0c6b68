#include "PeerFixture.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <algorithm>

#include "Data.h"
#include "DataSaver.h"
#include "DiagnosticsForm.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "TestMessage.h"
#include "TestServer.h"
#include "TimerManager.h"

PeerFixture::PeerFixture(std::function<Server*()> makeServer) : now(1700000000000)
{
    d.Reset();
    timers = new TimerManager;
    // Only the test moves time on.
    timers->stop();
    saver = new DataSaver;
    diagnostics = new DiagnosticsForm;
    client = makeServer ? makeServer() : new Server;
    DeclareSettingTypes();
    client->CreateData();
    diagnostics->Init();
    SetSetting("show_diagnostics", "yes");

    server = new TestServer;
    if (server->Listen())
        qputenv("QUORVANE_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(server->Port()));

    peer = new PeerMessenger;
    peer->SetClock([this] { return now; });
    peer->SetListenAddress(QHostAddress::LocalHost);
}

PeerFixture::~PeerFixture()
{
    qDeleteAll(peers);
    delete peer;
    delete client;
    delete server;
    delete diagnostics;
    delete saver;
    delete timers;
    d.Reset();
}

quint16 PeerFixture::FreePortPair()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QTcpServer first, second;
        if (!first.listen(QHostAddress::LocalHost, 0) || first.serverPort() == 65535)
            continue;
        if (second.listen(QHostAddress::LocalHost, quint16(first.serverPort() + 1)))
            return first.serverPort();
    }
    return 0;
}

bool PeerFixture::ListenOnFreePair()
{
    // Many tests run at once: a pair found free can be taken by another
    // process before peer messaging listens on it, and another is tried.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const quint16 port = FreePortPair();
        if (!port)
            continue;
        SetSetting("new_listening_port", QString::number(port));
        peer->DataLoaded();
        if (peer->ListeningPort() == port && peer->ObfuscatedListeningPort() == port + 1)
            return true;
    }
    return false;
}

bool PeerFixture::Start(const QString& user)
{
    if (!ListenOnFreePair())
        return false;
    SetSetting("username", user);
    SetSetting("password", "secret");
    QSignalSpy connected(client, &Server::Connected);
    client->Connect();
    return connected.wait(30000);
}

quint16 PeerFixture::DeadPort()
{
    // Taken, then given back.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

FakePeer* PeerFixture::AddPeer(const QString& name, bool obfuscated, bool reachable)
{
    auto* fake = new FakePeer(name);
    peers.append(fake);
    if (!fake->Listen(obfuscated))
        return nullptr;
    if (!reachable)
        fake->SetAnnouncedPorts(DeadPort(), 0);
    return fake->LogIn(server->Port()) ? fake : nullptr;
}

FakePeerLink* PeerFixture::Link(QObject* owner, const QString& name, Reading reading, int host)
{
    auto* socket = new QTcpSocket;
    auto* link = new FakePeerLink(socket, false, false, owner);
    if (!socket->bind(QHostAddress(quint32(0x7F000000 | host)), 0, QAbstractSocket::DontShareAddress))
        return nullptr;
    if (reading != Reading::All)
        link->StopReading();
    if (reading == Reading::Paced)
        socket->setReadBufferSize(64 * 1024);
    // Settled before connecting, so that the window stays that small.
    if (reading == Reading::Nothing)
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    socket->connectToHost(QHostAddress::LocalHost, peer->ListeningPort());
    link->SendGreeting(name, "P", 1);
    return QTest::qWaitFor([&] { return peer->MessageConnectionCount(name) == 1; }, 30000) ? link : nullptr;
}

void PeerFixture::Tick()
{
    QMetaObject::invokeMethod(timers, "timeout");
}

QString PeerFixture::LogText(const QString& area) const
{
    return diagnostics->AreaText(area);
}

bool PeerFixture::ServerCaughtUp(int timeout)
{
    // The user-statistics request for a name of its own comes back to us
    // from the server's record of what it read.
    static int marks = 0;
    const QString name = QString("caught-up-%1").arg(++marks);
    const QByteArray body = TestMessage().Str(name).Body();
    client->GetUserStats(name);
    return QTest::qWaitFor(
        [&] {
            const auto stats = server->ReceivedMessages(36);
            return std::any_of(stats.begin(), stats.end(),
                               [&](const TestServer::Received& received) { return received.body == body; });
        },
        timeout);
}
