// Logging in and what follows an accepted login.
#include "Server.h"

#include <QTcpSocket>

#include "Data.h"
#include "Log.h"
#include "PortForwarder.h"
#include "ServerNames.h"
#include "Settings.h"
#include "UpdateChecker.h"

namespace {
quint16 SettingPort(const char* key)
{
    bool ok = false;
    const uint port = GetSetting(key).toUInt(&ok);
    return ok && port <= 65535 ? quint16(port) : 0;
}
} // namespace

void Server::SendLogin()
{
    QString username = GetSetting("username");
    QString password = GetSetting("password");
    if (username.isEmpty() || password.isEmpty()) {
        username = DefaultUsername;
        password = DefaultPassword;
        SetSetting("username", username);
        SetSetting("password", password);
    }
    m_socket->write(ServerMessages::Framed(ServerMessages::WriteLogin(username, password, quint32(g_currentVersion))));
    m_abruptlyDisconnected = true;
}

bool Server::HandleLoginReply(const QByteArray& body)
{
    ServerMessages::LoginReplyBody reply;
    if (!ServerMessages::ReadLoginReply(body, reply))
        return false;
    if (!reply.accepted) {
        Log(Area, 1, QString("Login refused: %1").arg(reply.reason));
        CloseConnection();
        emit ConnectionFailed(reply.reason);
        return true;
    }
    Log(Area, 1, "Logged in");
    m_state = StateLoggedIn;
    SetSetting("is_supporter", reply.supporter ? "yes" : "no");
    const quint64 connection = m_connectionNumber;
    OnConnectedToServer();
    if (connection == m_connectionNumber)
        emit Connected();
    return true;
}

void Server::OnConnectedToServer()
{
    const quint16 port = SettingPort("listening_port");
    const quint16 obfuscatedPort = SettingPort("obfuscated_listening_port");
    Send(ServerMessages::WriteSetListenPorts(port, obfuscatedPort));

    if (GetSetting("availability_status") == "away")
        Send(ServerMessages::WriteSetStatus(ServerMessages::StatusAway));

    for (const ItemPtr& user : d.GetType("is_tracked")->GetGlobalNullItem().GetItems(ServerNames::User))
        AddUser(user.AsString());

    // Once a run, at its first login; after later logins each open room
    // page enters its own room again.
    if (!m_autojoined) {
        m_autojoined = true;
        for (const ItemPtr& room : d.GetType(ServerNames::Room)->GetItems())
            if (room.IsConnected(ServerNames::RoomAutojoin))
                EnterRoom(room.AsString(), false);
    }

    if (IsSettingOn("use_upnp"))
        m_portForwarder->AddPortMappings(port, obfuscatedPort);
}
