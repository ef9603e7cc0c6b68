#pragma once

#include <QtGlobal>

// What the system still holds of the bytes a program wrote to a TCP
// socket: sent or not, none of it acknowledged by the other end yet. A
// socket's own count of bytes to write says only what the program has not
// handed over; on a fast link the system then holds megabytes more, and
// the peer's reading shows only as this figure going down.
class SendQueue
{
public:
    // For the socket's descriptor; 0 where the system does not tell
    // (another system, a closed descriptor).
    static qint64 Unacknowledged(qintptr descriptor);
};
