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
// The bound

void SearchResultIntake::Tally::Add(const Sender& sender, qint64 results)
{
    stored += results;
    storedByUser[sender.user] += results;
    storedByAddress[sender.address] += results;
}

SearchResultIntake::Tally& SearchResultIntake::Counted(ItemPtr request)
{
    Tally& tally = m_tallies[request.GetItemPointer()];
    const int replies = request.CountItems(PeerNames::SearchResults);
    if (replies != tally.replies) {
        tally.stored = 0;
        tally.storedByUser.clear();
        tally.storedByAddress.clear();
        for (const ItemPtr& results : request.GetItems(PeerNames::SearchResults))
            tally.Add({results[ServerNames::User].AsString(), m_addresses.value(results.GetItemPointer())},
                      results.CountItems(PeerNames::SearchResult));
        tally.replies = replies;
    }
    return tally;
}

void SearchResultIntake::AddKept(ItemPtr request, const Sender& sender, Kept& kept)
{
    const Tally& tally = Counted(request);
    kept.all += tally.stored;
    kept.user += tally.storedByUser.value(sender.user);
    kept.address += tally.storedByAddress.value(sender.address);
    for (const Pending& reply : m_pending)
        if (reply.request == request && reply.results) {
            const qint64 waiting = qint64(reply.files.size() - reply.next);
            kept.all += waiting;
            if (reply.sender.user == sender.user)
                kept.user += waiting;
            if (reply.sender.address == sender.address)
                kept.address += waiting;
        }
}

quint32 SearchResultIntake::Room(quint32 ticket, const Sender& sender)
{
    const ItemPtr request = d.GetType(ServerNames::SearchRequest)->HasItem(Value(ticket));
    if (!request || request.IsConnected(PeerNames::SearchStopped))
        return 0;
    // A wish-list search's page gathers every ticket of it.
    const ItemPtr wish = request[ServerNames::WishListItem];
    const ItemSet requests = wish ? wish.GetItems(ServerNames::SearchRequest) : ItemSet(request);
    Kept kept;
    for (const ItemPtr& each : requests)
        AddKept(each, sender, kept);
    const qint64 room = std::min({m_limit - kept.all, m_userLimit - kept.user, m_addressLimit - kept.address});
    return quint32(std::max<qint64>(0, room));
}

qint64 SearchResultIntake::LeftOut(ItemPtr request) const
{
    return m_tallies.value(request.GetItemPointer()).leftOut;
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
    const quint32 leftOut = reply.filesNotRead;
    if (files.empty() && leftOut == 0) {
        if (IsLogging())
            Log(Area, 3, QString("Search results of %1 hold no usable file").arg(user));
        return;
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
        tally.Add(sender, qint64(part.size()));
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
        m_tallies[request.GetItemPointer()].leftOut += leftOut;
        if (IsLogging())
            Log("Search", 2,
                QString("%1 result(s) from %2 at %3 for ticket %4 left out: a search keeps at most %5 from one "
                        "user, %6 from one address and %7 in all")
                    .arg(leftOut)
                    .arg(user, sender.address)
                    .arg(reply.token)
                    .arg(m_userLimit)
                    .arg(m_addressLimit)
                    .arg(m_limit));
    }
    if (results)
        emit Results(results);
    // After the reply's own results, so that a page made for them hears
    // this; looked up again, as whoever heard of them may have closed it.
    if (leftOut > 0)
        if (ItemPtr again = d.GetType(ServerNames::SearchRequest)->HasItem(Value(reply.token)))
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
    // Replies gone meanwhile are passed over.
    while (!m_pending.empty() && !m_pending.front().results)
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
        m_tallies[head.request.GetItemPointer()].Add(head.sender, qint64(part.size()));
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
