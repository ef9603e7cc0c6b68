#pragma once

#include <QtGlobal>
#include <functional>

class SpeedLimit;

// The pacing of one transfer thread, kept on that thread. Before each chunk Pace() sleeps off the bytes moved since the
// last step at the thread's share of its direction's limit, taking spare bytes from the direction's pool first and
// giving back what it was allowed but did not use. From Start() until Finish() (or its end) the pacer counts in the
// division of the limit; while the thread waits on its peer, PassOn() steps it aside, so a slow peer's share is the
// others' at once and evenly, and the wait earns it nothing to spend later.
class TransferPacer
{
public:
    // The pacer's time in microseconds and its way of waiting: the steady
    // clock and a real sleep, or a test's own.
    struct Clock
    {
        std::function<qint64()> nowUs;
        std::function<void(qint64 us)> sleepUs;
    };
    static Clock SystemClock();

    // Longest single sleep: the limit and a stop request are looked at
    // between slices, so a new limit takes effect, and a stop ends even a
    // transfer paced at 1 KiB/s, within a quarter of a second.
    static constexpr int SleepSliceMs = 250;
    // Bytes moved between two steps: large blocks keep the system calls and
    // waits few; under a limit a step is about a tenth of a second of it,
    // so the pace stays even.
    static constexpr qint64 MaxChunk = 256 * 1024;
    static constexpr qint64 MinChunk = 8 * 1024;

    // limit may be null (nothing is paced); askedToExit is asked between
    // sleep slices.
    TransferPacer(SpeedLimit* limit, std::function<bool()> askedToExit, Clock clock = SystemClock());
    ~TransferPacer();
    TransferPacer(const TransferPacer&) = delete;
    TransferPacer& operator=(const TransferPacer&) = delete;

    // Starts the pacing clock and joins the division of the limit; the
    // limit of the "previous chunk" is the direction's total limit.
    void Start(qint32 totalLimit);
    // The transfer moves no more bytes (its last one has gone): it leaves
    // the division, and PassOn does nothing from then on.
    void Finish();
    // False when the thread was asked to exit while it slept.
    bool Pace();
    // Records a chunk that has moved.
    void Moved(qint64 bytes);
    // Called while the thread waits on its peer: what the time since the
    // last step allowed beyond what has moved goes to the pool, and the
    // transfer steps aside until its next Pace.
    void PassOn();
    // The most to move before the next Pace, for the limit it applied.
    qint64 ChunkBytes() const;

    qint64 Owed() const { return m_owed; }
    qint32 PreviousLimit() const { return m_previousLimit; }
    // The transfer's share in force now, in KiB/s, waiting or not; 0
    // without a limit.
    qint32 Limit() const { return CurrentLimit(); }

private:
    qint32 CurrentLimit() const;
    // The share, and with it the limit's generation for the pool.
    qint32 ReadLimit();

    SpeedLimit* m_limit;
    std::function<bool()> m_askedToExit;
    Clock m_clock;
    qint32 m_previousLimit = 0;
    qint64 m_owed = 0;
    // When the pacing clock was last restarted: the end of the last step.
    qint64 m_stepStartUs = 0;
    quint64 m_generation = 0;
    bool m_joined = false;
    bool m_waiting = false;
};
