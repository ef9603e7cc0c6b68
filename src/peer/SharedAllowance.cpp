#include "SharedAllowance.h"

#include <algorithm>
#include <utility>
#include <vector>

SharedAllowance::Share::Share(std::shared_ptr<SharedAllowance> allowance)
    : m_allowance(std::move(allowance)), m_id(m_allowance ? ++m_allowance->m_lastId : 0)
{
}

SharedAllowance::Share::Share(Share&& other) noexcept
    : m_allowance(std::move(other.m_allowance)), m_id(std::exchange(other.m_id, 0))
{
}

SharedAllowance::Share& SharedAllowance::Share::operator=(Share&& other) noexcept
{
    if (this != &other) {
        Release();
        m_allowance = std::move(other.m_allowance);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

SharedAllowance::Share::~Share()
{
    Release();
}

qint64 SharedAllowance::Share::Held() const
{
    return m_allowance ? m_allowance->Held(m_id) : 0;
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

bool SharedAllowance::Share::Claim(qint64 size, std::function<void()> granted)
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
            return false;
        }
    if (allowance.Fits(size - held)) {
        Add(size - held);
        return true;
    }
    // Holding part while waiting for the rest could leave every claimant
    // holding part and none served.
    Remove(held);
    allowance.m_waiting.push_back(Waiter{m_id, size, std::move(granted)});
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
    qint64& held = m_held[id];
    held += delta;
    m_used += delta;
    if (held == 0)
        m_held.erase(id);
    if (delta < 0)
        Serve();
}

void SharedAllowance::StopWaiting(quint64 id)
{
    auto waiter = std::find_if(m_waiting.begin(), m_waiting.end(), [id](const Waiter& w) { return w.id == id; });
    if (waiter == m_waiting.end())
        return;
    const bool first = waiter == m_waiting.begin();
    m_waiting.erase(waiter);
    // The next in turn may fit where the one that left did not.
    if (first)
        Serve();
}

void SharedAllowance::Serve()
{
    std::vector<std::function<void()>> granted;
    while (!m_waiting.empty() && m_used + m_waiting.front().size <= m_total) {
        Waiter waiter = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_held[waiter.id] += waiter.size;
        m_used += waiter.size;
        granted.push_back(std::move(waiter.granted));
    }
    // Told once the books are settled: a callback may claim or release.
    for (auto& call : granted)
        if (call)
            call();
}
