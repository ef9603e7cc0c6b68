// A room's wall as its view shows it: the server's side of a loopback
// socket accepts the login and then sends the input's bytes as they are,
// so whole walls, single messages and withdrawals reach the store through
// the real framing and handlers, while the wall of "lobby" stays open. After
// each input the view holds exactly the room's messages, in the store's
// order: highest position first, of equal positions the later one first,
// each bounded as a chat line is.
#include "Data.h"
#include "FuzzServerSide.h"
#include "FuzzWidgets.h"
#include "ServerNames.h"
#include "common/PeerText.h"
#include "rooms/RoomWallForm.h"

#include <algorithm>
#include <vector>

namespace {

const char* const kRoom = "lobby";

struct Harness : fuzz::ServerSide
{
    RoomWallForm* wall = nullptr;

    Harness()
    {
        SetSetting("color_chat_username", "#0033ff");
        wall = new RoomWallForm(QString(kRoom));
        wall->resize(600, 400);
        wall->show();
    }
};

Harness* TheHarness()
{
    static Harness* harness = [] {
        fuzz::EnsureWidgetsApplication();
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
        rows << PeerText::Bounded(ticker[ServerNames::RoomTickerText].AsString(), PeerText::LineCap) + " -" +
                    PeerText::Bounded(ticker[ServerNames::User].AsString(), PeerText::NameCap);
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

    harness->Send(fuzz::Bytes(data, size));

    fuzz::RunUntil([harness] { return harness->wall->Shown() == Expected(); });
    const QStringList shown = harness->wall->Shown();
    fuzz::Require(shown.size() == int(Tickers().size()));
    fuzz::Require(shown == Expected());
    return 0;
}
