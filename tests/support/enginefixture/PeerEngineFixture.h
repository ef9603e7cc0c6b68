#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

#include "FakePeerLink.h"
#include "PeerFixture.h"
#include "TempTree.h"

class FakePeer;
class FakePeerLink;

// The client's server connection and peer messaging on 127.0.0.1 against
// the loopback test server, fake peers that talk to them, and a temporary
// folder: what the engine fixtures that talk to peers build on. The engines
// themselves are made by the fixture that derives from it, after these.
class PeerEngineFixture : public TempTree
{
public:
    PeerEngineFixture() = default;
    PeerEngineFixture(const PeerEngineFixture&) = delete;
    PeerEngineFixture& operator=(const PeerEngineFixture&) = delete;

    // Logs in as "me" and listens; true once both are done.
    bool Start();

    // A fake peer, logged in, with a message connection that it opened to
    // us and that we have registered; null when any of it fails. From
    // another 127.x.y.z address when given one: a peer elsewhere.
    FakePeerLink* LinkedPeer(const QString& name, const QHostAddress& from = QHostAddress());
    // The same, also reported online to us. Its relayed connection requests
    // are ignored, so a file connection arrives directly, once.
    FakePeerLink* OnlinePeer(const QString& name);
    FakePeer* Peer(const QString& name) const;

    // The messages of one code that a link received, oldest first.
    static QList<QByteArray> Received(FakePeerLink* link, quint32 code);
    // A server round trip: what the client sent before has arrived.
    bool ServerCaughtUp();

    // Waits until the link has received count messages of the code.
    static bool WaitFor(FakePeerLink* link, quint32 code, int count, int timeout = FakePeerLink::DefaultWaitMs);

    PeerFixture net;

private:
    FakePeerLink* Link(const QString& name, bool online, const QHostAddress& from = QHostAddress());
};
