// Where the downloads of TransferQueueManager go: their local folders and
// paths inside the download folder.
#include "TransferQueueManager.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "Data.h"
#include "GeneralFunctions.h"
#include "PeerNames.h"
#include "Settings.h"
#include "TransferNames.h"

DownloadPaths::Options TransferQueueManager::DownloadPathOptions() const
{
    DownloadPaths::Options options;
    options.downloadFolder = GetSetting("download_folder");
    options.dontSplit = IsSettingOn("dont_split_downloads");
    options.flattenSingle = IsSettingOn("dont_create_subfolders_for_single_downloads");
    return options;
}

std::string TransferQueueManager::RemoteDownloadPath(ItemPtr entry) const
{
    return entry[TransferNames::RemoteFolder].AsStdString() + "\\" + entry[TransferNames::FileName].AsStdString();
}

QString TransferQueueManager::GetDownloadTargetFolder(ItemPtr entry, bool complete) const
{
    ItemPtr folder = entry[TransferNames::RemoteFolder];
    return DownloadPaths::TargetFolder(DownloadPathOptions(), bool(folder), folder.AsStdString(),
                                       entry["subfolder_save_level"].AsInt(), entry.IsConnected("single_download"),
                                       complete);
}

QString TransferQueueManager::GetDownloadTargetPath(ItemPtr entry, bool complete) const
{
    ItemPtr folder = entry[TransferNames::RemoteFolder];
    return DownloadPaths::TargetPath(DownloadPathOptions(), bool(folder), folder.AsStdString(),
                                     entry["subfolder_save_level"].AsInt(), entry.IsConnected("single_download"),
                                     entry[TransferNames::FileName].AsStdString(), complete);
}

bool TransferQueueManager::HasSafeDownloadPaths(ItemPtr entry) const
{
    return !GetDownloadTargetPath(entry, false).isEmpty() && !GetDownloadTargetPath(entry, true).isEmpty();
}

bool TransferQueueManager::IsDownloadFileComplete(ItemPtr entry) const
{
    const QString path = GetDownloadTargetPath(entry, true);
    if (path.isEmpty())
        return false;
    const QFileInfo info(DownloadPaths::Local(path));
    return info.isFile() && info.size() >= entry[PeerNames::FileSize].AsInt64();
}

QString TransferQueueManager::GetDownloadRelativeDownloadFolder(ItemPtr entry) const
{
    ItemPtr folder = entry[TransferNames::RemoteFolder];
    return DownloadPaths::RelativeFolder(bool(folder), folder.AsStdString(), entry["subfolder_save_level"].AsInt());
}

void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr entry)
{
    if (entry.IsConnected("single_download"))
        return;
    // Newest first: a folder's files finish about in the order they were
    // queued, so the walk at each finished file stops at once instead of
    // passing every file finished before it.
    Type* statusType = d.GetType(TransferNames::DownloadEntryStatus);
    const ItemPtr complete = statusType->HasItem(Value(TransferNames::Complete));
    const ItemSet inFolder = entry[TransferNames::RemoteFolder].GetItems(TransferNames::DownloadEntry);
    for (auto other = inFolder.List().rbegin(); other != inFolder.List().rend(); ++other)
        if ((*other)[statusType] != complete)
            return;
    const QString root = DownloadPaths::Local(GetSetting("download_folder"));
    QString folder = GetDownloadTargetFolder(entry, false);
    const int removals = std::max(entry["subfolder_save_level"].AsInt(), 0) + 1;
    // Each step climbs one level; the walk ends at the download folder,
    // which stays, as does everything above it.
    for (int i = 0; i < removals; ++i) {
        const QString local = DownloadPaths::Local(folder);
        if (!DownloadPaths::IsInside(local, root))
            break;
        QDir().rmdir(local);
        folder = QString::fromStdString(GetParentFolder(folder.toStdString()));
    }
}
