#include "UploadOrdering.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "Data.h"
#include "ServerNames.h"
#include "TransferNames.h"

namespace {
const char* const PlaceName = "effective_upload_order";
} // namespace

UploadOrdering::UploadOrdering()
    : m_entryType(d.GetType(TransferNames::UploadEntry)), m_placeType(d.GetType(PlaceName)),
      m_statusType(d.GetType(TransferNames::UploadEntryStatus)), m_userType(d.GetType(ServerNames::User)),
      m_onlineType(d.GetType(ServerNames::IsOnline))
{
    // A status or a place may let an entry into the line or take it out,
    // and so may its user's coming and going; the next pass looks.
    const auto entryChanged = [this](ConnectionInfo& connection) {
        m_changedEntries.insert(connection.item1.GetItemPointer());
    };
    d.AddConnectionEventHandler(m_entryType, m_statusType, new FunctionHandler<ConnectionInfo&>(this, entryChanged));
    d.AddConnectionEventHandler(m_entryType, m_placeType, new FunctionHandler<ConnectionInfo&>(this, entryChanged));
    const auto userChanged = [this](ConnectionInfo& connection) {
        if (connection.item2.GetType() == m_userType)
            m_changedUsers.insert(connection.item2.GetItemPointer());
    };
    m_onlineType->AddConnectedHandler(new FunctionHandler<ConnectionInfo&>(this, userChanged));
    m_onlineType->AddDisconnectedHandler(new FunctionHandler<ConnectionInfo&>(this, userChanged));

    // A removed entry's position stays taken until the next pass, so that
    // no place behind it moves before then.
    m_entryType->AddItemRemovedHandler(new FunctionHandler<ItemPtr>(this, [this](ItemPtr entry) {
        m_changedEntries.erase(entry.GetItemPointer());
        m_line.Vacate(entry.GetItemPointer());
        if (m_last == entry)
            m_last = ItemPtr();
    }));
    m_userType->AddItemRemovedHandler(new FunctionHandler<ItemPtr>(this, [this](ItemPtr user) {
        m_changedUsers.erase(user.GetItemPointer());
        for (Item* entry : m_line.EntriesOf(user.GetItemPointer())) {
            Store(ItemPtr(entry), m_line.PositionOf(entry));
            m_line.Vacate(entry);
        }
    }));
}

UploadOrdering::~UploadOrdering() = default;

int UploadOrdering::GroupPriority(ItemPtr user)
{
    const ItemPtr listed = user[ServerNames::InUserList];
    if (!listed)
        return 0;
    int priority = 0;
    for (const ItemPtr& group : listed.GetItems(ServerNames::UserListGroup))
        priority = std::max(priority, group[ServerNames::GroupDownloadPriority].AsInt());
    return priority;
}

bool UploadOrdering::Precedes(ItemPtr a, ItemPtr b)
{
    const ItemPtr userA = a[ServerNames::User];
    const ItemPtr userB = b[ServerNames::User];
    if (userA != userB) {
        const int priorityA = GroupPriority(userA);
        const int priorityB = GroupPriority(userB);
        if (priorityA != priorityB)
            return priorityA > priorityB;
        const bool privilegedA = userA.IsConnected(ServerNames::IsPrivileged);
        const bool privilegedB = userB.IsConnected(ServerNames::IsPrivileged);
        if (privilegedA != privilegedB)
            return privilegedA;
    }
    return a["upload_order"].AsInt64() < b["upload_order"].AsInt64();
}

bool UploadOrdering::HasPlace(ItemPtr entry) const
{
    return m_line.Contains(entry.GetItemPointer()) || entry[m_placeType];
}

qint64 UploadOrdering::PlaceOf(ItemPtr entry) const
{
    const int position = m_line.PositionOf(entry.GetItemPointer());
    return position >= 0 ? position : entry[m_placeType].AsInt64();
}

void UploadOrdering::Store(ItemPtr entry, qint64 place)
{
    const ItemPtr current = entry[PlaceName];
    if (current && current.AsInt64() == place)
        return;
    entry.Connect(d.GetType(PlaceName)->GetItem(Value(place)));
}

ItemList UploadOrdering::Ordered() const
{
    std::vector<std::pair<qint64, ItemPtr>> placed;
    placed.reserve(m_entryType->Count());
    for (const ItemPtr& entry : m_entryType->GetItems())
        if (HasPlace(entry))
            placed.emplace_back(PlaceOf(entry), entry);
    // Stable, and the input in store order: equal places keep that order.
    std::stable_sort(
        placed.begin(), placed.end(),
        [](const std::pair<qint64, ItemPtr>& a, const std::pair<qint64, ItemPtr>& b) { return a.first < b.first; });
    ItemList list;
    list.reserve(placed.size());
    for (const auto& p : placed)
        list.push_back(p.second);
    return list;
}

void UploadOrdering::Place(ItemPtr entry)
{
    ItemList list;
    bool built = false;
    if (!m_last) {
        list = Ordered();
        built = true;
        if (list.empty()) {
            Store(entry, 1);
            m_last = entry;
            return;
        }
        m_last = list.back();
    }

    // The common case: the newcomer goes to the end, found without a walk.
    if (Precedes(m_last, entry)) {
        Store(entry, PlaceOf(m_last) + 1);
        m_last = entry;
        return;
    }

    if (!built)
        list = Ordered();
    m_last = list.back();
    auto at = std::find_if(list.begin(), list.end(), [&](const ItemPtr& x) { return Precedes(entry, x); });
    list.insert(at, entry);
    Renumber(list, 1);
}

void UploadOrdering::Renumber(const ItemList& entries, qint64 first)
{
    // Every place is in the store from here on; the line fills again at the
    // next pass, through the events of these writes.
    m_line.Clear();
    qint64 place = first;
    for (const ItemPtr& entry : entries)
        Store(entry, place++);
}

bool UploadOrdering::IsStartable(ItemPtr entry) const
{
    const ItemPtr user = entry[m_userType];
    return user && user[m_onlineType] && entry[m_statusType].AsStdString() == TransferNames::Queued && HasPlace(entry);
}

bool UploadOrdering::RenumberStartable()
{
    if (m_walking)
        return false;
    // Only what changed since the last pass can join or leave the line.
    std::unordered_set<Item*> seen, leaving;
    std::vector<Joining> joining;
    const auto look = [&](Item* item) {
        if (!seen.insert(item).second)
            return;
        const ItemPtr entry(item);
        const bool member = m_line.Contains(item);
        const bool startable = IsStartable(entry);
        if (member && !startable)
            leaving.insert(item);
        else if (!member && startable)
            joining.push_back(
                {entry[m_placeType].AsInt64(), entry.Sequence(), item, entry[m_userType].GetItemPointer()});
    };
    for (Item* entry : m_changedEntries)
        look(entry);
    for (Item* item : m_changedUsers) {
        const ItemPtr user(item);
        if (user[m_onlineType]) {
            for (const ItemPtr& entry : user.GetItems(TransferNames::UploadEntry))
                look(entry.GetItemPointer());
        } else {
            for (Item* entry : m_line.EntriesOf(item))
                look(entry);
        }
    }
    if (m_line.Count() - int(leaving.size()) + int(joining.size()) <= 0)
        return false;

    // A joining entry goes after every entry that stays with a smaller
    // place, and after one with its own place that is older; the places of
    // those staying are their positions, which count those leaving.
    std::vector<int> gone = m_line.VacatedPositions();
    for (Item* entry : leaving)
        gone.push_back(m_line.PositionOf(entry));
    std::sort(gone.begin(), gone.end());
    std::sort(joining.begin(), joining.end(), [](const Joining& a, const Joining& b) {
        return a.place != b.place ? a.place < b.place : a.sequence < b.sequence;
    });
    const int size = m_line.Size();
    std::vector<int> at;
    at.reserve(joining.size());
    for (const Joining& j : joining) {
        int k = int(std::clamp<qint64>(j.place, 0, size));
        if (k < size) {
            Item* there = m_line.At(k);
            if (there && !leaving.count(there) && ItemPtr(there).Sequence() < j.sequence)
                ++k;
        }
        const int staying = k - int(std::lower_bound(gone.begin(), gone.end(), k) - gone.begin());
        at.push_back(staying + int(at.size()));
    }

    // Those leaving keep the places they had, in the store.
    for (Item* entry : leaving)
        Store(ItemPtr(entry), m_line.PositionOf(entry));
    for (Item* entry : leaving)
        m_line.Remove(entry);
    m_line.RemoveVacated();
    for (size_t i = 0; i < joining.size(); ++i) {
        m_line.Insert(at[i], joining[i].entry, joining[i].user);
        ItemPtr(joining[i].entry).Disconnect(PlaceName);
    }
    m_changedEntries.clear();
    m_changedUsers.clear();
    return true;
}

void UploadOrdering::ForEachUsersFirst(const std::function<bool(ItemPtr entry)>& visit)
{
    m_walking = true;
    struct Done
    {
        bool& walking;
        ~Done() { walking = false; }
    } done{m_walking};
    m_line.ForEachUsersFirst([&](Item* entry) { return visit(ItemPtr(entry)); });
}
