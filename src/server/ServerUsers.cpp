// Users: their presence, statistics and privileges, and private chat.
#include "Server.h"

#include <QDateTime>
#include <QSet>

#include "Data.h"
#include "ServerNames.h"
#include "Settings.h"

void Server::AddUser(QString user)
{
    Send(ServerMessages::WriteAddUser(user));
}

void Server::TrackUser(QString user)
{
    ItemPtr item = User(user);
    if (item.IsConnected("is_tracked"))
        return;
    item.NewItem("is_tracked");
    AddUser(user);
}

void Server::GetUserStats(QString user)
{
    Send(ServerMessages::WriteGetUserStats(user));
}

void Server::GetOwnPrivilegesStatus()
{
    Send(ServerMessages::WriteOwnPrivileges());
}

void Server::GiftPrivileges(QString user, int days)
{
    Send(ServerMessages::WriteGivePrivileges(user, quint32(days)));
}

void Server::SendPrivateChat(QString user, QString text)
{
    text.replace('\n', ' ').replace('\r', ' ');
    Send(ServerMessages::WritePrivateChat(user, text));
    emit PrivateChatSent(user, text);
}

void Server::MessageUsers(QStringList& users, QString text)
{
    Send(ServerMessages::WriteMessageUsers(users, text));
}

void Server::SetAvailabilityStatus(bool available)
{
    SetSetting("availability_status", available ? "available" : "away");
    Send(ServerMessages::WriteSetStatus(available ? ServerMessages::StatusOnline : ServerMessages::StatusAway));
}

void Server::SendFilesFolders(int folders, int files)
{
    Send(ServerMessages::WriteSharedFoldersFiles(quint32(folders), quint32(files)));
}

void Server::SendUploadSpeed(int bytesPerSecond)
{
    Send(ServerMessages::WriteUploadSpeed(quint32(bytesPerSecond)));
}

void Server::SetUserStatus(ItemPtr user, quint32 status)
{
    const bool wasOnline = user.IsConnected(ServerNames::IsOnline);
    const bool online = status == ServerMessages::StatusAway || status == ServerMessages::StatusOnline;
    if (wasOnline != online)
        user += d.GetType(ServerNames::LastOnlineStatusChange)
                    ->GetItem(QDateTime::currentDateTime().toString(Qt::TextDate));
    if (online) {
        if (status == ServerMessages::StatusAway)
            user.NewItem(ServerNames::IsAway);
        else
            user.Disconnect(ServerNames::IsAway);
        user.NewItem(ServerNames::IsOnline);
    } else {
        user.Disconnect(ServerNames::IsAway);
        user.Disconnect(ServerNames::IsOnline);
    }
}

void Server::SetUserStats(ItemPtr user, const UserStats& stats)
{
    user += d.GetType(ServerNames::AverageDownloadSpeed)->GetItem(Value(stats.m_averageSpeed));
    user += d.GetType(ServerNames::SharedFileCount)->GetItem(Value(stats.m_fileCount));
}

void Server::SetAllUsersOffline()
{
    d.GetType(ServerNames::IsOnline)->GetGlobalNullItem().Disconnect(ServerNames::User);
}

QString Server::OwnUsername() const
{
    return GetSetting("username");
}

bool Server::HandleAddUserReply(const QByteArray& body)
{
    ServerMessages::AddUserReplyBody reply;
    if (!ServerMessages::ReadAddUserReply(body, reply))
        return false;
    if (reply.exists) {
        ItemPtr user = User(reply.user);
        SetUserStats(user, reply.stats);
        user += d.GetType(ServerNames::CountryCode)->GetItem(reply.country);
        SetUserStatus(user, reply.status);
    }
    emit AddUserResponse(reply.user, reply.exists);
    return true;
}

bool Server::HandleUserStatus(const QByteArray& body)
{
    ServerMessages::UserStatusBody status;
    if (!ServerMessages::ReadUserStatus(body, status))
        return false;
    SetUserStatus(User(status.user), status.status);
    return true;
}

bool Server::HandleUserStats(const QByteArray& body)
{
    ServerMessages::UserStatsBody stats;
    if (!ServerMessages::ReadUserStats(body, stats))
        return false;
    SetUserStats(User(stats.user), stats.stats);
    emit ReceivedUserStats(stats.user, stats.stats);
    return true;
}

bool Server::HandlePrivilegedUsers(const QByteArray& body)
{
    QStringList names;
    if (!ServerMessages::ReadPrivilegedUsers(body, names))
        return false;
    ItemPtr marker = d.GetType(ServerNames::IsPrivileged)->GetGlobalNullItem();
    const QSet<QString> listed(names.begin(), names.end());
    for (ItemPtr user : marker.GetItems(ServerNames::User))
        if (!listed.contains(user.AsString()))
            user.Disconnect(ServerNames::IsPrivileged);
    for (const QString& name : names)
        User(name).NewItem(ServerNames::IsPrivileged);
    return true;
}

bool Server::HandleOwnPrivileges(const QByteArray& body)
{
    qint32 seconds = 0;
    if (!ServerMessages::ReadOwnPrivileges(body, seconds))
        return false;
    SetSetting("privileges_time_left", QString::number(seconds));
    if (seconds > 0)
        SetSetting("is_supporter", "yes");
    emit ReceivedOwnPrivilegesStatus(seconds);
    return true;
}

bool Server::HandlePrivateChat(const QByteArray& body)
{
    ServerMessages::PrivateChatBody chat;
    if (!ServerMessages::ReadPrivateChat(body, chat))
        return false;
    ItemPtr user = d.GetType(ServerNames::User)->HasItem(chat.user);
    if (user.IsConnected(ServerNames::IsIgnored))
        return true;
    emit PrivateChat(chat.user, chat.text, time_t(chat.time), chat.spontaneous);
    return true;
}

bool Server::HandleAdminMessage(const QByteArray& body)
{
    QString text;
    if (!ServerMessages::ReadAdminMessage(body, text))
        return false;
    emit AdminMessage(text);
    return true;
}
