#pragma once

#include <QtGlobal>
#include <mutex>

// The speed-limit state that every transfer thread of one direction shares
// with the event-loop thread. Each field is read and written under the one
// mutex, which is held only for those few accesses: nobody sleeps, waits or
// touches the item store while holding it.
//
// The limit is divided among the transfers that are moving bytes: those
// whose pacer has joined and is not waiting on its peer. A transfer still
// negotiating has no pacer, one whose last byte has gone has left, and one
// whose peer holds it up steps aside while it waits, so its share goes to
// the others evenly at once rather than to the first that asks.
class SpeedLimit
{
public:
    // One transfer's share as a pacer reads it, and the limit it belongs
    // to: allowance worked out under an older limit is not pooled.
    struct Share
    {
        qint32 kib = 0;
        quint64 generation = 0;
    };

    SpeedLimit() = default;
    SpeedLimit(const SpeedLimit&) = delete;
    SpeedLimit& operator=(const SpeedLimit&) = delete;

    // The cap of the direction in KiB/s; 0 means no limit.
    qint32 Total() const;
    // The share of one transfer that moves bytes now, in KiB/s (at least
    // 1); 0 means no limit.
    qint32 PerTransfer() const { return Read(false).kib; }
    // The same for a pacer, which counts itself in while it waits.
    Share Read(bool waiting) const;
    // Bytes some thread was allowed to move and did not.
    qint64 Pool() const;
    quint64 Generation() const;
    // The most the pool holds: a second of the direction's limit. What a
    // slow transfer leaves is for the others now, not a burst for later.
    static constexpr qint64 PoolMs = 1000;

    // Takes a new cap and empties the pool, so that allowance saved under
    // the old one does not carry over.
    void Set(qint32 total);
    // No limit; the pool is left as it is.
    void Clear();

    // A pacer starts moving bytes, and stops for good (waiting or not).
    void Join();
    void Leave(bool waiting);
    // A pacer steps aside while it waits on its peer, and back.
    void SetWaiting(bool waiting);

    // Pays owed bytes out of the pool and returns what is still owed. One
    // payment takes at most an even part of the pool among the transfers
    // moving bytes, so the spare bytes are spread over them.
    qint64 PayFromPool(qint64 owed);
    // Adds up to the pool's cap; nothing without a limit in force, or when
    // the limit has been set again since the share was read.
    void AddToPool(qint64 bytes, quint64 generation);

private:
    qint32 ShareOf(int moving) const;

    // A standard mutex: Qt 5's waits inside the library, out of sight of
    // ThreadSanitizer (scripts/tsan), which then takes its locking for a race.
    mutable std::mutex m_mutex;
    qint64 m_pool = 0;
    qint32 m_total = 0;
    quint64 m_generation = 0;
    int m_pacers = 0;
    int m_waiting = 0;
};
