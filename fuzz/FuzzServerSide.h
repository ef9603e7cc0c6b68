#pragma once

#include "FuzzSupport.h"
#include "MemStream.h"
#include "Server.h"
#include "Settings.h"
#include "StoreFixture.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace fuzz {

// The server's side of a loopback connection with the real server
// connection: each input is a fresh connection on which the login is
// accepted and then the input's bytes are sent as they are (frames,
// lengths and bodies alike) before it closes. Every handler is reached
// through the framing.
struct ServerSide
{
    StoreFixture store;
    QTcpServer listener;
    bool ended = false;

    ServerSide()
    {
        Require(listener.listen(QHostAddress::LocalHost));
        qputenv("QUORVANE_SERVER", "127.0.0.1:" + QByteArray::number(listener.serverPort()));
        store.Start();
        SetSetting("username", "fuzz");
        SetSetting("password", "fuzz");
        auto end = [this] { ended = true; };
        QObject::connect(store.server, &Server::Disconnected, end);
        QObject::connect(store.server, &Server::ConnectionFailed, end);
        QObject::connect(store.server, &Server::LoggedInElsewhere, end);
    }

    static QByteArray LoginAccepted()
    {
        MemStream body;
        body.Write(quint32(1));
        body.Write(quint8(1));
        body.Write(QString("welcome"));
        body.Write(quint8(0));
        QByteArray frame = body.GetBytes();
        const quint32 length = quint32(frame.size());
        frame.prepend(QByteArray(reinterpret_cast<const char*>(&length), 4));
        return frame;
    }

    // One connection: logged in, the bytes, closed, and the client done
    // with it.
    void Send(const QByteArray& bytes)
    {
        ended = false;
        store.server->Connect();
        RunUntil([this] { return listener.hasPendingConnections(); });
        QTcpSocket* socket = listener.nextPendingConnection();
        Require(socket != nullptr);
        socket->write(LoginAccepted() + bytes);
        socket->disconnectFromHost();
        RunUntil([this] { return ended; });
        store.server->Disconnect();
        delete socket;
    }
};

} // namespace fuzz
