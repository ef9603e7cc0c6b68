// Rooms: the room list, joining and leaving, chat, walls and private rooms.
#include "Server.h"

#include <QSet>
#include <algorithm>

#include "Data.h"
#include "Log.h"
#include "ServerNames.h"
#include "Settings.h"

namespace {
// Makes the set of users connected to node exactly names, cutting and
// adding only what changes so that observers see real changes only.
void SetNodeUsers(ItemPtr node, const QStringList& names)
{
    QSet<QString> wanted(names.begin(), names.end());
    for (const ItemPtr& user : node.GetItems(ServerNames::User))
        if (!wanted.contains(user.AsString()))
            node.Disconnect(user);
    for (const QString& name : names)
        node += d.GetType(ServerNames::User)->GetItem(name);
}

void AddTicker(ItemPtr room, ItemPtr user, const QString& text, qint64 order)
{
    ItemPtr ticker = d.GetType(ServerNames::RoomTicker)->NewItem();
    ticker += d.GetType(ServerNames::RoomTickerText)->GetItem(text);
    ticker += d.GetType(ServerNames::RoomTickerOrder)->GetItem(Value(static_cast<long long>(order)));
    ticker += user;
    room += ticker;
}
} // namespace

void Server::GetRoomList()
{
    SetSetting("accept_room_list", "yes");
    Send(ServerMessages::WriteRoomList());
}

void Server::EnterRoom(QString room, bool isPrivate)
{
    Send(ServerMessages::WriteJoinRoom(room, isPrivate));
}

void Server::LeaveRoom(QString room)
{
    if (!d.GetType(ServerNames::Room)->HasItem(room).IsConnected(ServerNames::InRoom))
        return;
    Send(ServerMessages::WriteLeaveRoom(room));
}

void Server::SendRoomChat(QString room, QString text)
{
    Send(ServerMessages::WriteSayInRoom(room, text));
}

void Server::SetRoomTicker(QString room, QString text)
{
    Send(ServerMessages::WriteSetRoomWallMessage(room, text));
}

void Server::EnablePrivateRoomAdd(bool enable)
{
    Send(ServerMessages::WritePrivateRoomToggle(enable));
}

void Server::GiveUpPrivateRoomMembership(QString room)
{
    Send(ServerMessages::WritePrivateRoomDismember(room));
}

void Server::GiveUpPrivateRoom(QString room)
{
    Send(ServerMessages::WritePrivateRoomDisown(room));
}

void Server::AddPrivateRoomMember(QString room, QString user)
{
    Send(ServerMessages::WritePrivateRoomAddMember(room, user));
}

void Server::RemovePrivateRoomMember(QString room, QString user)
{
    Send(ServerMessages::WritePrivateRoomRemoveMember(room, user));
}

void Server::AddPrivateRoomOperator(QString room, QString user)
{
    Send(ServerMessages::WritePrivateRoomAddOperator(room, user));
}

void Server::RemovePrivateRoomOperator(QString room, QString user)
{
    Send(ServerMessages::WritePrivateRoomRemoveOperator(room, user));
}

void Server::SetOwnRoomRole(ItemPtr room, const char* marker, bool on)
{
    if (on)
        room.NewItem(marker);
    else
        room.Disconnect(marker);
}

bool Server::HandleRoomList(const QByteArray& body)
{
    ServerMessages::RoomListBody list;
    if (!ServerMessages::ReadRoomList(body, list))
        return false;

    const bool accept = GetSetting("accept_room_list") == "yes";
    SetSetting("accept_room_list", "no");
    if (!accept) {
        Log(Area, 2, "Unrequested room list ignored");
        return true;
    }
    Type* userCount = d.GetType(ServerNames::UserCount);
    for (const ServerMessages::RoomListEntry& entry : list.publicRooms)
        Room(entry.name) += userCount->GetItem(Value(entry.users));
    for (const ServerMessages::RoomListEntry& entry : list.privateRooms) {
        ItemPtr room = Room(entry.name);
        room += userCount->GetItem(Value(entry.users));
        room.NewItem("is_private");
        // An owner is a member of the room, as the private room's own state says.
        SetOwnRoomRole(room, ServerNames::IsMember,
                       entry.roles & (ServerMessages::RoleMember | ServerMessages::RoleOwner));
        SetOwnRoomRole(room, ServerNames::IsOperator, entry.roles & ServerMessages::RoleOperator);
        SetOwnRoomRole(room, ServerNames::IsOwner, entry.roles & ServerMessages::RoleOwner);
    }
    return true;
}

bool Server::HandleJoinRoom(const QByteArray& body)
{
    ServerMessages::JoinedRoomBody joined;
    if (!ServerMessages::ReadJoinedRoom(body, joined))
        return false;

    ItemPtr room = Room(joined.room);
    room.NewItem(ServerNames::InRoom);
    for (const ItemPtr& user : room.GetItems(ServerNames::User))
        room.Disconnect(user);
    // Figures first: whoever watches users entering the room reads them
    // as they are now, not as they were when the user was last seen.
    Type* country = d.GetType(ServerNames::CountryCode);
    for (const ServerMessages::RoomUser& entry : joined.users) {
        ItemPtr user = User(entry.name);
        SetUserStats(user, entry.stats);
        user += country->GetItem(entry.country);
        room += user;
    }
    return true;
}

bool Server::HandleLeaveRoom(const QByteArray& body)
{
    QString name;
    if (!ServerMessages::ReadLeftRoom(body, name))
        return false;
    d.GetType(ServerNames::Room)->HasItem(name).Disconnect(ServerNames::InRoom);
    return true;
}

bool Server::HandleUserJoinedRoom(const QByteArray& body)
{
    ServerMessages::UserJoinedRoomBody joined;
    if (!ServerMessages::ReadUserJoinedRoom(body, joined))
        return false;
    ItemPtr user = User(joined.user.name);
    SetUserStats(user, joined.user.stats);
    user += d.GetType(ServerNames::CountryCode)->GetItem(joined.user.country);
    Room(joined.room) += user;
    return true;
}

bool Server::HandleUserLeftRoom(const QByteArray& body)
{
    ServerMessages::RoomAndUserBody left;
    if (!ServerMessages::ReadUserLeftRoom(body, left))
        return false;
    ItemPtr room = d.GetType(ServerNames::Room)->HasItem(left.room);
    ItemPtr user = d.GetType(ServerNames::User)->HasItem(left.user);
    if (room && user)
        room.Disconnect(user);
    return true;
}

bool Server::HandleRoomChat(const QByteArray& body)
{
    ServerMessages::RoomTextBody chat;
    if (!ServerMessages::ReadRoomChat(body, chat))
        return false;
    if (d.GetType(ServerNames::User)->HasItem(chat.user).IsConnected(ServerNames::IsIgnored))
        return true;
    emit RoomChat(chat.room, chat.user, chat.text);
    return true;
}

bool Server::HandleRoomWall(const QByteArray& body)
{
    ServerMessages::RoomWallBody wall;
    if (!ServerMessages::ReadRoomWall(body, wall))
        return false;

    ItemPtr room = Room(wall.room);
    room.GetItems(ServerNames::RoomTicker).Remove();
    qint64 order = 0;
    for (const auto& message : wall.messages)
        AddTicker(room, User(message.first), message.second, order++);
    m_nextWallOrder.insert(wall.room, order);
    return true;
}

bool Server::HandleRoomWallMessage(const QByteArray& body)
{
    ServerMessages::RoomTextBody message;
    if (!ServerMessages::ReadRoomWallMessage(body, message))
        return false;
    ItemPtr room = Room(message.room);
    ItemPtr user = User(message.user);
    // The writer's earlier message here, found among the writer's few
    // rather than the room's many.
    user.GetItems(ServerNames::RoomTicker).Connected(room).Remove();
    if (message.text.isEmpty())
        return true;
    auto next = m_nextWallOrder.find(message.room);
    if (next == m_nextWallOrder.end()) {
        qint64 order = 0;
        for (const ItemPtr& ticker : room.GetItems(ServerNames::RoomTicker))
            order = std::max(order, ticker[ServerNames::RoomTickerOrder].AsInt64() + 1);
        next = m_nextWallOrder.insert(message.room, order);
    }
    AddTicker(room, user, message.text, (*next)++);
    return true;
}

bool Server::HandlePrivateRoomState(const QByteArray& body)
{
    ServerMessages::PrivateRoomStateBody state;
    if (!ServerMessages::ReadPrivateRoomState(body, state))
        return false;
    const QString& owner = state.owner;
    const QStringList& members = state.members;
    const QStringList& operators = state.operators;

    ItemPtr room = Room(state.room);
    room.NewItem("is_private");
    SetNodeUsers(room.NewItem(ServerNames::RoomMembers), members);
    SetNodeUsers(room.NewItem(ServerNames::RoomOperators), operators);
    ItemPtr ownerNode = room.NewItem(ServerNames::RoomOwner);
    if (owner.isEmpty())
        ownerNode.Disconnect(ServerNames::User);
    else
        ownerNode += User(owner);

    const QString me = OwnUsername();
    SetOwnRoomRole(room, ServerNames::IsOwner, !me.isEmpty() && owner == me);
    SetOwnRoomRole(room, ServerNames::IsMember, members.contains(me) || (!me.isEmpty() && owner == me));
    SetOwnRoomRole(room, ServerNames::IsOperator, operators.contains(me));
    return true;
}

bool Server::HandlePrivateRoomChange(quint32 code, const QByteArray& body)
{
    ServerMessages::RoomAndUserBody change;
    if (!ServerMessages::ReadPrivateRoomChange(body, change))
        return false;
    ItemPtr room = Room(change.room);
    ItemPtr user = User(change.user);
    const bool me = change.user == OwnUsername();
    switch (code) {
    case ServerMessages::PrivateRoomAddMember:
        room.NewItem(ServerNames::RoomMembers) += user;
        if (me) {
            room.NewItem("is_private");
            room.NewItem(ServerNames::IsMember);
        }
        break;
    case ServerMessages::PrivateRoomRemoveMember:
        // An operator is always a member, so losing membership ends both.
        if (ItemPtr node = room[ServerNames::RoomOperators])
            node.Disconnect(user);
        if (ItemPtr node = room[ServerNames::RoomMembers])
            node.Disconnect(user);
        if (me) {
            room.Disconnect(ServerNames::IsOperator);
            room.Disconnect(ServerNames::IsMember);
        }
        break;
    case ServerMessages::PrivateRoomAddOperator:
        room.NewItem(ServerNames::RoomOperators) += user;
        if (me)
            room.NewItem(ServerNames::IsOperator);
        break;
    case ServerMessages::PrivateRoomRemoveOperator:
        if (ItemPtr node = room[ServerNames::RoomOperators])
            node.Disconnect(user);
        if (me)
            room.Disconnect(ServerNames::IsOperator);
        break;
    }
    return true;
}

bool Server::HandlePrivateRoomRemoved(const QByteArray& body)
{
    QString name;
    if (!ServerMessages::ReadPrivateRoomDissolved(body, name))
        return false;
    ItemPtr room = d.GetType(ServerNames::Room)->HasItem(name);
    if (!room)
        return true;
    for (const char* node : {ServerNames::RoomMembers, ServerNames::RoomOperators, ServerNames::RoomOwner})
        room[node].Disconnect(ServerNames::User);
    for (const char* marker : {ServerNames::IsOperator, ServerNames::IsMember, ServerNames::IsOwner, "is_private"})
        room.Disconnect(marker);
    return true;
}

bool Server::HandlePrivateRoomAddEnabled(const QByteArray& body)
{
    bool enabled = false;
    if (!ServerMessages::ReadPrivateRoomToggle(body, enabled))
        return false;
    emit PrivateRoomAddEnabled(enabled);
    return true;
}
