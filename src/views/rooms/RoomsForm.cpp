#include "RoomsForm.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QMenu>
#include <QSplitter>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "QRoomListItemWidget.h"
#include "RoomForm.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "SizeManager.h"
#include "TabWidget.h"
#include "common/PeerText.h"
#include "common/PeerTextDelegate.h"
#include "ui_RoomsForm.h"

namespace {

const int kListWidth = 220;
const QFont::Weight kRoleWeight = QFont::Bold; // 75

} // namespace

RoomsForm::RoomsForm(QWidget* parent) : QWidget(parent), ui(new Ui_RoomsForm)
{
    ui->setupUi(this);
    ui->roomList->setColumnWidth(0, 150);
    ui->roomList->setColumnWidth(1, 30);
    ui->roomSplitter->setStretchFactor(0, 1);
    ui->roomSplitter->setStretchFactor(1, 0);
    ui->roomList->setHeaderLabels({tr("Room Name"), tr("Users")});
    ui->roomList->setContextMenuPolicy(Qt::CustomContextMenu);
    ui->roomList->setItemDelegateForColumn(0, new PeerTextDelegate(ui->roomList));
    connect(ui->roomList, &QWidget::customContextMenuRequested, this, &RoomsForm::OnRoomListContextMenuRequested);
    connect(ui->roomList, &QTreeWidget::itemDoubleClicked, this, &RoomsForm::OnRoomListItemDoubleClicked);
    layout()->setContentsMargins(0, 0, 0, 0);
}

RoomsForm::~RoomsForm()
{
    // Rows made but not yet in the list are the page's own.
    qDeleteAll(m_madeRows);
    delete ui;
}

void RoomsForm::Init()
{
    Type* room = d.GetType(ServerNames::Room);
    room->AddItemAddedHandler(new EventHandler<RoomsForm, ItemPtr>(this, &RoomsForm::OnRoomAdded));
    for (const ItemPtr& existing : room->GetItems())
        OnRoomAdded(existing);
    // The rooms of the data file are listed at once.
    while (!m_newRooms.isEmpty())
        ListNewRooms();

    const struct
    {
        const char* marker;
        PathNodeRelation relation;
        void (RoomsForm::*handler)(ItemPtr);
    } paths[] = {{ServerNames::UserCount, 0, &RoomsForm::OnRoomUserCountChanged},
                 {ServerNames::IsOwner, 0, &RoomsForm::OnBecomingRoomOwner},
                 {ServerNames::IsOperator, 0, &RoomsForm::OnBecomingRoomOperator},
                 {ServerNames::IsMember, 0, &RoomsForm::OnBecomingRoomMember},
                 {ServerNames::IsMember, 5, &RoomsForm::OnLosingRoomRole},
                 {ServerNames::IsOperator, 5, &RoomsForm::OnLosingRoomRole},
                 {ServerNames::IsOwner, 5, &RoomsForm::OnLosingRoomRole}};
    for (const auto& path : paths) {
        PathNode* root = new PathNode(&d, ServerNames::Room);
        new PathNode(root, path.marker, path.relation);
        d.AddPathEventHandler(root, new EventHandler<RoomsForm, ItemPtr>(this, path.handler));
    }

    ui->roomList->sortItems(0, Qt::AscendingOrder);

    d.AddConnectionEventHandler(room, d.GetType(ServerNames::InRoom),
                                new EventHandler<RoomsForm, ConnectionInfo&>(this, &RoomsForm::OnEnteredRoom));

    if (actionBar) {
        const struct
        {
            const char* set;
            const char* action;
            QString text;
            const char* icon;
        } actions[] = {
            {"room_list", "create_room", tr("Create Room"), ":/icons/room_icon"},
            {"room_list", "refresh_room_list", tr("Refresh Room List"), ":/icons/room_icon"},
            {"room_list", "enable_private_room_add", tr("Accept Private Room Invitations"), ":/icons/room_icon"},
            {"room", "toggle_room_autojoin", tr("Toggle Autojoin"), ":/icons/room_icon"},
            {"room", "toggle_room_activity_alert", tr("Toggle Activity Alert"), ":/icons/alert_icon"},
            {"room", "room_chat_log", tr("Chat Log"), ":/icons/note_icon"},
            {"room", "room_wall", tr("Room Wall"), ":/icons/wall_icon"},
            {"room", "give_up_membership", tr("Give Up Membership"), ":/icons/room_icon"},
            {"room", "give_up_ownership", tr("Give Up Room"), ":/icons/room_icon"},
        };
        for (const auto& action : actions)
            actionBar->AddSetAction(action.set, action.action, action.text, action.icon, false);
        actionBar->RegisterWidget(ui->roomList, "room_list");
        actionBar->AddWidgetColumnKey(ui->roomList, "room", 0);
    }

    ui->roomSplitter->setSizes({width() - kListWidth, kListWidth});
    if (sizeManager) {
        sizeManager->RegisterSplitter("room_list_splitter", ui->roomSplitter, QList<int>());
        sizeManager->RegisterTreeWidget("room_list", ui->roomList);
    }

    if (gp_server) {
        connect(gp_server, &Server::PrivateRoomAddEnabled, this, &RoomsForm::OnPrivateRoomAddEnabled);
        connect(gp_server, &Server::Connected, this, &RoomsForm::OnConnected);
        connect(gp_server, &Server::RoomChat, this, &RoomsForm::OnRoomChatBeforePage);
    }
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &RoomsForm::OnToolBarActionTriggered);
    connect(ui->roomsTabControl, &QTabWidget::tabCloseRequested, this, &RoomsForm::OnRoomTabClosed);

    room->RelateToType(d.NewType("room_wall_form", 0, false, true), one, one, false);
    room->RelateToType(d.NewType("room_activity_alert", 2, true, false), many, one, false);
}

RoomForm* RoomsForm::FindRoomForm(const QString& room) const
{
    for (int i = 0; i < ui->roomsTabControl->count(); ++i) {
        RoomForm* page = qobject_cast<RoomForm*>(ui->roomsTabControl->widget(i));
        if (page && page->Room() == room)
            return page;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Rows

QRoomListItemWidget* RoomsForm::Row(ItemPtr room) const
{
    return m_roomRows.value(room.AsString());
}

void RoomsForm::OnRoomAdded(ItemPtr room)
{
    const QString name = room.AsString();
    if (m_roomRows.contains(name))
        return;
    // A server's list makes tens of thousands of rooms in one message: their
    // rows are made after it, in slices, and go into the list together.
    if (m_newRooms.isEmpty())
        QMetaObject::invokeMethod(this, &RoomsForm::ListNewRooms, Qt::QueuedConnection);
    m_newRooms << name;
    m_roomRows.insert(name, nullptr);
}

void RoomsForm::ListNewRooms()
{
    const int kSliceMs = 30;
    QElapsedTimer slice;
    slice.start();
    Type* rooms = d.GetType(ServerNames::Room);
    while (!m_newRooms.isEmpty() && slice.elapsed() < kSliceMs) {
        // A few rows between looks at the clock.
        for (int i = 0; i < 256 && !m_newRooms.isEmpty(); ++i) {
            const QString name = m_newRooms.takeFirst();
            auto* row = new QRoomListItemWidget(name);
            m_roomRows.insert(name, row);
            m_madeRows << row;
            if (const ItemPtr room = rooms->HasItem(name)) {
                ShowCount(room, row);
                ShowRoles(room);
            }
        }
    }
    if (!m_newRooms.isEmpty()) {
        QMetaObject::invokeMethod(this, &RoomsForm::ListNewRooms, Qt::QueuedConnection);
        return;
    }
    // One insertion, and one sort of the list after it: a sorting list
    // would place the rows one by one.
    QTreeWidget* list = ui->roomList;
    const bool sorting = list->isSortingEnabled();
    list->setSortingEnabled(false);
    list->addTopLevelItems(m_madeRows);
    m_madeRows.clear();
    list->setSortingEnabled(sorting);
}

void RoomsForm::ShowCount(ItemPtr room, QRoomListItemWidget* row)
{
    const qint64 users = room[ServerNames::UserCount].AsInt64();
    if (!row->treeWidget()) {
        row->SetCount(users);
        return;
    }
    {
        // A refresh changes the count of every listed room at once. Told of
        // each, the list would look for every row among all of them.
        const QSignalBlocker quiet(ui->roomList->model());
        row->SetCount(users);
    }
    if (!m_countsChanged) {
        m_countsChanged = true;
        QMetaObject::invokeMethod(this, &RoomsForm::ShowChangedCounts, Qt::QueuedConnection);
    }
}

void RoomsForm::ShowChangedCounts()
{
    m_countsChanged = false;
    QTreeWidget* list = ui->roomList;
    if (list->isSortingEnabled() && list->sortColumn() == 1)
        list->sortItems(1, list->header()->sortIndicatorOrder());
    list->viewport()->update();
}

void RoomsForm::OnRoomUserCountChanged(ItemPtr room)
{
    if (QRoomListItemWidget* row = Row(room))
        ShowCount(room, row);
}

void RoomsForm::ShowRoles(ItemPtr room)
{
    QRoomListItemWidget* row = Row(room);
    if (!row)
        return;
    // Drawn from all the roles at once: the server reports them one by one
    // and in no set order (a room list names an owner without membership,
    // the private room's state names the owner a member), and the row must
    // not lose what a remaining role shows when another one goes.
    const bool owner = room.IsConnected(ServerNames::IsOwner);
    const bool op = room.IsConnected(ServerNames::IsOperator);
    const bool member = room.IsConnected(ServerNames::IsMember);
    QFont font = row->font(0);
    font.setItalic(owner || op || member);
    font.setUnderline(owner);
    font.setWeight(owner || op ? kRoleWeight : QFont::Normal);
    if (font != row->font(0))
        row->setFont(0, font);
    // A list sorted by name moves a row whose tier changed to its new place
    // by itself; sorting all of it again for one row would cost a sort of
    // the whole list per role the server reports.
    row->SetTier(room);
}

void RoomsForm::OnBecomingRoomOwner(ItemPtr room)
{
    ShowRoles(room);
}

void RoomsForm::OnBecomingRoomOperator(ItemPtr room)
{
    ShowRoles(room);
}

void RoomsForm::OnBecomingRoomMember(ItemPtr room)
{
    ShowRoles(room);
}

void RoomsForm::OnLosingRoomRole(ItemPtr room)
{
    ShowRoles(room);
}

// ---------------------------------------------------------------------------
// Joining and the room pages

void RoomsForm::EnterRoom(const QString& room)
{
    if (gp_server)
        gp_server->EnterRoom(room, false);
}

void RoomsForm::OnRoomListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column)
{
    if (ip_item && i_column == 0)
        EnterRoom(ip_item->text(0));
}

void RoomsForm::OnRoomListContextMenuRequested(QPoint i_point)
{
    if (!ui->roomList->itemAt(i_point))
        return;
    QMenu menu;
    menu.addAction(QIcon(":/icons/room_icon"), tr("Enter Room"), this, &RoomsForm::OnEnterRoom);
    menu.exec(ui->roomList->viewport()->mapToGlobal(i_point));
}

void RoomsForm::OnEnterRoom()
{
    const QList<QTreeWidgetItem*> selected = ui->roomList->selectedItems();
    if (!selected.isEmpty())
        EnterRoom(selected.first()->text(0));
}

void RoomsForm::OnEnteredRoom(ConnectionInfo& connection)
{
    const QString name = connection.item1.AsString();
    // A page stays open when the server takes its room away; entering the
    // room again takes up that page rather than showing every line twice.
    if (RoomForm* open = FindRoomForm(name)) {
        open->Rejoined();
        return;
    }
    if (m_entered.contains(name))
        return;
    if (m_entered.isEmpty())
        QMetaObject::invokeMethod(this, &RoomsForm::OpenEnteredRooms, Qt::QueuedConnection);
    m_entered << name;
}

void RoomsForm::OpenEnteredRooms()
{
    const int kSliceMs = 30;
    QElapsedTimer slice;
    slice.start();
    while (!m_entered.isEmpty() && (slice.elapsed() < kSliceMs)) {
        const QString name = m_entered.takeFirst();
        const QList<QStringList> early = m_earlyLines.take(name);
        // Left again before its page was made: nothing to show.
        if (!d.GetType(ServerNames::Room)->GetItem(name).IsConnected(ServerNames::InRoom))
            continue;
        auto* page = new RoomForm(name, nullptr);
        ui->roomsTabControl->addTab(page, QIcon(":/icons/room_icon"), PeerText::Title(name));
        page->Init();
        for (const QStringList& line : early)
            page->OnRoomChat(line.at(0), line.at(1), line.at(2));
    }
    if (!m_entered.isEmpty())
        QMetaObject::invokeMethod(this, &RoomsForm::OpenEnteredRooms, Qt::QueuedConnection);
}

void RoomsForm::OnRoomChatBeforePage(QString room, QString user, QString text)
{
    if (m_entered.contains(room))
        m_earlyLines[room].append({room, user, text});
}

void RoomsForm::OnRoomTabClosed(int i_index)
{
    // A room page leaves its room as it goes; walls and logs forget their
    // items.
    delete ui->roomsTabControl->widget(i_index);
}

void RoomsForm::OnPrivateRoomAddEnabled(bool i_enabled)
{
    SetSetting("enable_private_room_add", i_enabled ? "yes" : "no");
    if (actionBar)
        actionBar->SetWidgetActionText(ui->roomList, "enable_private_room_add",
                                       i_enabled ? tr("Reject Private Room Invitations")
                                                 : tr("Accept Private Room Invitations"));
}

void RoomsForm::OnConnected()
{
    // A new login starts without invitations until the server says more.
    SetSetting("enable_private_room_add", "no");
}
