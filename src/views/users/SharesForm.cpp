#include "SharesForm.h"

#include "ActionSetToolBar.h"
#include "Data.h"
#include "FocusHelpers.h"
#include "PeerMessenger.h"
#include "ShareForm.h"
#include "SharedFoldersManager.h"
#include "TabWidget.h"
#include "TurnSlice.h"
#include "UploadForm.h"
#include "UserShareBuilder.h"
#include "UserWindows.h"
#include "common/PeerText.h"
#include "search/SearchResultMenuOptions.h"
#include "ui_SharesForm.h"

SharesForm* sharesForm = nullptr;

SharesForm::SharesForm(QWidget* parent)
    : QWidget(parent), ui(new Ui_SharesForm),
      m_buildJob(BuildSliceFloor, [this](TurnSlice& slice) { return BuildSome(slice); })
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
    if (peerMessenger) {
        connect(peerMessenger, &PeerMessenger::UserShare, this, &SharesForm::OnUserShare);
        connect(peerMessenger, &PeerMessenger::ShareListRefused, this, &SharesForm::OnShareListRefused);
    }

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

void SharesForm::OnUserShare(QString user, std::shared_ptr<FileInfoMap> share, const AttributeTranslationTable&)
{
    // Lists of users without an open browser are dropped; the name is the
    // peer's, so nothing is made for it.
    ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
    ShareForm* form = ShareForm::Of(userItem);
    if (!form || !share)
        return;
    // A repeated list leaves the shown share, or the one being made, as it is.
    if (IsBuilding(user))
        return;
    if (ItemPtr shown = userItem["user_share"]) {
        form->SetShare(shown);
        return;
    }
    // The list is shared with whoever else keeps it, never copied.
    m_building.emplace_back(user, std::make_unique<UserShareBuilder>(std::move(share)));
    // A list made before, still going, goes on first.
    if (!m_buildJob.IsRunning())
        m_buildJob.Start();
}

bool SharesForm::IsBuilding(const QString& user) const
{
    for (const auto& building : m_building)
        if (building.first == user)
            return true;
    return false;
}

bool SharesForm::BuildSome(TurnSlice& slice)
{
    if (m_building.empty())
        return true;
    const QString user = m_building.front().first;
    UserShareBuilder& builder = *m_building.front().second;
    if (!builder.Done()) {
        ShareForm* form = ShareForm::Of(d.GetType("user")->HasItem(Value(user)));
        // The tab was closed: what was made goes, and the rest of the list
        // is let go a slice at a time like the rest.
        if (!form && builder.Share() && sharedFoldersManager)
            sharedFoldersManager->ReleaseShare(builder.Abandon());
        const bool first = !builder.Started();
        const bool built = builder.Build(slice);
        m_buildJob.Over(builder.Share(), [this] { BuildingShareGone(); });
        if (form)
            form->ShowFilling(builder.FilesMade(), builder.FileCount(), builder.FolderCount());
        // A tree made over several turns goes to its browser in a turn of
        // its own, where the folder tree begins; one made at once, at once.
        if (!built || !first)
            return false;
    }
    const ItemPtr share = builder.Share();
    m_building.pop_front();
    ShareBuilt(user, share);
    return m_building.empty();
}

void SharesForm::BuildingShareGone()
{
    // Only the oldest list is being made; the others have no share yet.
    for (auto& building : m_building) {
        UserShareBuilder& builder = *building.second;
        if (builder.Share() && builder.Share().IsRemoved())
            builder.Abandon();
    }
    // Not in the store's removal: the rest of the list goes from the next
    // turn on, and the lists after it are made.
    m_buildJob.StartNextTurn();
}

void SharesForm::OnShareListRefused(QString user, PeerMessenger::ShareListRefusal why, qint64 size, qint64 bound)
{
    // A list already taken, or being made, stands.
    if (IsBuilding(user))
        return;
    if (ShareForm* form = ShareForm::Of(d.GetType("user")->HasItem(Value(user))))
        form->ShareListRefused(why, size, bound);
}

void SharesForm::ShareBuilt(const QString& user, ItemPtr share)
{
    if (!share)
        return;
    ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
    ShareForm* form = ShareForm::Of(userItem);
    if (!form || userItem["user_share"]) {
        // The tab closed while its list was being made.
        if (sharedFoldersManager)
            sharedFoldersManager->ReleaseShare(share);
        else
            share.Remove();
        return;
    }
    userItem += share;
    form->SetShare(share);
}

ItemPtr SharesForm::CreateUserShareData(FileInfoMap& share, AttributeTranslationTable&)
{
    UserShareBuilder builder(std::make_shared<FileInfoMap>(std::move(share)));
    share.clear();
    TurnSlice whole = TurnSlice::Whole();
    builder.Build(whole);
    return builder.Share();
}
