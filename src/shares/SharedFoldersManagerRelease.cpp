// Taking received and built share trees apart without stalling the window.
#include "SharedFoldersManager.h"

#include <algorithm>

#include "Data.h"
#include "TurnSlice.h"

namespace {
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
    // The caller may be in the middle of the share's own page.
    releasePass.StartNextTurn();
}

bool SharedFoldersManager::ReleaseSome(TurnSlice& slice)
{
    Data::Batch batch(&d);
    while (!releasingShares.empty() && slice.More()) {
        ItemPtr share = releasingShares.front();
        const ItemPtr folder = share["user_share_folder"];
        if (!folder) {
            // Its removal takes it off the list.
            share.Remove();
            continue;
        }
        for (const ItemPtr& file : folder.GetItems("user_share_file")) {
            if (!slice.Take())
                break;
            file.RemoveWithLoneValues(
                {"user_share_file_name", "file_size", "bitrate", "length_seconds", "bitrate_mode"});
        }
        // A folder is a step of its own: a share of empty folders is let
        // go a slice at a time too.
        if (!folder.IsConnected("user_share_file") && slice.Take()) {
            RemoveFolderLinks(folder);
            folder.RemoveWithLoneValues({"user_share_folder_name"});
        }
    }
    return releasingShares.empty();
}
