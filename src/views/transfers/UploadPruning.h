#pragma once

#include <QString>
#include <QtGlobal>
#include <limits>

// When the page takes finished or stale uploads away: a queued upload only
// once its user has been offline for more than 299 seconds, and with the
// automatic clearing on, any upload once neither its status nor its data
// has moved for more than 299 seconds. Times are the stored texts (the
// toolkit's default text form) or milliseconds since the epoch; a text that
// cannot be read counts as no time, which is never old enough.
class UploadPruning
{
public:
    static constexpr qint64 NoTime = std::numeric_limits<qint64>::min();

    // More than 299 whole seconds lie between then and now.
    static bool OldEnough(qint64 thenMs, qint64 nowMs);
    // The user of a queued upload is offline and has been for long enough.
    static bool UserGoneLongEnough(bool online, const QString& lastOnlineChange, qint64 nowMs);
    // The half-minute decision for one upload: queued ones need their user
    // gone long enough; then the later of the status change and the last
    // received progress must be old enough.
    static bool Stale(bool queued, bool userOnline, const QString& lastOnlineChange, const QString& lastStatusChange,
                      qint64 lastReceiptMs, qint64 nowMs);
};
