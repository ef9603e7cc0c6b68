#include "SpeedLimit.h"

#include <algorithm>
#include <mutex>

qint32 SpeedLimit::Total() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_total;
}

qint32 SpeedLimit::ShareOf(int moving) const
{
    if (m_total <= 0)
        return 0;
    return std::max(1, m_total / std::max(1, moving));
}

SpeedLimit::Share SpeedLimit::Read(bool waiting) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return Share{ShareOf(m_pacers - m_waiting + (waiting ? 1 : 0)), m_generation};
}

qint64 SpeedLimit::Pool() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pool;
}

quint64 SpeedLimit::Generation() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_generation;
}

void SpeedLimit::Set(qint32 total)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_total = total;
    m_pool = 0;
    ++m_generation;
}

void SpeedLimit::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_total = 0;
    ++m_generation;
}

void SpeedLimit::Join()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_pacers;
}

void SpeedLimit::Leave(bool waiting)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_pacers;
    if (waiting)
        --m_waiting;
}

void SpeedLimit::SetWaiting(bool waiting)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waiting += waiting ? 1 : -1;
}

qint64 SpeedLimit::PayFromPool(qint64 owed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const qint64 part = std::min(owed, m_pool / std::max(1, m_pacers - m_waiting));
    m_pool -= part;
    return owed - part;
}

void SpeedLimit::AddToPool(qint64 bytes, quint64 generation)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_total <= 0 || bytes <= 0 || generation != m_generation)
        return;
    const qint64 cap = qint64(m_total) * 1024 * PoolMs / 1000;
    m_pool = std::min(cap, m_pool + bytes);
}
