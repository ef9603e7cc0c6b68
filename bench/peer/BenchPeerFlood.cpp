// A peer sending small messages on a message connection as fast as the
// socket takes them for a few seconds, against what the client may hold:
// the most it held unread, as a ratio to its bound, and how much its
// resident memory grew, as a ratio to the bytes the peer sent in the same
// run. A connection that reads faster than it handles holds the flood; one
// that reads no faster holds its bound and lets TCP slow the peer. Every
// socket is on 127.0.0.1 and every wait has a deadline.
#include <QCoreApplication>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>

#include "BenchSupport.h"
#include "FloodPeer.h"
#include "MemStream.h"
#include "PeerConnection.h"

namespace {
const int FloodSeconds = 5;
const int TextLength = 200;
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("Peer flood: %d s of messages with %d-character texts, as fast as the socket takes them\n",
                FloodSeconds, TextLength);

    QTcpServer listener;
    listener.listen(QHostAddress::LocalHost);
    const QString text(TextLength, 'x');
    auto* peer = new FloodPeer("peer", [text](int n) {
        MemStream message;
        message.Write(quint32(n));
        message.Write(text);
        return message.GetBytes();
    });
    QThread peerThread;
    peer->moveToThread(&peerThread);
    peerThread.start();
    const quint16 port = listener.serverPort();
    QMetaObject::invokeMethod(peer, [peer, port] { peer->Connect(port); });

    QObject owner;
    QPointer<PeerConnection> connection;
    QObject::connect(&listener, &QTcpServer::newConnection, [&] {
        connection = new PeerConnection(
            listener.nextPendingConnection(), false, [] { return qint64(0); }, &owner);
        QObject::connect(connection, &PeerConnection::OpeningReceived, connection,
                         [&] { connection->BeginMessages(); });
    });
    if (!RunUntil([&] { return connection && connection->GetState() == PeerConnection::State::Open; }, 10000)) {
        std::printf("  no connection\n");
        return 1;
    }

    int handled = 0;
    int outOfOrder = 0;
    bool ended = false;
    qint64 mostUnread = 0;
    QObject::connect(connection, &PeerConnection::MessageReceived, [&](quint32 code) {
        if (code != quint32(handled++))
            ++outOfOrder;
        mostUnread = std::max(mostUnread, connection->UnreadBytes());
    });
    QObject::connect(connection, &PeerConnection::Ended, [&] { ended = true; });
    const Flood flood = RunFlood(
        peer, FloodSeconds, [peer] { peer->Start(); }, [peer] { peer->Stop(); }, [&] { return ended; });
    const int messages = peer->Messages();
    const qint64 sent = peer->Sent();
    peer->deleteLater();
    peerThread.quit();
    peerThread.wait();

    std::printf("  %d messages (%.1f MB) sent, %d handled, %d out of order, in %.1f s\n", messages, sent / 1048576.0,
                handled, outOfOrder, flood.seconds);
    if (!flood.drained || handled != messages || outOfOrder) {
        std::printf("  the flood was not handled whole and in order\n");
        return 1;
    }
    FloodFigures(mostUnread, PeerConnection::MaxUnreadBytes, flood, sent);
    return Summary("peerflood");
}
