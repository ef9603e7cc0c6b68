#include "SpeedLimit.h"

#include <algorithm>
#include <mutex>

qint32 SpeedLimit::Total() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_total;
}

qint32 SpeedLimit::PerTransfer() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_perTransfer;
}

qint64 SpeedLimit::Pool() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pool;
}

void SpeedLimit::Set(qint32 total, qint32 perTransfer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_total = total;
    m_perTransfer = perTransfer;
    m_pool = 0;
}

void SpeedLimit::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_total = 0;
    m_perTransfer = 0;
}

qint64 SpeedLimit::PayFromPool(qint64 owed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (owed >= m_pool) {
        owed -= m_pool;
        m_pool = 0;
    } else {
        m_pool -= owed;
        owed = 0;
    }
    return owed;
}

void SpeedLimit::AddToPool(qint64 bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_total <= 0 || bytes <= 0)
        return;
    const qint64 cap = qint64(m_total) * 1024 * PoolMs / 1000;
    m_pool = std::min(cap, m_pool + bytes);
}
