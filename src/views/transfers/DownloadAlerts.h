#pragma once

#include <QList>
#include <QString>

#include "ItemPtr.h"

class TransferTree;

// Requests to be told when downloads complete: of one file, of every file
// of a user's folder, or of every download from a user. A request is a
// "complete_download_alert" item connected to what it watches (a file's
// entry; a user and a remote folder; a user alone) and marked by the alert
// icon on that row. The download menu asks what may still be requested and
// makes requests; a completed download fires the ones it satisfies.
//
// Rows are looked up in the downloads tree when needed: one that is gone
// (its entries removed, the tree rebuilt) gets no icon.
class DownloadAlerts
{
public:
    // The file is not complete and has no request yet.
    static bool CanWatchFile(ItemPtr entry);
    // No request for this user and folder yet, and one of the user's
    // downloads in the folder is still to complete.
    static bool CanWatchFolder(ItemPtr user, ItemPtr folder);
    // The user's row holds more than one folder, the user has no request
    // of its own yet, and one of the user's downloads is still to complete.
    static bool CanWatchUser(const TransferTree& tree, ItemPtr user);

    static void WatchFile(const TransferTree& tree, ItemPtr entry);
    static void WatchFolder(const TransferTree& tree, ItemPtr user, ItemPtr folder);
    static void WatchUser(const TransferTree& tree, ItemPtr user);

    // An event to raise: the text of its button and its message.
    struct Event
    {
        QString button;
        QString message;
    };
    // The requests a completed download satisfies, in the order file,
    // folder, user: each is used up (its item removed, its row's icon
    // cleared) and its event returned.
    static QList<Event> Complete(const TransferTree& tree, ItemPtr download);

    static const char* const Icon;

private:
    static bool IsComplete(ItemPtr entry);
    // Whether one of the entries, or (given a folder) one of those in that
    // folder, is still to complete.
    static bool AnyUnfinished(ItemPtr user, ItemPtr folder);
    static ItemPtr FolderAlert(ItemPtr user, ItemPtr folder);
    static ItemPtr NewAlert();
};
