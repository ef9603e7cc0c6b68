#pragma once

#include <QList>
#include <QPair>

// How fast a transfer moved while it moved, from where it stood at times of
// one clock ((milliseconds, position), oldest first), as a speed limit is
// judged: a limit is a ceiling, and a side that stands still (a thread or a
// process descheduled, a reader that pauses) earns nothing to spend later.
// A step runs from one change of position to the next. One longer than
// longestStepMs held a stall, and so may one after which the position stood
// (a transfer that reports while it waits repeats its position): neither
// its time nor what came at its end counts, so a stall of either side
// leaves the pace as it was.
class TransferPace
{
public:
    using Samples = QList<QPair<qint64, qint64>>;

    // Over the steps from the first sample at or after fromMs.
    TransferPace(const Samples& samples, qint64 fromMs, qint64 longestStepMs);

    qint64 MovingMs() const { return m_movingMs; }
    // KiB per second while it moved; 0 until a step counts.
    double KibPerSecond() const;

    // Where the transfer stood at ms by its samples: the last at or before
    // it, 0 before the first.
    static qint64 At(const Samples& samples, qint64 ms);
    // How far transfers sharing one limit ran ahead of it, the clock's zero
    // being before any of them moved a byte: the most, at any of their
    // samples, by which what they had moved together exceeded what the
    // limit allows since. A stall of either side only lowers it, as bytes
    // that wait never leave faster than the limit.
    static qint64 MostAhead(const QList<Samples>& transfers, double limitKib);
    // What transfers under a limit may run ahead of it: each sends its
    // first chunk, sized to the whole limit, before its pacer first sleeps.
    static qint64 FirstChunks(int transfers, int limitKib);
    // The longest time between two samples that reaches into [fromMs,
    // toMs]: a side that reports at a steady interval stalled when it is
    // far longer.
    static qint64 LongestGap(const Samples& samples, qint64 fromMs, qint64 toMs);

private:
    qint64 m_movingMs = 0;
    qint64 m_moved = 0;
};
