#pragma once

#include <QColor>
#include <QString>

// The status texts of transfers as the trees show, sum and colour them.
// Plain functions: the rows call them for every status change and every
// progress report, and tests call them directly.
class TransferStatus
{
public:
    // What a status counts as. Running is "downloading" in the downloads
    // tree and "uploading" in the uploads tree; Other is every state that
    // is neither of the named ones ("requesting", "connecting", "local
    // error", the other direction's running word, ...).
    enum Kind
    {
        Running,
        Queued,
        Complete,
        Denied,
        Aborted,
        Other,
        KindCount
    };

    static Kind KindOf(const QString& status, const QString& runningWord);

    // How many entries below a row are of each kind.
    struct Counts
    {
        int of[KindCount] = {};
        int total = 0;
        void Add(Kind kind)
        {
            ++of[kind];
            ++total;
        }
        void Remove(Kind kind)
        {
            --of[kind];
            --total;
        }
    };

    // The state a user or folder row shows for the entries below it: the
    // running word, else "queued", else "complete" when all are complete
    // (so also for none), else "denied", else "aborted", else empty.
    static QString Aggregate(const Counts& counts, const QString& runningWord);

    // The status column of a file row: the state in lower case, or for a
    // denied transfer the uploader's reason in lower case.
    static QString Shown(const QString& status, const QString& denialReason);

    // The colour setting of a status text.
    static const char* ColorKey(const QString& status);
    // The colour of a status: its setting's colour name. A name that is
    // not a colour falls back to the "other" setting, and that to black.
    static QColor Color(const QString& status);
};
