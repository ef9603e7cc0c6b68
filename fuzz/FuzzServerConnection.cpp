// The server connection as the server's side of a loopback socket: each
// input is a fresh connection on which the server accepts the login and then
// sends the input's bytes as they are (frames, lengths and bodies alike)
// before it closes. Every handler is reached through the framing.
#include "FuzzSupport.h"
#include "MemStream.h"
#include "Server.h"
#include "Settings.h"
#include "StoreFixture.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

QByteArray LoginAccepted()
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

struct Harness
{
    StoreFixture store;
    QTcpServer listener;
    bool ended = false;

    Harness()
    {
        fuzz::Require(listener.listen(QHostAddress::LocalHost));
        qputenv("QUORVANE_SERVER", "127.0.0.1:" + QByteArray::number(listener.serverPort()));
        store.Start();
        SetSetting("username", "fuzz");
        SetSetting("password", "fuzz");
        auto end = [this] { ended = true; };
        QObject::connect(store.server, &Server::Disconnected, end);
        QObject::connect(store.server, &Server::ConnectionFailed, end);
        QObject::connect(store.server, &Server::LoggedInElsewhere, end);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::EnsureApplication();
    static Harness* harness = new Harness;
    harness->ended = false;
    harness->store.server->Connect();
    fuzz::RunUntil([] { return harness->listener.hasPendingConnections(); });
    QTcpSocket* socket = harness->listener.nextPendingConnection();
    fuzz::Require(socket != nullptr);
    socket->write(LoginAccepted() + fuzz::Bytes(data, size));
    socket->disconnectFromHost();
    fuzz::RunUntil([] { return harness->ended; });
    harness->store.server->Disconnect();
    delete socket;
    return 0;
}
