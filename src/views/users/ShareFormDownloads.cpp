// The share browser's downloads: single files, and whole folders read and
// queued a slice per turn.
#include "ShareForm.h"

#include <QElapsedTimer>
#include <QTreeWidget>
#include <algorithm>

#include "TransferQueueManager.h"
#include "TurnSlice.h"
#include "ui_ShareForm.h"

void ShareForm::DownloadFiles(const QList<QTreeWidgetItem*>& rows)
{
    if (!transferQueueManager)
        return;
    const ItemList files = FilesOf(rows);
    for (const ItemPtr& file : files)
        transferQueueManager->AddDownload(m_user, file["user_share_file_name"].AsStdString(),
                                          ShareFolderTree::FolderPath(file["user_share_folder"]),
                                          file["file_size"].AsInt64(), true, 0);
    MarkFiles(files, ":/icons/download_icon");
}

void ShareForm::OnFileDoubleClicked(QTreeWidgetItem* item, int)
{
    DownloadFiles({item});
}

void ShareForm::OnDownloadFile()
{
    DownloadFiles(ui->fileList->selectedItems());
}

void ShareForm::OnDownloadFolder()
{
    for (const ItemPtr& folder : SelectedFolders())
        DownloadFolder(folder, false);
}

void ShareForm::DownloadFolder(ItemPtr folder, bool belowChosenFolder)
{
    if (!transferQueueManager || !folder)
        return;
    FolderRead read;
    read.belowChosenFolder = belowChosenFolder;
    read.folders.emplace_back(folder, 0);
    m_folderReads.push_back(std::move(read));
    // A turn already coming takes this after the folders chosen before.
    if (m_downloadJob.IsRunning())
        return;
    // The folders being read go with the share, and the files read from
    // them but not yet queued with them.
    m_downloadJob.Over(m_share, [this] { StopWork(); });
    m_downloadJob.Start();
}

bool ShareForm::DownloadSome(TurnSlice& slice)
{
    ReadFolders(slice);
    AddPendingDownloads();
    return !IsQueueingFolders();
}

void ShareForm::ReadFolders(TurnSlice& slice)
{
    // Each file keeps the chosen folder's name and its whole path below
    // it: two albums with a "Disc 2" of their own never share a folder.
    ItemList read;
    while (!m_folderReads.empty() && transferQueueManager) {
        FolderRead& chosen = m_folderReads.front();
        if (!chosen.reading) {
            if (chosen.folders.empty()) {
                m_folderReads.pop_front();
                continue;
            }
            if (!slice.Take())
                break;
            // The folder, then its subfolders in the share's order, each
            // with everything below it before the next.
            const std::pair<ItemPtr, int> next = chosen.folders.back();
            chosen.folders.pop_back();
            const ItemList subfolders = ShareFolderTree::Subfolders(next.first);
            for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
                chosen.folders.emplace_back(*it, next.second + 1);
            chosen.path = ShareFolderTree::FolderPath(next.first);
            chosen.level = next.second + (chosen.belowChosenFolder ? 1 : 0);
            chosen.files = ShareFolderTree::FilesByName(next.first);
            chosen.nextFile = 0;
            chosen.reading = true;
        }
        if (!chosen.files.Run(slice))
            break;
        const std::vector<std::pair<QString, ItemPtr>>& files = chosen.files.Items();
        if (chosen.nextFile == files.size()) {
            chosen.reading = false;
            continue;
        }
        if (!slice.Take())
            break;
        const std::pair<QString, ItemPtr>& file = files[chosen.nextFile++];
        if (!file.second || transferQueueManager->HasExcludedDownloadExtension(file.first))
            continue;
        // The name's bytes as the peer sent them, which its text may not
        // give back.
        m_pendingDownloads.push_back({file.second["user_share_file_name"].AsStdString(), chosen.path,
                                      file.second["file_size"].AsInt64(), chosen.level});
        read.push_back(file.second);
    }
    if (!transferQueueManager)
        m_folderReads.clear();
    MarkFiles(read, ":/icons/download_icon");
}

void ShareForm::AddPendingDownloads()
{
    QElapsedTimer slice;
    slice.start();
    while (!m_pendingDownloads.empty() && transferQueueManager) {
        const PendingDownload& next = m_pendingDownloads.front();
        transferQueueManager->AddDownload(m_user, next.name, next.folder, next.size, false, next.level);
        m_pendingDownloads.pop_front();
        if (slice.elapsed() >= m_queueSliceMs)
            break;
    }
    if (!transferQueueManager)
        m_pendingDownloads.clear();
}

void ShareForm::OnFolderContextMenuRequested(QPoint point)
{
    ShowMenu(ui->folderTree, point, tr("Download Folder"), [this] { OnDownloadFolder(); });
}

void ShareForm::OnFileContextMenuRequested(QPoint point)
{
    ShowMenu(ui->fileList, point, tr("Download File(s)"), [this] { OnDownloadFile(); });
}
