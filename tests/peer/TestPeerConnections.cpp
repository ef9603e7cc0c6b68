#include <QTcpSocket>
#include <QtTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Data.h"
#include "EventHandler.h"
#include "FakePeer.h"
#include "FakeWire.h"
#include "PeerConnection.h"
#include "PeerConnectionPolicy.h"
#include "PeerFixture.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "TestServer.h"

namespace {
// Counts the messages with a code over all of a fake peer's links.
int MessagesWithCode(FakePeer* fake, quint32 code)
{
    int count = 0;
    for (FakePeerLink* link : fake->links)
        for (const auto& message : link->messages)
            count += message.first == code;
    return count;
}

// A port on 127.0.0.1 whose accept queue is full, so that connecting to it
// hangs: the kernel drops further connection requests instead of refusing
// them.
class StalledPort
{
public:
    ~StalledPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool Open()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_fd, 0) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return false;
        port = ntohs(address.sin_port);
        m_filler.connectToHost(QHostAddress::LocalHost, port);
        return m_filler.waitForConnected(2000);
    }
    quint16 port = 0;

private:
    int m_fd = -1;
    QTcpSocket m_filler;
};

// The bytes that the client's side of the user's message connection holds
// and has not handled; -1 without one.
qint64 UnreadOnClientSide(PeerMessenger* peer, const QString& user)
{
    for (PeerConnection* connection : peer->findChildren<PeerConnection*>(QString(), Qt::FindDirectChildrenOnly))
        if (connection->user == user && connection->GetState() == PeerConnection::State::Open)
            return connection->UnreadBytes();
    return -1;
}

// The start of a user-information request whose body never comes.
QByteArray UnfinishedMessage()
{
    return FakeWire().U32(100).U32(15).Bytes();
}

// Records path events as the item's value.
class PathRecorder : public DataHandler
{
public:
    QStringList users;
    void OnPath(ItemPtr user) { users << user.AsString(); }
};
} // namespace

// Forming, accepting, losing and handing over connections between real
// sockets on 127.0.0.1.
class TestPeerConnections : public QObject
{
    Q_OBJECT

private slots:
    void listeningPortsSettleAtLoad();
    void port65535LeavesNoObfuscatedPort();
    void directConnectionsPlainAndObfuscated();
    void relayedConnectionWhenDirectFails();
    void peerConnectsDirectlyAndThroughTheRelay();
    void firstWayToSucceedWinsTheOtherIsDropped();
    void relayWinsWhileTheDirectAttemptHangs();
    void unsentMessagesWaitThenExpire();
    void failureWhenNoWayWorks();
    void fileConnectionsAreHandedOver();
    void incomingFileConnectionsCarryTheirToken();
    void stalledAndIdleConnectionsAreClosed();
    void aMessageArrivingAtAPaceKeepsItsConnection();
    void connectionsPerUserAreBounded();
    void theConnectionIdleLongestMakesRoomAtTheCap();
    void silentConnectionsFromOneAddressLeaveRoomForOthers();
};

void TestPeerConnections::listeningPortsSettleAtLoad()
{
    {
        PeerFixture f;
        f.peer->DataLoaded();
        QCOMPARE(GetSetting("listening_port"), QString("2235"));
        QCOMPARE(GetSetting("obfuscated_listening_port"), QString("2236"));
    }
    {
        // A stored pair stays; a pending port replaces both and is used up.
        PeerFixture f;
        const quint16 port = PeerFixture::FreePortPair();
        QVERIFY(port);
        SetSetting("listening_port", "3000");
        SetSetting("obfuscated_listening_port", "3005");
        SetSetting("new_listening_port", QString::number(port));
        f.peer->DataLoaded();
        QCOMPARE(GetSetting("listening_port"), QString::number(port));
        QCOMPARE(GetSetting("obfuscated_listening_port"), QString::number(port + 1));
        QVERIFY(GetSetting("new_listening_port").isEmpty());
        QCOMPARE(f.peer->ListeningPort(), port);
        QCOMPARE(f.peer->ObfuscatedListeningPort(), quint16(port + 1));
    }
}

void TestPeerConnections::port65535LeavesNoObfuscatedPort()
{
    PeerFixture f;
    SetSetting("new_listening_port", "65535");
    f.peer->DataLoaded();
    QCOMPARE(GetSetting("listening_port"), QString("65535"));
    QCOMPARE(GetSetting("obfuscated_listening_port"), QString("0"));
    QCOMPARE(f.peer->ObfuscatedListeningPort(), quint16(0));
    QVERIFY(f.LogText("Peer Messenger").contains("65535 leaves no port for obfuscated connections"));

    // The server hears 0 for the obfuscated port.
    SetSetting("username", "me");
    QSignalSpy connected(f.client, &Server::Connected);
    f.client->Connect();
    QVERIFY(connected.wait(30000));
    QTRY_VERIFY_WITH_TIMEOUT(f.server->Count(2) == 1, 30000);
    QCOMPARE(f.server->ReceivedMessages(2).first().body, FakeWire().U32(65535).U32(0).Bytes());
}

void TestPeerConnections::directConnectionsPlainAndObfuscated()
{
    PeerFixture f;
    QVERIFY(f.Start());
    FakePeer* plain = f.AddPeer("plain");
    FakePeer* hidden = f.AddPeer("hidden", true);
    QVERIFY(plain && hidden);
    plain->SetRelayPolicy(FakePeer::RelayPolicy::Ignore);
    hidden->SetRelayPolicy(FakePeer::RelayPolicy::Ignore);

    PathRecorder recorder;
    auto* root = new PathNode(&d, "user");
    new PathNode(root, "user_address", 2);
    d.AddPathEventHandler(root, new EventHandler<PathRecorder, ItemPtr>(&recorder, &PathRecorder::OnPath));

    f.peer->GetUserInfo("plain");
    FakePeerLink* link = plain->WaitForLink();
    QVERIFY(link);
    QVERIFY(!link->IsObfuscated());
    QCOMPARE(link->opening.kind, quint8(1));
    QCOMPARE(link->opening.name, QString("me"));
    QCOMPARE(link->opening.type, QString("P"));
    QVERIFY(link->WaitForMessages(1));
    QCOMPARE(link->messages[0], qMakePair(15u, QByteArray()));
    // The relay was asked at the same time, under the greeting's token.
    QTRY_VERIFY_WITH_TIMEOUT(plain->relayRequests.size() == 1, 30000);
    QCOMPARE(plain->relayRequests[0].token, link->opening.token);
    QCOMPARE(plain->relayRequests[0].type, QString("P"));
    QCOMPARE(f.peer->MessageConnectionCount("plain"), 1);
    // The address came from the server and fired the path event.
    QCOMPARE(d.GetType("user")->HasItem("plain")["user_address"].AsString(), QString("127.0.0.1"));
    QVERIFY(recorder.users.contains("plain"));

    // A second message uses the same connection.
    f.peer->GetUserSharedFiles("plain");
    QVERIFY(link->WaitForMessages(2));
    QCOMPARE(link->messages[1].first, 4u);
    QCOMPARE(plain->links.size(), 1);

    // A peer with an obfuscated port gets everything through it.
    f.peer->GetUserInfo("hidden");
    FakePeerLink* hiddenLink = hidden->WaitForLink();
    QVERIFY(hiddenLink);
    QVERIFY(hiddenLink->IsObfuscated());
    QCOMPARE(hiddenLink->opening.name, QString("me"));
    QVERIFY(hiddenLink->WaitForMessages(1));
    QCOMPARE(hiddenLink->messages[0].first, 15u);
    QVERIFY(!hiddenLink->broken);
}

void TestPeerConnections::relayedConnectionWhenDirectFails()
{
    PeerFixture f;
    QVERIFY(f.Start());
    // Announced ports where nothing listens: only the relay can work.
    FakePeer* behind = f.AddPeer("behind", false, false);
    FakePeer* plainBehind = f.AddPeer("plainbehind", false, false);
    QVERIFY(behind && plainBehind);
    plainBehind->SetAnswerObfuscated(false);

    // The answer comes to our obfuscated port...
    f.peer->GetUserInfo("behind");
    FakePeerLink* link = behind->WaitForLink();
    QVERIFY(link);
    QVERIFY(link->IsObfuscated());
    QVERIFY(link->WaitForMessages(1));
    QCOMPARE(link->messages[0].first, 15u);
    QCOMPARE(f.peer->MessageConnectionCount("behind"), 1);

    // ...or to the plain one.
    f.peer->GetUserInfo("plainbehind");
    FakePeerLink* plainLink = plainBehind->WaitForLink();
    QVERIFY(plainLink);
    QVERIFY(!plainLink->IsObfuscated());
    QVERIFY(plainLink->WaitForMessages(1));
    QCOMPARE(plainLink->messages[0].first, 15u);

    // A relayed answer with a token nobody asked for is closed.
    FakePeerLink* stray = behind->Connect(f.peer->ListeningPort(), false);
    QVERIFY(stray);
    stray->SendRelayAnswer(12345);
    QVERIFY(stray->WaitForClosed());
}

void TestPeerConnections::peerConnectsDirectlyAndThroughTheRelay()
{
    PeerFixture f;
    QVERIFY(f.Start());
    FakePeer* caller = f.AddPeer("caller", true);
    QVERIFY(caller);
    QSignalSpy requested(f.peer, &PeerMessenger::UserInfoRequested);

    // Direct, plain and obfuscated; our answers go back the same way.
    FakePeerLink* plain = caller->Greet(f.peer->ListeningPort(), false, "P", 7);
    QVERIFY(plain);
    plain->SendMessage(15, {});
    QVERIFY(requested.wait(30000));
    QCOMPARE(requested.last().at(0).toString(), QString("caller"));
    f.peer->GetUserInfo("caller");
    QVERIFY(plain->WaitForMessages(1));

    FakePeerLink* hidden = caller->Greet(f.peer->ObfuscatedListeningPort(), true, "P", 8);
    QVERIFY(hidden);
    hidden->SendMessage(15, {});
    QTRY_COMPARE_WITH_TIMEOUT(requested.count(), 2, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(f.peer->MessageConnectionCount("caller"), 2, 30000);
    // The most recently opened connection carries what we send.
    f.peer->GetUserInfo("caller");
    QVERIFY(hidden->WaitForMessages(1));
    QCOMPARE(plain->messages.size(), 1);
    // No connection of our own was needed.
    QCOMPARE(f.server->Count(18), 0);

    // A relayed request for a connection that already arrived directly is
    // not answered (ahead of it the server passes on the next one).
    caller->RequestRelay("me", 7, "P");
    // Through the relay: we connect back and open with their token.
    caller->RequestRelay("me", 555, "P");
    FakePeerLink* back = caller->WaitForLink(5000, {plain, hidden});
    QVERIFY(back);
    QVERIFY(back->IsAccepted());
    QVERIFY(back->IsObfuscated());
    QCOMPARE(back->opening.kind, quint8(0));
    QCOMPARE(back->opening.token, 555u);
    QTRY_COMPARE_WITH_TIMEOUT(f.peer->MessageConnectionCount("caller"), 3, 30000);
    f.peer->GetUserInfo("caller");
    QVERIFY(back->WaitForMessages(1));
    back->SendMessage(15, {});
    QTRY_COMPARE_WITH_TIMEOUT(requested.count(), 3, 30000);
    QCOMPARE(caller->links.size(), 3);

    // Our answer to a relayed request loses to the same request arriving
    // directly: it is closed.
    caller->RequestRelay("me", 600, "P");
    FakePeerLink* superseded = caller->WaitForLink(5000, {plain, hidden, back});
    QVERIFY(superseded);
    QCOMPARE(superseded->opening.token, 600u);
    QVERIFY(caller->Greet(f.peer->ListeningPort(), false, "P", 600));
    QVERIFY(superseded->WaitForClosed());

    // A connection that names no user, or a type we do not know, is refused.
    FakePeerLink* odd = caller->Connect(f.peer->ListeningPort(), false);
    QVERIFY(odd);
    odd->SendGreeting("caller", "X", 10);
    QVERIFY(odd->WaitForClosed());
    FakePeerLink* anonymous = caller->Connect(f.peer->ListeningPort(), false);
    QVERIFY(anonymous);
    anonymous->SendGreeting("", "P", 11);
    QVERIFY(anonymous->WaitForClosed());
    // A network link with nobody to take it is closed, not left open.
    FakePeerLink* network = caller->Greet(f.peer->ListeningPort(), false, "D", 12);
    QVERIFY(network);
    QVERIFY(network->WaitForClosed());
}

void TestPeerConnections::firstWayToSucceedWinsTheOtherIsDropped()
{
    PeerFixture f;
    QVERIFY(f.Start());
    FakePeer* both = f.AddPeer("both");
    QVERIFY(both);
    // Reachable directly and answering the relay: both ways succeed.
    f.peer->GetUserInfo("both");
    QTRY_VERIFY_WITH_TIMEOUT(both->links.size() == 2, 30000);
    FakePeerLink* first = both->links[0];
    FakePeerLink* second = both->links[1];
    QTRY_VERIFY_WITH_TIMEOUT(first->IsClosed() != second->IsClosed(), 30000);
    FakePeerLink* winner = first->IsClosed() ? second : first;
    FakePeerLink* loser = first->IsClosed() ? first : second;
    QVERIFY(winner->WaitForMessages(1));
    QCOMPARE(MessagesWithCode(both, 15), 1);
    QVERIFY(loser->messages.isEmpty());

    // Everything after goes over the winner; nothing else is formed.
    f.peer->GetUserInfo("both");
    QVERIFY(winner->WaitForMessages(2));
    QCOMPARE(f.peer->MessageConnectionCount("both"), 1);
    QCOMPARE(f.peer->AttemptCount(), 0);
    QCOMPARE(both->links.size(), 2);
    QVERIFY(!winner->IsClosed());
}

void TestPeerConnections::relayWinsWhileTheDirectAttemptHangs()
{
    PeerFixture f;
    QVERIFY(f.Start());
    StalledPort stalled;
    QVERIFY(stalled.Open());
    auto* hanging = new FakePeer("hanging");
    f.peers.append(hanging);
    QVERIFY(hanging->Listen(false));
    hanging->SetAnnouncedPorts(stalled.port, 0);
    QVERIFY(hanging->LogIn(f.server->Port()));

    f.peer->GetUserInfo("hanging");
    FakePeerLink* answer = hanging->WaitForLink();
    QVERIFY(answer);
    QVERIFY(!answer->IsAccepted());
    QVERIFY(answer->WaitForMessages(1));
    QCOMPARE(answer->messages[0].first, 15u);
    QCOMPARE(f.peer->AttemptCount(), 0);
    QCOMPARE(f.peer->MessageConnectionCount("hanging"), 1);
    QVERIFY(f.LogText("Peer Messenger").contains("Connected to hanging (type P, relayed)"));
    // The hanging direct attempt is gone with its attempt: nothing expires
    // or fails later.
    QSignalSpy failed(f.peer, &PeerMessenger::ConnectionToUserFailed);
    f.Advance(PeerMessenger::AttemptTimeout);
    f.Tick();
    QCOMPARE(failed.count(), 0);
    f.peer->GetUserInfo("hanging");
    QVERIFY(answer->WaitForMessages(2));

    // The other way round: our answer to their relayed request hangs, and
    // their direct connection under the same token arrives first. The
    // answer is abandoned, so nothing is reported to the server as failed.
    hanging->RequestRelay("me", 4242, "P");
    QTRY_VERIFY_WITH_TIMEOUT(f.LogText("Peer Messenger").contains("hanging asks us to connect (type P, token 4242)"),
                             30000);
    QVERIFY(hanging->Greet(f.peer->ListeningPort(), false, "P", 4242));
    QTRY_COMPARE_WITH_TIMEOUT(f.peer->MessageConnectionCount("hanging"), 2, 30000);
    f.Advance(PeerMessenger::HandshakeTimeout);
    f.Tick();
    QVERIFY(f.ServerCaughtUp());
    QCOMPARE(f.server->Count(1001), 0);
}

void TestPeerConnections::unsentMessagesWaitThenExpire()
{
    PeerFixture f;
    QVERIFY(f.Start());
    FakePeer* late = f.AddPeer("late", false, false);
    QVERIFY(late);
    late->SetRelayPolicy(FakePeer::RelayPolicy::Ignore);
    QSignalSpy failed(f.peer, &PeerMessenger::ConnectionToUserFailed);

    f.peer->GetUserInfo("late");
    f.peer->GetUserSharedFiles("late");
    f.peer->DenyTransferRequest("late", 7, "Queued");
    QCOMPARE(f.peer->UnsentMessageCount("late"), 3);
    QCOMPARE(f.peer->AttemptCount(), 1);
    QVERIFY(late->WaitForRelayRequests(1));

    // The relay is never answered: the attempt runs out at a tick, and our
    // answer with it; our own requests wait on.
    f.Advance(PeerMessenger::AttemptTimeout - 1);
    f.Tick();
    QCOMPARE(failed.count(), 0);
    QVERIFY(f.peer->Answers().Used() > 0);
    f.Advance(1);
    f.Tick();
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed[0], QVariantList({"late", "P"}));
    QCOMPARE(f.peer->UnsentMessageCount("late"), 2);
    QCOMPARE(f.peer->Answers().Used(), 0);

    // When the user reaches us, the waiting messages go out once, in order.
    FakePeerLink* link = late->Greet(f.peer->ListeningPort(), false, "P", 1);
    QVERIFY(link);
    QVERIFY(link->WaitForMessages(2));
    QCOMPARE(link->messages[0].first, 15u);
    QCOMPARE(link->messages[1].first, 4u);
    QCOMPARE(f.peer->UnsentMessageCount("late"), 0);
    // Once: the next message comes right after them.
    f.peer->GetUserInfo("late");
    QVERIFY(link->WaitForMessages(3));
    QCOMPARE(link->messages.size(), 3);
    QCOMPARE(link->messages[2].first, 15u);

    // Messages that never find a connection go after their lifetime.
    FakePeer* gone = f.AddPeer("gone");
    QVERIFY(gone);
    gone->SetRelayPolicy(FakePeer::RelayPolicy::Ignore);
    gone->StopListening();
    f.peer->GetUserInfo("gone");
    QVERIFY(gone->WaitForRelayRequests(1));
    f.Advance(PeerMessenger::UnsentMessageLifetime - 1);
    f.Tick();
    QCOMPARE(f.peer->UnsentMessageCount("gone"), 1);
    f.Advance(1);
    f.Tick();
    QCOMPARE(f.peer->UnsentMessageCount("gone"), 0);
    QVERIFY(f.LogText("Peer Messenger").contains("Dropped 1 message(s) to gone"));
    FakePeerLink* after = gone->Greet(f.peer->ListeningPort(), false, "P", 2);
    QVERIFY(after);
    // What was dropped would go out ahead of the next message.
    QTRY_COMPARE_WITH_TIMEOUT(f.peer->MessageConnectionCount("gone"), 1, 30000);
    f.peer->GetUserSharedFiles("gone");
    QVERIFY(after->WaitForMessages(1));
    QCOMPARE(after->messages.size(), 1);
    QCOMPARE(after->messages[0].first, 4u);
}

void TestPeerConnections::failureWhenNoWayWorks()
{
    PeerFixture f;
    QVERIFY(f.Start());
    FakePeer* walled = f.AddPeer("walled", false, false);
    QVERIFY(walled);
    walled->SetRelayPolicy(FakePeer::RelayPolicy::Refuse);
    QSignalSpy failed(f.peer, &PeerMessenger::ConnectionToUserFailed);

    // Refused directly and refused through the relay: no tick is needed.
    f.peer->GetUserInfo("walled");
    QVERIFY(failed.wait(30000));
    QCOMPARE(failed[0], QVariantList({"walled", "P"}));
    QCOMPARE(f.peer->AttemptCount(), 0);

    // A user the server does not know: no address, and the relay fails.
    f.peer->RequestFileConnectionToUser("nobody");
    QVERIFY(failed.wait(30000));
    QCOMPARE(failed[1], QVariantList({"nobody", "F"}));

    // Without the server nothing can be tried; the failure still comes
    // after the call returns.
    f.client->Disconnect();
    f.peer->GetUserInfo("walled");
    QCOMPARE(failed.count(), 2);
    QVERIFY(failed.wait(30000));
    QCOMPARE(failed[2], QVariantList({"walled", "P"}));
}

void TestPeerConnections::fileConnectionsAreHandedOver()
{
    PeerFixture f;
    QVERIFY(f.Start());
    FakePeer* direct = f.AddPeer("direct");
    FakePeer* relayed = f.AddPeer("relayed", false, false);
    QVERIFY(direct && relayed);
    direct->SetRelayPolicy(FakePeer::RelayPolicy::Ignore);

    QList<QPair<QString, QTcpSocket*>> accepted;
    connect(f.peer, &PeerMessenger::FileConnectionAccepted, this, [&](QString user, QTcpSocket* socket) {
        accepted.append({user, socket});
    });

    // Direct: our greeting says "F"; then the socket is ours to use.
    f.peer->RequestFileConnectionToUser("direct");
    FakePeerLink* link = direct->WaitForLink();
    QVERIFY(link);
    QCOMPARE(link->opening.type, QString("F"));
    QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, 30000);
    QCOMPARE(accepted[0].first, QString("direct"));
    QTcpSocket* socket = accepted[0].second;
    QVERIFY(!socket->parent());
    socket->write(FakeWire().U32(4321).Bytes());
    QVERIFY(link->WaitForRaw(4));
    QCOMPARE(link->raw, FakeWire().U32(4321).Bytes());
    // What the peer sends stays in the socket for its new owner.
    link->SendRaw(FakeWire().U64(1000).Bytes());
    QTRY_COMPARE_WITH_TIMEOUT(socket->bytesAvailable(), qint64(8), 30000);
    QCOMPARE(socket->readAll(), FakeWire().U64(1000).Bytes());
    // Asking again makes a new connection; file connections are not shared.
    f.peer->RequestFileConnectionToUser("direct");
    QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 2, 30000);
    QVERIFY(accepted[1].second != socket);

    // Through the relay: the peer opens with our token and the socket is
    // handed over the same way.
    f.peer->RequestFileConnectionToUser("relayed");
    QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 3, 30000);
    QCOMPARE(accepted[2].first, QString("relayed"));
    FakePeerLink* answer = relayed->links.last();
    QVERIFY(!answer->IsAccepted());
    accepted[2].second->write(FakeWire().U32(99).Bytes());
    QVERIFY(answer->WaitForRaw(4));
    QCOMPARE(answer->raw, FakeWire().U32(99).Bytes());

    for (const auto& entry : accepted)
        delete entry.second;
}

void TestPeerConnections::incomingFileConnectionsCarryTheirToken()
{
    PeerFixture f;
    QVERIFY(f.Start());
    FakePeer* uploader = f.AddPeer("uploader");
    QVERIFY(uploader);
    QList<std::tuple<QString, QTcpSocket*, uint>> requested;
    connect(f.peer, &PeerMessenger::FileConnectionRequested, this, [&](QString user, QTcpSocket* socket, uint token) {
        requested.append({user, socket, token});
    });

    // The token and the bytes after it arrive together; only the token is
    // taken.
    FakePeerLink* link = uploader->Greet(f.peer->ListeningPort(), false, "F", 3);
    QVERIFY(link);
    link->SendRaw(FakeWire().U32(777).Raw("data").Bytes());
    QTRY_COMPARE_WITH_TIMEOUT(requested.size(), 1, 30000);
    QCOMPARE(std::get<0>(requested[0]), QString("uploader"));
    QCOMPARE(std::get<2>(requested[0]), 777u);
    QTcpSocket* socket = std::get<1>(requested[0]);
    QVERIFY(!socket->parent());
    QTRY_COMPARE_WITH_TIMEOUT(socket->bytesAvailable(), qint64(4), 30000);
    QCOMPARE(socket->readAll(), QByteArray("data"));
    socket->write(FakeWire().U64(0).Bytes());
    QVERIFY(link->WaitForRaw(8));

    // Answering the relayed request of a file connection: we open with
    // their token, then read the file token.
    uploader->RequestRelay("me", 66, "F");
    FakePeerLink* back = uploader->WaitForLink(5000, {link});
    QVERIFY(back);
    QCOMPARE(back->opening.kind, quint8(0));
    QCOMPARE(back->opening.token, 66u);
    QVERIFY(!back->IsObfuscated());
    back->SendRaw(FakeWire().U32(555).Bytes());
    QTRY_COMPARE_WITH_TIMEOUT(requested.size(), 2, 30000);
    QCOMPARE(std::get<2>(requested[1]), 555u);

    // File connections never come through the obfuscated port.
    FakePeer* sneaky = f.AddPeer("sneaky");
    QVERIFY(sneaky);
    FakePeerLink* hidden = sneaky->Greet(f.peer->ObfuscatedListeningPort(), true, "F", 4);
    QVERIFY(hidden);
    hidden->SendRaw(FakeWire().U32(1).Bytes());
    QVERIFY(hidden->WaitForClosed());
    QCOMPARE(requested.size(), 2);

    for (const auto& entry : requested)
        delete std::get<1>(entry);
}

void TestPeerConnections::stalledAndIdleConnectionsAreClosed()
{
    PeerFixture f;
    QVERIFY(f.Start());
    FakePeer* slow = f.AddPeer("slow");
    QVERIFY(slow);

    // Connected but never opening.
    FakePeerLink* silent = slow->Connect(f.peer->ListeningPort(), false);
    QVERIFY(silent);
    // A message connection in use, then left alone.
    FakePeerLink* idle = slow->Greet(f.peer->ListeningPort(), false, "P", 1);
    QVERIFY(idle);
    QTRY_COMPARE_WITH_TIMEOUT(f.peer->MessageConnectionCount("slow"), 1, 30000);

    f.Advance(PeerMessenger::HandshakeTimeout);
    f.Tick();
    QVERIFY(silent->WaitForClosed());
    QVERIFY(!idle->IsClosed());
    idle->SendMessage(15, {});
    QSignalSpy requested(f.peer, &PeerMessenger::UserInfoRequested);
    QVERIFY(requested.wait(30000));

    f.Advance(PeerMessenger::IdleTimeout - 1);
    f.Tick();
    QCOMPARE(f.peer->MessageConnectionCount("slow"), 1);
    // Bytes of a message that never ends do not keep it.
    idle->SendRaw(UnfinishedMessage());
    QTRY_COMPARE_WITH_TIMEOUT(UnreadOnClientSide(f.peer, "slow"), qint64(UnfinishedMessage().size()), 30000);
    f.Advance(1);
    f.Tick();
    QVERIFY(idle->WaitForClosed());
    QCOMPARE(f.peer->MessageConnectionCount("slow"), 0);
}

void TestPeerConnections::aMessageArrivingAtAPaceKeepsItsConnection()
{
    PeerFixture f;
    QVERIFY(f.Start());
    f.peer->SetConnectionLimits({2, 1, 8});
    FakePeer* slow = f.AddPeer("slow");
    FakePeer* quiet = f.AddPeer("quiet");
    FakePeer* late = f.AddPeer("late");
    QVERIFY(slow && quiet && late);
    FakePeerLink* link = slow->Greet(f.peer->ListeningPort(), false, "P", 1);
    QVERIFY(link);
    QTRY_COMPARE_WITH_TIMEOUT(f.peer->MessageConnectionCount("slow"), 1, 30000);
    f.peer->GetUserSharedFiles("slow");
    QVERIFY(link->WaitForMessages(1));
    f.Advance(1000);
    FakePeerLink* other = quiet->Greet(f.peer->ListeningPort(), false, "P", 1);
    QVERIFY(other);
    QTRY_COMPARE_WITH_TIMEOUT(f.peer->MessageConnectionCount("quiet"), 1, 30000);
    f.Advance(1000);

    // A share list several times ProgressBytes, sent a piece at a time with
    // most of the idle time between pieces.
    const QByteArray frame = FakeWire::Message(5, FakeWire::RandomShareList("\\music", 4000, 64, 3));
    const int piece = int(PeerConnection::ProgressBytes) + 1000;
    QVERIFY(frame.size() > 3 * piece);
    QSignalSpy listed(f.peer, &PeerMessenger::UserShare);
    int sent = 0;
    for (; sent + piece < frame.size(); sent += piece) {
        link->SendRaw(frame.mid(sent, piece));
        QTRY_COMPARE_WITH_TIMEOUT(UnreadOnClientSide(f.peer, "slow"), qint64(sent + piece), 30000);
        if (sent == 0) {
            // At the cap it is not the one idle longest: quiet is.
            FakePeerLink* newcomer = late->Greet(f.peer->ListeningPort(), false, "P", 1);
            QVERIFY(newcomer);
            QVERIFY(other->WaitForClosed());
            QCOMPARE(f.peer->MessageConnectionCount("slow"), 1);
        }
        f.Advance(PeerMessenger::IdleTimeout - 1000);
        f.Tick();
        QCOMPARE(f.peer->MessageConnectionCount("slow"), 1);
    }
    link->SendRaw(frame.mid(sent));
    QVERIFY(listed.wait(30000));
    QCOMPARE(listed.first().at(0).toString(), QString("slow"));
}

void TestPeerConnections::connectionsPerUserAreBounded()
{
    PeerFixture f;
    QVERIFY(f.Start());
    FakePeer* greedy = f.AddPeer("greedy");
    QVERIFY(greedy);
    QList<FakePeerLink*> links;
    for (int i = 0; i <= PeerMessenger::MaxMessageConnectionsPerUser; ++i) {
        links << greedy->Greet(f.peer->ListeningPort(), false, "P", quint32(i));
        QVERIFY(links.last());
        QTRY_COMPARE_WITH_TIMEOUT(f.peer->MessageConnectionCount("greedy"),
                                  qMin(i + 1, PeerMessenger::MaxMessageConnectionsPerUser), 30000);
    }
    // The oldest went; the newest carries what we send.
    QVERIFY(links.first()->WaitForClosed());
    f.peer->GetUserInfo("greedy");
    QVERIFY(links.last()->WaitForMessages(1));
    for (int i = 1; i < links.size(); ++i)
        QVERIFY(!links[i]->IsClosed());

    // Opened together, their openings read the other way round: the first
    // opened is still the oldest, the last opened the newest.
    auto* racing = new FakePeer("racing");
    f.peers.append(racing);
    QList<FakePeerLink*> opened;
    for (int i = 0; i <= PeerMessenger::MaxMessageConnectionsPerUser; ++i) {
        opened << racing->Connect(f.peer->ListeningPort(), false);
        QVERIFY(opened.last());
    }
    for (int i = opened.size() - 1; i >= 0; --i) {
        opened[i]->SendGreeting("racing", "P", quint32(i));
        QTRY_COMPARE_WITH_TIMEOUT(f.peer->MessageConnectionCount("racing"),
                                  qMin(opened.size() - i, PeerMessenger::MaxMessageConnectionsPerUser), 30000);
    }
    QVERIFY(opened.first()->WaitForClosed());
    f.peer->GetUserInfo("racing");
    QVERIFY(opened.last()->WaitForMessages(1));
    for (int i = 1; i < opened.size(); ++i)
        QVERIFY2(!opened[i]->IsClosed(), qPrintable(QString::number(i)));
}

void TestPeerConnections::theConnectionIdleLongestMakesRoomAtTheCap()
{
    PeerFixture f;
    QVERIFY(f.Start());
    f.peer->SetConnectionLimits({4, 2, 8});
    QSignalSpy requested(f.peer, &PeerMessenger::UserInfoRequested);
    QHash<QString, FakePeerLink*> links;
    // One user after another, a second apart, each connecting directly.
    auto arrive = [&](const QString& name) {
        auto* fake = new FakePeer(name);
        f.peers.append(fake);
        f.Advance(1000);
        links[name] = fake->Greet(f.peer->ListeningPort(), false, "P", 1);
        return links[name] && QTest::qWaitFor([&] { return f.peer->MessageConnectionCount(name) == 1; }, 30000);
    };
    for (const char* name : {"a", "b", "c", "d"})
        QVERIFY(arrive(name));
    // A message from b, one of ours to a, and c starting one it never ends.
    f.Advance(1000);
    links["b"]->SendMessage(15, {});
    QVERIFY(requested.wait(30000));
    f.Advance(1000);
    f.peer->GetUserInfo("a");
    QVERIFY(links["a"]->WaitForMessages(1));
    f.Advance(1000);
    links["c"]->SendRaw(UnfinishedMessage());
    QTRY_COMPARE_WITH_TIMEOUT(UnreadOnClientSide(f.peer, "c"), qint64(UnfinishedMessage().size()), 30000);

    // Each newcomer takes the place of the one whose last whole message is
    // oldest.
    QVERIFY(arrive("e"));
    QVERIFY(links["c"]->WaitForClosed());
    QVERIFY(arrive("f"));
    QVERIFY(links["d"]->WaitForClosed());
    QVERIFY(arrive("g"));
    QVERIFY(links["b"]->WaitForClosed());
    for (const char* name : {"a", "e", "f", "g"}) {
        QVERIFY2(!links[name]->IsClosed(), name);
        QCOMPARE(f.peer->MessageConnectionCount(name), 1);
    }
    links["g"]->SendMessage(15, {});
    QTRY_COMPARE_WITH_TIMEOUT(requested.count(), 2, 30000);
    QCOMPARE(requested.last().at(0).toString(), QString("g"));
}

void TestPeerConnections::silentConnectionsFromOneAddressLeaveRoomForOthers()
{
    PeerFixture f;
    QVERIFY(f.Start());
    const quint16 port = f.peer->ListeningPort();
    const int perAddress = f.peer->ConnectionLimits().openingPerAddress;
    const int opening = f.peer->ConnectionLimits().opening;
    const int crowdSize = opening + 44;
    QSignalSpy requested(f.peer, &PeerMessenger::UserInfoRequested);
    auto peerAt = [&](const QString& name, const char* address) {
        auto* fake = new FakePeer(name);
        f.peers.append(fake);
        fake->SetSourceAddress(QHostAddress(address));
        return fake;
    };
    // A peer that greets and asks for our user information is served.
    auto served = [&](const QString& name, const char* address) {
        FakePeerLink* link = peerAt(name, address)->Greet(port, false, "P", 1);
        if (!link)
            return false;
        link->SendMessage(15, {});
        return QTest::qWaitFor([&] { return !requested.isEmpty() && requested.last().at(0).toString() == name; }, 5000);
    };
    // One silent connection from elsewhere before the crowd.
    FakePeerLink* early = peerAt("early", "127.0.0.3")->Connect(port, false);
    QVERIFY(early);

    // More connections that never speak than may be opening in all, from
    // 127.0.0.1 at once: all are let in, the address opening the most
    // giving up its oldest to make room.
    FakePeer* silent = peerAt("silent", "127.0.0.1");
    QList<FakePeerLink*> crowd;
    for (int i = 0; i < crowdSize; ++i) {
        FakePeerLink* link = silent->StartConnecting(port, false);
        QVERIFY(link);
        crowd << link;
        QVERIFY(QTest::qWaitFor(
            [&] { return link->IsClosed() || link->Socket()->state() == QAbstractSocket::ConnectedState; }, 5000));
    }
    auto closed = [&] { return int(std::count_if(crowd.begin(), crowd.end(), [](auto* l) { return l->IsClosed(); })); };
    // Beside the early one.
    int kept = opening - 1;
    QTRY_COMPARE_WITH_TIMEOUT(closed(), crowdSize - kept, 30000);
    for (int i = 0; i < crowdSize; ++i)
        QVERIFY2(crowd[i]->IsClosed() == (i < crowdSize - kept), qPrintable(QString::number(i)));

    // A peer at another address is let in meanwhile, at the crowd's cost.
    QVERIFY(served("elsewhere", "127.0.0.2"));
    --kept;
    QVERIFY(crowd[crowdSize - kept - 1]->WaitForClosed());

    // Those that stay silent: past the few an address may have, the one
    // silent longest goes as a newcomer from there comes in.
    f.Advance(PeerConnectionPolicy::OpeningGrace);
    QVERIFY(served("neighbour", "127.0.0.1"));
    QTRY_COMPARE_WITH_TIMEOUT(closed(), crowdSize - perAddress, 30000);
    for (int i = crowdSize - perAddress; i < crowdSize; ++i)
        QVERIFY(!crowd[i]->IsClosed());
    QVERIFY(!early->IsClosed());

    // Once the silent ones have had their time, connections from the one
    // address that name themselves are all kept: only opening ones count.
    f.Advance(PeerMessenger::HandshakeTimeout);
    f.Tick();
    for (int i = crowdSize - perAddress; i < crowdSize; ++i)
        QVERIFY(crowd[i]->WaitForClosed());
    QVERIFY(early->WaitForClosed());
    QList<FakePeerLink*> named;
    for (int i = 0; i < 2 * perAddress; ++i) {
        const QString name = QString("local%1").arg(i);
        auto* local = new FakePeer(name);
        f.peers.append(local);
        named << local->Greet(port, false, "P", quint32(i));
        QVERIFY(named.last());
        QTRY_COMPARE_WITH_TIMEOUT(f.peer->MessageConnectionCount(name), 1, 30000);
    }
    for (FakePeerLink* local : named)
        QVERIFY(!local->IsClosed());
}

QTEST_MAIN(TestPeerConnections)
#include "TestPeerConnections.moc"
