#pragma once

#include <QString>
#include <QtGlobal>

#include "ItemPtr.h"

// The rules that decide whether another user's request for one of our files
// may join the upload queue, and where the file of an upload lies on disk.
class UploadQueuePolicy
{
public:
    enum Refusal
    {
        Accepted,
        TooManyFiles,
        TooManyMegabytes
    };

    struct Limits
    {
        bool filesEnabled = false;
        int maxFiles = 0;
        bool megabytesEnabled = false;
        int maxMegabytes = 0;
    };

    // The least each limit keeps: loaded settings are raised to them, and
    // the Options fields go no lower.
    static constexpr int LeastFiles = 10;
    static constexpr int LeastMegabytes = 50;

    // The per-user limits as the settings hold them now.
    static Limits CurrentLimits();
    // queuedFiles and queuedBytes are what the user already has queued; the
    // requested file itself is not part of them.
    static Refusal Check(const Limits& limits, int queuedFiles, qint64 queuedBytes);
    // What the peer is told, and what the log says.
    static QString ReasonText(Refusal refusal);
    static QString LogText(Refusal refusal);

    // A requested remote name in the local form that the share look-up
    // takes. It only ever serves as a key: nothing opens it.
    static QString LocalPath(const QString& requested);
    // The store's record of a shared file: empty or 0 where the shared
    // folders' types are not declared (parts of the engine run without them).
    static QString SharedFileName(ItemPtr sharedFile);
    static qint64 SharedFileSize(ItemPtr sharedFile);
    // The file an upload reads: the folder and name that the store keeps
    // for the shared file, whatever name the peer used to ask for it.
    // Empty when the shared file is gone from the store.
    static QString SharedFilePath(ItemPtr sharedFile);
};
