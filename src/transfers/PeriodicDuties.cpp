#include "PeriodicDuties.h"

#include <QHash>
#include <QPair>

namespace {
// Stored texts repeat (one item per distinct time, shared by many users),
// so their parses are kept, up to a bound.
const int ParsedTextsKept = 4096;
} // namespace

bool PeriodicDuties::NegotiationTimedOut(const QString& statusChangeTime, qint64 nowMs)
{
    const qint64 changed = ParseMSecs(statusChangeTime);
    return changed != Invalid && nowMs - changed >= NegotiationTimeoutMs;
}

bool PeriodicDuties::QueueRequestDue(const QString& lastQueueRequestTime, qint64 nowMs)
{
    const qint64 last = ParseMSecs(lastQueueRequestTime);
    return last == Invalid || nowMs - last >= QueueRequestIntervalMs;
}

bool PeriodicDuties::PlaceInLineRequestDue(const QString& nextRequestTime, qint64 nowMs)
{
    const qint64 next = ParseMSecs(nextRequestTime);
    return next == Invalid || nowMs >= next;
}

bool PeriodicDuties::FinishUploadsAndQuitDue(const QString& finishSetting, const QString& lastUploadStateChange,
                                             qint64 nowMs, int activeUploads, int queuedUploads)
{
    if (finishSetting != QLatin1String("yes") || activeUploads != 0 || queuedUploads != 0)
        return false;
    const qint64 last = ParseMSecs(lastUploadStateChange);
    return last == Invalid || nowMs - last > QuitDelayMs;
}

qint64 PeriodicDuties::ParseMSecs(const QString& text)
{
    if (text.isEmpty())
        return Invalid;
    static QHash<QString, qint64> parsed;
    const auto found = parsed.constFind(text);
    if (found != parsed.constEnd())
        return found.value();
    const QDateTime time = QDateTime::fromString(text, Qt::TextDate);
    const qint64 msecs = time.isValid() ? time.toMSecsSinceEpoch() : Invalid;
    if (parsed.size() >= ParsedTextsKept)
        parsed.clear();
    parsed.insert(text, msecs);
    return msecs;
}

QDateTime PeriodicDuties::Parse(const QString& text)
{
    const qint64 msecs = ParseMSecs(text);
    return msecs == Invalid ? QDateTime() : QDateTime::fromMSecsSinceEpoch(msecs);
}

QString PeriodicDuties::Format(const QDateTime& time)
{
    return time.toString(Qt::TextDate);
}

QString PeriodicDuties::NowText(int secondsFromNow)
{
    // Per offset: the second it was made for, and the text.
    static QHash<int, QPair<qint64, QString>> made;
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    QPair<qint64, QString>& slot = made[secondsFromNow];
    if (slot.second.isEmpty() || slot.first != second)
        slot = qMakePair(second, Format(QDateTime::fromSecsSinceEpoch(second + secondsFromNow)));
    return slot.second;
}
