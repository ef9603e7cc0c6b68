#include "TransfersForm.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTabWidget>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "DataSaver.h"
#include "FocusHelpers.h"
#include "PeerNames.h"
#include "SelectionSweep.h"
#include "ServerNames.h"
#include "Settings.h"
#include "ShareNames.h"
#include "ShellHooks.h"
#include "SizeManager.h"
#include "TimerManager.h"
#include "TransferNames.h"
#include "TransferQueueManager.h"
#include "common/ColumnWidths.h"
#include "common/SettingBinding.h"
#include "common/ViewClock.h"
#include "ui_TransfersForm.h"

TransfersForm* transfersForm = nullptr;

namespace {

const TransferTree::Names kDownloadNames = {TransferNames::DownloadEntry, TransferNames::DownloadEntryStatus,
                                            "download_list_user_node",    "download_list_folder_node",
                                            "download_list_node",         TransferNames::RemoteFolder,
                                            TransferNames::WritePosition, TransferNames::Downloading,
                                            PeerNames::FileSize,          nullptr};

const TransferTree::Names kUploadNames = {TransferNames::UploadEntry,  TransferNames::UploadEntryStatus,
                                          "upload_list_user_node",     "upload_list_folder_node",
                                          "upload_list_node",          ShareNames::SharedFileFolder,
                                          TransferNames::ReadPosition, TransferNames::Uploading,
                                          ShareNames::SharedFileSize,  ShareNames::SharedFile};

const QVector<int> kColumnWidths = {100, 125, 125, 100, 140, 80, 40, 90, 40};
// The figures as wide as they come (a local network passes 100 MB/s).
const QStringList kColumnSamples = {QString(), QString(),     QString(),  QString(),
                                    QString(), "10h:59m:59s", "999999.9", "161,234,567"};
const int kProgressColumn = 4;
// A new tab title repaints the whole page; counts that flip with every
// small file show at most this often.
const int kTitleIntervalMs = 250;
// Rows a removal or retry of a selection takes before it looks at the
// turn's budget: a few go as the key is pressed, however busy the turn.
const int kSweepFloor = 64;

void SetColumns(QTreeWidget* tree, const QStringList& titles)
{
    tree->setHeaderLabels(titles);
    ColumnWidths::Set(tree, kColumnWidths.mid(0, titles.size()), kColumnSamples);
    // The progress bar writes its figures in bold.
    QFont bold = tree->font();
    bold.setBold(true);
    tree->setColumnWidth(kProgressColumn, qMax(tree->columnWidth(kProgressColumn),
                                               QFontMetrics(bold).horizontalAdvance("161,234,567 (100.0%)") + 12));
    tree->header()->setSectionsMovable(false);
}

const int kUnchecked = Qt::Unchecked;
const int kChecked = Qt::Checked;

} // namespace

TransfersForm::TransfersForm(QWidget* parent)
    : QWidget(parent), ui(new Ui_TransfersForm), m_downloads(kDownloadNames), m_uploads(kUploadNames),
      m_sweepJob(kSweepFloor, [this](TurnSlice& slice) { return StepSweeps(slice); })
{
    transfersForm = this;
    ui->setupUi(this);
    m_downloads.Attach(ui->downloadsList);
    m_uploads.Attach(ui->uploadsList);

    SetColumns(ui->downloadsList, {tr("User"), tr("Folder"), tr("File"), tr("Status"), tr("Progress"), tr("   ETA"),
                                   tr("Kbs"), tr("Size"), tr("Place")});
    SetColumns(ui->uploadsList, {tr("User"), tr("Folder"), tr("File"), tr("Status"), tr("Progress"), tr("   ETA"),
                                 tr("Kbs"), tr("Size")});
    ui->uploadsList->header()->setStretchLastSection(false);
    for (QTreeWidget* tree :
         {static_cast<QTreeWidget*>(ui->downloadsList), static_cast<QTreeWidget*>(ui->uploadsList)}) {
        // Every row is one line high (the bars are made to fit): the view
        // then need not measure each row when thousands are selected or laid
        // out.
        tree->setUniformRowHeights(true);
        ColumnWidths::AlignRight(tree,
                                 {TransferTree::SpeedColumn, TransferTree::SizeColumn, TransferTree::PlaceColumn});
    }

    m_titleTimer.setSingleShot(true);
    connect(&m_titleTimer, &QTimer::timeout, this, &TransfersForm::ShowActiveTransferCounts);
    connect(ui->downloadsList, &QTreeWidget::itemDoubleClicked, this, &TransfersForm::OnDownloadListItemDoubleClicked);
    connect(ui->downloadsList, &TreeWidget::KeyPressed, this, &TransfersForm::OnKeyPressedInDownloadList);
    connect(ui->uploadsList, &TreeWidget::KeyPressed, this, &TransfersForm::OnKeyPressedInUploadList);
    ui->horizontalLayout->setContentsMargins(0, 0, 0, 0);
}

TransfersForm::~TransfersForm()
{
    // The engines may be gone already (the main window deletes them
    // first); nothing here calls them.
    RemoveDataHandlers();
    // Users taken out of the view for a removal still under way go back,
    // so that the trees delete their rows.
    m_sweepJob.Stop();
    for (const auto& sweep : m_sweeps)
        sweep->GiveUp();
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    if (transfersForm == this)
        g_shellHooks.recolorTransfers = nullptr;
    delete ui;
    ui = nullptr;
    if (transfersForm == this)
        transfersForm = nullptr;
}

void TransfersForm::Init()
{
    {
        PathNode* root = new PathNode(&d, TransferNames::DownloadEntry);
        for (const char* type :
             {ServerNames::User, TransferNames::FileName, PeerNames::FileSize, TransferNames::RemoteFolder})
            new PathNode(root, type, 0);
        d.AddPathEventHandler(root,
                              new EventHandler<TransfersForm, ItemPtr>(this, &TransfersForm::OnDownloadEntryAdded));
    }
    m_downloads.Declare();

    d.AddConnectionEventHandler(
        d.GetType(TransferNames::DownloadEntry), d.GetType(TransferNames::DownloadEntryStatus),
        new EventHandler<TransfersForm, ConnectionInfo&>(this, &TransfersForm::OnDownloadEntryStatusChange));
    d.AddConnectionEventHandler(
        d.GetType(TransferNames::UploadEntry), d.GetType(TransferNames::UploadEntryStatus),
        new EventHandler<TransfersForm, ConnectionInfo&>(this, &TransfersForm::OnUploadEntryStatusChange));

    connect(transferQueueManager, &TransferQueueManager::DownloadProgressed, this, &TransfersForm::OnDownloadProgress);
    connect(transferQueueManager, &TransferQueueManager::UploadProgressed, this, &TransfersForm::OnUploadProgress);

    {
        PathNode* root = new PathNode(&d, TransferNames::UploadEntry);
        new PathNode(root, ServerNames::User, 0);
        new PathNode(root, ShareNames::SharedFile, 0);
        d.AddPathEventHandler(root, new EventHandler<TransfersForm, ItemPtr>(this, &TransfersForm::OnUploadEntryAdded));
    }
    m_uploads.Declare();

    transfersLoaded = false;
    connect(transferQueueManager, &TransferQueueManager::TransfersLoaded, this, &TransfersForm::OnTransfersLoaded);

    d.GetType(TransferNames::DownloadEntry)
        ->AddItemRemovedHandler(new EventHandler<TransfersForm, ItemPtr>(this, &TransfersForm::OnDownloadEntryRemoved));
    d.GetType(TransferNames::UploadEntry)
        ->AddItemRemovedHandler(new EventHandler<TransfersForm, ItemPtr>(this, &TransfersForm::OnUploadEntryRemoved));

    AddActionSets();
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &TransfersForm::OnActionBarTriggered);
    // The colours dialog repaints the rows through this after a save.
    g_shellHooks.recolorTransfers = [this] { RecolorEntries(); };

    {
        PathNode* online = new PathNode(&d, ServerNames::User);
        new PathNode(online, ServerNames::IsOnline, 2);
        d.AddPathEventHandler(online, new EventHandler<TransfersForm, ItemPtr>(this, &TransfersForm::OnUserOnline));
        PathNode* offline = new PathNode(&d, ServerNames::User);
        new PathNode(offline, ServerNames::IsOnline, 5);
        d.AddPathEventHandler(offline, new EventHandler<TransfersForm, ItemPtr>(this, &TransfersForm::OnUserOffline));
    }
    {
        PathNode* root = new PathNode(&d, TransferNames::DownloadEntry);
        new PathNode(root, TransferNames::PlaceInLine, 0);
        d.AddPathEventHandler(root,
                              new EventHandler<TransfersForm, ItemPtr>(this, &TransfersForm::OnDownloadPlaceInLine));
    }

    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);

    for (QTreeWidget* tree :
         {static_cast<QTreeWidget*>(ui->downloadsList), static_cast<QTreeWidget*>(ui->uploadsList)}) {
        connect(tree, &QTreeWidget::itemExpanded, this, &TransfersForm::OnItemExpanded);
        connect(tree, &QTreeWidget::itemCollapsed, this, &TransfersForm::OnItemCollapsed);
    }
    ui->downloadsList->setFocus(Qt::OtherFocusReason);
    if (timerManager)
        connect(timerManager, &QTimer::timeout, this, &TransfersForm::EveryHalfMinute);
    connect(this, &TransfersForm::DownloadComplete, this, &TransfersForm::OnDownloadComplete, Qt::QueuedConnection);
    RegisterWidgetForTabFocus(ui->downloadsList, 1);
    RegisterWidgetForTabFocus(ui->uploadsList, 1);
    DeclareAlertTypes();
    UpdateActiveTransferCounts();
}

void TransfersForm::DeclareAlertTypes()
{
    // A request to be told when a file, a folder or all downloads of a
    // user complete; the download menu makes them, completion fires them.
    Type* alert = d.NewType("complete_download_alert", 0, true, true);
    alert->RelateToType(d.GetType(TransferNames::DownloadEntry), one, one, false);
    alert->RelateToType(d.GetType(ServerNames::User), many, one, false);
    alert->RelateToType(d.GetType(TransferNames::RemoteFolder), many, one, false);
}

void TransfersForm::AddActionSets()
{
    actionBar->AddSetAction("downloads", "expand_download_folders", tr("Expand Folders"), ":/icons/folder_icon", false);
    actionBar->AddSetAction("downloads", "expand_download_users", tr("Expand Users"), ":/icons/users_icon", false);
    actionBar->AddSetAction("downloads", "clear_complete_downloads", tr("Clear Complete"), ":/icons/wipe_icon", false);
    // The list of completed downloads opens from here; the handler would
    // answer it, but nothing else offers it.
    actionBar->AddSetAction("downloads", "complete_downloads", tr("Completed Downloads"), ":/icons/downloads_icon",
                            false);
    actionBar->RegisterWidget(ui->downloadsList, "downloads");
    actionBar->SetWidgetActionText(ui->downloadsList, "expand_download_folders", tr("Expand Folders [on]"));
    actionBar->SetWidgetActionText(ui->downloadsList, "expand_download_users", tr("Expand Users [on]"));

    actionBar->AddSetAction("uploads", "expand_upload_folders", tr("Expand Folders"), ":/icons/folder_icon", false);
    actionBar->AddSetAction("uploads", "expand_upload_users", tr("Expand Users"), ":/icons/users_icon", false);
    actionBar->AddSetAction("uploads", "clear_complete_and_aborted_uploads", tr("Clear Complete and Aborted"),
                            ":/icons/wipe_icon", false);
    actionBar->AddSetAction("uploads", "finish_uploads_and_quit", tr("Finish Uploads and Quit [off]"),
                            ":/icons/shutdown_icon", false);
    actionBar->RegisterWidget(ui->uploadsList, "uploads");
    actionBar->SetWidgetActionText(ui->uploadsList, "expand_upload_folders", tr("Expand Folders [on]"));
    actionBar->SetWidgetActionText(ui->uploadsList, "expand_upload_users", tr("Expand Users [on]"));
}

void TransfersForm::DataLoaded()
{
    // Showing stored values writes nothing: the controls are connected
    // only afterwards.
    SettingBinding::ShowNumber(ui->uploadLimitSpinBox, "upload_speed_limit");
    SettingBinding::ShowNumber(ui->uploadSlotsSpinBox, "upload_slots");
    if (IsSettingOn("upload_speed_limit_enabled"))
        ui->uploadLimitCheckBox->setChecked(true);
    SettingBinding::ShowNumber(ui->downloadLimitSpinBox, "download_speed_limit");
    if (IsSettingOn("download_speed_limit_enabled"))
        ui->downloadLimitCheckBox->setChecked(true);
    if (IsSettingOn("clear_complete_downloads"))
        ui->clearDownloadsCheckBox->setChecked(true);
    if (IsSettingOn("clear_complete_aborted_uploads"))
        ui->clearUploadsCheckBox->setChecked(true);
    ConnectControls();

    if (sizeManager) {
        sizeManager->RegisterTreeWidget("download_list", ui->downloadsList);
        sizeManager->RegisterTreeWidget("upload_list", ui->uploadsList);
    }
}

void TransfersForm::ConnectControls()
{
    // A second load must not connect the controls twice.
    const auto unique = Qt::UniqueConnection;
    connect(ui->uploadLimitSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TransfersForm::OnUploadSpeedLimitSpinValueChanged, unique);
    connect(ui->uploadLimitCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnUploadSpeedLimitCheckStateChanged, unique);
    connect(ui->downloadLimitSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TransfersForm::OnDownloadSpeedLimitSpinValueChanged, unique);
    connect(ui->downloadLimitCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnDownloadSpeedLimitCheckStateChanged, unique);
    connect(ui->clearDownloadsCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearDownloadsCheckStateChanged, unique);
    connect(ui->clearUploadsCheckBox, &QCheckBox::stateChanged, this, &TransfersForm::OnClearUploadsCheckStateChanged,
            unique);
    connect(ui->uploadSlotsSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TransfersForm::OnUploadSlotsSpinValueChanged, unique);
}

void TransfersForm::OnDownloadSpeedLimitSpinValueChanged(int i_value)
{
    SpeedChosen(ui->downloadLimitCheckBox, i_value, &TransferQueueManager::SetDownloadSpeedLimit);
}

void TransfersForm::OnDownloadSpeedLimitCheckStateChanged(int i_state)
{
    LimitSwitched(i_state, &TransferQueueManager::EnableDownloadSpeedLimit);
}

void TransfersForm::OnUploadSpeedLimitSpinValueChanged(int i_value)
{
    SpeedChosen(ui->uploadLimitCheckBox, i_value, &TransferQueueManager::SetUploadSpeedLimit);
}

void TransfersForm::OnUploadSpeedLimitCheckStateChanged(int i_state)
{
    LimitSwitched(i_state, &TransferQueueManager::EnableUploadSpeedLimit);
}

void TransfersForm::SpeedChosen(QCheckBox* limitBox, int value, void (TransferQueueManager::*setLimit)(int))
{
    // Choosing a speed switches the limit on, choosing 0 switches it off;
    // the box's own slot runs at once when this changes it.
    limitBox->setChecked(value != 0);
    if (transferQueueManager)
        (transferQueueManager->*setLimit)(value);
}

void TransfersForm::LimitSwitched(int state, void (TransferQueueManager::*enableLimit)(bool))
{
    // A partly checked box asks for nothing.
    if (transferQueueManager && (state == kChecked || state == kUnchecked))
        (transferQueueManager->*enableLimit)(state == kChecked);
}

void TransfersForm::OnUploadSlotsSpinValueChanged(int i_value)
{
    if (transferQueueManager)
        transferQueueManager->SetUploadSlots(i_value);
}

void TransfersForm::OnClearDownloadsCheckStateChanged(int i_state)
{
    ClearingSwitched("clear_complete_downloads", i_state);
}

void TransfersForm::OnClearUploadsCheckStateChanged(int i_state)
{
    ClearingSwitched("clear_complete_aborted_uploads", i_state);
}

void TransfersForm::ClearingSwitched(const char* key, int state)
{
    // Off leaves the key without a value rather than writing "no".
    if (state == kChecked)
        SetSetting(key, "yes");
    else if (state == kUnchecked)
        RemoveSetting(key);
}

void TransfersForm::OnCurrentTabChanged(int) {}

void TransfersForm::UpdateActiveTransferCounts()
{
    if (m_titleTimer.isActive())
        return;
    const qint64 since = ViewClock::Now().toMSecsSinceEpoch() - m_titleChangedAt;
    if (since >= 0 && since < kTitleIntervalMs) {
        m_titleTimer.start(int(kTitleIntervalMs - since));
        return;
    }
    ShowActiveTransferCounts();
}

void TransfersForm::ShowActiveTransferCounts()
{
    if (!transferQueueManager)
        return;
    int index = -1;
    QTabWidget* tabs = GetWidgetTabWidget(this, index);
    if (!tabs)
        return;
    const QString title = tr("Transfers [%1/%2]")
                              .arg(transferQueueManager->ActiveDownloadCount())
                              .arg(transferQueueManager->ActiveUploadCount());
    // Setting a tab's text lays the whole tab bar out again, even unchanged.
    if (tabs->tabText(index) != title) {
        tabs->setTabText(index, title);
        m_titleChangedAt = ViewClock::Now().toMSecsSinceEpoch();
    }
}

void TransfersForm::SetItemColorByStatus(QTreeWidgetItem* ip_item, QString i_status)
{
    TransferTree::Paint(ip_item, i_status);
}

void TransfersForm::RecolorEntries()
{
    for (TransferTree* tree : {&m_downloads, &m_uploads}) {
        const QList<QTreeWidgetItem*> parents = tree->ParentRows();
        for (int i = 0; i < tree->Tree()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* userRow = tree->Tree()->topLevelItem(i);
            for (int j = 0; j < userRow->childCount(); ++j) {
                QTreeWidgetItem* folderRow = userRow->child(j);
                for (int k = 0; k < folderRow->childCount(); ++k) {
                    QTreeWidgetItem* fileRow = folderRow->child(k);
                    SetItemColorByStatus(fileRow, tree->StatusOf(tree->EntryOf(fileRow)));
                }
            }
        }
        for (QTreeWidgetItem* row : parents)
            tree->ShowAggregate(row);
    }
}

void TransfersForm::OnTransfersLoaded()
{
    transfersLoaded = true;
    const ItemList ordered =
        d.GetType(TransferNames::DownloadEntry)->GetItems().SortNumericBy(TransferNames::DownloadOrder, true);
    for (const ItemPtr& entry : ordered)
        if (!m_downloads.FileRow(entry) && !m_pendingDownloadSet.contains(entry.GetItemPointer())) {
            m_pendingDownloads.push_back(entry);
            m_pendingDownloadSet.insert(entry.GetItemPointer());
        }
    if (!m_buildingDownloads) {
        m_buildingDownloads = true;
        BuildPendingDownloads();
    }
}

void TransfersForm::BuildPendingDownloads()
{
    // A queue of tens of thousands of downloads would hold the window
    // still for a noticeable time if built in one go.
    const int rowsPerTurn = 2000;
    for (int made = 0; made < rowsPerTurn && m_nextPendingDownload < m_pendingDownloads.size();) {
        const ItemPtr entry = m_pendingDownloads[m_nextPendingDownload++];
        if (!m_pendingDownloadSet.remove(entry.GetItemPointer()))
            continue; // removed meanwhile
        MakeDownloadRow(entry);
        ++made;
    }
    if (m_nextPendingDownload < m_pendingDownloads.size()) {
        QMetaObject::invokeMethod(this, "BuildPendingDownloads", Qt::QueuedConnection);
        return;
    }
    m_pendingDownloads.clear();
    m_nextPendingDownload = 0;
    m_pendingDownloadSet.clear();
    m_buildingDownloads = false;
    // The rows first, then each parent's state once: summing a user's
    // entries at every one of its rows would take quadratic time.
    for (QTreeWidgetItem* row : m_downloads.ParentRows())
        m_downloads.ShowAggregate(row);
    UpdateActiveTransferCounts();
}
