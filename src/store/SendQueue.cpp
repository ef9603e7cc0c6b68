#include "SendQueue.h"

#include <algorithm>
#include <utility>

#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif

SendQueue::SendQueue(Reader reader) : m_reader(std::move(reader)) {}

SendQueue::Reader SendQueue::OfSocket(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    if (descriptor >= 0)
        return [descriptor] {
            Reading reading;
            int bytes = 0;
            if (::ioctl(int(descriptor), SIOCOUTQ, &bytes) == 0 && bytes > 0)
                reading.unacknowledged = bytes;
            bytes = 0;
            // Without the count of unsent bytes, all that is unacknowledged
            // counts as not yet gone: stricter, never looser.
            if (::ioctl(int(descriptor), SIOCOUTQNSD, &bytes) == 0)
                reading.unsent = std::max(0, bytes);
            else
                reading.unsent = reading.unacknowledged;
            return reading;
        };
#else
    Q_UNUSED(descriptor)
#endif
    return Reader();
}

qint64 SendQueue::Unacknowledged(qintptr descriptor)
{
    return SendQueue(OfSocket(descriptor)).Untaken(0);
}

void SendQueue::DropAtClose(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    if (descriptor < 0)
        return;
    // Lingering for no time is what makes a close a reset.
    const linger none{1, 0};
    ::setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &none, sizeof none);
#else
    Q_UNUSED(descriptor)
#endif
}

SendQueue::Reading SendQueue::Read() const
{
    return m_reader ? m_reader() : Reading();
}

qint64 SendQueue::Untaken(qint64 buffered) const
{
    return buffered + Read().unacknowledged;
}

qint64 SendQueue::Excess(qint64 buffered, qint64 bytesPerSecond) const
{
    return buffered + Read().unsent - bytesPerSecond * QueueMs / 1000;
}

qint64 SendQueue::LookMs(qint64 excess, qint64 bytesPerSecond)
{
    if (bytesPerSecond <= 0)
        return LookMaxMs;
    return std::clamp(excess * 1000 / bytesPerSecond, LookMinMs, LookMaxMs);
}
