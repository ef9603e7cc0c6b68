#include "UserMenuOptions.h"

#include <QAction>
#include <QMenu>
#include <algorithm>

#include "Data.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "ShareNames.h"
#include "TransferQueueManager.h"
#include "UserWindows.h"
#include "common/PeerText.h"
#include "rooms/ChatsForm.h"
#include "settings/GiftPrivilegesDialog.h"

namespace {

// Marks of other parts that may not be declared in every program (the
// online alert is the user list's): an undeclared one is simply not there.
bool Marked(ItemPtr item, const char* type)
{
    return d.HasType(type) && item.IsConnected(type);
}

ItemPtr User(const QString& name)
{
    return d.GetType(ServerNames::User)->GetItem(name);
}

// The rooms carrying the own role's marker, by name.
QStringList RoomsMarked(const char* marker)
{
    QStringList names;
    Type* type = d.HasType(marker);
    if (!type)
        return names;
    for (const ItemPtr& room : ItemPtr(type->PeekGlobalNullItem()).GetItems(ServerNames::Room))
        names << room.AsString();
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

UserMenuOptions::UserMenuOptions(QMenu* menu, QString user, QObject* parent) : QObject(parent), m_user(user)
{
    if (!menu->actions().isEmpty())
        menu->addSeparator();
    const ItemPtr item = User(m_user);

    menu->addAction(QIcon(":/icons/chat_icon"), tr("Message user"), this, &UserMenuOptions::OnMessageUser);
    if (item.IsConnected(ServerNames::InUserList)) {
        menu->addAction(QIcon(":/icons/users_icon"), tr("Set user's groups"), this, &UserMenuOptions::OnSetUserGroups);
        menu->addAction(QIcon(":/icons/remove_user_icon"), tr("Remove user from list"), this,
                        &UserMenuOptions::OnRemoveUser);
    } else {
        menu->addAction(QIcon(":/icons/add_user_icon"), tr("Add user to list"), this, &UserMenuOptions::OnAddUser);
    }
    menu->addAction(QIcon(":/icons/browse_icon"), tr("Browse user's files"), this, &UserMenuOptions::OnBrowseUser);
    menu->addAction(QIcon(":/icons/browse_icon"), tr("Upload to user"), this, &UserMenuOptions::OnUploadToUser);
    menu->addAction(QIcon(":/icons/info_icon"), tr("Get User Info"), this, &UserMenuOptions::OnGetUserInfo);
    menu->addAction(QIcon(":/icons/note_icon"), Marked(item, "user_note") ? tr("Edit user note") : tr("Add user note"),
                    this, &UserMenuOptions::OnUserNote);
    menu->addAction(QIcon(":/icons/alert_icon"),
                    Marked(item, "user_online_alert") ? tr("Remove online status alert")
                                                      : tr("Alert when user goes online"),
                    this, &UserMenuOptions::OnAddRemoveOnlineAlert);
    if (GetSetting("privileges_time_left").toLongLong() > 0)
        menu->addAction(QIcon(":/icons/gift_icon"), tr("Gift Privileges"), this, &UserMenuOptions::OnGiftPrivileges);

    menu->addSeparator();
    if (Marked(item, ShareNames::Unshared))
        menu->addAction(QIcon(":/icons/browse_icon"), tr("Re-share files with user"), this,
                        &UserMenuOptions::OnReshareFilesWithUser);
    else
        menu->addAction(QIcon(":/icons/browse_icon"), tr("Unshare files from user"), this,
                        &UserMenuOptions::OnUnshareFilesFromUser);
    if (Marked(item, ServerNames::IsIgnored))
        menu->addAction(QIcon(":/icons/chat_icon"), tr("Unignore user"), this, &UserMenuOptions::OnUnignoreUser);
    else
        menu->addAction(QIcon(":/icons/chat_icon"), tr("Ignore user"), this, &UserMenuOptions::OnIgnoreUser);

    AddPrivateRooms(menu);

    if (GetSetting("user_level_logging") == QLatin1String("yes")) {
        menu->addSeparator();
        menu->addAction(tr("See User Log"), this, &UserMenuOptions::OnUserLog)->setData(m_user);
    }
}

void UserMenuOptions::AddPrivateRooms(QMenu* menu)
{
    const QStringList owned = RoomsMarked(ServerNames::IsOwner);
    const QStringList operated = RoomsMarked(ServerNames::IsOperator);
    if (owned.isEmpty() && operated.isEmpty())
        return;
    menu->addSeparator();
    QMenu* rooms = menu->addMenu(tr("Private Rooms"));
    const ItemPtr user = User(m_user);
    Type* roomType = d.GetType(ServerNames::Room);

    auto addEntry = [this](QMenu* submenu, const QString& room, const QString& text, void (UserMenuOptions::*slot)()) {
        submenu->addAction(text, this, slot)->setData(room);
    };
    auto addMembership = [&](QMenu* submenu, const QString& room, bool member) {
        if (member)
            addEntry(submenu, room, tr("Remove User's Membership"), &UserMenuOptions::OnRemoveUserMembership);
        else
            addEntry(submenu, room, tr("Give User Membership"), &UserMenuOptions::OnAddUserMembership);
    };

    for (const QString& room : owned) {
        ItemPtr roomItem = roomType->GetItem(room);
        const bool member = roomItem.NewItem(ServerNames::RoomMembers).IsConnected(user);
        const bool op = roomItem.NewItem(ServerNames::RoomOperators).IsConnected(user);
        QMenu* submenu = rooms->addMenu(QIcon(":/icons/chat_icon"), PeerText::Title(room));
        QFont font = submenu->menuAction()->font();
        font.setWeight(QFont::Bold);
        font.setUnderline(true);
        submenu->menuAction()->setFont(font);
        addMembership(submenu, room, member);
        if (member && !op) {
            submenu->addSeparator();
            addEntry(submenu, room, tr("Make User Operator"), &UserMenuOptions::OnAddUserOperatorship);
        }
        if (op) {
            submenu->addSeparator();
            addEntry(submenu, room, tr("Remove User's Operator Status"), &UserMenuOptions::OnRemoveUserOperatorship);
        }
    }
    for (const QString& room : operated) {
        if (owned.contains(room))
            continue;
        QMenu* submenu = rooms->addMenu(PeerText::Title(room));
        addMembership(submenu, room, roomType->GetItem(room).NewItem(ServerNames::RoomMembers).IsConnected(user));
    }
}

QString UserMenuOptions::SenderRoom() const
{
    const auto* action = qobject_cast<const QAction*>(sender());
    return action ? action->data().toString() : QString();
}

void UserMenuOptions::OnMessageUser()
{
    if (chatsForm)
        chatsForm->OpenChatForm(m_user);
}

void UserMenuOptions::OnSetUserGroups()
{
    UserWindows::Open(g_userWindows.groups, m_user);
}

void UserMenuOptions::OnAddUser()
{
    // The user list follows the new connection and asks the server itself.
    User(m_user).NewItem(ServerNames::InUserList);
    if (GetSetting("open_groups_on_user_add") == QLatin1String("yes"))
        UserWindows::Open(g_userWindows.groups, m_user);
}

void UserMenuOptions::OnRemoveUser()
{
    User(m_user).Disconnect(ServerNames::InUserList);
}

void UserMenuOptions::OnBrowseUser()
{
    UserWindows::Open(g_userWindows.shareBrowse, m_user);
}

void UserMenuOptions::OnUploadToUser()
{
    UserWindows::Open(g_userWindows.uploadBrowse, m_user);
}

void UserMenuOptions::OnUserLog()
{
    UserWindows::Open(g_userWindows.itemLog, m_user);
}

void UserMenuOptions::OnUnshareFilesFromUser()
{
    if (transferQueueManager)
        transferQueueManager->UnshareUser(m_user);
}

void UserMenuOptions::OnReshareFilesWithUser()
{
    if (transferQueueManager)
        transferQueueManager->ReshareUser(m_user);
}

void UserMenuOptions::OnIgnoreUser()
{
    User(m_user).NewItem(ServerNames::IsIgnored);
}

void UserMenuOptions::OnUnignoreUser()
{
    User(m_user).Disconnect(ServerNames::IsIgnored);
}

// The room's member and operator sets change when the server confirms.
void UserMenuOptions::OnAddUserMembership()
{
    if (gp_server)
        gp_server->AddPrivateRoomMember(SenderRoom(), m_user);
}

void UserMenuOptions::OnRemoveUserMembership()
{
    if (gp_server)
        gp_server->RemovePrivateRoomMember(SenderRoom(), m_user);
}

void UserMenuOptions::OnAddUserOperatorship()
{
    if (gp_server)
        gp_server->AddPrivateRoomOperator(SenderRoom(), m_user);
}

void UserMenuOptions::OnRemoveUserOperatorship()
{
    if (gp_server)
        gp_server->RemovePrivateRoomOperator(SenderRoom(), m_user);
}

void UserMenuOptions::OnUserNote()
{
    UserWindows::Open(g_userWindows.note, m_user);
}

void UserMenuOptions::OnGetUserInfo()
{
    UserWindows::Open(g_userWindows.info, m_user);
}

void UserMenuOptions::OnGiftPrivileges()
{
    (new GiftPrivilegesDialog(m_user, nullptr))->show();
}

void UserMenuOptions::OnAddRemoveOnlineAlert()
{
    // The user list page declares the alert; without it there is none to
    // keep.
    if (!d.HasType("user_online_alert"))
        return;
    ItemPtr user = User(m_user);
    if (user.IsConnected("user_online_alert")) {
        user.Disconnect("user_online_alert");
        return;
    }
    user.NewItem("user_online_alert");
    if (gp_server)
        gp_server->TrackUser(m_user);
}
