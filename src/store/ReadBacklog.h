#pragma once

#include <QByteArray>
#include <QtGlobal>

class QIODevice;

// How far a connection reading length-prefixed frames (a 32-bit
// little-endian length, then that many bytes) may read ahead of what it
// handles. Reading no faster than it handles leaves the rest to TCP, which
// slows a sender that is faster, instead of buffering all it sends.
class ReadBacklog
{
public:
    // Read and not yet handled; only a frame at the head larger than this
    // is read whole beyond it.
    static constexpr qint64 MaxBacklog = 1024 * 1024;
    // What the socket itself may buffer beyond that.
    static constexpr qint64 SocketBufferLimit = 256 * 1024;
    static constexpr qint64 MaxUnreadBytes = MaxBacklog + SocketBufferLimit;

    // How many more bytes a reader holding size unhandled bytes (none of
    // them handled yet, a frame's length field at their head) may take from
    // its socket so as to hold at most backlogLimit; more only to complete
    // the frame at its head when that frame alone is larger. A length above
    // maxFrameLength is not trusted to extend anything.
    static qint64 Allowance(const char* unhandled, qint64 size, qint64 backlogLimit, quint32 maxFrameLength);
    // How far the frame at the head of unhandled reaches beyond
    // backlogLimit: what reading it whole takes beyond the backlog.
    static qint64 HeadBeyond(const char* unhandled, qint64 size, qint64 backlogLimit, quint32 maxFrameLength);
    // The bytes of the device's that fit that allowance for a reader
    // holding unhandled, to be appended to it (maxFrameLength 0: no frame
    // is read beyond the backlog).
    static QByteArray ReadWhatFits(QIODevice* device, const QByteArray& unhandled, qint64 backlogLimit,
                                   quint32 maxFrameLength);
};
