#include "TransferStatus.h"

#include "Settings.h"
#include "TransferNames.h"

namespace {

const char* const kOtherColorKey = "color_transfer_other";

} // namespace

TransferStatus::Kind TransferStatus::KindOf(const QString& status, const QString& runningWord)
{
    if (status == runningWord)
        return Running;
    if (status == QLatin1String(TransferNames::Queued))
        return Queued;
    if (status == QLatin1String(TransferNames::Complete))
        return Complete;
    if (status == QLatin1String(TransferNames::Denied))
        return Denied;
    if (status == QLatin1String(TransferNames::Aborted))
        return Aborted;
    return Other;
}

QString TransferStatus::Aggregate(const Counts& counts, const QString& runningWord)
{
    if (counts.of[Running] > 0)
        return runningWord;
    if (counts.of[Queued] > 0)
        return QLatin1String(TransferNames::Queued);
    if (counts.of[Complete] == counts.total)
        return QLatin1String(TransferNames::Complete);
    if (counts.of[Denied] > 0)
        return QLatin1String(TransferNames::Denied);
    if (counts.of[Aborted] > 0)
        return QLatin1String(TransferNames::Aborted);
    return QString();
}

QString TransferStatus::Shown(const QString& status, const QString& denialReason)
{
    return (status == QLatin1String(TransferNames::Denied) ? denialReason : status).toLower();
}

const char* TransferStatus::ColorKey(const QString& status)
{
    if (status == QLatin1String(TransferNames::Complete))
        return "color_transfer_complete";
    if (status == QLatin1String(TransferNames::Downloading) || status == QLatin1String(TransferNames::Uploading) ||
        status == QLatin1String(TransferNames::Connecting))
        return "color_transfer_in_progress";
    if (status == QLatin1String(TransferNames::Queued))
        return "color_transfer_queued";
    if (status == QLatin1String(TransferNames::Denied) || status == QLatin1String(TransferNames::Aborted) ||
        status == QLatin1String(TransferNames::LocalError))
        return "color_transfer_failed";
    return kOtherColorKey;
}

QColor TransferStatus::Color(const QString& status)
{
    // A colour name edited by hand or damaged in the data file must not
    // paint rows invisible (an invalid colour draws as transparent).
    QColor color(GetSetting(ColorKey(status)));
    if (!color.isValid())
        color = QColor(GetSetting(kOtherColorKey));
    if (!color.isValid())
        color = QColor(Qt::black);
    return color;
}
