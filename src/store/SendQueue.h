#pragma once

#include <QtGlobal>
#include <functional>

// What the system holds for one connection's peer, and what an upload under
// a limit may leave waiting there before it hands over more. Bytes in
// flight on a long link are on their way: pacing counts only the bytes that
// have not left this machine, so a limit is reached at any round trip,
// while a peer that reads slowly closes its window, its bytes stay here and
// count. The reading is a seam: the system's counts for a socket, or a
// model's.
class SendQueue
{
public:
    struct Reading
    {
        // Handed to the system and not acknowledged by the peer yet.
        qint64 unacknowledged = 0;
        // Of those, not yet sent.
        qint64 unsent = 0;
    };
    using Reader = std::function<Reading()>;

    // Under a limit, what waits to leave is kept to this much of it before
    // another chunk is handed over: the pacer counts bytes handed over, and
    // a queue of megabytes would leave at once when a slow peer speeds up.
    static constexpr qint64 QueueMs = 250;
    // Looks again while the excess drains: about as far apart as it takes
    // at the limit, within these bounds.
    static constexpr qint64 LookMinMs = 10;
    static constexpr qint64 LookMaxMs = 100;

    // Reads nothing: every count is 0.
    SendQueue() = default;
    explicit SendQueue(Reader reader);
    // The system's counts for a connected socket where it tells them
    // (Linux); otherwise none, and only the socket's own buffer counts.
    static Reader OfSocket(qintptr descriptor);
    // What the system holds unacknowledged for a socket, read once; 0 where
    // it does not tell. On a fast link it holds megabytes beyond what the
    // program has not handed over, and a peer's reading shows only as this
    // going down.
    static qint64 Unacknowledged(qintptr descriptor);
    // Has the system drop what it holds for a socket when the socket is
    // closed, and reset the connection, rather than keep it open behind
    // those bytes for a peer that may never read them.
    static void DropAtClose(qintptr descriptor);

    // Bytes the peer has not taken: the socket's own buffered bytes and
    // what the system holds unacknowledged.
    qint64 Untaken(qint64 buffered) const;
    // How far the bytes yet to leave (the socket's buffer and the system's
    // unsent ones) are over QueueMs at bytesPerSecond; a chunk may be
    // handed over at 0 or less.
    qint64 Excess(qint64 buffered, qint64 bytesPerSecond) const;
    // When to look again at an excess: about when it has drained.
    static qint64 LookMs(qint64 excess, qint64 bytesPerSecond);

private:
    Reading Read() const;

    Reader m_reader;
};
