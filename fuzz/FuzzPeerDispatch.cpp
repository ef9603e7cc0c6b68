// What peer messaging does with a message once it is read: a peer opens a
// message connection to us over loopback and sends the input as its
// messages (frames, lengths and bodies alike), then closes. Every message
// goes through the real handlers with a store: search results become items
// under an open search, share lists (each input's first one answering our
// request) and folder contents are inflated with the real limits, requests
// reach their signals. After each input what the
// results made is removed again, so the store stays as it began.
#include "Data.h"
#include "FuzzSupport.h"
#include "PeerMessenger.h"
#include "PeerNames.h"
#include "ServerNames.h"
#include "Settings.h"
#include "StoreFixture.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <sys/socket.h>

namespace {

const quint32 SearchTicket = 77;

QByteArray Greeting()
{
    QByteArray body;
    auto u32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            body.append(char(v >> (8 * i)));
    };
    auto str = [&](const QByteArray& s) {
        u32(quint32(s.size()));
        body.append(s);
    };
    body.append(char(1));
    str("peer");
    str("P");
    u32(5);
    QByteArray frame;
    const quint32 length = quint32(body.size());
    for (int i = 0; i < 4; ++i)
        frame.append(char(length >> (8 * i)));
    return frame + body;
}

struct Harness
{
    StoreFixture store;
    PeerMessenger* messenger = nullptr;
    QList<ItemPtr> results;

    Harness()
    {
        store.Start();
        SetSetting("username", "me");
        messenger = new PeerMessenger;
        messenger->SetListenAddress(QHostAddress::LocalHost);
        // A free port; the obfuscated one (the next) is not needed.
        QTcpServer probe;
        fuzz::Require(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        SetSetting("new_listening_port", QString::number(port));
        messenger->DataLoaded();
        fuzz::Require(messenger->ListeningPort() != 0);
        QObject::connect(messenger, &PeerMessenger::SearchResults, [this](ItemPtr found) { results << found; });
        OpenSearch();
    }

    void OpenSearch() { d.GetType(ServerNames::SearchRequest)->GetItem(Value(SearchTicket)); }

    void RemoveResults()
    {
        for (ItemPtr found : results) {
            for (ItemPtr result : found.GetItems(PeerNames::SearchResult))
                result.Remove();
            found.Remove();
        }
        results.clear();
        d.RemoveDisconnectedItems();
        OpenSearch();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::EnsureApplication();
    static Harness* harness = new Harness;
    PeerMessenger* messenger = harness->messenger;

    auto* socket = new QTcpSocket;
    socket->connectToHost(QHostAddress::LocalHost, messenger->ListeningPort());
    fuzz::RunUntil([&] { return socket->state() == QAbstractSocket::ConnectedState; });
    socket->write(Greeting());
    fuzz::RunUntil([&] { return messenger->MessageConnectionCount("peer") == 1; });
    messenger->GetUserSharedFiles("peer");
    // Messenger's end of the connection closes with a reset, so that tens
    // of thousands of runs leave no waits on ephemeral ports; ours closes
    // first and in order, so everything sent is read before that.
    const linger reset = {1, 0};
    for (QTcpSocket* accepted : messenger->findChildren<QTcpSocket*>())
        if (accepted->peerPort() == socket->localPort())
            ::setsockopt(int(accepted->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    socket->write(fuzz::Bytes(data, size));
    socket->disconnectFromHost();
    fuzz::RunUntil([&] { return messenger->MessageConnectionCount("peer") == 0; });
    fuzz::Require(messenger->MessageConnectionCount("peer") == 0);
    delete socket;
    harness->RemoveResults();
    return 0;
}
