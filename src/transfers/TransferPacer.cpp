#include "TransferPacer.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <utility>

#include "SpeedLimit.h"

namespace {
constexpr qint64 UsPerSecond = 1000000;

// Bytes a rate allows in a span: in 64 bits and split at whole seconds, so
// that neither a high limit nor a long wait for the peer overflows.
qint64 BytesIn(qint64 bytesPerSecond, qint64 us)
{
    return bytesPerSecond * (us / UsPerSecond) + bytesPerSecond * (us % UsPerSecond) / UsPerSecond;
}
} // namespace

TransferPacer::Clock TransferPacer::SystemClock()
{
    QElapsedTimer timer;
    timer.start();
    return Clock{[timer] { return timer.nsecsElapsed() / 1000; },
                 [](qint64 us) { QThread::usleep(static_cast<unsigned long>(us)); }};
}

TransferPacer::TransferPacer(SpeedLimit* limit, std::function<bool()> askedToExit, Clock clock)
    : m_limit(limit), m_askedToExit(std::move(askedToExit)), m_clock(std::move(clock))
{
}

void TransferPacer::Start(qint32 totalLimit)
{
    m_previousLimit = totalLimit;
    m_owed = 0;
    m_stepStartUs = m_clock.nowUs();
}

qint32 TransferPacer::CurrentLimit() const
{
    return m_limit ? m_limit->PerTransfer() : 0;
}

bool TransferPacer::Pace()
{
    qint32 limit = CurrentLimit();
    if (limit != m_previousLimit) {
        // Neither the bytes moved nor the time spent while nothing was
        // limited are paced later: the time would fill the pool with a burst.
        if (m_previousLimit == 0) {
            m_owed = 0;
            m_stepStartUs = m_clock.nowUs();
        }
    }
    if (limit == 0) {
        m_previousLimit = 0;
        return true;
    }
    m_owed = m_limit->PayFromPool(m_owed);
    // The owed bytes are slept off in slices with the limit read again
    // after each: a user who types a new limit a key at a time passes
    // through 1 KiB/s, and what is still owed is owed at the new limit.
    qint64 unpaid = m_owed;
    qint64 sleepFromUs = m_clock.nowUs();
    // The allowance of the time since the last step is set against the
    // bytes owed over it; a new limit empties the pool, so what the old one
    // allowed is not saved.
    qint64 allowanceFromUs = m_stepStartUs;
    qint64 due = unpaid;
    for (;;) {
        const qint64 bytesPerSecond = qint64(limit) * 1024;
        // Microseconds rather than whole milliseconds: a chunk takes less
        // than a millisecond at a few MiB/s, and rounding it away would
        // leave high limits unenforced.
        const qint64 needUs = (unpaid * UsPerSecond + bytesPerSecond - 1) / bytesPerSecond;
        const qint64 sleptUs = m_clock.nowUs() - sleepFromUs;
        if (sleptUs >= needUs)
            break;
        m_clock.sleepUs(std::min<qint64>(needUs - sleptUs, qint64(SleepSliceMs) * 1000));
        if (m_askedToExit && m_askedToExit()) {
            m_previousLimit = limit;
            return false;
        }
        const qint32 current = CurrentLimit();
        if (current == limit)
            continue;
        const qint64 nowUs = m_clock.nowUs();
        unpaid = std::max<qint64>(0, unpaid - BytesIn(bytesPerSecond, nowUs - sleepFromUs));
        sleepFromUs = nowUs;
        allowanceFromUs = nowUs;
        due = unpaid;
        limit = current;
        if (limit == 0) {
            m_owed = 0;
            m_previousLimit = 0;
            return true;
        }
    }
    const qint64 endUs = m_clock.nowUs();
    const qint64 leftover = BytesIn(qint64(limit) * 1024, endUs - allowanceFromUs) - due;
    m_stepStartUs = endUs;
    m_owed = 0;
    if (leftover > 0)
        m_limit->AddToPool(leftover);
    m_previousLimit = limit;
    return true;
}

qint64 TransferPacer::ChunkBytes() const
{
    if (m_previousLimit <= 0)
        return MaxChunk;
    return std::max(MinChunk, std::min(MaxChunk, qint64(m_previousLimit) * 1024 / 10));
}

void TransferPacer::PassOn()
{
    const qint32 limit = CurrentLimit();
    // A new limit is taken in at the next step, which also settles what
    // the time under the old one allowed.
    if (limit == 0 || limit != m_previousLimit)
        return;
    const qint64 nowUs = m_clock.nowUs();
    const qint64 leftover = BytesIn(qint64(limit) * 1024, nowUs - m_stepStartUs) - m_owed;
    if (leftover <= 0)
        return;
    m_limit->AddToPool(leftover);
    m_owed = 0;
    m_stepStartUs = nowUs;
}

void TransferPacer::Moved(qint64 bytes)
{
    m_owed += bytes;
}
