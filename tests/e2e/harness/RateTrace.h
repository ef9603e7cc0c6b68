#pragma once

#include <QList>
#include <QtGlobal>

// The byte count of a transfer, looked at from outside now and then, and
// what it says of the transfer's rate. Each look carries the clock read
// before and after it: a looker that stalls between the clock and the look
// widens that span rather than putting the count at the wrong time. Every
// figure takes the end of a span that favours the transfer, so that only
// what it surely did counts against it.
class RateTrace
{
public:
    struct Look
    {
        qint64 fromMs = 0;
        qint64 toMs = 0;
        qint64 bytes = 0;
    };

    // The count was startBytes at startMs, before the transfer could move.
    RateTrace(qint64 startMs, qint64 startBytes);

    // A look that began at fromMs, saw bytes, and ended at toMs.
    void Add(qint64 fromMs, qint64 bytes, qint64 toMs);

    // Bytes moved since the start, as the last look saw them.
    qint64 Moved() const;
    // Whether the last look saw the count change.
    bool JustMoved() const;

    // The look at which the bytes moved since the start stood furthest above
    // what bytesPerSecond allows in the longest time they can have taken,
    // and by how much (0 or less: never above).
    struct Excess
    {
        qint64 bytes = 0;
        Look at;
    };
    Excess MostAbove(qint64 bytesPerSecond) const;

    // The time in which the count stood still for at least atLeastMs at a
    // stretch, each stretch as long as the looks around it allow.
    qint64 StillMs(qint64 atLeastMs) const;
    // The rate while the count moved steadily: over the runs between the
    // stand-stills of atLeastMs or more, each from the first look after it
    // moved again to the last that saw it move. The bytes that came at once
    // when it moved again are left out with the stand-still, for they
    // waited on the way, or were allowance saved, while it stood. 0 without
    // such a run.
    double SteadyBytesPerSecond(qint64 atLeastMs) const;
    // The shortest time since the start to the last look.
    qint64 ElapsedMs() const;

private:
    // The looks with the start first, and the runs of looks that saw one
    // count; a run's stand-still at the longest, from just after the look
    // before it to just before the look after it.
    struct Run
    {
        int first = 0;
        int last = 0;
        qint64 fromMs = 0;
        qint64 toMs = 0;
    };
    QList<Look> AllLooks() const;
    static QList<Run> Runs(const QList<Look>& looks);

private:
    Look m_start;
    QList<Look> m_looks;
};
