#include "UploadForm.h"

#include <QIcon>
#include <QMenu>
#include <utility>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "Settings.h"
#include "ShareFolderTree.h"
#include "SharedFoldersManager.h"
#include "TransferQueueManager.h"
#include "search/FilterHelpDialog.h"
#include "ui_UploadForm.h"

namespace {

QList<QWidget*> HiddenUntilShared(Ui_UploadForm* ui)
{
    return {ui->folderTree, ui->fileList, ui->filterEdit, ui->filterHelpButton};
}

} // namespace

UploadForm::UploadForm(QString user, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_UploadForm)
    , m_user(user)
{
    ui->setupUi(this);
    m_tree.reset(new ShareFolderTree(this, ui->folderTree, ui->fileList));
    for (QWidget* widget : HiddenUntilShared(ui))
        widget->hide();
    if (actionBar)
        actionBar->RegisterWidget(this, "upload_folders");
    d.GetType("upload_share_tab")->GetItem(Value(this)) += d.GetType("user")->GetItem(Value(user));
}

UploadForm::~UploadForm()
{
    // The tab item names this object's address: it must not outlive it.
    if (Type* tabs = d.HasType("upload_share_tab")) {
        if (ItemPtr tab = tabs->HasItem(Value(this)))
            tab.Remove();
    }
    m_tree.reset();
    delete ui;
}

UploadForm* UploadForm::Of(ItemPtr user)
{
    const ItemPtr tab = user["upload_share_tab"];
    return tab ? tab.AsObject<UploadForm>() : nullptr;
}

QTreeWidget* UploadForm::folderTree() const
{
    return ui->folderTree;
}

QTreeWidget* UploadForm::fileList() const
{
    return ui->fileList;
}

QLineEdit* UploadForm::filterEdit() const
{
    return ui->filterEdit;
}

void UploadForm::SetShare(ItemPtr share)
{
    m_share = share;
    m_tree->Build(share, ShareFolderTree::FolderOrder::Bytes);
    if (GetSetting("expand_new_shares") == QLatin1String("yes"))
        ui->folderTree->expandAll();
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &UploadForm::OnActionBarTriggered);
    m_tree->ResetExpandLevel();
    for (QWidget* widget : HiddenUntilShared(ui))
        widget->show();
    connect(ui->folderTree, &QTreeWidget::itemDoubleClicked, this, &UploadForm::OnFolderDoubleClicked);
    connect(ui->fileList, &QTreeWidget::itemDoubleClicked, this, &UploadForm::OnFileDoubleClicked);
}

void UploadForm::Delete()
{
    m_tree->Clear();
    if (ItemPtr tab = d.GetType("upload_share_tab")->HasItem(Value(this)))
        tab.Remove();
    if (sharedFoldersManager)
        sharedFoldersManager->ReleaseShare(std::exchange(m_share, ItemPtr()));
    deleteLater();
}

// ---------------------------------------------------------------------------
// Folders, files and the filter

void UploadForm::OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem*)
{
    m_tree->ShowFiles(current, ui->filterEdit->text());
}

void UploadForm::OnFilterTextChanged(QString text)
{
    m_tree->Filter(text);
}

void UploadForm::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}

void UploadForm::OnActionBarTriggered(QWidget* widget, QString action)
{
    if (widget != this)
        return;
    if (action == QLatin1String("expand_level"))
        ExpandLevel();
    else if (action == QLatin1String("collapse_all"))
        CollapseAll();
    else if (action == QLatin1String("expand_all"))
        ExpandAll();
}

void UploadForm::ExpandLevel()
{
    m_tree->ExpandOneLevel();
}

void UploadForm::ExpandAll()
{
    m_tree->ExpandAll();
}

void UploadForm::CollapseAll()
{
    m_tree->CollapseAll();
}

// ---------------------------------------------------------------------------
// Uploads. The icon marks that an upload was offered; whether the engine
// took it is the engine's to log.

void UploadForm::UploadFolder(ItemPtr folder)
{
    if (!transferQueueManager || !folder)
        return;
    const QIcon icon(":/icons/upload_icon");
    ShareFolderTree::ForEachFolder(folder, [&](ItemPtr each, bool) {
        const ItemSet files = each.GetItems("user_share_file");
        for (const ItemPtr& file : files)
            transferQueueManager->AddUpload(m_user, ShareFolderTree::RemotePath(file));
        for (const ItemPtr& file : files) {
            if (QTreeWidgetItem* row = m_tree->RowOf(file))
                row->setIcon(0, icon);
        }
    });
}

void UploadForm::UploadFiles(const QList<QTreeWidgetItem*>& rows)
{
    if (!transferQueueManager)
        return;
    ItemList files;
    for (const QTreeWidgetItem* row : rows) {
        if (const ItemPtr file = m_tree->FileOf(row))
            files.push_back(file);
    }
    // Rows are found again from their files once all are offered.
    for (const ItemPtr& file : files)
        transferQueueManager->AddUpload(m_user, ShareFolderTree::RemotePath(file));
    const QIcon icon(":/icons/upload_icon");
    for (const ItemPtr& file : files) {
        if (QTreeWidgetItem* row = m_tree->RowOf(file))
            row->setIcon(0, icon);
    }
}

void UploadForm::OnFolderDoubleClicked(QTreeWidgetItem* item, int)
{
    UploadFolder(m_tree->FolderOf(item));
}

void UploadForm::OnFileDoubleClicked(QTreeWidgetItem* item, int)
{
    UploadFiles({item});
}

void UploadForm::OnUploadFolder()
{
    ItemList folders;
    for (const QTreeWidgetItem* node : ui->folderTree->selectedItems()) {
        if (const ItemPtr folder = m_tree->FolderOf(node))
            folders.push_back(folder);
    }
    for (const ItemPtr& folder : folders)
        UploadFolder(folder);
}

void UploadForm::OnUploadFile()
{
    UploadFiles(ui->fileList->selectedItems());
}

// ---------------------------------------------------------------------------
// Context menus. Their entries read the selection when chosen: the menu's
// own loop may change it meanwhile.

void UploadForm::OnFolderContextMenuRequested(QPoint point)
{
    if (!ui->folderTree->itemAt(point))
        return;
    QMenu menu;
    menu.addAction(QIcon(":/icons/transfer_icon"), tr("Upload Folder"), this, &UploadForm::OnUploadFolder);
    menu.exec(ui->folderTree->viewport()->mapToGlobal(point));
}

void UploadForm::OnFileContextMenuRequested(QPoint point)
{
    QMenu menu;
    menu.addAction(QIcon(":/icons/transfer_icon"), tr("Upload File(s)"), this, &UploadForm::OnUploadFile);
    menu.exec(ui->fileList->viewport()->mapToGlobal(point));
}
