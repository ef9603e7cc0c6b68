// A peer connection on a loopback socket pair, read as an incoming
// connection is read: the other end sends the input (the key in the clear
// and the rest obfuscated with it when the first byte says so) and closes. The opening frame, the file token and the
// framed messages after it are all read.
#include "FuzzSupport.h"
#include "Obfuscator.h"
#include "PeerConnection.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <cstring>
#include <sys/socket.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::EnsureApplication();
    static QTcpServer* listener = [] {
        auto* server = new QTcpServer;
        fuzz::Require(server->listen(QHostAddress::LocalHost));
        return server;
    }();
    if (size < 1)
        return 0;
    const bool obfuscated = data[0] & 1;
    const bool fileConnection = data[0] & 2;
    QByteArray wire = fuzz::Bytes(data + 1, size - 1);
    if (obfuscated && wire.size() > 4) {
        quint32 key = 0;
        memcpy(&key, wire.constData(), 4);
        QByteArray rest = wire.mid(4);
        Obfuscator(qFromLittleEndian(key), Obfuscator::FromConnectingSide).Transform(rest);
        wire = wire.left(4) + rest;
    }

    // Tens of thousands of runs must not leave as many sockets in TIME_WAIT
    // on ephemeral ports, which every other program on the machine needs:
    // the connecting end, read by the connection, closes with a reset, and
    // the accepted end keeps its waits on the listening port.
    auto* ours = new QTcpSocket;
    ours->connectToHost(QHostAddress::LocalHost, listener->serverPort());
    fuzz::RunUntil(
        [&] { return listener->hasPendingConnections() && ours->state() == QAbstractSocket::ConnectedState; });
    QTcpSocket* other = listener->nextPendingConnection();
    fuzz::Require(other != nullptr);
    const linger reset = {1, 0};
    ::setsockopt(int(ours->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);

    bool ended = false;
    auto* connection = new PeerConnection(
        ours, obfuscated, [] { return qint64(0); }, nullptr);
    QObject::connect(connection, &PeerConnection::OpeningReceived, [&] {
        if (fileConnection)
            connection->AwaitFileToken();
        else
            connection->BeginMessages();
    });
    QObject::connect(connection, &PeerConnection::FileTokenReceived, [&] { ended = true; });
    QObject::connect(connection, &PeerConnection::MessageReceived,
                     [](quint32, QByteArray body) { fuzz::Require(body.size() < int(10485760)); });
    QObject::connect(connection, &PeerConnection::Ended, [&] { ended = true; });

    other->write(wire);
    other->disconnectFromHost();
    fuzz::RunUntil([&] { return ended; });
    delete connection;
    delete other;
    return 0;
}
