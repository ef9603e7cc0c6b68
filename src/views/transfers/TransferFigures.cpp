#include "TransferFigures.h"

#include <algorithm>

#include "GeneralFunctions.h"

void TransferFigures::Sums::Add(TransferStatus::Kind kind, qint64 position, qint64 size)
{
    size = std::max<qint64>(size, 0);
    switch (kind) {
    case TransferStatus::Complete:
        done += size;
        total += size;
        break;
    case TransferStatus::Running:
    case TransferStatus::Queued:
    case TransferStatus::Aborted:
    {
        // A position read past the size (a file grown on the uploader's
        // side) must not make the remaining bytes negative.
        const qint64 at = std::clamp<qint64>(position, 0, size);
        done += at;
        remaining += size - at;
        total += size;
        break;
    }
    default:
        break;
    }
}

double TransferFigures::Percent(qint64 done, qint64 total)
{
    if (total <= 0)
        return 100.0;
    return std::clamp(double(done) * 100.0 / double(total), 0.0, 100.0);
}

QString TransferFigures::ProgressText(qint64 done, double percent)
{
    return QStringLiteral("%1 (%2%)").arg(CommafyNumber(done), QString::number(percent, 'f', 1));
}

qint64 TransferFigures::SecondsLeft(qint64 remaining, qint64 bytesPerSecond)
{
    if (remaining <= 0)
        return 0;
    if (bytesPerSecond <= 0)
        return NoTime;
    return remaining / bytesPerSecond;
}

QString TransferFigures::EtaText(qint64 seconds)
{
    if (seconds < 0)
        return QString();
    QString text = QStringLiteral("   ");
    if (seconds >= 3600)
        text += QStringLiteral("%1h:").arg(seconds / 3600);
    if (seconds >= 60)
        text += QStringLiteral("%1m:").arg(seconds % 3600 / 60);
    text += QStringLiteral("%1s").arg(seconds % 60);
    return text;
}

QString TransferFigures::SpeedText(qint64 bytesPerSecond)
{
    return QString::number(double(bytesPerSecond) / 1024.0, 'f', 1);
}
