// The rows of the users page's four lists, kept in step with the store.
#include <QIcon>

#include "Data.h"
#include "EventToolBar.h"
#include "GeneralFunctions.h"
#include "Server.h"
#include "ServerNames.h"
#include "UserListForm.h"
#include "UserListItemWidget.h"
#include "common/OrderedRows.h"
#include "common/PeerText.h"
#include "ui_UserListForm.h"

namespace {

const char* const kUserListNode = "user_list_node";
const char* const kUnsharedNode = "unshared_list_node";
const char* const kIgnoredNode = "ignored_list_node";
const char* const kAlertNode = "online_alert_list_node";

// One icon object per picture for all rows.
const QIcon& Icon(const char* resource)
{
    static QHash<QString, QIcon> icons;
    auto it = icons.find(resource);
    if (it == icons.end())
        it = icons.insert(resource, QIcon(resource));
    return *it;
}

} // namespace

UserListItemWidget* UserListForm::UserRow(ItemPtr user) const
{
    return static_cast<UserListItemWidget*>(m_rows.RowOf(user, kUserListNode));
}

void UserListForm::BuildUserListRow(ItemPtr user, bool added)
{
    if (user.IsConnected(kUserListNode))
        return;
    const QString name = user.AsString();
    auto* row = new UserListItemWidget(name);
    // Rows made at the load are sorted once when all are there.
    if (added)
        OrderedRows::Insert(ui->userList, row);
    else
        ui->userList->addTopLevelItem(row);
    m_rows.Add(row, kUserListNode) += user;
    if (added && user.IsConnected(ServerNames::IsOnline))
        OnUserOnline(user);
    if (gp_server)
        gp_server->TrackUser(name);
    UpdateUserGroupsDisplay(name);
    ShowNote(user);
    if (added) {
        OnUserSharedFileCount(user);
        OnUserAverageSpeed(user);
        if (gp_server)
            gp_server->GetUserStats(name);
    }
}

void UserListForm::BuildPlainRow(QTreeWidget* list, ItemPtr user, const char* nodeType)
{
    if (user.IsConnected(nodeType))
        return;
    auto* row = new QTreeWidgetItem;
    UserListItemWidget::SetName(row, user.AsString());
    // A list sorting itself places the row as it arrives.
    list->addTopLevelItem(row);
    m_rows.Add(row, nodeType) += user;
    ShowNote(user);
}

void UserListForm::BuildAlertRow(ItemPtr user)
{
    if (user.IsConnected(kAlertNode))
        return;
    auto* row = new QTreeWidgetItem(ui->onlineAlertList);
    UserListItemWidget::SetName(row, user.AsString());
    row->setIcon(0, Icon(":/icons/offline_icon"));
    m_rows.Add(row, kAlertNode) += user;
}

void UserListForm::RemoveRow(ItemPtr user, const char* nodeType)
{
    m_rows.Remove(m_rows.RowOf(user, nodeType));
}

void UserListForm::OnUserAddedToList(ItemPtr user)
{
    BuildUserListRow(user, true);
}

void UserListForm::OnUserRemovedFromList(ItemPtr user)
{
    RemoveRow(user, kUserListNode);
}

void UserListForm::OnUserUnshared(ItemPtr user)
{
    BuildPlainRow(ui->unsharedList, user, kUnsharedNode);
}

void UserListForm::OnUserReshared(ItemPtr user)
{
    RemoveRow(user, kUnsharedNode);
}

void UserListForm::OnUserIgnored(ItemPtr user)
{
    BuildPlainRow(ui->ignoredList, user, kIgnoredNode);
}

void UserListForm::OnUserUnignored(ItemPtr user)
{
    RemoveRow(user, kIgnoredNode);
}

void UserListForm::OnUserOnlineAlertAdded(ItemPtr user)
{
    if (user.IsConnected(kAlertNode))
        return;
    BuildAlertRow(user);
    ui->onlineAlertList->sortItems(0, Qt::AscendingOrder);
    if (user.IsConnected(ServerNames::IsOnline))
        m_rows.RowOf(user, kAlertNode)->setIcon(0, Icon(":/icons/online_icon"));
}

void UserListForm::OnUserOnlineAlertRemoved(ItemPtr user)
{
    RemoveRow(user, kAlertNode);
}

void UserListForm::OnUserOnline(ItemPtr user)
{
    if (user.IsConnected(ServerNames::InUserList)) {
        if (UserListItemWidget* row = UserRow(user)) {
            // Only this row moves: the rest keep their order.
            OrderedRows::Change(row, [row] { row->SetOnline(true); });
        }
    }
    const QString name = user.AsString();
    if (user.IsConnected("user_online_alert") && eventToolBar)
        eventToolBar->AddEvent(PeerText::Title(name) + " online", ":/icons/online_icon", ui->onlineAlertList,
                               PeerText::Line(name) + " is online", "user_online", true);
    if (QTreeWidgetItem* row = m_rows.RowOf(user, kAlertNode))
        row->setIcon(0, Icon(":/icons/online_icon"));
}

void UserListForm::OnUserOffline(ItemPtr user)
{
    if (UserListItemWidget* row = UserRow(user)) {
        OrderedRows::Change(row, [row] { row->SetOnline(false); });
    }
    if (QTreeWidgetItem* row = m_rows.RowOf(user, kAlertNode))
        row->setIcon(0, Icon(":/icons/offline_icon"));
}

void UserListForm::OnUserSharedFileCount(ItemPtr user)
{
    QTreeWidgetItem* row = UserRow(user);
    ItemPtr count = user[ServerNames::SharedFileCount];
    if (row && count)
        row->setText(1, CommafyNumber(count.AsInt64()));
}

void UserListForm::OnUserAverageSpeed(ItemPtr user)
{
    QTreeWidgetItem* row = UserRow(user);
    ItemPtr speed = user[ServerNames::AverageDownloadSpeed];
    // A speed of 0 is no measurement: the last one shown stays.
    if (row && speed && speed.AsUInt64() != 0)
        row->setText(2, QString("%1").arg(double(speed.AsUInt64()) / 1024, 0, 'f', 1));
}

void UserListForm::UpdateUserGroupsDisplay(QString user)
{
    ItemPtr item = d.GetType(ServerNames::User)->GetItem(user);
    QTreeWidgetItem* row = UserRow(item);
    if (!row)
        return;
    QStringList groups;
    for (const ItemPtr& group : item[ServerNames::InUserList].GetItems(ServerNames::UserListGroup))
        groups << group.AsString();
    groups.sort(Qt::CaseSensitive);
    row->setText(3, groups.join(", "));
}

void UserListForm::OnUserGroupAdded(ItemPtr user)
{
    UpdateUserGroupsDisplay(user.AsString());
}

void UserListForm::OnUserGroupRemoved(ItemPtr user)
{
    UpdateUserGroupsDisplay(user.AsString());
}

void UserListForm::OnUserNoteChanged(ItemPtr user)
{
    ShowNote(user);
}

void UserListForm::OnUserNoteRemoved(ItemPtr user)
{
    ShowNote(user);
}

void UserListForm::ShowNote(ItemPtr user)
{
    // A changed note reaches the user as the old one's removal and the new
    // one's connection, in either order: the store's state decides.
    ItemPtr note = user["user_note"];
    const QString text = note ? note.AsString() : QString();
    const QIcon icon = note ? Icon(":/icons/note_icon") : QIcon();
    if (QTreeWidgetItem* row = UserRow(user)) {
        row->setText(4, note ? FirstLineOf(text) : QString());
        row->setIcon(4, icon);
    }
    for (const char* node : {kUnsharedNode, kIgnoredNode}) {
        if (QTreeWidgetItem* row = m_rows.RowOf(user, node)) {
            row->setText(1, text);
            row->setIcon(1, icon);
        }
    }
}
