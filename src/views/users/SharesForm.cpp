#include "SharesForm.h"

#include <unordered_map>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "FocusHelpers.h"
#include "GeneralFunctions.h"
#include "PeerMessenger.h"
#include "ShareForm.h"
#include "SharedFoldersManager.h"
#include "TabWidget.h"
#include "UploadForm.h"
#include "UserWindows.h"
#include "common/PeerText.h"
#include "search/SearchResultMenuOptions.h"
#include "ui_SharesForm.h"

SharesForm* sharesForm = nullptr;

SharesForm::SharesForm(QWidget* parent) : QWidget(parent), ui(new Ui_SharesForm)
{
    ui->setupUi(this);
    sharesForm = this;
    ui->verticalLayout->setContentsMargins(0, 0, 0, 0);
}

SharesForm::~SharesForm()
{
    // The browsers open other windows no more.
    g_userWindows.shareBrowse = nullptr;
    g_userWindows.uploadBrowse = nullptr;
    SearchResultMenuOptions::SetFolderBrowser({});
    delete ui;
    ui = nullptr;
    if (sharesForm == this)
        sharesForm = nullptr;
}

TabWidget* SharesForm::Tabs() const
{
    return ui->tabControl;
}

// ---------------------------------------------------------------------------
// Start-up

void SharesForm::DeclareTypes()
{
    // The browsers by their address, and their rows by theirs: each one to
    // one with what it shows.
    Type* user = d.GetType("user");
    d.NewType("user_share_tab", 0, false, true)->RelateToType(user, one, one, false);
    d.NewType("upload_share_tab", 0, false, true)->RelateToType(user, one, one, false);
    d.NewType("user_share_folder_node", 1, false, true)->RelateToType(d.GetType("user_share_folder"), one, one, false);
    d.NewType("user_share_file_node", 1, false, true)->RelateToType(d.GetType("user_share_file"), one, one, false);
}

void SharesForm::Init()
{
    DeclareTypes();
    connect(ui->tabControl, &QTabWidget::tabCloseRequested, this, &SharesForm::OnTabCloseRequested);
    if (actionBar) {
        for (const char* set : {"share_folders", "upload_folders"}) {
            actionBar->AddSetAction(set, "expand_level", tr("Expand Level"), ":/icons/browse_icon", false);
            actionBar->AddSetAction(set, "collapse_all", tr("Collapse All"), ":/icons/browse_icon", false);
            actionBar->AddSetAction(set, "expand_all", tr("Expand All"), ":/icons/browse_icon", false);
            if (set == std::string("share_folders"))
                actionBar->AddSetAction(set, "save_to_file", tr("Save To File"), ":/icons/save_icon", false);
        }
    }
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserShare, this, &SharesForm::OnUserShare);

    g_userWindows.shareBrowse = [this](const QString& user) { OpenShareBrowse(user); };
    g_userWindows.uploadBrowse = [this](const QString& user) { OpenUploadBrowse(user); };
    SearchResultMenuOptions::SetFolderBrowser([this](const QString& user, const QString& folder) {
        if (!user.isEmpty())
            OpenShareBrowse(user)->BrowseToFolder(folder);
    });
}

// ---------------------------------------------------------------------------
// Opening and closing tabs

ShareForm* SharesForm::OpenShareBrowse(QString user)
{
    const ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
    ShareForm* form = ShareForm::Of(userItem);
    if (!form) {
        form = new ShareForm(user, this);
        ui->tabControl->addTab(form, PeerText::Title(user));
        if (peerMessenger)
            peerMessenger->GetUserSharedFiles(user);
    }
    FocusWidgetAndParents(form);
    return form;
}

UploadForm* SharesForm::OpenUploadBrowse(QString user)
{
    const ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
    UploadForm* form = UploadForm::Of(userItem);
    if (!form) {
        form = new UploadForm(user, this);
        ui->tabControl->addTab(form, tr("Upload to %1").arg(PeerText::Title(user)));
        FileInfoMap share;
        AttributeTranslationTable table;
        if (sharedFoldersManager)
            sharedFoldersManager->GetSharedFilesAsUserShare(user, share, table);
        form->SetShare(CreateUserShareData(share, table));
    }
    FocusWidgetAndParents(form);
    return form;
}

void SharesForm::OnTabCloseRequested(int tabIndex)
{
    QWidget* page = ui->tabControl->widget(tabIndex);
    if (auto* share = qobject_cast<ShareForm*>(page)) {
        ui->tabControl->removeTab(tabIndex);
        share->Delete();
    } else if (auto* upload = qobject_cast<UploadForm*>(page)) {
        ui->tabControl->removeTab(tabIndex);
        upload->Delete();
    }
}

// ---------------------------------------------------------------------------
// Share lists

void SharesForm::OnUserShare(QString user, FileInfoMap& share, AttributeTranslationTable& translationTable)
{
    // Lists of users without an open browser are dropped; the name is the
    // peer's, so nothing is made for it.
    ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
    ShareForm* form = ShareForm::Of(userItem);
    if (!form)
        return;
    // A repeated list leaves the shown share as it is.
    ItemPtr shareItem = userItem["user_share"];
    if (!shareItem) {
        shareItem = CreateUserShareData(share, translationTable);
        userItem += shareItem;
    }
    form->SetShare(shareItem);
}

ItemPtr SharesForm::CreateUserShareData(FileInfoMap& share, AttributeTranslationTable&)
{
    Type* folderName = d.GetType("user_share_folder_name");
    Type* fileName = d.GetType("user_share_file_name");
    Type* fileSize = d.GetType("file_size");
    Type* bitrate = d.GetType("bitrate");
    Type* length = d.GetType("length_seconds");
    Type* mode = d.GetType("bitrate_mode");

    ItemPtr shareItem = d.GetType("user_share")->NewItem();
    // This share's folders by path: a parent path sorts before its
    // subfolders, so a parent in the list is always made first.
    std::unordered_map<std::string, ItemPtr> folders;
    folders.reserve(share.size());
    for (const auto& entry : share) {
        const std::string& path = entry.first;
        ItemPtr folder = shareItem.NewItem("user_share_folder");
        folder += folderName->GetItem(Value(path));
        const std::string parentPath = GetParentFolder(path);
        if (parentPath != path) {
            auto parent = folders.find(parentPath);
            if (parent != folders.end())
                folder.NewItem("user_share_folder_parent") += parent->second.NewItem("user_share_folder_child");
        }
        folders.emplace(path, folder);

        for (const FileInfo& info : entry.second) {
            ItemPtr file = folder.NewItem("user_share_file");
            file += fileName->GetItem(Value(info.Name()));
            file += fileSize->GetItem(Value(static_cast<long long>(info.Size())));
            for (const auto& attribute : info.Attributes().Values()) {
                const int value = static_cast<qint32>(attribute.second);
                if (attribute.first == AttributeMap::Bitrate)
                    file += bitrate->GetItem(Value(value));
                else if (attribute.first == AttributeMap::LengthSeconds)
                    file += length->GetItem(Value(value));
                else if (attribute.first == AttributeMap::VariableBitrate)
                    file += mode->GetItem(Value(value ? "vbr" : "cbr"));
            }
        }
    }
    return shareItem;
}
