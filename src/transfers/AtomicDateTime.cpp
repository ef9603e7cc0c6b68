#include "AtomicDateTime.h"

#include <limits>

AtomicDateTime::AtomicDateTime() : m_msecs(Invalid) {}

AtomicDateTime::AtomicDateTime(const QDateTime& time) : m_msecs(Invalid)
{
    Set(time);
}

void AtomicDateTime::Set(const QDateTime& time)
{
    m_msecs.store(time.isValid() ? time.toMSecsSinceEpoch() : Invalid, std::memory_order_relaxed);
}

void AtomicDateTime::SetCurrent()
{
    m_msecs.store(QDateTime::currentMSecsSinceEpoch(), std::memory_order_relaxed);
}

QDateTime AtomicDateTime::Get() const
{
    const qint64 msecs = m_msecs.load(std::memory_order_relaxed);
    return msecs == Invalid ? QDateTime() : QDateTime::fromMSecsSinceEpoch(msecs);
}

bool AtomicDateTime::IsValid() const
{
    return m_msecs.load(std::memory_order_relaxed) != Invalid;
}
