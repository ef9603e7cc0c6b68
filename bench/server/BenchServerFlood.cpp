// A server sending room chat as fast as the socket takes it for a few
// seconds, against what the client may hold: the most it held unread, as a
// ratio to its bound, and how much its resident memory grew, as a ratio to
// the bytes the server sent in the same run. A client that reads faster
// than it handles holds the flood; one that reads no faster holds its bound
// and lets TCP slow the server. Every socket is on 127.0.0.1 and every wait
// has a deadline.
#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <atomic>

#include "BenchSupport.h"
#include "Server.h"
#include "Settings.h"
#include "StoreFixture.h"
#include "TestMessage.h"

namespace {
const int FloodSeconds = 5;
const int TextLength = 200;
// The server tops up what waits in its socket to this, so it sends as fast
// as the connection takes it and holds little itself.
const qint64 ServerQueue = 1024 * 1024;
const quint32 SayInRoom = 13;
const quint32 LoggedInElsewhere = 41;

// The server's side, on a thread of its own as a server is a program of its
// own: accepts the login, then floods until told to stop, reading and
// dropping what the client sends so that its close is clean.
class FloodServer : public QObject
{
public:
    FloodServer() : m_listener(new QTcpServer(this))
    {
        m_listener->listen(QHostAddress::LocalHost);
        connect(m_listener, &QTcpServer::newConnection, this, [this] {
            m_socket = m_listener->nextPendingConnection();
            connect(m_socket, &QTcpSocket::readyRead, this, [this] {
                m_socket->readAll();
                if (!m_loggedIn) {
                    m_loggedIn = true;
                    m_socket->write(TestMessage::Frame(1, TestMessage().U8(1).Str("welcome").U8(0).Body()));
                }
            });
            connect(m_socket, &QTcpSocket::bytesWritten, this, &FloodServer::TopUp);
        });
    }

    quint16 Port() const { return m_listener->serverPort(); }
    void Start()
    {
        m_flooding = true;
        TopUp();
    }
    // The last line, then the news that ends the connection, then the close.
    void Stop()
    {
        m_flooding = false;
        m_socket->write(TestMessage::Frame(LoggedInElsewhere, QByteArray()));
        m_socket->disconnectFromHost();
    }
    // Read from the client's thread.
    int Lines() const { return m_lines; }
    qint64 Sent() const { return m_sent; }

private:
    void TopUp()
    {
        while (m_flooding && m_socket->bytesToWrite() < ServerQueue) {
            QByteArray chunk;
            for (int i = 0; i < 256; ++i) {
                const QString text = QString::number(m_lines++) + QString(TextLength, 'x');
                chunk += TestMessage::Frame(SayInRoom, TestMessage().Str("room").Str("bob").Str(text).Body());
            }
            m_sent += chunk.size();
            m_socket->write(chunk);
        }
    }

    QTcpServer* m_listener;
    QTcpSocket* m_socket = nullptr;
    bool m_loggedIn = false;
    bool m_flooding = false;
    std::atomic<int> m_lines{0};
    std::atomic<qint64> m_sent{0};
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("Server flood: %d s of %d-character room chat lines, as fast as the socket takes them\n", FloodSeconds,
                TextLength);

    auto* server = new FloodServer;
    QThread serverThread;
    server->moveToThread(&serverThread);
    serverThread.start();
    qputenv("QUORVANE_SERVER", "127.0.0.1:" + QByteArray::number(server->Port()));
    StoreFixture store;
    store.Start();
    SetSetting("username", "alice");
    SetSetting("password", "secret");
    Server* client = store.server;
    bool connected = false;
    bool ended = false;
    QObject::connect(client, &Server::Connected, [&] { connected = true; });
    QObject::connect(client, &Server::LoggedInElsewhere, [&] { ended = true; });
    client->Connect();
    if (!RunUntil([&] { return connected; }, 10000)) {
        std::printf("  no login\n");
        return 1;
    }

    int handled = 0;
    int outOfOrder = 0;
    qint64 mostUnread = 0;
    QObject::connect(client, &Server::RoomChat, [&](const QString&, const QString&, const QString& text) {
        if (!text.startsWith(QString::number(handled++) + 'x'))
            ++outOfOrder;
        mostUnread = std::max(mostUnread, client->UnreadBytes());
    });
    const Flood flood = RunFlood(
        server, FloodSeconds, [server] { server->Start(); }, [server] { server->Stop(); }, [&] { return ended; });
    const int lines = server->Lines();
    const qint64 sent = server->Sent();
    server->deleteLater();
    serverThread.quit();
    serverThread.wait();

    std::printf("  %d lines (%.1f MB) sent, %d handled, %d out of order, in %.1f s\n", lines, sent / 1048576.0, handled,
                outOfOrder, flood.seconds);
    if (!flood.drained || handled != lines || outOfOrder) {
        std::printf("  the flood was not handled whole and in order\n");
        return 1;
    }
    FloodFigures(mostUnread, Server::MaxUnreadBytes, flood, sent);
    return Summary("serverflood");
}
