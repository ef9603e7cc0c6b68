// The rows of the two trees: made when an entry comes, following its status,
// its user's online state and its place in the remote queue, taken away
// with the entry, and what the user does to them (expand, collapse, Delete,
// double click).
#include "TransfersForm.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaObject>
#include <memory>

#include "Data.h"
#include "DownloadAlerts.h"
#include "DownloadMenuOptions.h"
#include "EventToolBar.h"
#include "GeneralFunctions.h"
#include "PeerNames.h"
#include "SelectionSweep.h"
#include "ServerNames.h"
#include "Settings.h"
#include "ShareNames.h"
#include "TransferNames.h"
#include "TransferQueueManager.h"
#include "UploadMenuOptions.h"
#include "common/LocalFiles.h"
#include "common/PeerText.h"
#include "ui_TransfersForm.h"
#include "users/UserMenuOptions.h"

void TransfersForm::OnDownloadEntryAdded(ItemPtr ip_download)
{
    // Stored downloads get their rows in queue order once the engine has
    // brought them into shape; one added while they are still being built
    // goes behind them.
    if (!transfersLoaded)
        return;
    if (m_buildingDownloads) {
        if (!m_pendingDownloadSet.contains(ip_download.GetItemPointer()) && !m_downloads.FileRow(ip_download)) {
            m_pendingDownloads.push_back(ip_download);
            m_pendingDownloadSet.insert(ip_download.GetItemPointer());
        }
        return;
    }
    MakeDownloadRow(ip_download);
}

void TransfersForm::MakeDownloadRow(ItemPtr entry)
{
    // The handler fires again when one of the four items is replaced; the
    // entry keeps the row it has.
    if (m_downloads.FileRow(entry))
        return;
    const ItemPtr user = entry[ServerNames::User];
    const ItemPtr folder = entry[TransferNames::RemoteFolder];
    if (!user || !folder)
        return;
    const ItemPtr status = entry[TransferNames::DownloadEntryStatus];
    const QString statusText = status.AsString();
    m_downloads.AddFileRow(
        entry, user, folder, ReversePathname(folder.AsString()), entry[TransferNames::FileName].AsString(),
        CommafyNumber(entry[PeerNames::FileSize].AsInt64()), expandDownloadUsers, expandDownloadFolders, statusText,
        TransferStatus::Shown(statusText, entry[TransferNames::DenialReason].AsString()));
    if (status)
        StatusChanged(m_downloads, entry, status, true);
}

void TransfersForm::OnUploadEntryAdded(ItemPtr ip_upload)
{
    if (m_uploads.FileRow(ip_upload))
        return;
    const ItemPtr user = ip_upload[ServerNames::User];
    const ItemPtr file = ip_upload[ShareNames::SharedFile];
    const ItemPtr folder = file[ShareNames::SharedFileFolder];
    if (!user || !folder)
        return;
    // An upload shows no status until its status next changes.
    m_uploads.AddFileRow(ip_upload, user, folder, ReversePathname(folder.AsString()),
                         ToQString(GetFileName(file[ShareNames::SharedFileName].AsStdString())),
                         CommafyNumber(file[ShareNames::SharedFileSize].AsInt64()), expandUploadUsers,
                         expandUploadFolders);
}

void TransfersForm::OnDownloadEntryStatusChange(ConnectionInfo& i_connection)
{
    StatusChanged(m_downloads, i_connection.item1, i_connection.item2, true);
}

void TransfersForm::OnUploadEntryStatusChange(ConnectionInfo& i_connection)
{
    StatusChanged(m_uploads, i_connection.item1, i_connection.item2, false);
}

void TransfersForm::StatusChanged(TransferTree& tree, ItemPtr entry, ItemPtr status, bool download)
{
    QTreeWidgetItem* fileRow = tree.FileRow(entry);
    if (!fileRow)
        return;
    tree.Recount(fileRow, entry);
    const QString text = status.AsString();
    SetItemColorByStatus(fileRow, text);
    // Time and speed belong to a running transfer: a denied or finished one
    // must not go on showing the last of them.
    const bool running = tree.KindOf(entry) == TransferStatus::Running;
    if (!running) {
        TransferTree::SetText(fileRow, TransferTree::EtaColumn, QString());
        TransferTree::SetText(fileRow, TransferTree::SpeedColumn, QString());
    }
    if (text == QLatin1String(TransferNames::Complete)) {
        if (download) {
            ++m_pendingCompletions[entry.GetItemPointer()];
            emit DownloadComplete(entry);
        }
        TransferTree::SetText(fileRow, TransferTree::ProgressColumn, QString());
        // Also for one restored from the data file, which never reported.
        tree.ShowFinished(fileRow, entry);
    }
    if (download)
        TransferTree::SetText(fileRow, TransferTree::PlaceColumn, QString());
    TransferTree::SetText(fileRow, TransferTree::StatusColumn,
                          TransferStatus::Shown(text, entry[TransferNames::DenialReason].AsString()));

    if (download && m_buildingDownloads)
        return;
    QTreeWidgetItem* folderRow = fileRow->parent();
    for (QTreeWidgetItem* parent : {folderRow, folderRow->parent()}) {
        tree.ShowAggregate(parent);
        if (!running && tree.Tally(parent).of[TransferStatus::Running] == 0) {
            TransferTree::SetText(parent, TransferTree::EtaColumn, QString());
            TransferTree::SetText(parent, TransferTree::SpeedColumn, QString());
        }
    }
    UpdateActiveTransferCounts();
}

void TransfersForm::OnDownloadEntryRemoved(ItemPtr ip_download)
{
    m_pendingCompletions.remove(ip_download.GetItemPointer());
    m_pendingDownloadSet.remove(ip_download.GetItemPointer());
    EntryRemoved(m_downloads, ip_download);
}

void TransfersForm::OnUploadEntryRemoved(ItemPtr ip_upload)
{
    EntryRemoved(m_uploads, ip_upload);
}

void TransfersForm::EntryRemoved(TransferTree& tree, ItemPtr entry)
{
    // An entry removed before the stored downloads got their rows has none.
    if (QTreeWidgetItem* fileRow = tree.FileRow(entry)) {
        const RowMirror::Key folderKey = tree.Rows().KeyOf(fileRow->parent());
        if (QTreeWidgetItem* userRow = tree.RemoveFileRow(entry))
            MarkStale(tree, userRow, folderKey);
    }
    // The tab title is laid out anew at every change: once for a whole
    // walk of removals.
    if (!m_countsQueued) {
        m_countsQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_countsQueued = false;
                UpdateActiveTransferCounts();
            },
            Qt::QueuedConnection);
    }
}

void TransfersForm::MarkStale(TransferTree& tree, QTreeWidgetItem* userRow, RowMirror::Key folderKey)
{
    // The rows left above a removed entry still show a state that counted
    // it. Clearing many entries at once shows each row's state once, when
    // the walk is over.
    QSet<RowMirror::Key>& stale = &tree == &m_downloads ? m_staleDownloadParents : m_staleUploadParents;
    stale.insert(tree.Rows().KeyOf(userRow));
    if (tree.Rows().Row(folderKey))
        stale.insert(folderKey);
    if (!m_refreshQueued) {
        m_refreshQueued = true;
        QMetaObject::invokeMethod(this, "RefreshStaleParents", Qt::QueuedConnection);
    }
}

void TransfersForm::RefreshStaleParents()
{
    m_refreshQueued = false;
    const QSet<RowMirror::Key> downloads = std::exchange(m_staleDownloadParents, {});
    const QSet<RowMirror::Key> uploads = std::exchange(m_staleUploadParents, {});
    for (RowMirror::Key key : downloads)
        if (QTreeWidgetItem* row = m_downloads.Rows().Row(key))
            m_downloads.ShowAggregate(row);
    for (RowMirror::Key key : uploads)
        if (QTreeWidgetItem* row = m_uploads.Rows().Row(key))
            m_uploads.ShowAggregate(row);
}

void TransfersForm::OnDownloadComplete(ItemPtr ip_download)
{
    // Delivered from the event loop: the entry may have been removed
    // since, and then its handle must not be touched.
    auto pending = m_pendingCompletions.find(ip_download.GetItemPointer());
    if (pending == m_pendingCompletions.end())
        return;
    if (--pending.value() == 0)
        m_pendingCompletions.erase(pending);

    for (const DownloadAlerts::Event& event : DownloadAlerts::Complete(m_downloads, ip_download))
        if (eventToolBar)
            eventToolBar->AddEvent(PeerText::Title(event.button), ":/icons/download_icon", ui->downloadsList,
                                   event.message, "download", false);
    if (IsSettingOn("clear_complete_downloads") && transferQueueManager)
        transferQueueManager->RemoveDownload(ip_download);
}

void TransfersForm::OnUserOnline(ItemPtr ip_user)
{
    m_downloads.SetUserIcon(ip_user, true);
    m_uploads.SetUserIcon(ip_user, true);
}

void TransfersForm::OnUserOffline(ItemPtr ip_user)
{
    m_downloads.SetUserIcon(ip_user, false);
    m_uploads.SetUserIcon(ip_user, false);
}

void TransfersForm::OnDownloadPlaceInLine(ItemPtr ip_download)
{
    if (QTreeWidgetItem* row = m_downloads.FileRow(ip_download))
        row->setText(TransferTree::PlaceColumn, ip_download[TransferNames::PlaceInLine].AsString());
}

TransferTree* TransfersForm::TreeOfRow(QTreeWidgetItem* row, TransferTree::RowKind& kind)
{
    for (TransferTree* tree : {&m_downloads, &m_uploads}) {
        kind = tree->Kind(row);
        if (kind != TransferTree::RowKind::None)
            return tree;
    }
    return nullptr;
}

void TransfersForm::OnItemExpanded(QTreeWidgetItem* ip_item)
{
    TransferTree::RowKind kind;
    TransferTree* tree = TreeOfRow(ip_item, kind);
    if (tree && (kind == TransferTree::RowKind::User || kind == TransferTree::RowKind::Folder))
        tree->ClearParentFigures(ip_item);
}

void TransfersForm::OnItemCollapsed(QTreeWidgetItem* ip_item)
{
    TransferTree::RowKind kind;
    TransferTree* tree = TreeOfRow(ip_item, kind);
    if (tree && (kind == TransferTree::RowKind::User || kind == TransferTree::RowKind::Folder))
        ip_item->setText(TransferTree::StatusColumn, tree->Aggregate(ip_item));
}

void TransfersForm::OnKeyPressedInDownloadList(QKeyEvent* ip_event)
{
    if (ip_event->key() == Qt::Key_Delete)
        DeleteSelectedDownloads();
}

void TransfersForm::OnKeyPressedInUploadList(QKeyEvent* ip_event)
{
    if (ip_event->key() == Qt::Key_Delete)
        DeleteSelectedUploads();
}

void TransfersForm::DeleteSelectedDownloads()
{
    DeleteSelected(m_downloads, true);
}

void TransfersForm::DeleteSelectedUploads()
{
    DeleteSelected(m_uploads, false);
}

void TransfersForm::RetrySelectedDownloads()
{
    Sweep(m_downloads, m_downloads.SelectedTops(), SelectionSweep::Order::Tree, [](ItemPtr entry) {
        if (transferQueueManager)
            transferQueueManager->RequeueDownload(entry);
    });
}

void TransfersForm::DeleteSelected(TransferTree& tree, bool download)
{
    // A user row and a file row below it may both be selected: only the
    // rows below no other selected row are taken, each standing for all of
    // its entries.
    std::vector<RowMirror::Key> rows = tree.SelectedTops();
    // A selection of thousands would be cut down row by row as the rows
    // go, and a current row among them would move on to its neighbour at
    // every removal, each time walking the view's rows. Letting go of it
    // the usual way costs the tree widget as much as selecting did (it
    // visits every cell of every row once more): it is dropped without that
    // news, the current row kept unless it goes, and the view repainted.
    // (A row's own selected flag may stay set; the page reads the view's.)
    QTreeWidget* view = tree.Tree();
    QItemSelectionModel* selection = view->selectionModel();
    const QPersistentModelIndex current =
        selection->isSelected(selection->currentIndex()) ? QModelIndex() : selection->currentIndex();
    {
        const QSignalBlocker quiet(selection);
        selection->reset();
        selection->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    }
    view->viewport()->update();

    // A selected user goes whole: it leaves the view first, in one notice,
    // and the rows below are then taken away out of its sight, instead of
    // each one making the view update what it shows. Any that stays (a
    // removal refused, a transfer added since) comes back at the end.
    QSet<const QTreeWidgetItem*> whole;
    for (const RowMirror::Key key : rows)
        if (QTreeWidgetItem* row = tree.Rows().Row(key); tree.Kind(row) == TransferTree::RowKind::User)
            whole.insert(row);
    QList<QPair<int, RowMirror::Key>> taken;
    for (int i = view->topLevelItemCount() - 1; i >= 0 && !whole.isEmpty(); --i)
        if (whole.remove(view->topLevelItem(i))) {
            taken.prepend({i, tree.Rows().KeyOf(view->topLevelItem(i))});
            view->takeTopLevelItem(i);
        }
    const bool expandUsers = download ? expandDownloadUsers : expandUploadUsers;
    const bool expandFolders = download ? expandDownloadFolders : expandUploadFolders;
    auto putBack = [&tree, taken, expandUsers, expandFolders] {
        QTreeWidget* view = tree.Tree();
        for (const auto& place : taken)
            if (QTreeWidgetItem* userRow = tree.Rows().Row(place.second)) {
                view->insertTopLevelItem(qMin(place.first, view->topLevelItemCount()), userRow);
                userRow->setExpanded(expandUsers);
                for (int f = 0; f < userRow->childCount(); ++f)
                    userRow->child(f)->setExpanded(expandFolders);
            }
    };
    Sweep(
        tree, std::move(rows), SelectionSweep::Order::FromTheBack,
        [download](ItemPtr entry) { RemoveOne(entry, download); }, putBack);
}

void TransfersForm::Sweep(const TransferTree& tree, std::vector<RowMirror::Key> rows, SelectionSweep::Order order,
                          std::function<void(ItemPtr)> act, std::function<void()> finished)
{
    m_sweeps.push_back(
        std::make_unique<SelectionSweep>(tree, std::move(rows), order, std::move(act), std::move(finished)));
    // With none before it, its first slice is done at once: a few rows go
    // as the key is pressed.
    if (!m_sweepJob.IsRunning())
        m_sweepJob.Start();
}

bool TransfersForm::StepSweeps(TurnSlice& slice)
{
    while (!m_sweeps.empty() && m_sweeps.front()->Step(slice))
        m_sweeps.pop_front();
    return m_sweeps.empty();
}

void TransfersForm::RemoveOne(ItemPtr entry, bool download)
{
    if (!transferQueueManager)
        return;
    if (download)
        transferQueueManager->RemoveDownload(entry);
    else
        transferQueueManager->RemoveUpload(entry);
}

void TransfersForm::RemoveEach(const ItemList& entries, bool downloads)
{
    if (!transferQueueManager)
        return;
    // Removed items stay readable until the batch ends, so an entry that
    // an earlier removal took along is seen as removed and passed over.
    Data::Batch batch(&d);
    for (const ItemPtr& entry : entries)
        if (!entry.IsRemoved())
            RemoveOne(entry, downloads);
}

void TransfersForm::OnDownloadListItemDoubleClicked(QTreeWidgetItem* ip_item, int)
{
    const ItemPtr entry = m_downloads.EntryOf(ip_item);
    if (!entry || !transferQueueManager)
        return;
    // Where the finished file lies, also while it is still downloading;
    // no path when the entry's name would lead outside the download folder.
    OpenLocalPath(transferQueueManager->GetDownloadTargetPath(entry, true));
}

// The menus: the view's own entries first; the per-user entries of the
// user menu follow them when the selection belongs to exactly one user
// (selection.users). The options objects keep the first entry (and the
// user's name) across the menu's event loop, never the rows; what retry
// and remove act on is read from the selection when they are chosen.

namespace {

UserMenuOptions* SoleUserOptions(QMenu* menu, const QSet<QString>& users)
{
    return users.size() == 1 ? new UserMenuOptions(menu, *users.constBegin(), nullptr) : nullptr;
}

} // namespace

void TransfersForm::OnDownloadsContextMenuRequested(QPoint i_point)
{
    if (!ui->downloadsList->selectionModel()->hasSelection())
        return;
    const TransferTree::MenuSelection selection = m_downloads.Selection();
    QMenu menu;
    DownloadMenuOptions options(&menu, selection);
    connect(&options, &DownloadMenuOptions::RetryChosen, this, &TransfersForm::RetrySelectedDownloads);
    connect(&options, &DownloadMenuOptions::RemoveChosen, this, &TransfersForm::DeleteSelectedDownloads);
    std::unique_ptr<UserMenuOptions> userOptions(SoleUserOptions(&menu, selection.users));
    if (!menu.isEmpty())
        menu.exec(ui->downloadsList->viewport()->mapToGlobal(i_point));
}

void TransfersForm::OnUploadsContextMenuRequested(QPoint i_point)
{
    if (!ui->uploadsList->selectionModel()->hasSelection())
        return;
    const TransferTree::MenuSelection selection = m_uploads.Selection();
    QMenu menu;
    UploadMenuOptions options(&menu, selection);
    connect(&options, &UploadMenuOptions::RemoveChosen, this, &TransfersForm::DeleteSelectedUploads);
    std::unique_ptr<UserMenuOptions> userOptions(SoleUserOptions(&menu, selection.users));
    if (!menu.isEmpty())
        menu.exec(ui->uploadsList->viewport()->mapToGlobal(i_point));
}

QTreeWidgetItem* TransfersForm::GetDownloadNodeUserNode(QTreeWidgetItem* ip_row)
{
    return m_downloads.UserRowOf(ip_row);
}

QTreeWidgetItem* TransfersForm::GetUploadNodeUserNode(QTreeWidgetItem* ip_row)
{
    return m_uploads.UserRowOf(ip_row);
}

ItemSet TransfersForm::GetNodeDownloadEntryItems(QTreeWidgetItem* ip_row)
{
    return m_downloads.Entries(ip_row);
}

ItemSet TransfersForm::GetNodeUploadEntryItems(QTreeWidgetItem* ip_row)
{
    return m_uploads.Entries(ip_row);
}

QString TransfersForm::GetDownloadEntriesAggregateStatus(ItemSet& i_entries)
{
    return m_downloads.Aggregate(i_entries);
}

QString TransfersForm::GetUploadEntriesAggregateStatus(ItemSet& i_entries)
{
    return m_uploads.Aggregate(i_entries);
}
