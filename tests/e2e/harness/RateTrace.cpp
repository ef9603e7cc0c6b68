#include "RateTrace.h"

#include <algorithm>

RateTrace::RateTrace(qint64 startMs, qint64 startBytes) : m_start{startMs, startMs, startBytes} {}

void RateTrace::Add(qint64 fromMs, qint64 bytes, qint64 toMs)
{
    m_looks.append(Look{fromMs, toMs, bytes});
}

qint64 RateTrace::Moved() const
{
    return m_looks.isEmpty() ? 0 : m_looks.last().bytes - m_start.bytes;
}

bool RateTrace::JustMoved() const
{
    const int n = m_looks.size();
    return n > 0 && m_looks[n - 1].bytes != (n > 1 ? m_looks[n - 2] : m_start).bytes;
}

qint64 RateTrace::ElapsedMs() const
{
    return m_looks.isEmpty() ? 0 : m_looks.last().fromMs - m_start.fromMs;
}

RateTrace::Excess RateTrace::MostAbove(qint64 bytesPerSecond) const
{
    Excess most{0, m_start};
    for (const Look& look : m_looks) {
        const qint64 allowed = bytesPerSecond * (look.toMs - m_start.fromMs) / 1000;
        const qint64 above = look.bytes - m_start.bytes - allowed;
        if (above > most.bytes)
            most = Excess{above, look};
    }
    return most;
}

QList<RateTrace::Look> RateTrace::AllLooks() const
{
    QList<Look> looks = m_looks;
    looks.prepend(m_start);
    return looks;
}

QList<RateTrace::Run> RateTrace::Runs(const QList<Look>& looks)
{
    QList<Run> runs;
    for (int first = 0; first < looks.size();) {
        int last = first;
        while (last + 1 < looks.size() && looks[last + 1].bytes == looks[first].bytes)
            ++last;
        // The start was a moment, not a look: the count stood from then.
        const qint64 from = first > 0 ? looks[first - 1].fromMs : looks[first].fromMs;
        const qint64 to = last + 1 < looks.size() ? looks[last + 1].toMs : looks[last].toMs;
        runs.append(Run{first, last, from, to});
        first = last + 1;
    }
    return runs;
}

qint64 RateTrace::StillMs(qint64 atLeastMs) const
{
    // Neighbouring stand-stills share the looks between them: their overlap
    // counts once.
    qint64 still = 0;
    qint64 counted = m_start.fromMs;
    for (const Run& run : Runs(AllLooks())) {
        if (run.toMs - run.fromMs < atLeastMs)
            continue;
        const qint64 from = std::max(run.fromMs, counted);
        if (run.toMs > from)
            still += run.toMs - from;
        counted = std::max(counted, run.toMs);
    }
    return still;
}

double RateTrace::SteadyBytesPerSecond(qint64 atLeastMs) const
{
    const QList<Look> looks = AllLooks();
    const QList<Run> runs = Runs(looks);
    // The runs that bound the steady stretches: the start, every
    // stand-still, and the last.
    QList<int> bounds{0};
    for (int i = 1; i < runs.size(); ++i)
        if (i == runs.size() - 1 || runs[i].toMs - runs[i].fromMs >= atLeastMs)
            bounds.append(i);
    qint64 bytes = 0;
    qint64 ms = 0;
    for (int i = 1; i < bounds.size(); ++i) {
        // From the look that saw the count move after a bound (what came at
        // once is left out) to the one that saw it reach the next.
        const Look& from = looks[runs[bounds[i - 1] + 1].first];
        const Look& to = looks[runs[bounds[i]].first];
        if (bounds[i - 1] + 1 >= bounds[i] || to.fromMs <= from.toMs)
            continue;
        bytes += to.bytes - from.bytes;
        ms += to.fromMs - from.toMs;
    }
    return ms > 0 ? bytes * 1000.0 / double(ms) : 0;
}
