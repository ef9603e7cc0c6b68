// The toolbar's actions of the rooms page: the room list's and those of the
// room pages, which the action's name alone tells apart.
#include "RoomsForm.h"

#include <QMessageBox>

#include "ActionSetToolBar.h"
#include "ChatLogForm.h"
#include "ChatText.h"
#include "CreateRoomDialog.h"
#include "Data.h"
#include "FocusHelpers.h"
#include "RoomWallForm.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "TabWidget.h"
#include "common/PeerText.h"
#include "ui_RoomsForm.h"

namespace {

// A question box as QMessageBox::question makes it, but always plain text:
// the room's name in it comes from other users.
bool Confirm(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

void RoomsForm::OnToolBarActionTriggered(QWidget*, QString i_action)
{
    if (i_action == QLatin1String("refresh_room_list")) {
        if (gp_server)
            gp_server->GetRoomList();
    } else if (i_action == QLatin1String("create_room")) {
        if (!createRoomDialog)
            new CreateRoomDialog(this);
        createRoomDialog->show();
        createRoomDialog->raise();
        createRoomDialog->activateWindow();
    } else if (i_action == QLatin1String("enable_private_room_add")) {
        // The setting and the action's text follow the server's answer.
        if (gp_server)
            gp_server->EnablePrivateRoomAdd(GetSetting("enable_private_room_add") != QLatin1String("yes"));
    } else {
        // The rest act on the room of the page (or row) that was current;
        // without one there is nothing to act on, and no nameless room is
        // made up.
        const QString name = actionBar ? actionBar->GetKey("room") : QString();
        if (name.isEmpty())
            return;
        if (i_action == QLatin1String("toggle_room_autojoin"))
            ToggleMarker(d.GetType(ServerNames::Room)->GetItem(name), ServerNames::RoomAutojoin);
        else if (i_action == QLatin1String("toggle_room_activity_alert"))
            ToggleMarker(d.GetType(ServerNames::Room)->GetItem(name), "room_activity_alert");
        else if (i_action == QLatin1String("room_chat_log"))
            OpenRoomChatLog(d.GetType(ServerNames::Room)->GetItem(name));
        else if (i_action == QLatin1String("room_wall"))
            OpenRoomWall(d.GetType(ServerNames::Room)->GetItem(name));
        else if (i_action == QLatin1String("give_up_membership"))
            GiveUpMembership(name);
        else if (i_action == QLatin1String("give_up_ownership"))
            GiveUpOwnership(name);
    }
}

void RoomsForm::ToggleMarker(ItemPtr room, const char* marker)
{
    if (room.IsConnected(marker))
        room.Disconnect(marker);
    else
        room.NewItem(marker);
}

bool RoomsForm::FocusOpenWidget(ItemPtr room, const char* formType)
{
    const ItemPtr form = room[formType];
    if (!form || !form.AsUInt64())
        return false;
    FocusWidgetAndParents(form.AsObject<QWidget>());
    return true;
}

void RoomsForm::OpenRoomChatLog(ItemPtr room)
{
    if (FocusOpenWidget(room, "chat_log_form"))
        return;
    auto* viewer = new ChatLogForm(ChatText::LogPath(ChatText::Log::Room, room.AsString()), this);
    ui->roomsTabControl->addTab(viewer, QIcon(":/icons/note_icon"), PeerText::Title(room.AsString()));
    room += d.GetType("chat_log_form")->GetItem(Value(static_cast<ChatLogViewer*>(viewer)));
    FocusWidgetAndParents(viewer);
}

void RoomsForm::OpenRoomWall(ItemPtr room)
{
    if (FocusOpenWidget(room, "room_wall_form"))
        return;
    auto* wall = new RoomWallForm(room.AsString(), this);
    ui->roomsTabControl->addTab(wall, QIcon(":/icons/wall_icon"), PeerText::Title(room.AsString()));
    room += d.GetType("room_wall_form")->GetItem(Value(wall));
    FocusWidgetAndParents(wall);
}

void RoomsForm::GiveUpMembership(const QString& room)
{
    const ItemPtr item = d.GetType(ServerNames::Room)->GetItem(room);
    if (!item.IsConnected(ServerNames::IsMember) || item.IsConnected(ServerNames::IsOwner))
        return;
    if (!Confirm(tr("Give up membership?"),
                 tr("Are you sure you want to give up your membership to the %1 private room?").arg(room)))
        return;
    if (gp_server)
        gp_server->GiveUpPrivateRoomMembership(room);
}

void RoomsForm::GiveUpOwnership(const QString& room)
{
    if (!d.GetType(ServerNames::Room)->GetItem(room).IsConnected(ServerNames::IsOwner))
        return;
    if (!Confirm(tr("Give up membership?"),
                 tr("Are you SURE you want to give up your ownership of the %1 private room?").arg(room)))
        return;
    if (!Confirm(tr("REALLY?"), tr("REALLY?")))
        return;
    if (gp_server) {
        gp_server->GiveUpPrivateRoom(room);
        gp_server->LeaveRoom(room);
    }
}
