#include "TransferPacer.h"

#include <QThread>
#include <algorithm>
#include <limits>
#include <utility>

#include "SpeedLimit.h"

TransferPacer::TransferPacer(SpeedLimit* limit, std::function<bool()> askedToExit)
    : m_limit(limit), m_askedToExit(std::move(askedToExit))
{
}

void TransferPacer::Start(qint32 totalLimit)
{
    m_previousLimit = totalLimit;
    m_owed = 0;
    m_clock.start();
    RestartMeasurement();
}

void TransferPacer::RestartMeasurement()
{
    m_measurementStart.start();
    m_measuredBytes = 0;
}

bool TransferPacer::Pace()
{
    const qint32 limit = m_limit ? m_limit->PerTransfer() : 0;
    if (limit != m_previousLimit) {
        // Bytes moved while nothing was limited are not slept off later.
        if (m_previousLimit == 0)
            m_owed = 0;
        RestartMeasurement();
    }
    if (limit != 0) {
        m_owed = m_limit->PayFromPool(m_owed);
        // Microseconds rather than whole milliseconds: a chunk takes less
        // than a millisecond at a few MiB/s, and rounding it away would
        // leave high limits unenforced.
        const qint64 bytesPerSecond = qint64(limit) * 1024;
        const qint64 needUs = (m_owed * 1000000 + bytesPerSecond - 1) / bytesPerSecond;
        const qint64 targetUs = m_clock.nsecsElapsed() / 1000 + needUs;
        for (qint64 now = m_clock.nsecsElapsed() / 1000; now < targetUs; now = m_clock.nsecsElapsed() / 1000) {
            QThread::usleep(static_cast<unsigned long>(std::min<qint64>(targetUs - now, SleepSliceMs * 1000)));
            if (m_askedToExit && m_askedToExit()) {
                m_previousLimit = limit;
                return false;
            }
        }
        const qint64 elapsedUs = m_clock.nsecsElapsed() / 1000;
        m_clock.restart();
        // In 64 bits and split at whole seconds, so that neither a high
        // limit nor a long wait for the peer overflows the product.
        const qint64 allowance =
            bytesPerSecond * (elapsedUs / 1000000) + bytesPerSecond * (elapsedUs % 1000000) / 1000000;
        const qint64 leftover = allowance - m_owed;
        m_owed = 0;
        if (leftover > 0)
            m_limit->AddToPool(leftover);
    }
    m_previousLimit = limit;
    return true;
}

qint64 TransferPacer::ChunkBytes() const
{
    if (m_previousLimit <= 0)
        return MaxChunk;
    return std::max(MinChunk, std::min(MaxChunk, qint64(m_previousLimit) * 1024 / 10));
}

void TransferPacer::Moved(qint64 bytes)
{
    m_owed += bytes;
    m_measuredBytes += bytes;
}

int TransferPacer::BytesPerSecond() const
{
    const qint64 ms = m_measurementStart.elapsed();
    if (ms <= 0)
        return 0;
    return int(std::min<qint64>(m_measuredBytes * 1000 / ms, std::numeric_limits<int>::max()));
}
