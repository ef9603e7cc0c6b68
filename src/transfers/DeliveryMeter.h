#pragma once

#include <QtGlobal>
#include <deque>
#include <utility>

// What has really moved on a transfer and how fast it moves now. For an
// upload that is what the peer has taken, as the sender can see it: the
// bytes handed to the socket less those still waiting in it or in the
// system's send queue. Progress, speed and the stall time-out all follow
// this figure, never the bytes handed over, which on a slow link run
// megabytes ahead of the peer. For a download it is what has been taken off
// the connection, and nothing is ever waiting.
class DeliveryMeter
{
public:
    // The current speed is taken over this span, so a burst that fills the
    // buffers at the start does not colour the figure for long.
    static constexpr qint64 WindowMs = 10000;
    // A sample is kept at most this often; the window then holds few.
    static constexpr qint64 SampleMs = 250;
    // However slowly a peer has read so far, it counts as stalled after
    // this much more than the stall time without a byte taken.
    static constexpr qint64 MaxGraceMs = 10 * 60 * 1000;
    static constexpr qint64 TakeGapMs = 1000;
    // Until a peer has shown its pace it is taken to read at least this
    // fast, the least share a limit gives: its first fill may be a stream
    // library's buffer of several hundred KiB that it reads for minutes.
    static constexpr qint64 LeastPaceBytesPerSecond = 1024;
    // What a peer's system and library are taken to hold at most: more
    // taken in one go than this it has read.
    static constexpr qint64 MostHeld = 8 * 1024 * 1024;

    // The delivered position is start at nowMs; no byte has moved yet.
    // stallMs is the least time without a byte taken that counts as a stall.
    void Start(qint64 nowMs, qint64 start, qint64 stallMs);
    // Records the delivered position at nowMs, with handed the end of what
    // the sender has handed over; true when the position moved on. While
    // nothing handed over waits, the peer is owed nothing and not idle.
    bool Update(qint64 nowMs, qint64 delivered, qint64 handed);

    qint64 Delivered() const { return m_delivered; }
    // Milliseconds since a byte was last delivered, or since nothing was
    // waiting (or since the start).
    qint64 IdleMs(qint64 nowMs) const { return nowMs - m_lastMoveMs; }
    // How long the peer may take nothing: the stall time, plus what it
    // needs, at the average pace it kept from the start until it last took
    // a byte (the pause itself is no part of its pace), to read what its
    // system and its stream library may still hold (at most MaxGraceMs
    // more). A reader that takes what its socket holds in large gulps
    // leaves long pauses that its pace explains: while it reads one gulp
    // its system holds the next, and its system refills after each gulp,
    // so it holds all it took at once at the start again. So the peer may
    // hold the largest of its takes, or its last two, a take being a run of
    // deliveries with no pause of TakeGapMs, counted over its first stall
    // time only (what came later came at the reader's pace), and at most
    // MostHeld. A peer that has taken no more than it may hold has shown no
    // pace yet and is taken to read LeastPaceBytesPerSecond.
    qint64 QuietAllowedMs() const;
    bool Stalled(qint64 nowMs) const { return IdleMs(nowMs) >= QuietAllowedMs(); }
    // Bytes per second over about the window that ends at nowMs (or since
    // the start, when that is nearer), level across the usual pause between
    // deliveries: a transfer that stops shows 0 once its last bytes are a
    // window old. A reader whose system takes our bytes in steps further
    // apart than the window shows the pace of its last step until the pause
    // since is longer than the one before it, and 0 a window later. 0 until
    // a byte has moved.
    int BytesPerSecond(qint64 nowMs) const;
    // Bytes that drain in about the given time at the current speed,
    // between minimum and maximum; maximum until a second has been seen.
    qint64 DrainsIn(qint64 nowMs, qint64 ms, qint64 minimum, qint64 maximum) const;

private:
    // (time, delivered position), oldest first.
    std::deque<std::pair<qint64, qint64>> m_samples;
    qint64 m_delivered = 0;
    qint64 m_lastMoveMs = 0;
    qint64 m_lastDeliveryMs = 0;
    // The latest take: when it began, the position then, and what came in
    // its first stall time; and the same count of the take before.
    qint64 m_takeStartMs = 0;
    qint64 m_takeBase = 0;
    qint64 m_take = 0;
    qint64 m_previousTake = 0;
    qint64 m_largestTake = 0;
    qint64 m_startMs = 0;
    qint64 m_start = 0;
    qint64 m_stallMs = 0;
};
