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

    // The delivered position is start at nowMs; no byte has moved yet.
    void Start(qint64 nowMs, qint64 start);
    // Records the delivered position at nowMs, with handed the end of what
    // the sender has handed over; true when the position moved on. While
    // nothing handed over waits, the peer is owed nothing and not idle.
    bool Update(qint64 nowMs, qint64 delivered, qint64 handed);

    qint64 Delivered() const { return m_delivered; }
    // Milliseconds since a byte was last delivered, or since nothing was
    // waiting (or since the start).
    qint64 IdleMs(qint64 nowMs) const { return nowMs - m_lastMoveMs; }
    // Bytes per second over about the window that ends at nowMs (or since
    // the start, when that is nearer): a transfer that stops shows 0 once
    // its last bytes are a window old. 0 until a byte has moved.
    int BytesPerSecond(qint64 nowMs) const;
    // Bytes that drain in about the given time at the current speed,
    // between minimum and maximum; maximum until a second has been seen.
    qint64 DrainsIn(qint64 nowMs, qint64 ms, qint64 minimum, qint64 maximum) const;

private:
    // (time, delivered position), oldest first.
    std::deque<std::pair<qint64, qint64>> m_samples;
    qint64 m_delivered = 0;
    qint64 m_lastMoveMs = 0;
    qint64 m_startMs = 0;
};
