// The distributed network's links as another client writes them: each
// input is one link, as our parent (first byte even) or as a child (odd),
// on a loopback socket pair; the other end writes the rest of the input
// and closes. A standing child hears whatever is passed down. Whatever
// comes, our level stays within its bound and our parent is never one of
// our own branch.
#include "DNetManager.h"
#include "FuzzSupport.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "StoreFixture.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <sys/socket.h>

namespace {

struct Harness
{
    StoreFixture store;
    QTcpServer listener;
    PeerMessenger* messenger = nullptr;
    DNetManager* dnet = nullptr;
    QTcpSocket* standingChild = nullptr;

    Harness()
    {
        fuzz::Require(listener.listen(QHostAddress::LocalHost));
        store.Start();
        SetSetting("username", "me");
        messenger = new PeerMessenger;
        dnet = new DNetManager;
        QTcpSocket* ours = nullptr;
        Pair(ours, standingChild);
        emit messenger->DNetConnectionRequested("kid", ours);
        fuzz::Require(dnet->Children() == QStringList{"kid"});
    }

    // The levels passed down to the standing child stay within the bound.
    void CheckPassedDown()
    {
        passedDown += standingChild->readAll();
        int at = 0;
        while (passedDown.size() - at >= 5) {
            const auto* b = reinterpret_cast<const uchar*>(passedDown.constData() + at);
            const quint32 length = quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
            fuzz::Require(length >= 1 && length <= DNetManager::MaxFrameLength);
            if (passedDown.size() - at < 4 + int(length))
                break;
            if (b[4] == DNetManager::LevelFrame && length == 5) {
                const quint32 level = quint32(b[5]) | quint32(b[6]) << 8 | quint32(b[7]) << 16 | quint32(b[8]) << 24;
                fuzz::Require(level <= DNetManager::MaxLevel);
            }
            at += 4 + int(length);
        }
        passedDown.remove(0, at);
    }

    QByteArray passedDown;

    // A connected pair; the end given to the network closes with a reset,
    // so that runs leave no waits on ephemeral ports.
    void Pair(QTcpSocket*& ours, QTcpSocket*& theirs)
    {
        ours = new QTcpSocket;
        ours->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        fuzz::RunUntil(
            [&] { return listener.hasPendingConnections() && ours->state() == QAbstractSocket::ConnectedState; });
        theirs = listener.nextPendingConnection();
        fuzz::Require(theirs != nullptr);
        const linger reset = {1, 0};
        ::setsockopt(int(ours->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::EnsureApplication();
    static Harness* harness = new Harness;
    if (size < 1)
        return 0;
    DNetManager* dnet = harness->dnet;
    const bool asParent = (data[0] & 1) == 0;
    QTcpSocket* ours = nullptr;
    QTcpSocket* theirs = nullptr;
    harness->Pair(ours, theirs);
    if (asParent) {
        // The server names it and it answers at once.
        emit gp_server->DistributedParentCandidates({"up"});
        emit harness->messenger->DNetConnectionAccepted("up", ours);
        fuzz::Require(dnet->Parent() == "up");
    } else {
        emit harness->messenger->DNetConnectionRequested("child", ours);
        fuzz::Require(dnet->Children().contains("child"));
    }
    theirs->write(fuzz::Bytes(data + 1, size - 1));
    theirs->disconnectFromHost();
    fuzz::RunUntil([&] { return asParent ? !dnet->HasParent() : !dnet->Children().contains("child"); });
    fuzz::Require(!dnet->HasParent() && !dnet->Children().contains("child"));
    fuzz::Require(dnet->Level() == 0 && dnet->BranchRoot() == "me");
    fuzz::Require(dnet->Children() == QStringList{"kid"});
    harness->CheckPassedDown();
    delete theirs;
    return 0;
}
