#include "UserListForm.h"

#include <QHeaderView>
#include <QIcon>
#include <QMenu>

#include "ActionSetToolBar.h"
#include "AddUserDialog.h"
#include "Data.h"
#include "DataSaver.h"
#include "FocusHelpers.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "ServerNames.h"
#include "ShareNames.h"
#include "SizeManager.h"
#include "TurnSlice.h"
#include "UserGroupConfigDialog.h"
#include "UserGroupsDialog.h"
#include "UserInfoForm.h"
#include "UserInfoReply.h"
#include "UserListItemWidget.h"
#include "UserMenuOptions.h"
#include "UserWindows.h"
#include "common/ColumnWidths.h"
#include "common/PeerText.h"
#include "rooms/ChatsForm.h"
#include "rooms/MessageUsersDialog.h"
#include "ui_UserListForm.h"

UserListForm* userListForm = nullptr;

namespace {

// A user's information view is found through its item only when the view
// is still one of the page's tabs.
UserInfoForm* TabOf(QTabWidget* tabs, ItemPtr form)
{
    for (int i = 0; i < tabs->count(); ++i) {
        QWidget* page = tabs->widget(i);
        if (form.AsUInt64() == quint64(reinterpret_cast<quintptr>(page)))
            return qobject_cast<UserInfoForm*>(page);
    }
    return nullptr;
}

} // namespace

UserListForm::UserListForm(QWidget* parent)
    : QWidget(parent), ui(new Ui_UserListForm),
      m_statsJob(StatsPerTurn, [this](TurnSlice& slice) { return AskNextStats(slice); })
{
    ui->setupUi(this);
    ui->horizontalLayout_3->setContentsMargins(0, 0, 0, 0);
    ColumnWidths::Set(ui->userList, {200, 80, 60, 300}, {QString(), "88,888", "8888.8"});
    ColumnWidths::AlignRight(ui->userList, {1, 2});
    for (QTreeWidget* list : {ui->unsharedList, ui->ignoredList, ui->onlineAlertList})
        list->setColumnWidth(0, 200);
    for (QTreeWidget* list : {ui->userList, ui->unsharedList, ui->ignoredList, ui->onlineAlertList}) {
        list->header()->setStretchLastSection(true);
        RegisterWidgetForTabFocus(list, 1);
    }
    // A row of these is one line: laying out thousands of rows then needs
    // no size asked of each, which a login burst would do again and again.
    // The unshared and ignored rows show a whole note, of as many lines as
    // it has.
    ui->userList->setUniformRowHeights(true);
    ui->onlineAlertList->setUniformRowHeights(true);
    userListForm = this;

    connect(ui->userList, &QWidget::customContextMenuRequested, this, &UserListForm::OnUserListContextMenuRequested);
    connect(ui->unsharedList, &QWidget::customContextMenuRequested, this,
            &UserListForm::OnUnsharedListContextMenuRequested);
    connect(ui->ignoredList, &QWidget::customContextMenuRequested, this,
            &UserListForm::OnIgnoredListContextMenuRequested);
    connect(ui->onlineAlertList, &QWidget::customContextMenuRequested, this,
            &UserListForm::OnOnlineAlertListContextMenuRequested);
    for (QTreeWidget* list : {ui->userList, ui->unsharedList, ui->ignoredList})
        connect(list, &QTreeWidget::itemDoubleClicked, this, &UserListForm::OnUserItemDoubleClicked);
}

UserListForm::~UserListForm()
{
    // The engines may be gone already; nothing here calls them.
    if (userListForm == this) {
        userListForm = nullptr;
        g_userWindows.groups = nullptr;
        g_userWindows.info = nullptr;
    }
    delete ui;
}

void UserListForm::Init()
{
    Type* alert = d.NewType("user_online_alert", 2, true, true);
    d.GetType(ServerNames::User)->RelateToType(alert, many, one, false);
    if (dataSaver) {
        dataSaver->AddSavedType("user_online_alert");
        dataSaver->AddSavedByConnectionType(ServerNames::User, "user_online_alert");
        dataSaver->AddDataLoadedEventHandler(this);
    }
    if (gp_server) {
        connect(gp_server, &Server::Connected, this, &UserListForm::OnConnected);
        // Requests left over from a lost connection are the next login's.
        connect(gp_server, &Server::Disconnected, this, [this] {
            m_statsWaiting.clear();
            m_nextStats = 0;
            m_statsJob.Stop();
        });
    }
    // The per-user menu's "Set user's groups" (and "Add user to list" when
    // the groups are to follow) and "Get User Info".
    g_userWindows.groups = [](const QString& user) { UserGroupsDialog::Open(user); };
    g_userWindows.info = &UserListForm::ShowUserInfo;
}

void UserListForm::DataLoaded()
{
    if (m_loaded)
        return;
    m_loaded = true;
    Type* user = d.GetType(ServerNames::User);
    for (const char* node : {"user_list_node", "unshared_list_node", "ignored_list_node", "online_alert_list_node"})
        user->RelateToType(d.NewType(node, 0, false, true), one, one, false);

    // Filled before the handlers exist, so filling raises none of them.
    for (const ItemPtr& listed : d.GetType(ServerNames::InUserList)->GetItems()) {
        if (ItemPtr listedUser = listed[ServerNames::User])
            BuildUserListRow(listedUser, false);
    }
    ui->userList->sortItems(0, Qt::AscendingOrder);
    const struct
    {
        const char* marker;
        QTreeWidget* list;
        const char* node;
    } plainLists[] = {{ShareNames::Unshared, ui->unsharedList, "unshared_list_node"},
                      {ServerNames::IsIgnored, ui->ignoredList, "ignored_list_node"}};
    for (const auto& plain : plainLists) {
        if (Type* marker = d.HasType(plain.marker)) {
            for (const ItemPtr& item : marker->GetItems()) {
                for (const ItemPtr& marked : item.GetItems(ServerNames::User))
                    BuildPlainRow(plain.list, marked, plain.node);
            }
        }
        // By name, A first, until the user clicks a header.
        plain.list->header()->setSortIndicator(0, Qt::AscendingOrder);
        plain.list->setSortingEnabled(true);
    }
    const ItemSet alerted = d.GetType("user_online_alert")->GetItems();
    for (const ItemPtr& item : alerted) {
        for (const ItemPtr& marked : item.GetItems(ServerNames::User))
            BuildAlertRow(marked);
    }
    ui->onlineAlertList->sortItems(0, Qt::AscendingOrder);

    RegisterHandlers();

    if (actionBar) {
        actionBar->AddSetAction("user_list", "manual_add_user", tr("Add User"), ":/icons/add_user_icon", false);
        actionBar->AddSetAction("user_list", "configure_user_groups", tr("Configure User Groups"), ":/icons/users_icon",
                                false);
        actionBar->AddSetAction("user_list", "message_users", tr("Message Users"), ":/icons/chat_icon", false);
        actionBar->RegisterWidget(ui->userListTab, "user_list");
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &UserListForm::OnActionBarTriggered);
    }
    {
        PathNode* root = new PathNode(&d, ServerNames::User);
        PathNode* listed = new PathNode(root, ServerNames::InUserList, 1);
        new PathNode(listed, ServerNames::UserListGroup, 0);
        d.AddPathEventHandler(root, new EventHandler<UserListForm, ItemPtr>(this, &UserListForm::OnUserGroupAdded));
        root = new PathNode(&d, ServerNames::User);
        listed = new PathNode(root, ServerNames::InUserList, 1);
        new PathNode(listed, ServerNames::UserListGroup, 5);
        d.AddPathEventHandler(root, new EventHandler<UserListForm, ItemPtr>(this, &UserListForm::OnUserGroupRemoved));
    }
    if (sizeManager)
        sizeManager->RegisterTreeWidget("user_list", ui->userList);
    connect(ui->userInfoTabs, &QTabWidget::tabCloseRequested, this, &UserListForm::OnUserInfoTabCloseRequested);
    user->RelateToType(d.NewType("user_info_form", 0, false, true), one, one, false);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserInfoRequested, this, &UserListForm::OnUserInfoRequested);
    if (gp_server) {
        for (const ItemPtr& item : alerted) {
            for (const ItemPtr& marked : item.GetItems(ServerNames::User))
                gp_server->TrackUser(marked.AsString());
        }
    }
    const struct
    {
        const char* attribute;
        void (UserListForm::*handler)(ItemPtr);
    } figures[] = {{ServerNames::SharedFileCount, &UserListForm::OnUserSharedFileCount},
                   {ServerNames::AverageDownloadSpeed, &UserListForm::OnUserAverageSpeed}};
    for (const auto& figure : figures) {
        // Either connection may come last: the figure to a listed user, or
        // a user who has the figure to the list.
        PathNode* root = new PathNode(&d, ServerNames::User);
        new PathNode(root, ServerNames::InUserList, 0);
        new PathNode(root, figure.attribute, 0);
        d.AddPathEventHandler(root, new EventHandler<UserListForm, ItemPtr>(this, figure.handler));
    }
}

void UserListForm::RegisterHandlers()
{
    const struct
    {
        const char* type;
        PathNodeRelation relation;
        void (UserListForm::*handler)(ItemPtr);
    } paths[] = {{ServerNames::IsOnline, 0, &UserListForm::OnUserOnline},
                 {ServerNames::IsOnline, 5, &UserListForm::OnUserOffline},
                 {ServerNames::InUserList, 0, &UserListForm::OnUserAddedToList},
                 {ServerNames::InUserList, 5, &UserListForm::OnUserRemovedFromList},
                 {ShareNames::Unshared, 0, &UserListForm::OnUserUnshared},
                 {ShareNames::Unshared, 5, &UserListForm::OnUserReshared},
                 {ServerNames::IsIgnored, 0, &UserListForm::OnUserIgnored},
                 {ServerNames::IsIgnored, 5, &UserListForm::OnUserUnignored},
                 {"user_note", 0, &UserListForm::OnUserNoteChanged},
                 {"user_note", 5, &UserListForm::OnUserNoteRemoved},
                 {"user_online_alert", 0, &UserListForm::OnUserOnlineAlertAdded},
                 {"user_online_alert", 5, &UserListForm::OnUserOnlineAlertRemoved}};
    for (const auto& path : paths) {
        if (!d.HasType(path.type))
            continue;
        PathNode* root = new PathNode(&d, ServerNames::User);
        new PathNode(root, path.type, path.relation);
        d.AddPathEventHandler(root, new EventHandler<UserListForm, ItemPtr>(this, path.handler));
    }
}

QString UserListForm::FirstLineOf(QString text)
{
    const QString trimmed = text.trimmed();
    const QString first = trimmed.split('\n', Qt::KeepEmptyParts).first();
    return first == trimmed ? first : first + " ...";
}

void UserListForm::OnConnected()
{
    if (!gp_server)
        return;
    m_statsWaiting.clear();
    m_nextStats = 0;
    for (const ItemPtr& listed : d.GetType(ServerNames::InUserList)->GetItems()) {
        if (ItemPtr user = listed[ServerNames::User])
            m_statsWaiting << user.AsString();
    }
    m_statsJob.Start();
}

bool UserListForm::AskNextStats(TurnSlice& slice)
{
    if (!gp_server) {
        m_statsWaiting.clear();
        m_nextStats = 0;
        return true;
    }
    for (int asked = 0; asked < StatsPerTurn && m_nextStats < m_statsWaiting.size() && slice.Take(); ++asked)
        gp_server->GetUserStats(m_statsWaiting.at(m_nextStats++));
    if (m_nextStats < m_statsWaiting.size())
        return false;
    m_statsWaiting.clear();
    m_nextStats = 0;
    return true;
}

// ---------------------------------------------------------------------------
// Menus and actions

void UserListForm::ShowUserMenu(QTreeWidget* list, const QPoint& point)
{
    QTreeWidgetItem* row = list->itemAt(point);
    if (!row)
        return;
    // Only the name crosses the menu's event loop: the row may go meanwhile.
    const QString user = UserListItemWidget::NameOf(row);
    QMenu menu;
    UserMenuOptions options(&menu, user, nullptr);
    menu.exec(list->viewport()->mapToGlobal(point));
}

void UserListForm::OnUserListContextMenuRequested(QPoint i_point)
{
    ShowUserMenu(ui->userList, i_point);
}

void UserListForm::OnUnsharedListContextMenuRequested(QPoint i_point)
{
    ShowUserMenu(ui->unsharedList, i_point);
}

void UserListForm::OnIgnoredListContextMenuRequested(QPoint i_point)
{
    ShowUserMenu(ui->ignoredList, i_point);
}

void UserListForm::OnOnlineAlertListContextMenuRequested(QPoint i_point)
{
    ShowUserMenu(ui->onlineAlertList, i_point);
}

void UserListForm::OnUserItemDoubleClicked(QTreeWidgetItem* ip_item, int)
{
    if (ip_item && chatsForm)
        chatsForm->OpenChatForm(UserListItemWidget::NameOf(ip_item));
}

void UserListForm::OnActionBarTriggered(QWidget*, QString i_action)
{
    if (i_action == "configure_user_groups")
        UserGroupConfigDialog::Open(this);
    else if (i_action == "message_users")
        MessageUsersDialog::Open(this);
    else if (i_action == "manual_add_user")
        (new AddUserDialog(this))->show();
}

// ---------------------------------------------------------------------------
// User information

void UserListForm::OnUserInfoRequested(QString i_user)
{
    MemStream reply = UserInfoReply::Build(UserInfoReply::Current());
    if (peerMessenger)
        peerMessenger->SendMessage(i_user, reply);
}

UserInfoForm* UserListForm::GetUserInfoForm(QString user)
{
    if (!m_loaded)
        return nullptr;
    return OpenUserInfoForm(d.GetType(ServerNames::User)->GetItem(user));
}

UserInfoForm* UserListForm::OpenUserInfoForm(ItemPtr user)
{
    if (ItemPtr form = user["user_info_form"]) {
        if (UserInfoForm* open = TabOf(ui->userInfoTabs, form))
            return open;
        form.Remove();
    }
    const QString name = user.AsString();
    auto* page = new UserInfoForm(this);
    page->Init(name);
    ui->userInfoTabs->addTab(page, QIcon(":/icons/info_icon"), PeerText::Title(name));
    user += d.GetType("user_info_form")->GetItem(Value(page));
    return page;
}

void UserListForm::ShowUserInfo(const QString& user)
{
    if (!userListForm)
        return;
    if (UserInfoForm* page = userListForm->GetUserInfoForm(user))
        FocusWidgetAndParents(page);
}

void UserListForm::OnUserInfoTabCloseRequested(int i_index)
{
    auto* page = qobject_cast<UserInfoForm*>(ui->userInfoTabs->widget(i_index));
    if (!page)
        return;
    ui->userInfoTabs->removeTab(i_index);
    if (ItemPtr item = d.GetType("user_info_form")->HasItem(Value(page)))
        item.Remove();
    page->deleteLater();
}
