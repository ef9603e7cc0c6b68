#include "ViewClock.h"

namespace {

std::function<qint64()>& Source()
{
    static std::function<qint64()> source;
    return source;
}

} // namespace

QDateTime ViewClock::Now()
{
    const std::function<qint64()>& source = Source();
    return source ? QDateTime::fromMSecsSinceEpoch(source()) : QDateTime::currentDateTime();
}

void ViewClock::Set(std::function<qint64()> msecsSinceEpoch)
{
    Source() = std::move(msecsSinceEpoch);
}
