#include "DownloadRequests.h"

#include <algorithm>

#include "Data.h"
#include "EventHandler.h"
#include "ServerNames.h"
#include "TransferNames.h"
#include "TurnSlice.h"

namespace {
// Requests that go out before a slice looks at the turn's budget, so that a
// few go as they always did, in the turn that asks for them.
const int SentAtOnce = 64;
} // namespace

DownloadRequests::DownloadRequests(Ask ask, Decide decide)
    : m_ask(std::move(ask)), m_decide(std::move(decide)),
      m_job(SentAtOnce, [this](TurnSlice& slice) { return RunSlice(slice); })
{
}

void DownloadRequests::Watch(const char* entryType)
{
    d.GetType(entryType)->AddItemRemovedHandler(
        new FunctionHandler<ItemPtr>(this, [this](ItemPtr entry) { OnEntryRemoved(entry); }));
}

void DownloadRequests::OnEntryRemoved(ItemPtr entry)
{
    const Item* item = entry.GetItemPointer();
    m_waiting[QueueRequest].remove(item);
    m_waiting[PlaceInLineRequest].remove(item);
    for (Batch& batch : m_batches)
        if (!batch.keyedAll)
            batch.gone.insert(item);
}

void DownloadRequests::Add(Kind kind, const ItemSet& entries)
{
    Batch batch;
    batch.kind = kind;
    batch.given = entries.List();
    Append(std::move(batch));
}

void DownloadRequests::StartRound(const ItemSet& queued, qint64 nowMs)
{
    Batch batch;
    batch.round = true;
    batch.nowMs = nowMs;
    batch.given = queued.List();
    Append(std::move(batch));
}

bool DownloadRequests::RoundUnderWay() const
{
    return std::any_of(m_batches.begin(), m_batches.end(), [](const Batch& batch) { return batch.round; });
}

void DownloadRequests::Append(Batch batch)
{
    m_batches.push_back(std::move(batch));
    // Batches added while one runs wait for the next slice.
    if (!m_job.IsRunning())
        m_job.Start();
}

int DownloadRequests::Waiting() const
{
    size_t waiting = 0;
    for (const Batch& batch : m_batches)
        waiting += batch.keyedAll ? batch.keyed.size() - batch.at : batch.given.size() - batch.at;
    return int(waiting);
}

bool DownloadRequests::KeyGiven(Batch& batch, TurnSlice& slice)
{
    if (batch.keyedAll)
        return true;
    ItemPtr queued;
    if (!batch.round && batch.kind == PlaceInLineRequest)
        queued = d.GetType(TransferNames::DownloadEntryStatus)->HasItem(Value(TransferNames::Queued));
    while (batch.at < batch.given.size()) {
        if (!slice.Take())
            return false;
        ItemPtr entry = batch.given[batch.at++];
        if (batch.gone.contains(entry.GetItemPointer()))
            continue;
        if (batch.round) {
            // A user's name is taken once, however many downloads it has.
            if (ItemPtr user = entry[ServerNames::User]) {
                const auto at = batch.users.lower_bound(user.Sequence());
                if (at == batch.users.end() || at->first != user.Sequence())
                    batch.users.emplace_hint(at, user.Sequence(), user.AsString());
            }
            continue;
        }
        if (batch.kind == PlaceInLineRequest && !entry.IsConnected(queued))
            continue;
        ItemPtr order = entry[TransferNames::DownloadOrder];
        if (!order)
            continue;
        QHash<const Item*, quint64>& waiting = m_waiting[batch.kind];
        const auto found = waiting.constFind(entry.GetItemPointer());
        if (found != waiting.constEnd() && found.value() == entry.Sequence())
            continue;
        waiting.insert(entry.GetItemPointer(), entry.Sequence());
        batch.keyed.push_back(Keyed{order.AsInt64(), entry.Sequence(), entry.GetItemPointer()});
    }
    batch.keyedAll = true;
    batch.at = 0;
    batch.given.clear();
    batch.gone.clear();
    // Equal order numbers keep the store's order.
    std::sort(batch.keyed.begin(), batch.keyed.end(), [](const Keyed& a, const Keyed& b) {
        return a.order < b.order || (a.order == b.order && a.sequence < b.sequence);
    });
    slice.Step(int(batch.keyed.size() / 64));
    return true;
}

bool DownloadRequests::RunSlice(TurnSlice& slice)
{
    while (!m_batches.empty()) {
        Batch& batch = m_batches.front();
        if (!KeyGiven(batch, slice))
            return false;
        if (batch.round) {
            std::vector<QString> users;
            users.reserve(batch.users.size());
            for (const auto& user : batch.users)
                users.push_back(user.second);
            const qint64 nowMs = batch.nowMs;
            m_batches.pop_front();
            // The round's batches go behind it, ahead of any added later.
            std::deque<Batch> later;
            later.swap(m_batches);
            m_decide(users, nowMs);
            for (Batch& after : later)
                m_batches.push_back(std::move(after));
            continue;
        }
        QHash<const Item*, quint64>& waiting = m_waiting[batch.kind];
        while (batch.at < batch.keyed.size()) {
            if (!slice.Take())
                return false;
            const Keyed next = batch.keyed[batch.at++];
            const auto found = waiting.find(next.entry);
            if (found == waiting.end() || found.value() != next.sequence)
                continue;
            waiting.erase(found);
            m_ask(batch.kind, ItemPtr(next.entry));
        }
        m_batches.pop_front();
    }
    return true;
}
