#include "SearchResultIntake.h"

#include <QMetaObject>
#include <algorithm>

#include "Data.h"
#include "EventHandler.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "PeerNames.h"
#include "ServerNames.h"
#include "TurnBudget.h"

namespace {
const char* const Area = "Peer Messenger";

// A remote path names a file when something follows its last "\" and the
// name does not end in "/".
bool NamesFile(const std::string& path)
{
    const size_t separator = path.rfind('\\');
    const size_t start = separator == std::string::npos ? 0 : separator + 1;
    return start < path.size() && path.back() != '/';
}

ItemPtr StoreFile(ItemPtr results, const FileInfo& file)
{
    // Remote paths are cut at "\" only: a "/" belongs to the name, which
    // is asked for again exactly as listed.
    const std::string& path = file.Name();
    const size_t separator = path.rfind('\\');
    const std::string folder = separator == std::string::npos ? std::string() : path.substr(0, separator);
    const std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    ItemPtr result = results.NewItem(PeerNames::SearchResult);
    result += d.GetType(PeerNames::SearchResultFileName)->GetItem(name);
    result += d.GetType(PeerNames::SearchResultFileFolder)->GetItem(folder);
    result += d.GetType(PeerNames::FileSize)->GetItem(Value(file.Size()));
    for (const auto& attribute : file.Attributes().Values()) {
        if (attribute.first == AttributeMap::Bitrate)
            result += d.GetType(PeerNames::Bitrate)->GetItem(Value(attribute.second));
        else if (attribute.first == AttributeMap::LengthSeconds)
            result += d.GetType(PeerNames::LengthSeconds)->GetItem(Value(attribute.second));
        else if (attribute.first == AttributeMap::VariableBitrate)
            result += d.GetType(PeerNames::BitrateMode)->GetItem(attribute.second ? "vbr" : "cbr");
    }
    return result;
}
} // namespace

SearchResultIntake::SearchResultIntake(QObject* parent) : QObject(parent)
{
    d.GetType(ServerNames::SearchRequest)
        ->AddItemRemovedHandler(
            new EventHandler<SearchResultIntake, ItemPtr>(this, &SearchResultIntake::OnRequestRemoved));
    d.GetType(PeerNames::SearchResults)
        ->AddItemRemovedHandler(
            new EventHandler<SearchResultIntake, ItemPtr>(this, &SearchResultIntake::OnResultsRemoved));
}

// ---------------------------------------------------------------------------
// The bounds

void SearchResultIntake::Tally::Add(const Key& sender, qint64 results)
{
    stored += results;
    storedByUser[sender.first] += results;
    storedByAddress[sender.second] += results;
    storedBySender[sender] += results;
}

void SearchResultIntake::Held::Add(const Key& sender, qint64 results)
{
    all += results;
    byUser[sender.first] += results;
    byAddress[sender.second] += results;
    bySender[sender] += results;
}

ItemSet SearchResultIntake::Search(quint32 ticket)
{
    const ItemPtr request = d.GetType(ServerNames::SearchRequest)->HasItem(Value(ticket));
    if (!request || request.IsConnected(PeerNames::SearchStopped))
        return ItemSet();
    // A wish-list search's page gathers every ticket of it.
    const ItemPtr wish = request[ServerNames::WishListItem];
    return wish ? wish.GetItems(ServerNames::SearchRequest) : ItemSet(request);
}

SearchResultIntake::Tally& SearchResultIntake::Counted(ItemPtr request)
{
    Tally& tally = m_tallies[request.GetItemPointer()];
    const int replies = request.CountItems(PeerNames::SearchResults);
    if (replies != tally.replies) {
        tally.stored = 0;
        tally.storedByUser.clear();
        tally.storedByAddress.clear();
        tally.storedBySender.clear();
        for (const ItemPtr& results : request.GetItems(PeerNames::SearchResults))
            tally.Add({results[ServerNames::User].AsString(), m_addresses.value(results.GetItemPointer())},
                      results.CountItems(PeerNames::SearchResult));
        tally.replies = replies;
    }
    return tally;
}

SearchResultIntake::Kept SearchResultIntake::KeptFor(const ItemSet& search, const Sender& sender)
{
    Kept kept;
    for (const ItemPtr& request : search) {
        const Tally& tally = Counted(request);
        kept.all += tally.stored;
        kept.user += tally.storedByUser.value(sender.user);
        kept.address += tally.storedByAddress.value(sender.address);
    }
    for (const Pending& reply : m_pending)
        if (reply.results && search.contains(reply.request)) {
            const qint64 waiting = qint64(reply.files.size() - reply.next);
            kept.all += waiting;
            if (reply.sender.user == sender.user)
                kept.user += waiting;
            if (reply.sender.address == sender.address)
                kept.address += waiting;
        }
    return kept;
}

SearchResultIntake::Held SearchResultIntake::HeldBy(const ItemSet& search)
{
    Held held;
    for (const ItemPtr& request : search) {
        const Tally& tally = Counted(request);
        for (auto it = tally.storedBySender.constBegin(); it != tally.storedBySender.constEnd(); ++it)
            if (it.value() > 0)
                held.Add(it.key(), it.value());
    }
    for (const Pending& reply : m_pending)
        if (reply.results && reply.next < reply.files.size() && search.contains(reply.request))
            held.Add(KeyOf(reply.sender), qint64(reply.files.size() - reply.next));
    return held;
}

qint64 SearchResultIntake::Excess(const Held& held, const Key& sender) const
{
    return std::max(held.byUser.value(sender.first) - m_userLimit,
                    held.byAddress.value(sender.second) - m_addressLimit);
}

qint64 SearchResultIntake::Places(const ItemSet& search, const Sender& claimant, qint64 wanted,
                                  std::vector<Claim>* claims)
{
    const Kept kept = KeptFor(search, claimant);
    const qint64 free = std::max<qint64>(0, m_limit - kept.all);
    // Past the free places only what the claimant's user share still
    // allows, taken back from others: from anyone while its address is
    // under its share, and past that only from other users at its own
    // address, which moves places within the address and adds none to it.
    const qint64 allowed = std::min(wanted, m_userLimit - kept.user) - free;
    if (allowed <= 0)
        return std::min(wanted, free);
    Held held = HeldBy(search);
    const qint64 anywhere = std::min(allowed, m_addressLimit - kept.address - free);
    qint64 found = anywhere > 0 ? Reclaim(held, claimant, anywhere, false, claims) : 0;
    found += Reclaim(held, claimant, allowed - found, true, claims);
    return free + found;
}

qint64 SearchResultIntake::Reclaim(Held& held, const Sender& claimant, qint64 wanted, bool ownAddress,
                                   std::vector<Claim>* claims) const
{
    if (wanted <= 0)
        return 0;
    // A user's own places are never taken back for it under another name
    // or from another address.
    std::vector<Key> over;
    for (auto it = held.bySender.constBegin(); it != held.bySender.constEnd(); ++it)
        if (it.value() > 0 && it.key().first != claimant.user && (!ownAddress || it.key().second == claimant.address) &&
            Excess(held, it.key()) > 0)
            over.push_back(it.key());
    qint64 found = 0;
    while (found < wanted) {
        // The sender most over its share (of those as far over, the one
        // holding most) gives places up until it is no more over than the
        // next, and GiveUpStep of them at least, so that those over their
        // shares end up alike to within that many while a reply's claim is
        // met by as few of them as that allows: each sender giving up
        // costs a results page a removal of its rows.
        const Key* most = nullptr;
        qint64 mostOver = 0;
        qint64 nextOver = 0;
        for (const Key& sender : over) {
            const qint64 excess = std::min(Excess(held, sender), held.bySender.value(sender));
            if (excess > mostOver ||
                (most && excess == mostOver && held.bySender.value(sender) > held.bySender.value(*most))) {
                nextOver = std::max(nextOver, mostOver);
                mostOver = excess;
                most = &sender;
            } else {
                nextOver = std::max(nextOver, excess);
            }
        }
        if (!most)
            break;
        const Key sender = *most;
        const qint64 places = std::min({wanted - found, mostOver, std::max<qint64>(GiveUpStep, mostOver - nextOver)});
        held.Add(sender, -places);
        // Within one address the claimant holds what the sender gave up:
        // the address is no less full for it.
        if (ownAddress)
            held.Add(KeyOf(claimant), places);
        found += places;
        if (!claims)
            continue;
        // One claim a sender, however the places were taken in turn.
        auto claim = std::find_if(claims->begin(), claims->end(), [&](const Claim& c) { return c.sender == sender; });
        if (claim == claims->end())
            claims->push_back({sender, places});
        else
            claim->places += places;
    }
    return found;
}

quint32 SearchResultIntake::Room(quint32 ticket, const Sender& sender)
{
    const ItemSet search = Search(ticket);
    if (search.empty())
        return 0;
    return quint32(Places(search, sender, m_limit, nullptr));
}

qint64 SearchResultIntake::LeftOut(ItemPtr request) const
{
    return m_tallies.value(request.GetItemPointer()).leftOut;
}

void SearchResultIntake::CountLeftOut(ItemPtr request, qint64 results, QList<quint32>& touched)
{
    if (results <= 0)
        return;
    m_tallies[request.GetItemPointer()].leftOut += results;
    if (!touched.contains(request.AsUInt()))
        touched << request.AsUInt();
}

void SearchResultIntake::GiveUp(const ItemSet& search, const std::vector<Claim>& claims, QList<quint32>& touched)
{
    for (const Claim& claim : claims) {
        qint64 places = claim.places;
        if (IsLogging())
            Log("Search", 2,
                QString("%1 result(s) of %2 at %3 given up to a later answerer")
                    .arg(places)
                    .arg(claim.sender.first, claim.sender.second));
        // What waits to be stored was never shown: it goes first, the
        // newest reply's first.
        for (auto it = m_pending.rbegin(); it != m_pending.rend() && places > 0; ++it) {
            Pending& reply = *it;
            if (!reply.results || KeyOf(reply.sender) != claim.sender || !search.contains(reply.request))
                continue;
            const qint64 cut = std::min(places, qint64(reply.files.size() - reply.next));
            reply.files.resize(reply.files.size() - size_t(cut));
            places -= cut;
            CountLeftOut(reply.request, cut, touched);
        }
        // Then the newest shown, the newest reply's last files first.
        ItemList replies;
        for (const ItemPtr& request : search)
            for (const ItemPtr& results : request.GetItems(PeerNames::SearchResults))
                if (results[ServerNames::User].AsString() == claim.sender.first &&
                    m_addresses.value(results.GetItemPointer()) == claim.sender.second)
                    replies.push_back(results);
        std::sort(replies.begin(), replies.end());
        for (auto it = replies.rbegin(); it != replies.rend() && places > 0; ++it) {
            ItemPtr results = *it;
            const ItemPtr request = results[ServerNames::SearchRequest];
            const ItemSet stored = results.GetItems(PeerNames::SearchResult);
            const qint64 cut = std::min(places, qint64(stored.size()));
            const ItemList gone(stored.List().end() - cut, stored.List().end());
            Counted(request).Add(claim.sender, -cut);
            emit GivingUp(results, gone);
            {
                Data::Batch batch(&d);
                for (ItemPtr result : gone)
                    result.Remove();
                // Its waiting files went before any shown one.
                if (cut == qint64(stored.size()))
                    results.Remove();
            }
            places -= cut;
            CountLeftOut(request, cut, touched);
        }
    }
}

// ---------------------------------------------------------------------------
// Taking a reply

void SearchResultIntake::Take(const Sender& sender, PeerMessages::SearchReplyBody& reply)
{
    const QString& user = sender.user;
    ItemPtr request = d.GetType(ServerNames::SearchRequest)->HasItem(Value(reply.token));
    if (!request || request.IsConnected(PeerNames::SearchStopped)) {
        if (IsLogging())
            Log(Area, 3,
                QString("Dropping search results of %1 for ticket %2, which is unknown or stopped")
                    .arg(user)
                    .arg(reply.token));
        return;
    }
    ItemPtr userItem = d.GetType(ServerNames::User)->HasItem(user);
    if (userItem.IsConnected(ServerNames::IsIgnored))
        return;

    ItemPtr wish = request[ServerNames::WishListItem];
    const bool discardRepeats = wish.IsConnected(PeerNames::DiscardRepeatedResults);
    if (discardRepeats && userItem && wish[PeerNames::ReceivedResultsFromUsers].IsConnected(userItem)) {
        Log("Wish List", 1, QString("Throwing away repeated search results from user %1").arg(user));
        return;
    }

    // A record without a file name (an empty path, or one that ends in a
    // separator) names no file anyone could download.
    std::vector<FileInfo> files;
    files.reserve(reply.files.size());
    for (FileInfo& file : reply.files)
        if (NamesFile(file.Name()))
            files.push_back(std::move(file));
    qint64 leftOut = reply.filesNotRead;
    if (files.empty() && leftOut == 0) {
        if (IsLogging())
            Log(Area, 3, QString("Search results of %1 hold no usable file").arg(user));
        return;
    }

    // Places for the files: the free ones, then those others give up.
    const ItemSet search = Search(reply.token);
    QList<quint32> touched;
    if (!files.empty()) {
        std::vector<Claim> claims;
        const qint64 places = Places(search, sender, qint64(files.size()), &claims);
        leftOut += qint64(files.size()) - places;
        files.resize(size_t(places));
        GiveUp(search, claims, touched);
    }

    ItemPtr results;
    if (!files.empty()) {
        Data::Batch batch(&d);
        userItem = d.GetType(ServerNames::User)->GetItem(user);
        results = d.GetType(PeerNames::SearchResults)->NewItem();
        results += userItem;
        results += d.GetType(PeerNames::SearchResultsUserAvailable)->GetItem(reply.freeSlot ? "yes" : "no");
        results += d.GetType(PeerNames::SearchResultsUserSpeed)->GetItem(Value(reply.speed));
        results += d.GetType(PeerNames::SearchResultsUploadsInQueue)->GetItem(Value(reply.queued));
        Pending whole{request, sender, results, std::move(files), 0};
        const ItemList part = StorePart(whole);
        // Counted before the reply joins its request, so that the count is
        // that of the replies already there.
        Tally& tally = Counted(request);
        ++tally.replies;
        tally.Add(KeyOf(sender), qint64(part.size()));
        m_addresses.insert(results.GetItemPointer(), sender.address);
        request += results;
        if (discardRepeats) {
            ItemPtr received = wish[PeerNames::ReceivedResultsFromUsers];
            if (!received)
                received = wish.NewItem(PeerNames::ReceivedResultsFromUsers);
            received += userItem;
        }
        // Results come by the hundred a second: no text is made unless
        // logged.
        if (IsLogging())
            Log("Search", 2,
                QString("%1 result(s) from %2 for ticket %3").arg(whole.files.size()).arg(user).arg(reply.token));
        if (whole.next < whole.files.size()) {
            m_pending.push_back(std::move(whole));
            ContinueLater();
        }
    }
    if (leftOut > 0) {
        CountLeftOut(request, leftOut, touched);
        if (IsLogging())
            Log("Search", 2,
                QString("%1 result(s) from %2 at %3 for ticket %4 left out: a search keeps at most %5, and once it "
                        "is full %6 per user and %7 per address")
                    .arg(leftOut)
                    .arg(user, sender.address)
                    .arg(reply.token)
                    .arg(m_limit)
                    .arg(m_userLimit)
                    .arg(m_addressLimit));
    }
    if (results)
        emit Results(results);
    // After the reply's own results, so that a page made for them hears
    // this; looked up again, as whoever heard of them may have closed it.
    for (const quint32 ticket : touched)
        if (ItemPtr again = d.GetType(ServerNames::SearchRequest)->HasItem(Value(ticket)))
            emit LeftOutCounted(again);
}

ItemList SearchResultIntake::StorePart(Pending& reply)
{
    const size_t end = std::min(reply.files.size(), reply.next + PartSize);
    ItemList part;
    part.reserve(end - reply.next);
    Data::Batch batch(&d);
    for (size_t i = reply.next; i < end; ++i)
        part.push_back(StoreFile(reply.results, reply.files[i]));
    reply.next = end;
    return part;
}

// ---------------------------------------------------------------------------
// The rest of large replies, a part a turn, oldest reply first

void SearchResultIntake::ContinueLater()
{
    if (m_continuationQueued)
        return;
    m_continuationQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_continuationQueued = false;
            Continue();
        },
        Qt::QueuedConnection);
}

void SearchResultIntake::Continue()
{
    // Replies gone meanwhile, or given up to their last waiting file, are
    // passed over.
    while (!m_pending.empty() &&
           (!m_pending.front().results || m_pending.front().next >= m_pending.front().files.size()))
        m_pending.pop_front();
    if (m_pending.empty())
        return;
    // One part a turn at most, and none when the turn's budget is spent.
    if (TurnBudget::Exhausted()) {
        ContinueLater();
        return;
    }
    // Only this function takes replies off the front, and a reference into
    // a deque stays good while others are added behind it.
    Pending& head = m_pending.front();
    Counted(head.request);
    const ItemList part = StorePart(head);
    TurnBudget::Spend();
    // Null when the reply went while its part was made.
    const ItemPtr results = head.results;
    if (results)
        m_tallies[head.request.GetItemPointer()].Add(KeyOf(head.sender), qint64(part.size()));
    if (!results || head.next >= head.files.size())
        m_pending.pop_front();
    if (!m_pending.empty())
        ContinueLater();
    if (results)
        emit MoreResults(results, part);
}

void SearchResultIntake::OnRequestRemoved(ItemPtr request)
{
    m_tallies.remove(request.GetItemPointer());
    for (Pending& reply : m_pending)
        if (reply.request == request)
            reply.results = ItemPtr();
}

void SearchResultIntake::OnResultsRemoved(ItemPtr results)
{
    m_addresses.remove(results.GetItemPointer());
    for (Pending& reply : m_pending)
        if (reply.results == results) {
            reply.results = ItemPtr();
            // What was kept for it is free for others.
            std::vector<FileInfo>().swap(reply.files);
            reply.next = 0;
        }
}
