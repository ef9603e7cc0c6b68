#include "DeliveryMeter.h"

#include <algorithm>
#include <limits>

void DeliveryMeter::Start(qint64 nowMs, qint64 start, qint64 stallMs)
{
    m_samples.clear();
    m_samples.emplace_back(nowMs, start);
    m_delivered = start;
    m_lastMoveMs = nowMs;
    m_lastDeliveryMs = nowMs;
    m_takeStartMs = nowMs;
    m_takeBase = start;
    m_take = 0;
    m_previousTake = 0;
    m_largestTake = 0;
    m_startMs = nowMs;
    m_start = start;
    m_stallMs = stallMs;
}

bool DeliveryMeter::Update(qint64 nowMs, qint64 delivered, qint64 handed)
{
    if (delivered >= handed)
        m_lastMoveMs = nowMs;
    // The send queue is read apart from the write buffer; a reading taken
    // between the two may look back a little. Delivery never goes back.
    if (delivered <= m_delivered)
        return false;
    if (nowMs - m_lastDeliveryMs >= TakeGapMs) {
        m_previousTake = m_take;
        m_take = 0;
        m_takeStartMs = nowMs;
        m_takeBase = m_delivered;
    }
    if (nowMs - m_takeStartMs < m_stallMs) {
        m_take = delivered - m_takeBase;
        m_largestTake = std::max(m_largestTake, m_take);
    }
    m_delivered = delivered;
    m_lastMoveMs = nowMs;
    m_lastDeliveryMs = nowMs;
    // The first sample is where the measurement starts and stays as it is.
    if (m_samples.size() < 2 || nowMs - m_samples.back().first >= SampleMs)
        m_samples.emplace_back(nowMs, delivered);
    else
        m_samples.back().second = delivered;
    // One sample at or before the window's start stays as its base.
    while (m_samples.size() > 2 && nowMs - m_samples[1].first >= WindowMs)
        m_samples.pop_front();
    return true;
}

qint64 DeliveryMeter::QuietAllowedMs() const
{
    const qint64 held = std::min(std::max(m_largestTake, m_take + m_previousTake), MostHeld);
    const qint64 read = m_delivered - m_start - held;
    // In floating point: a large take times a long transfer leaves 64 bits.
    const double needMs = read > 0 ? double(held) * double(m_lastDeliveryMs - m_startMs) / double(read)
                                   : double(held) * 1000.0 / double(LeastPaceBytesPerSecond);
    return m_stallMs + qint64(std::min(needMs, double(MaxGraceMs)));
}

int DeliveryMeter::BytesPerSecond(qint64 nowMs) const
{
    if (m_samples.empty())
        return 0;
    // The base is the last sample at or before the window's start as it
    // stands now, not as it stood at the last move: a pause since then is
    // time in which nothing moved. Measured from a sample, a transfer whose
    // bytes come in gulps is taken over whole gulps.
    auto base = m_samples.begin();
    for (auto next = base + 1; next != m_samples.end() && nowMs - next->first >= WindowMs; ++next)
        base = next;
    // Bytes that come in gulps arrive at the end of the time they stand
    // for: until the pause since the last gulp is longer than the usual one
    // between them, the span ends at the last, so the figure keeps level
    // between gulps and falls only as a pause goes beyond that.
    qint64 end = nowMs;
    if (const qint64 steps = m_samples.end() - base - 1; steps > 0)
        end = std::max(m_lastDeliveryMs, nowMs - (m_lastDeliveryMs - base->first) / steps);
    // A slow reader's system takes what it read in steps further apart than
    // the window (a window's worth of a large buffer at a time): its last
    // step stands for the whole pause before it, so it is measured from the
    // sample before that pause, level while the pause since is no longer
    // and falling as it goes beyond, as gulps do. A step is a take shorter
    // than the window; a reader that keeps taking is measured as above.
    auto take = m_samples.end() - 1;
    while (take != m_samples.begin() && take->first - (take - 1)->first < TakeGapMs)
        --take;
    if (take != m_samples.begin() && base >= take - 1 && m_samples.back().first - take->first < WindowMs) {
        const auto before = take - 1;
        const qint64 pause = take->first - before->first;
        if (pause >= WindowMs && nowMs - m_lastDeliveryMs < pause + WindowMs) {
            base = before;
            end = std::max(m_lastDeliveryMs, nowMs - pause);
        }
    }
    const qint64 ms = end - base->first;
    if (ms <= 0)
        return 0;
    return int(std::min<qint64>((m_delivered - base->second) * 1000 / ms, std::numeric_limits<int>::max()));
}

qint64 DeliveryMeter::DrainsIn(qint64 nowMs, qint64 ms, qint64 minimum, qint64 maximum) const
{
    if (nowMs - m_startMs < 1000)
        return maximum;
    return std::max(minimum, std::min(maximum, qint64(BytesPerSecond(nowMs)) * ms / 1000));
}
