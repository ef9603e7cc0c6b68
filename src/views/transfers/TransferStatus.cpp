#include "TransferStatus.h"

#include "Settings.h"

namespace {

const char* const kOtherColorKey = "color_transfer_other";

} // namespace

TransferStatus::Kind TransferStatus::KindOf(const QString& status, const QString& runningWord)
{
    if (status == runningWord)
        return Running;
    if (status == QLatin1String("queued"))
        return Queued;
    if (status == QLatin1String("complete"))
        return Complete;
    if (status == QLatin1String("denied"))
        return Denied;
    if (status == QLatin1String("aborted"))
        return Aborted;
    return Other;
}

QString TransferStatus::Aggregate(const Counts& counts, const QString& runningWord)
{
    if (counts.of[Running] > 0)
        return runningWord;
    if (counts.of[Queued] > 0)
        return QStringLiteral("queued");
    if (counts.of[Complete] == counts.total)
        return QStringLiteral("complete");
    if (counts.of[Denied] > 0)
        return QStringLiteral("denied");
    if (counts.of[Aborted] > 0)
        return QStringLiteral("aborted");
    return QString();
}

QString TransferStatus::Shown(const QString& status, const QString& denialReason)
{
    return (status == QLatin1String("denied") ? denialReason : status).toLower();
}

const char* TransferStatus::ColorKey(const QString& status)
{
    if (status == QLatin1String("complete"))
        return "color_transfer_complete";
    if (status == QLatin1String("downloading") || status == QLatin1String("uploading") ||
        status == QLatin1String("connecting"))
        return "color_transfer_in_progress";
    if (status == QLatin1String("queued"))
        return "color_transfer_queued";
    if (status == QLatin1String("denied") || status == QLatin1String("aborted") ||
        status == QLatin1String("local error"))
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
