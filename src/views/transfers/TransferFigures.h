#pragma once

#include <QString>
#include <QtGlobal>

#include "TransferStatus.h"

// The progress figures of the transfer rows: bytes done and percentage,
// time to completion and speed, for one transfer or summed over the
// transfers below a user or folder row. Plain functions, called at every
// progress report and by tests directly.
class TransferFigures
{
public:
    // Sums over a set of transfers. A complete transfer counts its whole
    // size as done; a running, queued or aborted one its position; any
    // other state counts nothing, not even its size.
    struct Sums
    {
        qint64 done = 0;
        qint64 remaining = 0;
        qint64 total = 0;
        void Add(TransferStatus::Kind kind, qint64 position, qint64 size);
    };

    // Percent of total done, from 0 to 100. Nothing to transfer (a file of
    // size 0) is all done; a position beyond the size is 100.
    static double Percent(qint64 done, qint64 total);
    // "1,234 (12.5%)"; the bar shows the text and the percent cut to an
    // integer.
    static QString ProgressText(qint64 done, double percent);
    // Whole seconds for the remaining bytes at the speed; 0 when nothing
    // remains, and NoTime while bytes remain and nothing moves: no figure
    // can be given then, and 0 would read as finishing now.
    static constexpr qint64 NoTime = -1;
    static qint64 SecondsLeft(qint64 remaining, qint64 bytesPerSecond);
    // Three blanks, then hours, minutes and seconds: "   1h:2m:5s",
    // "   1m:0s", "   59s"; nothing for NoTime.
    static QString EtaText(qint64 seconds);
    // Kibibytes per second with one decimal.
    static QString SpeedText(qint64 bytesPerSecond);
};
