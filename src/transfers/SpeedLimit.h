#pragma once

#include <QtGlobal>
#include <mutex>

// The speed-limit state that every transfer thread of one direction shares
// with the event-loop thread. Each field is read and written under the one
// mutex, which is held only for those few accesses: nobody sleeps, waits or
// touches the item store while holding it.
class SpeedLimit
{
public:
    SpeedLimit() = default;
    SpeedLimit(const SpeedLimit&) = delete;
    SpeedLimit& operator=(const SpeedLimit&) = delete;

    // The cap of the direction in KiB/s; 0 means no limit.
    qint32 Total() const;
    // One running transfer's share in KiB/s; 0 means no limit.
    qint32 PerTransfer() const;
    // Bytes some thread was allowed to move and did not.
    qint64 Pool() const;
    // The most the pool holds: a second of the direction's limit. What a
    // slow transfer leaves is for the others now, not a burst for later.
    static constexpr qint64 PoolMs = 1000;

    // Takes a new cap and share and empties the pool, so that allowance
    // saved under the old division does not carry over.
    void Set(qint32 total, qint32 perTransfer);
    // No limit; the pool is left as it is.
    void Clear();

    // Pays owed bytes out of the pool and returns what is still owed.
    qint64 PayFromPool(qint64 owed);
    // Adds up to the pool's cap; without a limit in force, nothing.
    void AddToPool(qint64 bytes);

private:
    // A standard mutex: Qt 5's waits inside the library, out of sight of
    // ThreadSanitizer (scripts/tsan), which then takes its locking for a race.
    mutable std::mutex m_mutex;
    qint64 m_pool = 0;
    qint32 m_total = 0;
    qint32 m_perTransfer = 0;
};
