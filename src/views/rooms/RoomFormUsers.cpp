// A joined room's user list: one row per user in the room, following the
// store as users come and go, operators change and notes are written, with
// the user menu, the note and a private chat a click away.
#include "RoomForm.h"

#include <QHeaderView>
#include <QMenu>

#include "ChatsForm.h"
#include "Data.h"
#include "QRoomUserListItemWidget.h"
#include "RoomUserEvents.h"
#include "ServerNames.h"
#include "common/ColumnWidths.h"
#include "common/PeerTextDelegate.h"
#include "ui_RoomForm.h"
#include "users/UserMenuOptions.h"
#include "users/UserWindows.h"

namespace {

using Row = QRoomUserListItemWidget;

const QFont::Weight kOperatorWeight = QFont::Bold; // 75

} // namespace

void RoomForm::SetUpUserList()
{
    QTreeWidget* list = ui->userList;
    list->setColumnCount(6);
    list->setHeaderLabels({QString(), QString(), tr("User"), QString(), tr("Files"), tr("K/s")});
    list->headerItem()->setIcon(Row::NoteColumn, QIcon(":/icons/note_icon"));
    // The icon columns are narrower than the style's least section.
    list->header()->setMinimumSectionSize(16);
    // The figures' columns are wide enough for their usual figures at the
    // desktop's font.
    ColumnWidths::Set(list, {20, 25, 90, 25, 50, 40}, {QString(), QString(), QString(), QString(), "88,888", "888.8"});
    ColumnWidths::AlignRight(list, {4, 5});
    list->header()->setStretchLastSection(true);
    list->setItemDelegateForColumn(Row::NameColumn, new PeerTextDelegate(list));
    list->setSortingEnabled(true);
    list->sortItems(Row::NameColumn, Qt::AscendingOrder);
}

void RoomForm::RegisterUserListHandlers()
{
    // Users coming and going: heard once for all pages.
    RoomUserEvents::Add(this);
    // The operators and the owner of this room only: a user may hold a
    // role in several rooms, and only this room's sets matter here. The
    // owner is followed too, though a row takes the role when it is made:
    // the server names a private room's owner only after its users, so on
    // a first entry no row would ever show who owns the room.
    auto follow = [this](const char* nodeType, void (RoomForm::*on)(ItemPtr), void (RoomForm::*off)(ItemPtr)) {
        auto ofThisRoom = [this](ConnectionInfo& c) {
            return c.item2.GetType() == d.GetType(ServerNames::User) && c.item1[ServerNames::Room] == RoomItem();
        };
        Type* type = d.GetType(nodeType);
        type->AddConnectedHandler(new FunctionHandler<ConnectionInfo&>(this, [=](ConnectionInfo& c) {
            if (ofThisRoom(c))
                (this->*on)(c.item2);
        }));
        type->AddDisconnectedHandler(new FunctionHandler<ConnectionInfo&>(this, [=](ConnectionInfo& c) {
            if (ofThisRoom(c))
                (this->*off)(c.item2);
        }));
    };
    follow(ServerNames::RoomOperators, &RoomForm::OnOperatorAdded, &RoomForm::OnOperatorRemoved);
    follow(ServerNames::RoomOwner, &RoomForm::OnOwnerSet, &RoomForm::OnOwnerGone);
}

void RoomForm::RegisterNoteHandlers()
{
    PathNode* changed = new PathNode(&d, ServerNames::User);
    new PathNode(changed, "user_note", 0);
    d.AddPathEventHandler(changed, new EventHandler<RoomForm, ItemPtr>(this, &RoomForm::OnUserNoteChanged));
    PathNode* removed = new PathNode(&d, ServerNames::User);
    new PathNode(removed, "user_note", 5);
    d.AddPathEventHandler(removed, new EventHandler<RoomForm, ItemPtr>(this, &RoomForm::OnUserNoteRemoved));
}

bool RoomForm::HasRoomRole(ItemPtr user, const char* node) const
{
    return RoomItem()[node].IsConnected(user);
}

void RoomForm::SetUserCountLater()
{
    // A join lists thousands of users in one turn; the room list's cell
    // needs writing (and measuring) once, not once per user.
    if (m_countPending)
        return;
    m_countPending = true;
    QMetaObject::invokeMethod(
        this, [this] { SetUserCount(); }, Qt::QueuedConnection);
}

void RoomForm::SetUserCount()
{
    m_countPending = false;
    ItemPtr room = RoomItem();
    room += d.GetType(ServerNames::UserCount)->GetItem(Value(room.CountItems(ServerNames::User)));
}

QRoomUserListItemWidget* RoomForm::MakeUserRow(ItemPtr user)
{
    auto* row = new Row(nullptr);
    row->Show(user);
    const bool owner = HasRoomRole(user, ServerNames::RoomOwner);
    if (owner || HasRoomRole(user, ServerNames::RoomOperators)) {
        QFont font = row->font(Row::NameColumn);
        font.setWeight(kOperatorWeight);
        font.setUnderline(owner);
        row->setFont(Row::NameColumn, font);
    }
    m_userRows.insert(user.AsString(), row);
    return row;
}

void RoomForm::ListPresentUsers()
{
    // The page may be made a turn after the server entered the room and
    // listed its users: they are taken as they are, in one go.
    QList<QTreeWidgetItem*> rows;
    for (const ItemPtr& user : RoomItem().GetItems(ServerNames::User)) {
        if (!m_userRows.contains(user.AsString()) && user.IsConnected(ServerNames::AverageDownloadSpeed) &&
            user.IsConnected(ServerNames::SharedFileCount) && user.IsConnected(ServerNames::CountryCode))
            rows << MakeUserRow(user);
    }
    if (rows.isEmpty())
        return;
    // Put in unsorted and sorted once: a sorting list would place the rows
    // one by one.
    ui->userList->setSortingEnabled(false);
    ui->userList->addTopLevelItems(rows);
    ui->userList->setSortingEnabled(true);
    SetUserCount();
}

void RoomForm::OnUserAdded(ItemPtr user)
{
    // A changed figure of a listed user brings the user here again; the
    // row keeps what it was made with until the user joins anew. A room
    // left lists nobody until it is entered again.
    if (m_left || m_userRows.contains(user.AsString()))
        return;
    ui->userList->addTopLevelItem(MakeUserRow(user));
    SetUserCountLater();
}

void RoomForm::OnUserRemoved(ItemPtr user)
{
    Row* row = m_userRows.take(user.AsString());
    if (!row)
        return;
    delete row;
    SetUserCountLater();
}

void RoomForm::OnOperatorAdded(ItemPtr user)
{
    if (Row* row = m_userRows.value(user.AsString())) {
        QFont font = row->font(Row::NameColumn);
        font.setWeight(kOperatorWeight);
        row->setFont(Row::NameColumn, font);
    }
}

void RoomForm::OnOperatorRemoved(ItemPtr user)
{
    // The owner keeps the underline, not the weight.
    if (Row* row = m_userRows.value(user.AsString())) {
        QFont font = row->font(Row::NameColumn);
        font.setWeight(QFont::Normal);
        row->setFont(Row::NameColumn, font);
    }
}

void RoomForm::OnOwnerSet(ItemPtr user)
{
    if (Row* row = m_userRows.value(user.AsString())) {
        QFont font = row->font(Row::NameColumn);
        font.setWeight(kOperatorWeight);
        font.setUnderline(true);
        row->setFont(Row::NameColumn, font);
    }
}

void RoomForm::OnOwnerGone(ItemPtr user)
{
    if (Row* row = m_userRows.value(user.AsString())) {
        QFont font = row->font(Row::NameColumn);
        font.setWeight(HasRoomRole(user, ServerNames::RoomOperators) ? kOperatorWeight : QFont::Normal);
        font.setUnderline(false);
        row->setFont(Row::NameColumn, font);
    }
}

void RoomForm::OnUserNoteChanged(ItemPtr user)
{
    if (Row* row = m_userRows.value(user.AsString()))
        row->SetNote(true);
}

void RoomForm::OnUserNoteRemoved(ItemPtr user)
{
    if (Row* row = m_userRows.value(user.AsString()))
        row->SetNote(false);
}

void RoomForm::OnUserItemClicked(QTreeWidgetItem* ip_item, int i_column)
{
    if (!ip_item || i_column != Row::NoteColumn)
        return;
    const QString name = ip_item->text(Row::NameColumn);
    if (d.GetType(ServerNames::User)->HasItem(name).IsConnected("user_note"))
        UserWindows::Open(g_userWindows.note, name);
}

void RoomForm::OnUserItemDoubleClicked(QTreeWidgetItem* ip_item, int)
{
    if (ip_item && chatsForm)
        chatsForm->OpenChatForm(ip_item->text(Row::NameColumn));
}

void RoomForm::OnUserListContextMenuRequested(QPoint i_point)
{
    const QTreeWidgetItem* row = ui->userList->itemAt(i_point);
    if (!row)
        return;
    // The user may leave, and the row go, while the menu is open: only
    // the name goes into it.
    const QString name = row->text(Row::NameColumn);
    QMenu menu;
    UserMenuOptions options(&menu, name, nullptr);
    menu.exec(ui->userList->viewport()->mapToGlobal(i_point));
}
