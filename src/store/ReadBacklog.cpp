#include "ReadBacklog.h"

qint64 ReadBacklog::Allowance(const char* unhandled, qint64 size, qint64 backlogLimit, quint32 maxFrameLength)
{
    qint64 target = backlogLimit;
    if (size >= 4) {
        const auto* b = reinterpret_cast<const uchar*>(unhandled);
        const quint32 length = quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
        if (length <= maxFrameLength)
            target = qMax(target, 4 + qint64(length));
    }
    return qMax<qint64>(0, target - size);
}
