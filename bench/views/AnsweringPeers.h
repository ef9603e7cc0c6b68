// Peers answering searches over loopback, on a thread of their own as peers
// are programs of their own: each answers over a message connection of its
// own from its address, greeting and then writing all it has, as fast as
// the socket takes it, and closes once it is all sent, as the client
// handles what came before a close. The bytes go from the stream made
// beforehand a socket buffer's worth at a time, so that the peers' own
// copies do not count as the client's growth.
#pragma once

#include <QHostAddress>
#include <QTcpSocket>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "FakeWire.h"

class AnsweringPeers : public QObject
{
public:
    // On the peers' thread.
    void Answer(quint16 port, const QString& name, const QHostAddress& address, const QByteArray& stream)
    {
        auto* socket = new QTcpSocket(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (!socket->bind(address))
            std::printf("    cannot answer from %s\n", qPrintable(address.toString()));
        socket->connectToHost(QHostAddress::LocalHost, port);
        socket->write(FakeWire::Frame(FakeWire().U8(1).Str(name).Str("P").U32(1).Bytes()));
        auto sent = std::make_shared<qint64>(0);
        auto more = [socket, stream, sent] {
            const qint64 chunk = 256 * 1024;
            while (*sent < stream.size() && socket->bytesToWrite() < chunk) {
                const qint64 size = std::min(chunk, stream.size() - *sent);
                socket->write(stream.constData() + *sent, size);
                *sent += size;
            }
            if (*sent == stream.size())
                socket->disconnectFromHost();
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, more);
        more();
    }
    void Close() { qDeleteAll(findChildren<QTcpSocket*>()); }
};
