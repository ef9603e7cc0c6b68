#include "UploadForm.h"

#include <QTreeWidget>
#include <utility>

#include "ActionSetToolBar.h"
#include "TransferQueueManager.h"
#include "ui_UploadForm.h"

UploadForm::UploadForm(QString user, QWidget* parent)
    : ShareBrowser(user, "upload_share_tab", parent), ui(new Ui_UploadForm)
{
    ui->setupUi(this);
    SetUpBrowser(ui->folderTree, ui->fileList, ui->filterEdit,
                 {ui->folderTree, ui->fileList, ui->filterEdit, ui->filterHelpButton});
    if (actionBar)
        actionBar->RegisterWidget(this, "upload_folders");
}

UploadForm::~UploadForm()
{
    delete ui;
}

UploadForm* UploadForm::Of(ItemPtr user)
{
    return qobject_cast<UploadForm*>(ShareBrowser::Of(user, "upload_share_tab"));
}

void UploadForm::SetShare(ItemPtr share)
{
    m_share = share;
    ShowShare(share, ShareFolderTree::FolderOrder::Bytes);
    connect(ui->folderTree, &QTreeWidget::itemDoubleClicked, this, &UploadForm::OnFolderDoubleClicked);
    connect(ui->fileList, &QTreeWidget::itemDoubleClicked, this, &UploadForm::OnFileDoubleClicked);
}

void UploadForm::Delete()
{
    Close(std::exchange(m_share, ItemPtr()));
}

// ---------------------------------------------------------------------------
// Uploads. The icon marks that an upload was offered; whether the engine
// took it is the engine's to log.

void UploadForm::UploadFiles(const ItemList& files)
{
    if (!transferQueueManager)
        return;
    for (const ItemPtr& file : files)
        transferQueueManager->AddUpload(m_user, ShareFolderTree::RemotePath(file));
    MarkFiles(files, ":/icons/upload_icon");
}

void UploadForm::UploadFolder(ItemPtr folder)
{
    if (folder)
        ShareFolderTree::ForEachFolder(folder, [&](ItemPtr each, int) {
            const ItemSet files = each.GetItems("user_share_file");
            UploadFiles(files.List());
        });
}

void UploadForm::OnFolderDoubleClicked(QTreeWidgetItem* item, int)
{
    UploadFolder(Tree().FolderOf(item));
}

void UploadForm::OnFileDoubleClicked(QTreeWidgetItem* item, int)
{
    UploadFiles(FilesOf({item}));
}

void UploadForm::OnUploadFolder()
{
    for (const ItemPtr& folder : SelectedFolders())
        UploadFolder(folder);
}

void UploadForm::OnUploadFile()
{
    UploadFiles(FilesOf(ui->fileList->selectedItems()));
}

void UploadForm::OnFolderContextMenuRequested(QPoint point)
{
    ShowMenu(ui->folderTree, point, tr("Upload Folder"), [this] { OnUploadFolder(); });
}

void UploadForm::OnFileContextMenuRequested(QPoint point)
{
    ShowMenu(ui->fileList, point, tr("Upload File(s)"), [this] { OnUploadFile(); });
}
