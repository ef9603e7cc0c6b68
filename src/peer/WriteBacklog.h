#pragma once

#include <QHash>
#include <QtGlobal>
#include <deque>

#include "SharedAllowance.h"

// What a connection has handed its socket and the socket has not yet passed
// to the system, message by message. A peer that asks and never reads would
// otherwise have us hold every answer it asked for: its questions wait while
// more than MaxBacklog bytes wait behind the message being written.
//
// The socket's own count of bytes to write is passed in at every question,
// so nothing here needs to hear of the writes that drain it. What it holds
// of answers counts in the total of all connections byte by byte: only
// what the socket has not yet handed to the system, so an answer larger
// than the system takes at once gives its part back as the peer reads.
class WriteBacklog
{
public:
    static constexpr qint64 MaxBacklog = 4 * 1024 * 1024;
    // The code recorded for bytes that are no message (a key, an opening).
    static constexpr quint32 NotAMessage = 0xffffffff;

    // Whether size more bytes keep beyond bytes waiting behind the message
    // being written within MaxBacklog; anything may follow that message
    // while nothing else waits behind it.
    static bool Within(qint64 beyond, qint64 size) { return beyond == 0 || beyond + size <= MaxBacklog; }

    // Where the answers held count, from now on, beside those of other
    // connections: what the socket still holds of each.
    void CountAnswersIn(SharedAllowance::Share share) { m_answers = std::move(share); }

    // Counts the answers held for that owner from now on.
    void SetOwner(const SharedAllowance::Owner& owner) { m_answers.SetOwner(owner); }

    // Bytes handed to the socket: a message of that code, or NotAMessage.
    void Queued(quint32 code, qint64 size);
    // The socket now holds waiting bytes: forgets the messages it has
    // passed on whole, and gives back what it passed on of answers.
    void Drain(qint64 waiting);
    // All the bytes handed to the socket since the start.
    qint64 Handed() const { return m_queued; }
    // The socket was dropped with all it held.
    void Clear();
    // Whether a message of size bytes may be handed over while the socket
    // still holds waiting bytes.
    bool Fits(qint64 size, qint64 waiting);
    // Whether a message of that code is still held, whole or in part.
    bool Waits(quint32 code, qint64 waiting);

private:
    struct Entry
    {
        // In bytes handed over since the start.
        qint64 start;
        qint64 end;
        quint32 code;
        bool answer;
    };
    std::deque<Entry> m_entries;
    QHash<quint32, int> m_waitingByCode;
    qint64 m_queued = 0;
    // The answers' bytes of the entries held, whole.
    qint64 m_answerBytes = 0;
    SharedAllowance::Share m_answers;
};
