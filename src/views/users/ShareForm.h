#pragma once

#include <QString>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "PeerMessenger.h"
#include "ShareBrowser.h"
#include "common/SteppedSort.h"

class QEvent;
class QPoint;
class QShowEvent;
class QTextBrowser;
class ShareExport;
class Ui_ShareForm;
class TurnSlice;

// One tab of the Browse page: another user's share list as a folder tree
// beside the files of the chosen folder. It waits for the list (telling of
// a connection that cannot be formed meanwhile, or of a list refused), then
// filters, downloads files and whole folders, opens the tree level by
// level, selects a folder on request and exports the share as XML. The
// first list to arrive is the one shown; the data goes when the tab is
// closed.
//
// A large list takes a while to become its tree. Meanwhile the notice says
// how far it is, and the tree, the files and the filter stay hidden: they
// show when the tree is whole, so every folder a user can choose is whole
// and its actions act on all of it. A folder asked for meanwhile is chosen
// then.
class ShareForm : public ShareBrowser
{
    Q_OBJECT

public:
    ShareForm(QString user, QWidget* parent = nullptr);
    ~ShareForm() override;

    // The open share browser of a user item, or null.
    static ShareForm* Of(ItemPtr user);

    // Takes the user's received share; a form that already has one keeps it.
    void SetShare(ItemPtr share);
    // How far the received list is made into its share, for the notice.
    void ShowFilling(qint64 filesMade, qint64 files, qint64 folders);
    // The user's list was dropped unread; told while no list was taken.
    void ShareListRefused(PeerMessenger::ShareListRefusal why, qint64 size, qint64 bound);
    // The share shows whole.
    bool ShowsShare() const { return m_share && IsShown(); }
    // Selects the folder of that full path ("\" separators), now or once
    // the share has arrived.
    void BrowseToFolder(QString folder);
    // Releases the received share and the tab's items, then goes; called
    // once the tab is removed.
    void Delete();

    // Queues the folder's files and those of every folder below it, each
    // under the folder's name and the path from it down to the file;
    // belowChosenFolder keeps one more name above the folder's. The files
    // are read and queued a slice per event-loop turn, folders chosen one
    // after another in the order chosen.
    void DownloadFolder(ItemPtr folder, bool belowChosenFolder);
    // Files of folders chosen are still being read or queued.
    bool IsQueueingFolders() const { return !m_folderReads.empty() || !m_pendingDownloads.empty(); }
    // How long one turn may queue folder files; 0 queues one file a turn.
    void SetQueueSliceMs(int ms) { m_queueSliceMs = ms; }
    // Writes the share to the file a slice per turn, after the exports
    // asked for before; false when the file cannot be written at all. An
    // export that fails, now or later, says so in a message box.
    bool ExportToFile(QString fileName);
    // Exports are still being written.
    bool IsExporting() const { return !m_exports.empty(); }
    void OnUserShareItemRemoved(ItemPtr item);
    void SetSliceSteps(int steps) override;
    // Download Folder and Save To File over turns, for tests to count their
    // slices and steps.
    const SlicedJob& DownloadJob() const { return m_downloadJob; }
    const SlicedJob& ExportJob() const { return m_exportJob; }

    QTextBrowser* messageBrowser() const;

public slots:
    void OnConnectionToUserFailed(QString user, QString connectionType);
    void OnFileDoubleClicked(QTreeWidgetItem* item, int column);
    void OnFolderContextMenuRequested(QPoint point);
    void OnFileContextMenuRequested(QPoint point);
    void OnDownloadFolder();
    void OnDownloadFile();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void OnOwnAction(const QString& action) override;
    void Filling() override;
    void ShareShown() override;
    void StopOwnWork() override { StopWork(); }

private:
    void PostEvent(QWidget* widget);
    // The one line of the notice that follows the filling, made or changed.
    void UpdateFillingNotice();
    // The notices' box holds three lines at any font.
    void FitMessageBox();
    void ExportShare();
    bool ExportSome(TurnSlice& slice);
    void ReportExportFailure(const QString& fileName, const QString& error);
    void DownloadFiles(const QList<QTreeWidgetItem*>& rows);
    // One slice of reading chosen folders, then one of queueing their
    // files; true once none is left.
    bool DownloadSome(TurnSlice& slice);
    void ReadFolders(TurnSlice& slice);
    void AddPendingDownloads();
    // Drops the folder files not yet queued and the exports not yet whole.
    void StopWork();

    // A folder chosen for Download Folder, read a file at a time: the
    // folders still to read with their depth below the chosen one, and the
    // files of the one at hand, put in order by name.
    struct FolderRead
    {
        bool belowChosenFolder;
        std::vector<std::pair<ItemPtr, int>> folders;
        std::string path;
        int level = 0;
        bool reading = false;
        SteppedSort<std::pair<QString, ItemPtr>> files;
        size_t nextFile = 0;
    };
    std::deque<FolderRead> m_folderReads;
    // What a queued folder file needs, as values: the share's items may go
    // before its turn comes.
    struct PendingDownload
    {
        std::string name;
        std::string folder;
        qint64 size;
        int level;
    };
    std::deque<PendingDownload> m_pendingDownloads;
    // Each download costs a file check, a message and its row: tens of
    // thousands at once would hold the window for seconds.
    int m_queueSliceMs = 10;

    std::deque<std::unique_ptr<ShareExport>> m_exports;

    Ui_ShareForm* ui;
    // Turns true with the first list, even an empty one.
    bool m_received = false;
    QString m_pendingFolder;
    // The list being filled in: files made into items so far, its files and
    // folders; and the notice line that tells of it.
    qint64 m_filesMade = 0;
    qint64 m_files = 0;
    qint64 m_folders = 0;
    int m_fillingBlock = -1;
    QString m_fillingText;

    // Last, so that they are gone before what their work reads.
    SlicedJob m_downloadJob;
    SlicedJob m_exportJob;
};
