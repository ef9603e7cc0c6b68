#include "UploadOrdering.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Data.h"
#include "ServerNames.h"
#include "TransferNames.h"

namespace {
typedef std::pair<qint64, ItemPtr> Placed;

// Sorting by place alone keeps the store order among equal places because
// the input is in store order and the sort is stable.
ItemList SortByPlace(std::vector<Placed>& placed)
{
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.first < b.first; });
    ItemList list;
    list.reserve(placed.size());
    for (const Placed& p : placed)
        list.push_back(p.second);
    return list;
}
} // namespace

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

bool UploadOrdering::HasPlace(ItemPtr entry)
{
    return bool(entry["effective_upload_order"]);
}

qint64 UploadOrdering::PlaceOf(ItemPtr entry)
{
    return entry["effective_upload_order"].AsInt64();
}

void UploadOrdering::SetPlace(ItemPtr entry, qint64 place)
{
    const ItemPtr current = entry["effective_upload_order"];
    if (current && current.AsInt64() == place)
        return;
    entry.Connect(d.GetType("effective_upload_order")->GetItem(Value(place)));
}

ItemList UploadOrdering::Ordered()
{
    std::vector<Placed> placed;
    Type* entries = d.GetType(TransferNames::UploadEntry);
    Type* placeType = d.GetType("effective_upload_order");
    placed.reserve(entries->Count());
    for (const ItemPtr& entry : entries->GetItems())
        if (const ItemPtr place = entry[placeType])
            placed.emplace_back(place.AsInt64(), entry);
    return SortByPlace(placed);
}

void UploadOrdering::Place(ItemPtr entry, ItemPtr& last)
{
    ItemList list;
    bool built = false;
    if (!last) {
        list = Ordered();
        built = true;
        if (list.empty()) {
            SetPlace(entry, 1);
            last = entry;
            return;
        }
        last = list.back();
    }

    // The common case: the newcomer goes to the end, found without a walk.
    if (Precedes(last, entry)) {
        SetPlace(entry, PlaceOf(last) + 1);
        last = entry;
        return;
    }

    if (!built)
        list = Ordered();
    last = list.back();
    auto at = std::find_if(list.begin(), list.end(), [&](const ItemPtr& x) { return Precedes(entry, x); });
    list.insert(at, entry);
    qint64 place = 1;
    for (const ItemPtr& e : list)
        SetPlace(e, place++);
}

std::vector<UploadOrdering::Candidate> UploadOrdering::StartCandidates()
{
    std::vector<Candidate> candidates;
    const ItemPtr queued = d.GetType(TransferNames::UploadEntryStatus)->HasItem(TransferNames::Queued);
    if (!queued)
        return candidates;
    // Types looked up once and each user's online state once per user: the
    // line may hold thousands of entries of a few users.
    Type* userType = d.GetType(ServerNames::User);
    Type* onlineType = d.GetType(ServerNames::IsOnline);
    Type* placeType = d.GetType("effective_upload_order");
    std::unordered_map<Item*, bool> online;
    const ItemSet entries = queued.GetItems(d.GetType(TransferNames::UploadEntry));
    candidates.reserve(entries.size());
    for (const ItemPtr& entry : entries) {
        const ItemPtr user = entry[userType];
        auto known = online.find(user.GetItemPointer());
        if (known == online.end())
            known = online.emplace(user.GetItemPointer(), bool(user[onlineType])).first;
        if (!known->second)
            continue;
        if (const ItemPtr place = entry[placeType])
            candidates.push_back({entry, user, place.AsInt64()});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.place < b.place; });
    return candidates;
}
