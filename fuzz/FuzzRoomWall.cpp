// A room's wall as its view shows it: the server's side of a loopback
// socket accepts the login and then sends the input's bytes as they are,
// so whole walls, single messages and withdrawals reach the store through
// the real framing and handlers, while the wall of "lobby" stays open. After
// each input the view holds exactly the room's messages, in the store's
// order: highest position first, of equal positions the later one first.
#include "Data.h"
#include "FuzzSupport.h"
#include "MemStream.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "StoreFixture.h"
#include "rooms/RoomWallForm.h"

#include <QApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <vector>

// The font library allocates its configuration once, when the first row is
// measured, and keeps it beyond any pointer LeakSanitizer can see; every
// other leak still ends the run.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace {

const char* const kRoom = "lobby";

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
    RoomWallForm* wall = nullptr;
    bool ended = false;

    Harness()
    {
        fuzz::Require(listener.listen(QHostAddress::LocalHost));
        qputenv("QUORVANE_SERVER", "127.0.0.1:" + QByteArray::number(listener.serverPort()));
        store.Start();
        SetSetting("username", "fuzz");
        SetSetting("password", "fuzz");
        SetSetting("color_chat_username", "#0033ff");
        auto end = [this] { ended = true; };
        QObject::connect(store.server, &Server::Disconnected, end);
        QObject::connect(store.server, &Server::ConnectionFailed, end);
        QObject::connect(store.server, &Server::LoggedInElsewhere, end);
        wall = new RoomWallForm(QString(kRoom));
        wall->resize(600, 400);
        wall->show();
    }
};

Harness* TheHarness()
{
    static Harness* harness = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("QUORVANE_TEST", "1");
        static int argc = 1;
        static char name[] = "fuzz";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
        return new Harness;
    }();
    return harness;
}

ItemSet Tickers()
{
    return d.GetType(ServerNames::Room)->GetItem(QString(kRoom)).GetItems(ServerNames::RoomTicker);
}

// The room's messages as the view should list them, from the store alone.
QStringList Expected()
{
    std::vector<ItemPtr> tickers;
    for (const ItemPtr& ticker : Tickers())
        tickers.push_back(ticker);
    std::sort(tickers.begin(), tickers.end(), [](const ItemPtr& a, const ItemPtr& b) {
        const qint64 orderA = a[ServerNames::RoomTickerOrder].AsInt64();
        const qint64 orderB = b[ServerNames::RoomTickerOrder].AsInt64();
        return orderA != orderB ? orderA > orderB : a.Sequence() > b.Sequence();
    });
    QStringList rows;
    for (const ItemPtr& ticker : tickers)
        rows << ticker[ServerNames::RoomTickerText].AsString() + " -" + ticker[ServerNames::User].AsString();
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Harness* harness = TheHarness();
    // Each input starts from an empty wall, which also takes every row of
    // the last one away through the view's own handler.
    Tickers().Remove();
    fuzz::RunUntil([harness] { return harness->wall->Shown().isEmpty(); });
    fuzz::Require(harness->wall->Shown().isEmpty());

    harness->ended = false;
    harness->store.server->Connect();
    fuzz::RunUntil([harness] { return harness->listener.hasPendingConnections(); });
    QTcpSocket* socket = harness->listener.nextPendingConnection();
    fuzz::Require(socket != nullptr);
    socket->write(LoginAccepted() + fuzz::Bytes(data, size));
    socket->disconnectFromHost();
    fuzz::RunUntil([harness] { return harness->ended; });
    harness->store.server->Disconnect();
    delete socket;

    fuzz::RunUntil([harness] { return harness->wall->Shown() == Expected(); });
    const QStringList shown = harness->wall->Shown();
    fuzz::Require(shown.size() == int(Tickers().size()));
    fuzz::Require(shown == Expected());
    return 0;
}
