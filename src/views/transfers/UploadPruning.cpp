#include "UploadPruning.h"

#include "PeriodicDuties.h"

namespace {

const qint64 kOldAfterSeconds = 299;

qint64 Parse(const QString& text)
{
    const qint64 ms = PeriodicDuties::ParseMSecs(text);
    return ms == PeriodicDuties::Invalid ? UploadPruning::NoTime : ms;
}

} // namespace

bool UploadPruning::OldEnough(qint64 thenMs, qint64 nowMs)
{
    return thenMs != NoTime && (nowMs - thenMs) / 1000 > kOldAfterSeconds;
}

bool UploadPruning::UserGoneLongEnough(bool online, const QString& lastOnlineChange, qint64 nowMs)
{
    return !online && OldEnough(Parse(lastOnlineChange), nowMs);
}

bool UploadPruning::Stale(bool queued, bool userOnline, const QString& lastOnlineChange,
                          const QString& lastStatusChange, qint64 lastReceiptMs, qint64 nowMs)
{
    if (queued && !UserGoneLongEnough(userOnline, lastOnlineChange, nowMs))
        return false;
    qint64 reference = Parse(lastStatusChange);
    if (lastReceiptMs != NoTime && (reference == NoTime || reference < lastReceiptMs))
        reference = lastReceiptMs;
    return OldEnough(reference, nowMs);
}
