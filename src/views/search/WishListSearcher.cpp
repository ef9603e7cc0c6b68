#include "WishListSearcher.h"

#include "Data.h"
#include "Log.h"
#include "PeerNames.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"

WishListSearcher* wishListSearcher = nullptr;

namespace {

const char* const kArea = "Wish List";
const char* const kIndex = "wish_list_search_index";

} // namespace

WishListSearcher::WishListSearcher(QObject* parent) : QObject(parent)
{
    wishListSearcher = this;
    if (gp_server)
        connect(gp_server, &Server::WishListWait, this, &WishListSearcher::OnWishListWait);
    connect(&m_timer, &QTimer::timeout, this, &WishListSearcher::OnSearchTimerTimeout);
    SetRuntimeSetting(kIndex, "0");
}

WishListSearcher::~WishListSearcher()
{
    if (wishListSearcher == this)
        wishListSearcher = nullptr;
}

void WishListSearcher::OnWishListWait(uint seconds)
{
    SetRuntimeSetting("wish_list_wait", QString::number(seconds));
    // A timer of no length would send a search at every turn of the loop.
    if (seconds == 0) {
        Log(kArea, 1,
            tr("Wish list wait period of 0 seconds ignored; the period stays %1 milliseconds")
                .arg(m_timer.isActive() ? m_timer.interval() : 0));
        return;
    }
    m_timer.stop();
    const int period = int(qMin(seconds, MaxPeriodSeconds) * 1000);
    Log(kArea, 1, tr("Wish list wait period set to %1 milliseconds").arg(period));
    m_timer.setInterval(period);
    m_timer.setSingleShot(false);
    m_timer.start();
}

void WishListSearcher::OnSearchTimerTimeout()
{
    Type* wishes = d.HasType(ServerNames::WishListItem);
    if (!wishes || !gp_server)
        return;
    // Built anew at every turn: what changed since shows at once.
    const ItemList candidates = wishes->GetItems().Connected(PeerNames::WishListItemEnabled).SortAlphabetic(true, true);
    if (candidates.empty())
        return;
    const int count = int(candidates.size());
    const int index = GetRuntimeSetting(kIndex).toInt();
    // A turn past the end (searches removed meanwhile) wraps round.
    const QString text = candidates[size_t(index > 0 ? index % count : 0)].AsString();
    gp_server->FileSearch(text, text);
    Log(kArea, 1, tr("Sent wish list search: %1").arg(text));
    const int next = index + 1;
    SetRuntimeSetting(kIndex, QString::number(next < count ? next : 0));
}
