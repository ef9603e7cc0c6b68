#include "PeerEngineFixture.h"

#include <QTest>

#include "Data.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "TestServer.h"

bool PeerEngineFixture::Start()
{
    return IsValid() && net.Start("me");
}

FakePeerLink* PeerEngineFixture::LinkedPeer(const QString& name, const QHostAddress& from)
{
    return Link(name, false, from);
}

FakePeerLink* PeerEngineFixture::OnlinePeer(const QString& name)
{
    return Link(name, true);
}

FakePeerLink* PeerEngineFixture::Link(const QString& name, bool online, const QHostAddress& from)
{
    FakePeer* fake = net.AddPeer(name);
    if (!fake)
        return nullptr;
    if (!from.isNull())
        fake->SetSourceAddress(from);
    if (online)
        fake->SetRelayPolicy(FakePeer::RelayPolicy::Ignore);
    FakePeerLink* link = fake->Greet(net.peer->ListeningPort(), false, "P", 1);
    if (!link)
        return nullptr;
    if (online)
        net.client->TrackUser(name);
    const ItemPtr user = online ? d.GetType("user")->GetItem(Value(name)) : ItemPtr();
    auto ready = [&] {
        return net.peer->MessageConnectionCount(name) > 0 && (!online || user.IsConnected("is_online"));
    };
    return QTest::qWaitFor(ready, FakePeerLink::DefaultWaitMs) ? link : nullptr;
}

FakePeer* PeerEngineFixture::Peer(const QString& name) const
{
    for (FakePeer* fake : net.peers)
        if (fake->Name() == name)
            return fake;
    return nullptr;
}

QList<QByteArray> PeerEngineFixture::Received(FakePeerLink* link, quint32 code)
{
    QList<QByteArray> bodies;
    for (const auto& message : link->messages)
        if (message.first == code)
            bodies.append(message.second);
    return bodies;
}

bool PeerEngineFixture::WaitFor(FakePeerLink* link, quint32 code, int count, int timeout)
{
    return QTest::qWaitFor([&] { return Received(link, code).size() >= count; }, timeout);
}

bool PeerEngineFixture::ServerCaughtUp()
{
    return net.ServerCaughtUp();
}
