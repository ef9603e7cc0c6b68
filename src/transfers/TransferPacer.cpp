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

TransferPacer::~TransferPacer()
{
    Finish();
}

void TransferPacer::Start(qint32 totalLimit)
{
    m_previousLimit = totalLimit;
    m_owed = 0;
    m_stepStartUs = m_clock.nowUs();
    if (m_limit && !m_joined) {
        m_limit->Join();
        m_joined = true;
    }
}

void TransferPacer::Finish()
{
    if (!m_joined)
        return;
    m_limit->Leave(m_waiting);
    m_joined = false;
    m_waiting = false;
}

qint32 TransferPacer::CurrentLimit() const
{
    return m_limit ? m_limit->Read(m_waiting).kib : 0;
}

qint32 TransferPacer::ReadLimit()
{
    if (!m_limit)
        return 0;
    const SpeedLimit::Share share = m_limit->Read(m_waiting);
    m_generation = share.generation;
    return share.kib;
}

bool TransferPacer::Pace()
{
    if (m_waiting) {
        // Back from a wait on the peer, which earned nothing: the others
        // had this transfer's share meanwhile.
        m_limit->SetWaiting(false);
        m_waiting = false;
        m_stepStartUs = m_clock.nowUs();
    }
    qint32 limit = ReadLimit();
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
        const qint32 current = ReadLimit();
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
        m_limit->AddToPool(leftover, m_generation);
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
    if (!m_joined || m_waiting)
        return;
    const qint32 limit = ReadLimit();
    const qint64 nowUs = m_clock.nowUs();
    // What the time since the last step allowed pays what has moved, and
    // the rest is the others'. A new limit is taken in at the next step.
    if (limit != 0 && limit == m_previousLimit) {
        const qint64 allowed = BytesIn(qint64(limit) * 1024, nowUs - m_stepStartUs);
        if (allowed > m_owed)
            m_limit->AddToPool(allowed - m_owed, m_generation);
        m_owed = std::max<qint64>(0, m_owed - allowed);
    }
    m_stepStartUs = nowUs;
    m_limit->SetWaiting(true);
    m_waiting = true;
}

void TransferPacer::Moved(qint64 bytes)
{
    m_owed += bytes;
}
