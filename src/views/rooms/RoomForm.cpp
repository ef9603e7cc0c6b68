#include "RoomForm.h"

#include <QDesktopServices>
#include <QSplitter>

#include "ActionSetToolBar.h"
#include "ChatForm.h"
#include "ChatText.h"
#include "Data.h"
#include "EventToolBar.h"
#include "FocusHelpers.h"
#include "RoomUserEvents.h"
#include "Server.h"
#include "ServerNames.h"
#include "SizeManager.h"
#include "TimerManager.h"
#include "common/PeerText.h"
#include "common/ViewClock.h"
#include "ui_RoomForm.h"

RoomForm::RoomForm(QString room, QWidget* parent) : QWidget(parent), m_room(room), ui(new Ui_RoomForm)
{
    ui->setupUi(this);
    ui->splitter->setSizes({280, 280});
    ui->splitter->setStretchFactor(0, 1);
    ui->splitter->setStretchFactor(1, 0);
    SetUpUserList();

    RegisterUserListHandlers();
    ListPresentUsers();

    if (gp_server)
        connect(gp_server, &Server::RoomChat, this, &RoomForm::OnRoomChat);

    {
        PathNode* root = new PathNode(RoomItem());
        new PathNode(root, ServerNames::InRoom, 5);
        d.AddPathEventHandler(root, new EventHandler<RoomForm, ItemPtr>(this, &RoomForm::OnLeftRoom));
    }

    const ItemPtr roomItem = RoomItem();
    if (actionBar) {
        actionBar->RegisterWidget(this, "room");
        actionBar->AddWidgetKey(this, "room", m_room);
        OnRoomAutojoinOn(roomItem);
        OnRoomActivityAlertOn(roomItem);
        ShowGiveUpActions(roomItem);
    }
    RegisterMarkerHandlers(ServerNames::RoomAutojoin, &RoomForm::OnRoomAutojoinOn, &RoomForm::OnRoomAutojoinOff);
    RegisterMarkerHandlers("room_activity_alert", &RoomForm::OnRoomActivityAlertOn, &RoomForm::OnRoomActivityAlertOff);
    // A private room's roles arrive after its page is made (the server
    // enters the room first), and change while it is open.
    RegisterMarkerHandlers(ServerNames::IsOwner, &RoomForm::OnOwnRoleChanged, &RoomForm::OnOwnRoleChanged);
    RegisterMarkerHandlers(ServerNames::IsMember, &RoomForm::OnOwnRoleChanged, &RoomForm::OnOwnRoleChanged);

    if (gp_server) {
        connect(gp_server, &Server::Connected, this, &RoomForm::OnConnected);
        connect(gp_server, &Server::Disconnected, this, &RoomForm::OnDisconnected);
    }
    if (timerManager)
        connect(timerManager, &QTimer::timeout, this, &RoomForm::CheckChatInactivity);
    RegisterNoteHandlers();
}

RoomForm::~RoomForm()
{
    RoomUserEvents::Remove(this);
    // The program's end deletes the server connection before the pages:
    // there is nobody left to tell then.
    if (!m_left && gp_server) {
        RemoveDataHandlers();
        if (gp_server->IsConnected())
            gp_server->LeaveRoom(m_room);
        else
            // No connection holds the room now, and no reply will take the
            // mark away; left on, it would keep the next entry from opening
            // a page.
            RoomItem().Disconnect(ServerNames::InRoom);
    }
    delete ui;
}

void RoomForm::Init()
{
    if (sizeManager) {
        sizeManager->RegisterSplitter("room_splitter", ui->splitter, QList<int>());
        sizeManager->RegisterTreeWidget("room_user_list", ui->userList);
    }
    RegisterWidgetForTabFocus(ui->chatEdit, 1);
    // A paste is taken whole, as long as one message can carry it.
    ui->chatEdit->setMaxLength(ChatText::InputLimit);
    ui->userList->setColumnWidth(0, 20);
}

ItemPtr RoomForm::RoomItem() const
{
    return d.GetType(ServerNames::Room)->GetItem(m_room);
}

void RoomForm::RegisterMarkerHandlers(const char* marker, void (RoomForm::*on)(ItemPtr), void (RoomForm::*off)(ItemPtr))
{
    PathNode* connected = new PathNode(RoomItem());
    new PathNode(connected, marker, 0);
    d.AddPathEventHandler(connected, new EventHandler<RoomForm, ItemPtr>(this, on));
    PathNode* disconnected = new PathNode(RoomItem());
    new PathNode(disconnected, marker, 5);
    d.AddPathEventHandler(disconnected, new EventHandler<RoomForm, ItemPtr>(this, off));
}

void RoomForm::OnLeftRoom(ItemPtr)
{
    if (m_left)
        return;
    m_left = true;
    // Nobody is listed in a room one is not in, and a line typed now would
    // reach nobody: the page says so and takes none until the room is
    // entered again.
    ui->userList->clear();
    m_userRows.clear();
    ui->chatEdit->clear();
    ui->chatEdit->setEnabled(false);
    ui->chatEdit->setPlaceholderText(tr("You are no longer in this room."));
    AddStatusMessage(QString("You left the room at %1.").arg(ViewClock::Now().toString(ChatText::ShortTimeFormat)));
}

void RoomForm::Rejoined()
{
    m_left = false;
    ui->chatEdit->setEnabled(true);
    ui->chatEdit->setPlaceholderText(QString());
}

void RoomForm::OnOwnRoleChanged(ItemPtr room)
{
    if (actionBar)
        ShowGiveUpActions(room);
}

void RoomForm::ShowGiveUpActions(ItemPtr room)
{
    // Each is shown only where it can apply: an owner gives up the room,
    // a member who does not own it the membership.
    const bool owner = room.IsConnected(ServerNames::IsOwner);
    actionBar->SetWidgetActionHidden(this, "give_up_membership", !room.IsConnected(ServerNames::IsMember) || owner);
    actionBar->SetWidgetActionHidden(this, "give_up_ownership", !owner);
}

// The "on" handlers also set the texts at construction, for either state.
void RoomForm::OnRoomAutojoinOn(ItemPtr room)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, "toggle_room_autojoin",
                                       room.IsConnected(ServerNames::RoomAutojoin) ? tr("Auto-Join [on]")
                                                                                   : tr("Auto-Join [off]"));
}

void RoomForm::OnRoomAutojoinOff(ItemPtr)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, "toggle_room_autojoin", tr("Auto-Join [off]"));
}

void RoomForm::OnRoomActivityAlertOn(ItemPtr room)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, "toggle_room_activity_alert",
                                       room.IsConnected("room_activity_alert") ? tr("Activity Alert [on]")
                                                                               : tr("Activity Alert [off]"));
}

void RoomForm::OnRoomActivityAlertOff(ItemPtr)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, "toggle_room_activity_alert", tr("Activity Alert [off]"));
}

void RoomForm::OnRoomChat(QString i_room, QString i_user, QString i_chat)
{
    if (i_room != m_room)
        return;
    const QString text = i_chat.trimmed();
    if (ChatText::ShowActionOrStamp(*this, m_activity, i_user, text))
        return;
    ChatText::AppendCapped(ui->chatView, ChatText::ChatLineHtml(i_user, text));
    LogChat(ChatText::ChatLogLine(i_user, text));

    if (eventToolBar && RoomItem().IsConnected("room_activity_alert"))
        eventToolBar->AddEvent(PeerText::Title(m_room), ":/icons/room_icon", ui->chatEdit, QString(), "room_chat",
                               false);
}

void RoomForm::OnEnterPressed()
{
    const QString text = ui->chatEdit->text();
    if (text.isEmpty() || m_left)
        return;
    // Out of the server, a line would reach no one: say so, and keep it in
    // the input to send again once back, as a private chat does.
    if (!gp_server || gp_server->GetState() != Server::StateLoggedIn) {
        AddStatusMessage(ChatForm::NotSentNotice);
        return;
    }
    // Shown when the server says it back, like everyone else's lines.
    gp_server->SendRoomChat(m_room, text);
    ui->chatEdit->clear();
}

void RoomForm::OnConnected()
{
    AddStatusMessage(QString("Reconnected at %1.").arg(ViewClock::Now().toString(ChatText::ShortTimeFormat)));
    // A room the server took away (given up, or the user was put out) is
    // not entered again behind the user's back.
    if (gp_server && !m_left)
        gp_server->EnterRoom(m_room, false);
}

void RoomForm::OnDisconnected()
{
    AddStatusMessage(QString("Disconnected at %1.").arg(ViewClock::Now().toString(ChatText::ShortTimeFormat)));
}

void RoomForm::CheckChatInactivity()
{
    const QString ended = m_activity.Check();
    if (!ended.isEmpty())
        AddStatusMessage(ended);
}

void RoomForm::OnURLClicked(QUrl i_url)
{
    QDesktopServices::openUrl(i_url);
    ui->chatEdit->setFocus();
}

void RoomForm::AddStatusMessage(QString text)
{
    ChatText::AppendCapped(ui->chatView, ChatText::StatusLineHtml(text));
}

void RoomForm::LogChat(QString line)
{
    ChatText::LogChat(ChatText::Log::Room, m_room, line);
}
