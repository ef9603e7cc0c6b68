// Taking received and built share trees apart without stalling the window.
#include "SharedFoldersManager.h"

#include <algorithm>

#include "Data.h"

namespace {
// Files removed in one turn of the event loop: some 10 ms of work.
const int kFilesPerSlice = 6000;

// A folder's links to its parent and its subfolders: marker pairs that
// would otherwise stay linked to the folders on the other side.
void RemoveFolderLinks(ItemPtr folder)
{
    ItemSet markers = folder.GetItems("user_share_folder_child");
    markers.insert(folder["user_share_folder_parent"]);
    for (ItemPtr marker : markers) {
        marker["user_share_folder_parent"].Remove();
        marker["user_share_folder_child"].Remove();
        marker.Remove();
    }
}
} // namespace

void SharedFoldersManager::ReleaseShare(ItemPtr share)
{
    if (!share || std::find(releasingShares.begin(), releasingShares.end(), share) != releasingShares.end())
        return;
    share.Disconnect("user");
    releasingShares.push_back(share);
    releaseTimer.start();
}

void SharedFoldersManager::ReleaseShareSlice()
{
    Data::Batch batch(&d);
    int budget = kFilesPerSlice;
    while (budget > 0 && !releasingShares.empty()) {
        ItemPtr share = releasingShares.front();
        const ItemPtr folder = share["user_share_folder"];
        if (!folder) {
            // Its removal takes it off the list.
            share.Remove();
            continue;
        }
        for (const ItemPtr& file : folder.GetItems("user_share_file")) {
            if (budget-- <= 0)
                break;
            file.RemoveWithLoneValues(
                {"user_share_file_name", "file_size", "bitrate", "length_seconds", "bitrate_mode"});
        }
        if (!folder.IsConnected("user_share_file")) {
            RemoveFolderLinks(folder);
            folder.RemoveWithLoneValues({"user_share_folder_name"});
        }
    }
    if (!releasingShares.empty())
        releaseTimer.start();
}
