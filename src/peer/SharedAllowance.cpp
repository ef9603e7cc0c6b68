#include "SharedAllowance.h"

#include <QSet>
#include <algorithm>
#include <utility>

namespace {
void AddTo(QHash<QString, qint64>& book, const QString& key, qint64 delta)
{
    qint64& count = book[key];
    count += delta;
    if (count == 0)
        book.remove(key);
}
} // namespace

SharedAllowance::Share::Share(std::shared_ptr<SharedAllowance> allowance) : Share(std::move(allowance), Owner()) {}

SharedAllowance::Share::Share(std::shared_ptr<SharedAllowance> allowance, const Owner& owner)
    : m_allowance(std::move(allowance)), m_id(m_allowance ? ++m_allowance->m_lastId : 0)
{
    if (m_allowance)
        m_allowance->SetOwner(m_id, owner);
}

SharedAllowance::Share::Share(Share&& other) noexcept
    : m_allowance(std::move(other.m_allowance)), m_id(std::exchange(other.m_id, 0))
{
}

SharedAllowance::Share& SharedAllowance::Share::operator=(Share&& other) noexcept
{
    if (this != &other) {
        Release();
        if (m_allowance)
            m_allowance->Forget(m_id);
        m_allowance = std::move(other.m_allowance);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

SharedAllowance::Share::~Share()
{
    Release();
    if (m_allowance)
        m_allowance->Forget(m_id);
}

qint64 SharedAllowance::Share::Held() const
{
    return m_allowance ? m_allowance->Held(m_id) : 0;
}

void SharedAllowance::Share::SetOwner(const Owner& owner)
{
    if (m_allowance)
        m_allowance->SetOwner(m_id, owner);
}

void SharedAllowance::Share::Add(qint64 size)
{
    if (m_allowance && size > 0)
        m_allowance->Change(m_id, size);
}

void SharedAllowance::Share::Remove(qint64 size)
{
    if (m_allowance && size > 0)
        m_allowance->Change(m_id, -std::min(size, Held()));
}

bool SharedAllowance::Share::Claim(qint64 size, std::function<void()> granted, bool yields)
{
    if (!m_allowance)
        return true;
    SharedAllowance& allowance = *m_allowance;
    const qint64 held = Held();
    if (size <= held) {
        allowance.StopWaiting(m_id);
        Remove(held - size);
        return true;
    }
    for (Waiter& waiter : allowance.m_waiting)
        if (waiter.id == m_id) {
            waiter.size = size;
            waiter.granted = std::move(granted);
            waiter.yields = yields;
            return false;
        }
    // Holding part while waiting for the rest could leave every claimant
    // holding part and none served.
    Remove(held);
    if (allowance.Admits(allowance.m_owners.at(m_id), size)) {
        Add(size);
        return true;
    }
    allowance.m_waiting.push_back(Waiter{m_id, size, std::move(granted), yields});
    if (allowance.m_onWaiting)
        allowance.m_onWaiting();
    return false;
}

void SharedAllowance::Share::Release()
{
    if (!m_allowance)
        return;
    m_allowance->StopWaiting(m_id);
    Remove(Held());
}

qint64 SharedAllowance::Held(quint64 id) const
{
    auto held = m_held.find(id);
    return held == m_held.end() ? 0 : held->second;
}

void SharedAllowance::Change(quint64 id, qint64 delta)
{
    if (delta == 0)
        return;
    Book(id, delta);
    if (delta < 0)
        Serve();
}

void SharedAllowance::Book(quint64 id, qint64 delta)
{
    qint64& held = m_held[id];
    held += delta;
    m_used += delta;
    if (held == 0)
        m_held.erase(id);
    const Owner& owner = m_owners[id];
    AddTo(m_byName, owner.name, delta);
    if (!owner.address.isEmpty())
        AddTo(m_byAddress, owner.address, delta);
}

void SharedAllowance::SetOwner(quint64 id, const Owner& owner)
{
    // Moved without serving in between: the bytes stay held throughout.
    const qint64 held = Held(id);
    if (held > 0)
        Book(id, -held);
    m_owners[id] = owner;
    if (held > 0) {
        Book(id, held);
        // The turns follow the owners' standing, which just changed.
        Serve();
    }
}

void SharedAllowance::Forget(quint64 id)
{
    m_owners.erase(id);
}

void SharedAllowance::StopWaiting(quint64 id)
{
    auto waiter = std::find_if(m_waiting.begin(), m_waiting.end(), [id](const Waiter& w) { return w.id == id; });
    if (waiter == m_waiting.end())
        return;
    m_waiting.erase(waiter);
    // The next in turn may fit where the one that left did not.
    Serve();
}

qint64 SharedAllowance::Standing(const Owner& owner) const
{
    return std::max(m_byName.value(owner.name), owner.address.isEmpty() ? 0 : m_byAddress.value(owner.address));
}

bool SharedAllowance::Admits(const Owner& owner, qint64 size) const
{
    return m_used + size <= m_total && (GoesAhead(owner, size) || FirstInTurn(owner) || FirstYields());
}

int SharedAllowance::FirstIndex() const
{
    int first = -1;
    qint64 least = 0;
    for (int i = 0; i < int(m_waiting.size()); ++i) {
        const qint64 standing = Standing(m_owners.at(m_waiting[i].id));
        if (first < 0 || standing < least) {
            first = i;
            least = standing;
        }
    }
    return first;
}

int SharedAllowance::NextToServe() const
{
    const int first = FirstIndex();
    if (first < 0 || m_used + m_waiting[first].size <= m_total)
        return first;
    const bool yields = m_waiting[first].yields;
    int next = -1;
    qint64 least = 0;
    for (int i = 0; i < int(m_waiting.size()); ++i) {
        const Waiter& waiter = m_waiting[i];
        const Owner& owner = m_owners.at(waiter.id);
        if ((!yields && !GoesAhead(owner, waiter.size)) || m_used + waiter.size > m_total)
            continue;
        const qint64 standing = Standing(owner);
        if (next < 0 || standing < least) {
            next = i;
            least = standing;
        }
    }
    return next;
}

const SharedAllowance::Waiter* SharedAllowance::First() const
{
    const int first = FirstIndex();
    return first < 0 ? nullptr : &m_waiting[first];
}

bool SharedAllowance::FirstInTurn(const Owner& owner) const
{
    const qint64 standing = Standing(owner);
    for (const Waiter& waiter : m_waiting)
        if (Standing(m_owners.at(waiter.id)) <= standing)
            return false;
    return true;
}

bool SharedAllowance::FirstYields() const
{
    const Waiter* first = First();
    return first && first->yields && m_used + first->size > m_total;
}

qint64 SharedAllowance::Shortfall() const
{
    const Waiter* first = First();
    return first ? std::max<qint64>(0, m_used + first->size - m_total) : 0;
}

qint64 SharedAllowance::FairPart() const
{
    QSet<QString> names;
    for (auto it = m_byName.begin(); it != m_byName.end(); ++it)
        names.insert(it.key());
    for (const Waiter& waiter : m_waiting)
        names.insert(m_owners.at(waiter.id).name);
    return m_total / std::max(1, names.size());
}

quint64 SharedAllowance::HolderToTakeBackFrom(const std::function<bool(quint64 holder)>& stalled, bool overPart) const
{
    const Waiter* first = First();
    if (!first || m_used + first->size <= m_total)
        return 0;
    const Owner& waiting = m_owners.at(first->id);

    struct Holder
    {
        const Owner* owner;
        quint64 newest;
    };
    std::unordered_map<quint64, Holder> holders;
    QSet<QString> addresses;
    for (const auto& entry : m_held) {
        const Owner& owner = m_owners.at(entry.first);
        if (!owner.address.isEmpty())
            addresses.insert(owner.address);
        if (owner.holder == 0)
            continue;
        Holder& holder = holders.emplace(owner.holder, Holder{&owner, 0}).first->second;
        holder.newest = std::max(holder.newest, entry.first);
    }
    for (const Waiter& waiter : m_waiting)
        if (!m_owners.at(waiter.id).address.isEmpty())
            addresses.insert(m_owners.at(waiter.id).address);
    QHash<QString, int> holdersByName, holdersByAddress;
    for (const auto& entry : holders) {
        ++holdersByName[entry.second.owner->name];
        if (!entry.second.owner->address.isEmpty())
            ++holdersByAddress[entry.second.owner->address];
    }

    // A name or address holding more than its part through several holders
    // gives back to one that holds less; a holder that moves nothing gives
    // back to anyone.
    const qint64 fairByName = FairPart();
    const qint64 fairByAddress = m_total / std::max(1, addresses.size());
    const bool deserving = overPart && m_byName.value(waiting.name) < fairByName &&
                           (waiting.address.isEmpty() || m_byAddress.value(waiting.address) < fairByAddress);
    quint64 chosen = 0;
    qint64 most = -1;
    quint64 newest = 0;
    for (const auto& entry : holders) {
        const Owner& owner = *entry.second.owner;
        const bool overByName = owner.name != waiting.name && holdersByName.value(owner.name) > 1 &&
                                m_byName.value(owner.name) > fairByName;
        const bool overByAddress = !owner.address.isEmpty() && owner.address != waiting.address &&
                                   holdersByAddress.value(owner.address) > 1 &&
                                   m_byAddress.value(owner.address) > fairByAddress;
        if (!(deserving && (overByName || overByAddress)) && !stalled(entry.first))
            continue;
        const qint64 standing = Standing(owner);
        if (standing > most || (standing == most && entry.second.newest > newest)) {
            chosen = entry.first;
            most = standing;
            newest = entry.second.newest;
        }
    }
    return chosen;
}

void SharedAllowance::Serve()
{
    std::vector<std::function<void()>> granted;
    for (int next = NextToServe(); next >= 0; next = NextToServe()) {
        Waiter waiter = std::move(m_waiting[next]);
        m_waiting.erase(m_waiting.begin() + next);
        Book(waiter.id, waiter.size);
        granted.push_back(std::move(waiter.granted));
    }
    // Told once the books are settled: a callback may claim or release.
    for (auto& call : granted)
        if (call)
            call();
}
