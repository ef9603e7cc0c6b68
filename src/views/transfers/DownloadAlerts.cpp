#include "DownloadAlerts.h"

#include <QIcon>
#include <QTreeWidgetItem>

#include "Data.h"
#include "GeneralFunctions.h"
#include "ServerNames.h"
#include "TransferNames.h"
#include "TransferTree.h"

const char* const DownloadAlerts::Icon = ":/icons/alert_icon";

namespace {

const char* const kAlert = "complete_download_alert";

void MarkRow(QTreeWidgetItem* row, int column, bool on)
{
    // A row that went meanwhile has nothing to mark.
    if (row)
        row->setIcon(column, on ? QIcon(DownloadAlerts::Icon) : QIcon());
}

} // namespace

bool DownloadAlerts::IsComplete(ItemPtr entry)
{
    return entry[TransferNames::DownloadEntryStatus].AsString() == QLatin1String(TransferNames::Complete);
}

bool DownloadAlerts::AnyUnfinished(ItemPtr user, ItemPtr folder)
{
    if (!folder) {
        for (const ItemPtr& entry : user.GetItems(TransferNames::DownloadEntry))
            if (!IsComplete(entry))
                return true;
        return false;
    }
    // The user's downloads in the folder: walk the shorter of the two lists.
    const ItemSet ofUser = user.GetItems(TransferNames::DownloadEntry);
    const ItemSet inFolder = folder.GetItems(TransferNames::DownloadEntry);
    const bool byFolder = inFolder.size() <= ofUser.size();
    for (const ItemPtr& entry : byFolder ? inFolder : ofUser) {
        const bool matches = byFolder ? entry[ServerNames::User] == user : entry[TransferNames::RemoteFolder] == folder;
        if (matches && !IsComplete(entry))
            return true;
    }
    return false;
}

ItemPtr DownloadAlerts::FolderAlert(ItemPtr user, ItemPtr folder)
{
    for (const ItemPtr& alert : folder.GetItems(kAlert))
        if (alert[ServerNames::User] == user)
            return alert;
    return ItemPtr();
}

ItemPtr DownloadAlerts::NewAlert()
{
    return d.GetType(kAlert)->NewItem();
}

bool DownloadAlerts::CanWatchFile(ItemPtr entry)
{
    return entry && !entry[kAlert] && !IsComplete(entry);
}

bool DownloadAlerts::CanWatchFolder(ItemPtr user, ItemPtr folder)
{
    return user && folder && !FolderAlert(user, folder) && AnyUnfinished(user, folder);
}

bool DownloadAlerts::CanWatchUser(const TransferTree& tree, ItemPtr user)
{
    if (!user)
        return false;
    const QTreeWidgetItem* row = tree.UserRow(user);
    if (!row || row->childCount() <= 1)
        return false;
    if (!user.GetItems(kAlert).NotConnected(TransferNames::RemoteFolder).empty())
        return false;
    return AnyUnfinished(user, ItemPtr());
}

void DownloadAlerts::WatchFile(const TransferTree& tree, ItemPtr entry)
{
    MarkRow(tree.FileRow(entry), TransferTree::FileColumn, true);
    NewAlert().Connect(entry);
}

void DownloadAlerts::WatchFolder(const TransferTree& tree, ItemPtr user, ItemPtr folder)
{
    MarkRow(tree.FolderRow(user, folder), TransferTree::FolderColumn, true);
    ItemPtr alert = NewAlert();
    alert.Connect(user);
    alert.Connect(folder);
}

void DownloadAlerts::WatchUser(const TransferTree& tree, ItemPtr user)
{
    MarkRow(tree.UserRow(user), TransferTree::UserColumn, true);
    NewAlert().Connect(user);
}

QList<DownloadAlerts::Event> DownloadAlerts::Complete(const TransferTree& tree, ItemPtr download)
{
    QList<Event> events;
    const ItemPtr user = download[ServerNames::User];
    const ItemPtr folder = download[TransferNames::RemoteFolder];

    if (ItemPtr alert = download[kAlert]) {
        const QString name = download[TransferNames::FileName].AsString();
        events << Event{name, QObject::tr("Download of file %1 complete").arg(name)};
        MarkRow(tree.FileRow(download), TransferTree::FileColumn, false);
        alert.Remove();
    }

    // The requests are looked for first: the scan of the user's downloads
    // runs only for a completion that someone waits for.
    if (ItemPtr alert = FolderAlert(user, folder)) {
        if (!AnyUnfinished(user, folder)) {
            const QString name = ToQString(GetFileName(folder.AsStdString()));
            events << Event{name, QObject::tr("Download of folder %1 complete").arg(name)};
            MarkRow(tree.FolderRow(user, folder), TransferTree::FolderColumn, false);
            alert.Remove();
        }
    }

    const ItemSet userAlerts = user.GetItems(kAlert).NotConnected(TransferNames::RemoteFolder);
    if (!userAlerts.empty() && !AnyUnfinished(user, ItemPtr())) {
        const QString name = user.AsString();
        events << Event{name, QObject::tr("All download from user %1 complete").arg(name)};
        MarkRow(tree.UserRow(user), TransferTree::UserColumn, false);
        userAlerts.Remove();
    }
    return events;
}
