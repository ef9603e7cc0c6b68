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
#include <atomic>

#include "BenchSupport.h"
#include "MemStream.h"
#include "PeerConnection.h"

namespace {
const int FloodSeconds = 5;
const int TextLength = 200;
// The peer tops up what waits in its socket to this, so it sends as fast as
// the connection takes it and holds little itself.
const qint64 PeerQueue = 1024 * 1024;

QByteArray Framed(const QByteArray& content)
{
    MemStream frame;
    frame.Write(quint32(content.size()));
    frame.Append(content);
    return frame.GetBytes();
}

// The peer's side, on a thread of its own as a peer is a program of its
// own: connects, greets, then floods until told to stop and closes.
class FloodPeer : public QObject
{
public:
    void Connect(quint16 port)
    {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QTcpSocket::bytesWritten, this, &FloodPeer::TopUp);
        m_socket->connectToHost(QHostAddress::LocalHost, port);
        MemStream opening;
        opening.Write(quint8(1));
        opening.Write(QString("peer"));
        opening.Write(QString("P"));
        opening.Write(quint32(7));
        m_socket->write(Framed(opening.GetBytes()));
    }
    void Start()
    {
        m_flooding = true;
        TopUp();
    }
    void Stop()
    {
        m_flooding = false;
        m_socket->disconnectFromHost();
    }
    // Read from the client's thread.
    int Messages() const { return m_messages; }
    qint64 Sent() const { return m_sent; }

private:
    void TopUp()
    {
        const QString text(TextLength, 'x');
        while (m_flooding && m_socket->bytesToWrite() < PeerQueue) {
            QByteArray chunk;
            for (int i = 0; i < 256; ++i) {
                MemStream message;
                message.Write(quint32(m_messages++));
                message.Write(text);
                chunk += Framed(message.GetBytes());
            }
            m_sent += chunk.size();
            m_socket->write(chunk);
        }
    }

    QTcpSocket* m_socket = nullptr;
    bool m_flooding = false;
    std::atomic<int> m_messages{0};
    std::atomic<qint64> m_sent{0};
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("Peer flood: %d s of messages with %d-character texts, as fast as the socket takes them\n",
                FloodSeconds, TextLength);

    QTcpServer listener;
    listener.listen(QHostAddress::LocalHost);
    auto* peer = new FloodPeer;
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
