#include "ShareForm.h"

#include <QIcon>
#include <QMenu>
#include <QUrlQuery>
#include <utility>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "EventToolBar.h"
#include "NetworkHosts.h"
#include "PeerMessenger.h"
#include "Settings.h"
#include "ShareFolderTree.h"
#include "SharedFoldersManager.h"
#include "TransferQueueManager.h"
#include "search/FilterHelpDialog.h"
#include "ui_ShareForm.h"

ShareForm::ShareForm(QString user, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_ShareForm)
    , m_user(user)
{
    ui->setupUi(this);
    m_tree.reset(new ShareFolderTree(this, ui->folderTree, ui->fileList));
    ui->folderTree->setExpandsOnDoubleClick(true);
    for (QWidget* hidden : {static_cast<QWidget*>(ui->folderTree), static_cast<QWidget*>(ui->fileList),
                            static_cast<QWidget*>(ui->filterEdit), static_cast<QWidget*>(ui->filterHelpButton)})
        hidden->hide();
    if (actionBar) {
        actionBar->RegisterWidget(this, "share_folders");
        // A set without actions: the file list shows none.
        actionBar->RegisterWidget(ui->fileList, "share_files");
    }

    d.GetType("user_share_tab")->GetItem(Value(this)) += d.GetType("user")->GetItem(Value(user));
    ui->messageBrowser->append(tr("Requesting file list..."));
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this, &ShareForm::OnConnectionToUserFailed);
}

ShareForm::~ShareForm()
{
    // The tab item names this object's address: it must not outlive it.
    if (Type* tabs = d.HasType("user_share_tab")) {
        if (ItemPtr tab = tabs->HasItem(Value(this)))
            tab.Remove();
    }
    m_tree.reset();
    delete ui;
}

ShareForm* ShareForm::Of(ItemPtr user)
{
    const ItemPtr tab = user["user_share_tab"];
    return tab ? tab.AsObject<ShareForm>() : nullptr;
}

QTreeWidget* ShareForm::folderTree() const
{
    return ui->folderTree;
}

QTreeWidget* ShareForm::fileList() const
{
    return ui->fileList;
}

QLineEdit* ShareForm::filterEdit() const
{
    return ui->filterEdit;
}

QTextBrowser* ShareForm::messageBrowser() const
{
    return ui->messageBrowser;
}

// ---------------------------------------------------------------------------
// The share arrives, or cannot

void ShareForm::PostEvent(QWidget* widget)
{
    if (eventToolBar)
        eventToolBar->AddEvent(m_user, ":/icons/browse_icon", widget, QString(), "browse", false);
}

void ShareForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(ui->folderTree);
}

void ShareForm::OnConnectionToUserFailed(QString user, QString connectionType)
{
    if (m_received || user != m_user || connectionType != QLatin1String("P"))
        return;
    QUrl page = NetworkHosts::WebUrl("porttest.php");
    QUrlQuery query;
    query.addQueryItem("port", GetSetting("listening_port"));
    page.setQuery(query);
    ui->messageBrowser->append(tr("A connection could not be successfully formed to the user. If this is happening "
                                  "to you a lot, <a href=\"%1\">Check here</a> to make sure that your port is open")
                                   .arg(page.toString(QUrl::FullyEncoded).toHtmlEscaped()));
    PostEvent(ui->messageBrowser);
}

void ShareForm::SetShare(ItemPtr share)
{
    // A repeated list: the share on screen stays as it is.
    if (m_received)
        return;
    m_received = true;
    m_share = share;
    d.GetType("user_share")
        ->AddItemRemovedHandler(new EventHandler<ShareForm, ItemPtr>(this, &ShareForm::OnUserShareItemRemoved));
    if (!share.IsConnected("user_share_folder")) {
        ui->messageBrowser->append(tr("No files returned. The user is either not sharing any files, or is sharing "
                                      "all of their files privately."));
        PostEvent(ui->messageBrowser);
        return;
    }

    m_tree->Build(share, ShareFolderTree::FolderOrder::IgnoringCase);
    if (GetSetting("expand_new_shares") == QLatin1String("yes"))
        ui->folderTree->expandAll();
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ShareForm::OnActionBarTriggered);
    m_tree->ResetExpandLevel();

    ui->messageBrowser->hide();
    for (QWidget* shown : {static_cast<QWidget*>(ui->folderTree), static_cast<QWidget*>(ui->fileList),
                           static_cast<QWidget*>(ui->filterEdit), static_cast<QWidget*>(ui->filterHelpButton)})
        shown->show();
    PostEvent(ui->folderTree);
    connect(ui->fileList, &QTreeWidget::itemDoubleClicked, this, &ShareForm::OnFileDoubleClicked);
    if (!m_pendingFolder.isEmpty())
        BrowseToFolder(std::exchange(m_pendingFolder, QString()));
}

void ShareForm::OnUserShareItemRemoved(ItemPtr item)
{
    if (item == m_share)
        m_share = ItemPtr();
}

void ShareForm::BrowseToFolder(QString folder)
{
    if (!m_share) {
        if (!m_received)
            m_pendingFolder = folder;
        return;
    }
    // Never made here: the path may be anything a search result named.
    const ItemPtr name = d.GetType("user_share_folder_name")->HasItem(Value(folder));
    const ItemPtr shareFolder = name ? d.GetItem(name, m_share, "user_share_folder") : ItemPtr();
    if (QTreeWidgetItem* node = m_tree->NodeOf(shareFolder))
        m_tree->Select(node);
}

void ShareForm::Delete()
{
    m_share = ItemPtr();
    // Rows and their nodes in one go, before the data they show; the data
    // goes a slice at a time, a share of any size without a pause.
    m_tree->Clear();
    if (sharedFoldersManager)
        sharedFoldersManager->ReleaseShare(d.GetType("user")->GetItem(Value(m_user))["user_share"]);
    if (ItemPtr tab = d.GetType("user_share_tab")->HasItem(Value(this)))
        tab.Remove();
    deleteLater();
}

// ---------------------------------------------------------------------------
// Folders, files and the filter

void ShareForm::OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem*)
{
    m_tree->ShowFiles(current, ui->filterEdit->text());
}

void ShareForm::OnFilterTextChanged(QString text)
{
    m_tree->Filter(text);
}

void ShareForm::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}

// ---------------------------------------------------------------------------
// Toolbar

void ShareForm::OnActionBarTriggered(QWidget* widget, QString action)
{
    if (widget != this)
        return;
    if (action == QLatin1String("expand_level"))
        ExpandLevel();
    else if (action == QLatin1String("collapse_all"))
        CollapseAll();
    else if (action == QLatin1String("expand_all"))
        ExpandAll();
    else if (action == QLatin1String("save_to_file"))
        ExportShare();
}

void ShareForm::ExpandLevel()
{
    m_tree->ExpandOneLevel();
}

void ShareForm::ExpandAll()
{
    m_tree->ExpandAll();
}

void ShareForm::CollapseAll()
{
    m_tree->CollapseAll();
}

// ---------------------------------------------------------------------------
// Downloads

void ShareForm::DownloadFiles(const QList<QTreeWidgetItem*>& rows)
{
    if (!transferQueueManager)
        return;
    ItemList files;
    for (const QTreeWidgetItem* row : rows) {
        if (const ItemPtr file = m_tree->FileOf(row))
            files.push_back(file);
    }
    // Rows are found again from their files once all are queued.
    for (const ItemPtr& file : files)
        transferQueueManager->AddDownload(m_user, file["user_share_file_name"].AsStdString(),
                                          ShareFolderTree::FolderPath(file["user_share_folder"]),
                                          file["file_size"].AsInt64(), true, 0);
    const QIcon icon(":/icons/download_icon");
    for (const ItemPtr& file : files) {
        if (QTreeWidgetItem* row = m_tree->RowOf(file))
            row->setIcon(0, icon);
    }
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
    ItemList folders;
    for (const QTreeWidgetItem* node : ui->folderTree->selectedItems()) {
        if (const ItemPtr folder = m_tree->FolderOf(node))
            folders.push_back(folder);
    }
    for (const ItemPtr& folder : folders)
        DownloadFolder(folder, false);
}

void ShareForm::DownloadFolder(ItemPtr folder, bool belowChosenFolder)
{
    if (!transferQueueManager || !folder)
        return;
    const QIcon icon(":/icons/download_icon");
    ShareFolderTree::ForEachFolder(folder, [&](ItemPtr each, bool below) {
        const std::string path = ShareFolderTree::FolderPath(each);
        const int level = belowChosenFolder || below ? 1 : 0;
        for (const ItemPtr& file : ShareFolderTree::FilesByName(each)) {
            const ItemPtr name = file["user_share_file_name"];
            if (transferQueueManager->HasExcludedDownloadExtension(name.AsString()))
                continue;
            transferQueueManager->AddDownload(m_user, name.AsStdString(), path, file["file_size"].AsInt64(), false,
                                              level);
            if (QTreeWidgetItem* row = m_tree->RowOf(file))
                row->setIcon(0, icon);
        }
    });
}

// ---------------------------------------------------------------------------
// Context menus. Their entries read the selection when chosen: the menu's
// own loop may change it meanwhile.

void ShareForm::OnFolderContextMenuRequested(QPoint point)
{
    if (!ui->folderTree->itemAt(point))
        return;
    QMenu menu;
    menu.addAction(QIcon(":/icons/transfer_icon"), tr("Download Folder"), this, &ShareForm::OnDownloadFolder);
    menu.exec(ui->folderTree->viewport()->mapToGlobal(point));
}

void ShareForm::OnFileContextMenuRequested(QPoint point)
{
    QMenu menu;
    menu.addAction(QIcon(":/icons/transfer_icon"), tr("Download File(s)"), this, &ShareForm::OnDownloadFile);
    menu.exec(ui->fileList->viewport()->mapToGlobal(point));
}
