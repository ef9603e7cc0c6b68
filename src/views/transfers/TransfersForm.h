#pragma once

#include <QHash>
#include <QSet>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>

#include "DataHandler.h"
#include "DataLoadedEventHandler.h"
#include "EventHandler.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "SelectionSweep.h"
#include "SlicedJob.h"
#include "TransferTree.h"

class QCheckBox;
class TurnSlice;
class QKeyEvent;
class TransferQueueManager;
class QPoint;
class QTreeWidgetItem;
class Ui_TransfersForm;

// The Transfers page: the engine's downloads and uploads as two trees of
// user, folder and file rows with their status, colours and progress, the
// speed-limit, slot and clearing controls under them, the page's toolbar
// actions and the half-minute pruning of stale uploads. Built by the main
// window's form before any engine exists; Init wires it once the transfer
// engine is there, DataLoaded fills the controls, and the engine's
// TransfersLoaded brings the stored downloads in.
//
// The rows follow the store: path handlers make them, connection handlers
// follow status changes, removal handlers take them away; only progress
// comes by the engine's signals. Across a nested event loop the page keeps
// items or row keys, never rows.
class TransfersForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit TransfersForm(QWidget* parent = nullptr);
    ~TransfersForm() override;

    void Init();
    void DataLoaded() override;

    // Colours a row's texts by a status text (see TransferStatus::ColorKey).
    static void SetItemColorByStatus(QTreeWidgetItem* ip_item, QString i_status);

    // Rows and their entries, for the page and its menus.
    QTreeWidgetItem* GetDownloadNodeUserNode(QTreeWidgetItem* ip_row);
    QTreeWidgetItem* GetUploadNodeUserNode(QTreeWidgetItem* ip_row);
    ItemSet GetNodeDownloadEntryItems(QTreeWidgetItem* ip_row);
    ItemSet GetNodeUploadEntryItems(QTreeWidgetItem* ip_row);
    QString GetDownloadEntriesAggregateStatus(ItemSet& i_entries);
    QString GetUploadEntriesAggregateStatus(ItemSet& i_entries);
    void GetDownloadsProgressStats(ItemSet& i_entries, qint64& o_done, qint64& o_remaining, qint64& o_total);
    void GetUploadsProgressStats(ItemSet& i_entries, qint64& o_done, qint64& o_remaining, qint64& o_total);
    // Remove (Delete key, menu) or retry (menu) every entry below the
    // selected rows: at once for a few, a slice per turn of the event loop
    // for many.
    void DeleteSelectedDownloads();
    void DeleteSelectedUploads();
    void RetrySelectedDownloads();
    // The downloads tree, for the download menu and its alerts.
    const TransferTree& DownloadTree() const { return m_downloads; }
    // The removals and retries of selections under way, a slice a turn.
    SlicedJob& SweepJob() { return m_sweepJob; }

signals:
    void DownloadComplete(ItemPtr i_download);

public slots:
    void OnDownloadProgress(ItemPtr ip_download);
    void OnUploadProgress(ItemPtr ip_upload);
    void OnTransfersLoaded();
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);
    void OnUserOnline(ItemPtr ip_user);
    void OnUserOffline(ItemPtr ip_user);
    void OnUploadSpeedLimitCheckStateChanged(int i_state);
    void OnUploadSpeedLimitSpinValueChanged(int i_value);
    void OnUploadSlotsSpinValueChanged(int i_value);
    void OnDownloadSpeedLimitCheckStateChanged(int i_state);
    void OnDownloadSpeedLimitSpinValueChanged(int i_value);
    void OnDownloadsContextMenuRequested(QPoint i_point);
    void OnUploadsContextMenuRequested(QPoint i_point);
    void OnItemExpanded(QTreeWidgetItem* ip_item);
    void OnItemCollapsed(QTreeWidgetItem* ip_item);
    void OnCurrentTabChanged(int i_tab);
    void OnClearDownloadsCheckStateChanged(int i_state);
    void OnClearUploadsCheckStateChanged(int i_state);
    void EveryHalfMinute();
    void OnDownloadComplete(ItemPtr ip_download);
    void OnDownloadListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnKeyPressedInDownloadList(QKeyEvent* ip_event);
    void OnKeyPressedInUploadList(QKeyEvent* ip_event);
    void RecolorEntries();
    void UpdateActiveTransferCounts();

private slots:
    // Parents whose entries went: their status and colour, once per turn
    // of the event loop however many entries went.
    void RefreshStaleParents();
    // The next rows of the stored downloads, a bounded number per turn of
    // the event loop, then each parent's state once.
    void BuildPendingDownloads();
    void ShowActiveTransferCounts();

private:
    // Store handlers.
    void OnDownloadEntryAdded(ItemPtr ip_download);
    void OnUploadEntryAdded(ItemPtr ip_upload);
    void OnDownloadEntryStatusChange(ConnectionInfo& i_connection);
    void OnUploadEntryStatusChange(ConnectionInfo& i_connection);
    void OnDownloadEntryRemoved(ItemPtr ip_download);
    void OnUploadEntryRemoved(ItemPtr ip_upload);
    void OnDownloadPlaceInLine(ItemPtr ip_download);
    void MakeDownloadRow(ItemPtr entry);

    void DeclareAlertTypes();
    void AddActionSets();
    void ConnectControls();
    void SpeedChosen(QCheckBox* limitBox, int value, void (TransferQueueManager::*setLimit)(int));
    void LimitSwitched(int state, void (TransferQueueManager::*enableLimit)(bool));
    static void ClearingSwitched(const char* key, int state);

    // The work both trees share.
    void StatusChanged(TransferTree& tree, ItemPtr entry, ItemPtr status, bool download);
    void EntryRemoved(TransferTree& tree, ItemPtr entry);
    void Progressed(TransferTree& tree, ItemPtr entry);
    void DeleteSelected(TransferTree& tree, bool download);
    void Sweep(const TransferTree& tree, std::vector<RowMirror::Key> rows, SelectionSweep::Order order,
               std::function<void(ItemPtr)> act, std::function<void()> finished = {});
    // The next slice of the sweeps waiting, the first first; true when none
    // is left.
    bool StepSweeps(TurnSlice& slice);
    TransferTree* TreeOfRow(QTreeWidgetItem* row, TransferTree::RowKind& kind);
    void MarkStale(TransferTree& tree, QTreeWidgetItem* userRow, RowMirror::Key folderKey);
    // Hands one entry to the engine for removal.
    static void RemoveOne(ItemPtr entry, bool download);
    // Removes each entry of the list once, passing over any that an
    // earlier removal of the same walk took along.
    static void RemoveEach(const ItemList& entries, bool downloads);

    // The page's toolbar actions.
    void ToggleExpansion(TransferTree& tree, bool users);
    void ClearCompleteDownloads();
    void ClearCompleteAndAbortedUploads();
    void ToggleFinishUploadsAndQuit();
    void ShowCompleteDownloads();
    void AddSelectedUsersToUserList();

    Ui_TransfersForm* ui;
    TransferTree m_downloads;
    TransferTree m_uploads;
    bool transfersLoaded = false;
    bool expandDownloadFolders = true;
    bool expandDownloadUsers = true;
    bool expandUploadFolders = true;
    bool expandUploadUsers = true;
    // While the stored downloads are brought in, parents are summed once
    // at the end instead of at every row, and downloads added meanwhile
    // wait their turn behind them.
    bool m_buildingDownloads = false;
    ItemList m_pendingDownloads;
    size_t m_nextPendingDownload = 0;
    // Pending entries not removed since.
    QSet<const void*> m_pendingDownloadSet;
    // Parent rows (by key) to refresh at the next turn of the event loop.
    QSet<RowMirror::Key> m_staleDownloadParents;
    QSet<RowMirror::Key> m_staleUploadParents;
    bool m_refreshQueued = false;
    // Removals and retries of selections, done in the order chosen.
    std::deque<std::unique_ptr<SelectionSweep>> m_sweeps;
    SlicedJob m_sweepJob;
    bool m_countsQueued = false;
    // Completions emitted and not yet handled, by entry: a queued
    // completion of an entry removed meanwhile finds none and does nothing.
    QHash<const void*, int> m_pendingCompletions;
    // When the tab title last changed (view clock), and the timer that
    // shows the counts of changes that came sooner after it.
    qint64 m_titleChangedAt = 0;
    QTimer m_titleTimer;
};

extern TransfersForm* transfersForm;
