#pragma once

#include <QDateTime>
#include <QString>
#include <limits>

// The time rules of the engine's half-minute duties, and the time texts
// the engine stores. Times arrive as the stored texts (Qt::TextDate, local
// time) and are compared as milliseconds since the epoch; a text that is
// missing or does not parse is handled by each rule as its comment says.
class PeriodicDuties
{
public:
    // An upload that has stayed this long in a negotiation status is given up.
    static constexpr qint64 NegotiationTimeoutMs = 30000;
    // Queued downloads are sent to an online uploader again after this long.
    static constexpr qint64 QueueRequestIntervalMs = 600000;
    // Place-in-line requests to one user go out at most this often.
    static constexpr int PlaceInLineIntervalSeconds = 600;
    // "finish_uploads_and_quit" waits this long after the last upload change.
    static constexpr qint64 QuitDelayMs = 300000;

    // More than 29,999 ms since the status change; never without a time.
    static bool NegotiationTimedOut(const QString& statusChangeTime, qint64 nowMs);
    // True without a previous request, or when the last one is at least
    // ten minutes old.
    static bool QueueRequestDue(const QString& lastQueueRequestTime, qint64 nowMs);
    // True without a stored time, or once that time has come.
    static bool PlaceInLineRequestDue(const QString& nextRequestTime, qint64 nowMs);
    // Whether "finish_uploads_and_quit" ends the program now. A run without
    // any upload status change counts as long enough ago.
    static bool FinishUploadsAndQuitDue(const QString& finishSetting, const QString& lastUploadStateChange,
                                        qint64 nowMs, int activeUploads, int queuedUploads);

    // Milliseconds since the epoch of a stored text; Invalid when it is
    // empty or does not parse. This and NowText keep what they made for
    // the next call and belong to the event-loop thread.
    static qint64 ParseMSecs(const QString& text);
    static constexpr qint64 Invalid = std::numeric_limits<qint64>::min();

    static QDateTime Parse(const QString& text);
    static QString Format(const QDateTime& time);
    // The local time this many seconds from now, as stored. Turning a time
    // into local time consults the time zone each time, which a queue of
    // thousands of entries would do thousands of times a tick, so each text
    // is made once per second.
    static QString NowText(int secondsFromNow = 0);
};
