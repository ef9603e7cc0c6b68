#include "ReadBacklog.h"

#include <QIODevice>

qint64 ReadBacklog::HeadBeyond(const char* unhandled, qint64 size, qint64 backlogLimit, quint32 maxFrameLength)
{
    if (size < 4)
        return 0;
    const auto* b = reinterpret_cast<const uchar*>(unhandled);
    const quint32 length = quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
    return length <= maxFrameLength ? qMax<qint64>(0, 4 + qint64(length) - backlogLimit) : 0;
}

qint64 ReadBacklog::Allowance(const char* unhandled, qint64 size, qint64 backlogLimit, quint32 maxFrameLength)
{
    return qMax<qint64>(0, backlogLimit + HeadBeyond(unhandled, size, backlogLimit, maxFrameLength) - size);
}

QByteArray ReadBacklog::ReadWhatFits(QIODevice* device, const QByteArray& unhandled, qint64 backlogLimit,
                                     quint32 maxFrameLength)
{
    // Only what is there: a read of the whole allowance would allocate it.
    const qint64 size = qMin(Allowance(unhandled.constData(), unhandled.size(), backlogLimit, maxFrameLength),
                             device->bytesAvailable());
    return size > 0 ? device->read(size) : QByteArray();
}
