#include "Server.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QSet>
#include <QTcpSocket>
#include <limits>
#include <vector>

#include "Data.h"
#include "DataSaver.h"
#include "Log.h"
#include "MemStream.h"
#include "NetworkHosts.h"
#include "PortForwarder.h"
#include "Settings.h"
#include "TimerManager.h"
#include "UpdateChecker.h"

Server* gp_server = nullptr;

const char* const Server::DefaultUsername = "QuorvaneQT";
const char* const Server::DefaultPassword = "quorvaneqt";

namespace
{
// Message codes; the layouts are in docs/protocol.md.
enum Code : quint32
{
    Login = 1,
    SetListenPorts = 2,
    GetPeerAddressCode = 3,
    AddUserCode = 5,
    UserStatus = 7,
    SayInRoom = 13,
    JoinRoom = 14,
    LeaveRoomCode = 15,
    UserJoinedRoom = 16,
    UserLeftRoom = 17,
    ConnectToPeer = 18,
    PrivateChatCode = 22,
    FileSearchCode = 26,
    SetStatus = 28,
    KeepAlive = 32,
    SharedFoldersFiles = 35,
    GetUserStatsCode = 36,
    LoggedInElsewhereCode = 41,
    UserSearch = 42,
    RoomList = 64,
    AdminMessageCode = 66,
    PrivilegedUsers = 69,
    OwnPrivileges = 92,
    WishListSearch = 103,
    WishListInterval = 104,
    RoomWall = 113,
    RoomWallMessage = 114,
    SetRoomWallMessage = 116,
    RoomSearch = 120,
    UploadSpeed = 121,
    GivePrivileges = 123,
    PrivateRoomState = 133,
    PrivateRoomAddMember = 134,
    PrivateRoomRemoveMember = 135,
    PrivateRoomDismember = 136,
    PrivateRoomDisown = 137,
    PrivateRoomDissolved = 139,
    PrivateRoomToggle = 141,
    PrivateRoomAddOperator = 143,
    PrivateRoomRemoveOperator = 144,
    MessageUsersCode = 149,
    RelatedSearch = 153,
    CantConnect = 1001,
    ParentCandidates = 1100,
    DistributedStateCode = 1101,
    DistributedSearchCode = 1102,
};

// Role bits of a private room in the room list.
const quint8 RoleMember = 1;
const quint8 RoleOperator = 2;
const quint8 RoleOwner = 4;

const char* const Area = "server";

struct RoomUser
{
    QString name;
    UserStats stats;
    QString country;
};

bool ReadRoomUser(InputStream& in, RoomUser& user)
{
    return in.Read(user.name) && user.stats.Read(in) && in.Read(user.country);
}

bool ReadNames(InputStream& in, QStringList& names)
{
    quint32 count = 0;
    if (!in.Read(count))
        return false;
    // Every name takes at least its 4-byte length, so a count the body
    // cannot hold is refused before anything is set aside for it.
    if (count > in.Remaining() / 4)
        return false;
    names.clear();
    names.reserve(int(count));
    for (quint32 i = 0; i < count; ++i)
    {
        QString name;
        if (!in.Read(name))
            return false;
        names.append(name);
    }
    return true;
}

ItemPtr User(const QString& name)
{
    return d.GetType("user")->GetItem(name);
}

ItemPtr Room(const QString& name)
{
    return d.GetType("room")->GetItem(name);
}

quint16 SettingPort(const char* key)
{
    bool ok = false;
    const uint port = GetSetting(key).toUInt(&ok);
    return ok && port <= 65535 ? quint16(port) : 0;
}

// Makes the set of users connected to node exactly names, cutting and
// adding only what changes so that observers see real changes only.
void SetNodeUsers(ItemPtr node, const QStringList& names)
{
    QSet<QString> wanted(names.begin(), names.end());
    for (const ItemPtr& user : node.GetItems("user"))
        if (!wanted.contains(user.AsString()))
            node.Disconnect(user);
    for (const QString& name : names)
        node += User(name);
}
} // namespace

Server::Server(PortForwarderWorker* upnpWorker) : m_socket(nullptr)
{
    gp_server = this;
    qRegisterMetaType<UserStats>("UserStats");
    qRegisterMetaType<time_t>("time_t");
    m_portForwarder = new PortForwarder(upnpWorker, this);
    if (timerManager)
    {
        connect(timerManager->HalfMinuteTimer(), &QTimer::timeout, this, &Server::OnHalfMinuteTick);
        connect(timerManager->FiveMinuteTimer(), &QTimer::timeout, this, &Server::OnFiveMinuteTick);
    }
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
}

Server::~Server()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    if (m_socket)
    {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    if (gp_server == this)
        gp_server = nullptr;
}

void Server::CreateData()
{
    auto declare = [](const char* name, Primacy primacy, bool isNull, bool autoCreate) {
        return d.NewType(name, primacy, isNull, autoCreate);
    };

    Type* user = declare("user", 0, false, true);
    for (const char* marker : {"is_online", "is_away", "is_tracked", "is_privileged", "is_ignored"})
        user->RelateToType(declare(marker, 2, true, false), many, one, false);
    for (const char* attribute : {"average_download_speed", "shared_file_count", "country_code",
                                  "last_online_status_change"})
        user->RelateToType(declare(attribute, 2, false, true), many, one, false);

    Type* inUserList = declare("in_user_list", 1, true, false);
    user->RelateToType(inUserList, one, one, true);
    Type* group = declare("user_list_group", 0, false, true);
    inUserList->RelateToType(group, many, many, false);
    group->RelateToType(declare("group_download_priority", 2, false, true), many, one, false);
    group->RelateToType(declare("accept_uploads", 2, true, false), many, one, false);

    Type* room = declare("room", 0, false, true);
    room->RelateToType(user, many, many, false);
    room->RelateToType(declare("user_count", 2, false, true), many, one, false);
    for (const char* marker : {"in_room", "room_autojoin", "is_private", "is_member", "is_operator", "is_owner"})
        room->RelateToType(declare(marker, 2, true, false), many, one, false);
    Type* members = declare("room_members", 1, true, false);
    Type* operators = declare("room_operators", 1, true, false);
    Type* owner = declare("room_owner", 1, true, false);
    room->RelateToType(members, one, one, true);
    room->RelateToType(operators, one, one, true);
    room->RelateToType(owner, one, one, true);
    members->RelateToType(user, many, many, false);
    operators->RelateToType(user, many, many, false);
    owner->RelateToType(user, many, one, false);

    Type* ticker = declare("room_ticker", 1, true, false);
    room->RelateToType(ticker, one, many, true);
    ticker->RelateToType(declare("room_ticker_text", 2, false, true), many, one, false);
    ticker->RelateToType(declare("room_ticker_order", 2, false, true), many, one, false);
    ticker->RelateToType(user, many, one, false);

    // The search types that peer messaging and the search views share; see
    // "Item types" in docs/protocol.md for who declares what.
    Type* request = declare("search_request", 0, false, false);
    Type* requestText = declare("search_request_text", 1, false, true);
    request->RelateToType(requestText, many, one, false);
    request->RelateToType(declare("wish_list_item", 0, false, true), many, one, false);
    Type* correlation = declare("search_correlation", 1, true, false);
    requestText->RelateToType(correlation, one, many, true);
    correlation->RelateToType(declare("correlation_text", 2, false, true), many, one, false);
    correlation->RelateToType(declare("correlation_rank", 2, false, true), many, one, false);

    if (dataSaver)
    {
        dataSaver->AddSavedType("room_autojoin");
        dataSaver->AddSavedByConnectionType("room", "room_autojoin");
        dataSaver->AddSavedType("in_user_list");
        dataSaver->AddSavedByConnectionType("user", "in_user_list");
        dataSaver->AddSavedType("user_list_group");
        dataSaver->AddSavedType("group_download_priority");
        dataSaver->AddSavedType("accept_uploads");
        dataSaver->AddSavedType("is_ignored");
        dataSaver->AddSavedByConnectionType("user", "is_ignored");
        dataSaver->AddSavedType("wish_list_item");
    }

    SetSetting("availability_status", "available");
}

void Server::DataLoaded()
{
    // A room list is expected only after this run asked for one; a "yes"
    // saved by an earlier run must not let an unrequested list through.
    SetSetting("accept_room_list", "no");
}

void Server::NoData()
{
}

// ---------------------------------------------------------------------------
// Connection

void Server::Connect()
{
    if (m_state != StateDisconnected || GetSetting("username").isEmpty())
        return;

    // A fresh socket per attempt: a slot that runs a nested event loop
    // while handling the old socket's data must not hold back the new one's.
    if (m_socket)
    {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, &Server::OnSocketConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &Server::OnSocketReadyToRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &Server::OnSocketClosed);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &Server::OnSocketClosed);

    m_state = StateConnecting;
    ++m_connectionNumber;
    m_buffer.clear();

    const QString host = NetworkHosts::ServerHost();
    const quint16 port = NetworkHosts::ServerPort();
    Log(Area, 1, QString("Connecting to %1:%2").arg(host).arg(port));
    const quint64 attempt = m_connectionNumber;
    emit Connecting();
    if (attempt != m_connectionNumber || m_state != StateConnecting)
        return;
    m_socket->connectToHost(host, port);
}

void Server::Disconnect()
{
    m_abruptlyDisconnected = false;
    if (m_state == StateDisconnected)
        return;
    Log(Area, 1, "Disconnecting from the server");
    const int oldState = m_state;
    CloseConnection();
    if (oldState == StateLoggedIn)
    {
        emit Disconnected();
        SetAllUsersOffline();
    }
}

bool Server::IsConnected() const
{
    return m_state == StateLoggedIn;
}

bool Server::IsAbruptlyDisconnected() const
{
    return m_abruptlyDisconnected;
}

void Server::CloseConnection()
{
    m_state = StateDisconnected;
    ++m_connectionNumber;
    m_buffer.clear();
    if (m_socket)
    {
        QTcpSocket* socket = m_socket;
        m_socket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void Server::OnSocketConnected()
{
    Log(Area, 2, "Connected to the server, logging in");
    SendLogin();
}

void Server::OnSocketClosed()
{
    if (m_state == StateDisconnected)
        return;
    const int oldState = m_state;
    CloseConnection();
    if (oldState == StateLoggedIn)
    {
        Log(Area, 1, "The connection to the server ended");
        emit Disconnected();
        SetAllUsersOffline();
    }
    else
    {
        Log(Area, 1, "The connection to the server closed while logging in");
        emit ConnectionFailed("socket error");
    }
}

void Server::OnHalfMinuteTick()
{
    if (m_abruptlyDisconnected && m_state == StateDisconnected)
        Connect();
}

void Server::OnFiveMinuteTick()
{
    Send(KeepAlive, MemStream());
}

void Server::SendLogin()
{
    QString username = GetSetting("username");
    QString password = GetSetting("password");
    if (username.isEmpty() || password.isEmpty())
    {
        username = DefaultUsername;
        password = DefaultPassword;
        SetSetting("username", username);
        SetSetting("password", password);
    }
    const QByteArray digest =
        QCryptographicHash::hash((username + password).toUtf8(), QCryptographicHash::Md5).toHex();

    MemStream body;
    body.Write(username);
    body.Write(QString::fromLatin1(digest));
    body.Write(quint32(g_currentVersion));

    MemStream frame;
    frame.Write(quint32(4 + body.GetLength()));
    frame.Write(quint32(Login));
    frame.Append(body.GetBytes());
    m_socket->write(frame.GetBytes());
    m_abruptlyDisconnected = true;
}

void Server::Send(quint32 code, const MemStream& body)
{
    // Requests made while not logged in are dropped: the caller's state is
    // rebuilt at the next login (rooms rejoin, tracked users are re-added).
    if (m_state != StateLoggedIn || !m_socket)
        return;
    MemStream frame;
    frame.Write(quint32(4 + body.GetLength()));
    frame.Write(code);
    frame.Append(body.GetBytes());
    m_socket->write(frame.GetBytes());
}

void Server::OnSocketReadyToRead()
{
    if (!m_socket)
        return;
    m_buffer.append(m_socket->readAll());
    const quint64 connection = m_connectionNumber;
    int position = 0;
    while (connection == m_connectionNumber)
    {
        if (m_buffer.size() - position < 4)
            break;
        const uchar* p = reinterpret_cast<const uchar*>(m_buffer.constData() + position);
        const quint32 length = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
        if (length < 4 || length > MaxFrameLength)
        {
            Log(Area, 1, QString("Frame of length %1 from the server; closing the connection").arg(length));
            OnSocketClosed();
            return;
        }
        if (quint32(m_buffer.size() - position - 4) < length)
            break;
        MemStream body(m_buffer.mid(position + 4, int(length)));
        position += 4 + int(length);
        quint32 code = 0;
        body.Read(code);
        HandleMessage(code, body);
    }
    // A handler may have ended this connection (and cleared the buffer).
    if (connection == m_connectionNumber)
        m_buffer.remove(0, position);
}

void Server::HandleMessage(quint32 code, MemStream& body)
{
    if (m_state == StateConnecting)
    {
        if (code != Login)
        {
            Log(Area, 2, QString("Message %1 before the login reply ignored").arg(code));
            return;
        }
        if (!HandleLoginReply(body))
        {
            Log(Area, 1, "Malformed login reply from the server");
            OnSocketClosed();
        }
        return;
    }

    bool ok = true;
    switch (code)
    {
    case Login:
        Log(Area, 2, "Second login reply ignored");
        break;
    case GetPeerAddressCode:
        ok = HandlePeerAddress(body);
        break;
    case AddUserCode:
        ok = HandleAddUserReply(body);
        break;
    case UserStatus:
        ok = HandleUserStatus(body);
        break;
    case SayInRoom:
        ok = HandleRoomChat(body);
        break;
    case JoinRoom:
        ok = HandleJoinRoom(body);
        break;
    case LeaveRoomCode:
        ok = HandleLeaveRoom(body);
        break;
    case UserJoinedRoom:
        ok = HandleUserJoinedRoom(body);
        break;
    case UserLeftRoom:
        ok = HandleUserLeftRoom(body);
        break;
    case ConnectToPeer:
        ok = HandlePeerConnectionRequest(body);
        break;
    case PrivateChatCode:
        ok = HandlePrivateChat(body);
        break;
    case FileSearchCode:
        ok = HandleSearch(body);
        break;
    case GetUserStatsCode:
        ok = HandleUserStats(body);
        break;
    case LoggedInElsewhereCode:
    {
        Log(Area, 1, "Logged in elsewhere");
        m_abruptlyDisconnected = false;
        const quint64 connection = m_connectionNumber;
        emit LoggedInElsewhere();
        if (connection == m_connectionNumber)
            OnSocketClosed();
        break;
    }
    case RoomList:
        ok = HandleRoomList(body);
        break;
    case AdminMessageCode:
        ok = HandleAdminMessage(body);
        break;
    case PrivilegedUsers:
        ok = HandlePrivilegedUsers(body);
        break;
    case OwnPrivileges:
        ok = HandleOwnPrivileges(body);
        break;
    case WishListInterval:
        ok = HandleWishListInterval(body);
        break;
    case RoomWall:
        ok = HandleRoomWall(body);
        break;
    case RoomWallMessage:
        ok = HandleRoomWallMessage(body);
        break;
    case PrivateRoomState:
        ok = HandlePrivateRoomState(body);
        break;
    case PrivateRoomAddMember:
    case PrivateRoomRemoveMember:
    case PrivateRoomAddOperator:
    case PrivateRoomRemoveOperator:
        ok = HandlePrivateRoomChange(code, body);
        break;
    case PrivateRoomDissolved:
        ok = HandlePrivateRoomRemoved(body);
        break;
    case PrivateRoomToggle:
        ok = HandlePrivateRoomAddEnabled(body);
        break;
    case RelatedSearch:
        ok = HandleCorrelations(body);
        break;
    case CantConnect:
        ok = HandleCantConnectToPeer(body);
        break;
    case ParentCandidates:
        ok = HandleParentCandidates(body);
        break;
    case DistributedSearchCode:
        ok = HandleDistributedSearch(body);
        break;
    default:
        Log(Area, 2, QString("Unknown message %1 from the server ignored").arg(code));
        break;
    }
    if (!ok)
        Log(Area, 1, QString("Malformed message %1 from the server dropped").arg(code));
}

// ---------------------------------------------------------------------------
// Login

bool Server::HandleLoginReply(InputStream& in)
{
    quint8 accepted = 0;
    if (!in.Read(accepted))
        return false;
    if (!accepted)
    {
        QString reason;
        if (!in.Read(reason))
            return false;
        Log(Area, 1, QString("Login refused: %1").arg(reason));
        CloseConnection();
        emit ConnectionFailed(reason);
        return true;
    }
    QString greeting;
    quint8 supporter = 0;
    if (!in.Read(greeting) || !in.Read(supporter))
        return false;
    Log(Area, 1, "Logged in");
    m_state = StateLoggedIn;
    SetSetting("is_supporter", supporter ? "yes" : "no");
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
    MemStream ports;
    ports.Write(quint32(port));
    ports.Write(quint32(obfuscatedPort));
    Send(SetListenPorts, ports);

    if (GetSetting("availability_status") == "away")
    {
        MemStream status;
        status.Write(quint32(1));
        Send(SetStatus, status);
    }

    for (const ItemPtr& user : d.GetType("is_tracked")->GetGlobalNullItem().GetItems("user"))
        AddUser(user.AsString());

    // Once a run, at its first login; after later logins each open room
    // page enters its own room again.
    if (!m_autojoined)
    {
        m_autojoined = true;
        for (const ItemPtr& room : d.GetType("room")->GetItems())
            if (room.IsConnected("room_autojoin"))
                EnterRoom(room.AsString(), false);
    }

    if (IsSettingOn("use_upnp"))
        m_portForwarder->AddPortMappings(port, obfuscatedPort);
}

// ---------------------------------------------------------------------------
// Users

void Server::AddUser(QString user)
{
    MemStream body;
    body.Write(user);
    Send(AddUserCode, body);
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
    MemStream body;
    body.Write(user);
    Send(GetUserStatsCode, body);
}

void Server::GetOwnPrivilegesStatus()
{
    Send(OwnPrivileges, MemStream());
}

void Server::GiftPrivileges(QString user, int days)
{
    MemStream body;
    body.Write(user);
    body.Write(quint32(days));
    Send(GivePrivileges, body);
}

void Server::SendPrivateChat(QString user, QString text)
{
    text.replace('\n', ' ').replace('\r', ' ');
    MemStream body;
    body.Write(user);
    body.Write(text);
    Send(PrivateChatCode, body);
    emit PrivateChatSent(user, text);
}

void Server::MessageUsers(QStringList& users, QString text)
{
    MemStream body;
    body.Write(quint32(users.size()));
    for (const QString& user : users)
        body.Write(user);
    body.Write(text);
    Send(MessageUsersCode, body);
}

void Server::SetAvailabilityStatus(bool available)
{
    SetSetting("availability_status", available ? "available" : "away");
    MemStream body;
    body.Write(quint32(available ? 2 : 1));
    Send(SetStatus, body);
}

void Server::SendFilesFolders(int folders, int files)
{
    MemStream body;
    body.Write(quint32(folders));
    body.Write(quint32(files));
    Send(SharedFoldersFiles, body);
}

void Server::SendUploadSpeed(int bytesPerSecond)
{
    MemStream body;
    body.Write(quint32(bytesPerSecond));
    Send(UploadSpeed, body);
}

void Server::SetUserStatus(ItemPtr user, quint32 status)
{
    const bool wasOnline = user.IsConnected("is_online");
    const bool online = status == 1 || status == 2;
    if (wasOnline != online)
        user += d.GetType("last_online_status_change")->GetItem(QDateTime::currentDateTime().toString(Qt::TextDate));
    if (online)
    {
        if (status == 1)
            user.NewItem("is_away");
        else
            user.Disconnect("is_away");
        user.NewItem("is_online");
    }
    else
    {
        user.Disconnect("is_away");
        user.Disconnect("is_online");
    }
}

void Server::SetUserStats(ItemPtr user, const UserStats& stats)
{
    user += d.GetType("average_download_speed")->GetItem(Value(stats.m_averageSpeed));
    user += d.GetType("shared_file_count")->GetItem(Value(stats.m_fileCount));
}

void Server::SetAllUsersOffline()
{
    d.GetType("is_online")->GetGlobalNullItem().Disconnect("user");
}

QString Server::OwnUsername() const
{
    return GetSetting("username");
}

bool Server::HandleAddUserReply(InputStream& in)
{
    QString name;
    quint8 exists = 0;
    if (!in.Read(name) || !in.Read(exists))
        return false;
    quint32 status = 0;
    UserStats stats;
    QString country;
    if (exists && (!in.Read(status) || !stats.Read(in) || !in.Read(country)))
        return false;
    if (exists)
    {
        ItemPtr user = User(name);
        SetUserStats(user, stats);
        user += d.GetType("country_code")->GetItem(country);
        SetUserStatus(user, status);
    }
    emit AddUserResponse(name, exists != 0);
    return true;
}

bool Server::HandleUserStatus(InputStream& in)
{
    QString name;
    quint32 status = 0;
    if (!in.Read(name) || !in.Read(status))
        return false;
    SetUserStatus(User(name), status);
    return true;
}

bool Server::HandleUserStats(InputStream& in)
{
    QString name;
    UserStats stats;
    if (!in.Read(name) || !stats.Read(in))
        return false;
    SetUserStats(User(name), stats);
    emit ReceivedUserStats(name, stats);
    return true;
}

bool Server::HandlePrivilegedUsers(InputStream& in)
{
    QStringList names;
    if (!ReadNames(in, names))
        return false;
    ItemPtr marker = d.GetType("is_privileged")->GetGlobalNullItem();
    const QSet<QString> listed(names.begin(), names.end());
    for (ItemPtr user : marker.GetItems("user"))
        if (!listed.contains(user.AsString()))
            user.Disconnect("is_privileged");
    for (const QString& name : names)
        User(name).NewItem("is_privileged");
    return true;
}

bool Server::HandleOwnPrivileges(InputStream& in)
{
    qint32 seconds = 0;
    if (!in.Read(seconds))
        return false;
    SetSetting("privileges_time_left", QString::number(seconds));
    if (seconds > 0)
        SetSetting("is_supporter", "yes");
    emit ReceivedOwnPrivilegesStatus(seconds);
    return true;
}

bool Server::HandlePrivateChat(InputStream& in)
{
    quint32 time = 0;
    QString name, text;
    quint8 spontaneous = 0;
    if (!in.Read(time) || !in.Read(name) || !in.Read(text) || !in.Read(spontaneous))
        return false;
    ItemPtr user = d.GetType("user")->HasItem(name);
    if (user.IsConnected("is_ignored"))
        return true;
    emit PrivateChat(name, text, time_t(time), spontaneous != 0);
    return true;
}

bool Server::HandleAdminMessage(InputStream& in)
{
    QString text;
    if (!in.Read(text))
        return false;
    emit AdminMessage(text);
    return true;
}

// ---------------------------------------------------------------------------
// Rooms

void Server::GetRoomList()
{
    SetSetting("accept_room_list", "yes");
    Send(RoomList, MemStream());
}

void Server::EnterRoom(QString room, bool isPrivate)
{
    MemStream body;
    body.Write(room);
    body.Write(quint32(isPrivate ? 1 : 0));
    Send(JoinRoom, body);
}

void Server::LeaveRoom(QString room)
{
    if (!d.GetType("room")->HasItem(room).IsConnected("in_room"))
        return;
    MemStream body;
    body.Write(room);
    Send(LeaveRoomCode, body);
}

void Server::SendRoomChat(QString room, QString text)
{
    MemStream body;
    body.Write(room);
    body.Write(text);
    Send(SayInRoom, body);
}

void Server::SetRoomTicker(QString room, QString text)
{
    MemStream body;
    body.Write(room);
    body.Write(text);
    Send(SetRoomWallMessage, body);
}

void Server::EnablePrivateRoomAdd(bool enable)
{
    MemStream body;
    body.Write(quint8(enable ? 1 : 0));
    Send(PrivateRoomToggle, body);
}

void Server::GiveUpPrivateRoomMembership(QString room)
{
    MemStream body;
    body.Write(room);
    Send(PrivateRoomDismember, body);
}

void Server::GiveUpPrivateRoom(QString room)
{
    MemStream body;
    body.Write(room);
    Send(PrivateRoomDisown, body);
}

void Server::AddPrivateRoomMember(QString room, QString user)
{
    MemStream body;
    body.Write(room);
    body.Write(user);
    Send(PrivateRoomAddMember, body);
}

void Server::RemovePrivateRoomMember(QString room, QString user)
{
    MemStream body;
    body.Write(room);
    body.Write(user);
    Send(PrivateRoomRemoveMember, body);
}

void Server::AddPrivateRoomOperator(QString room, QString user)
{
    MemStream body;
    body.Write(room);
    body.Write(user);
    Send(PrivateRoomAddOperator, body);
}

void Server::RemovePrivateRoomOperator(QString room, QString user)
{
    MemStream body;
    body.Write(room);
    body.Write(user);
    Send(PrivateRoomRemoveOperator, body);
}

void Server::SetOwnRoomRole(ItemPtr room, const char* marker, bool on)
{
    if (on)
        room.NewItem(marker);
    else
        room.Disconnect(marker);
}

bool Server::HandleRoomList(InputStream& in)
{
    struct Entry
    {
        QString name;
        quint32 users = 0;
        quint8 roles = 0;
    };
    std::vector<Entry> publicRooms, privateRooms;
    for (auto* list : {&publicRooms, &privateRooms})
    {
        quint32 count = 0;
        if (!in.Read(count))
            return false;
        for (quint32 i = 0; i < count; ++i)
        {
            Entry entry;
            if (!in.Read(entry.name) || !in.Read(entry.users))
                return false;
            if (list == &privateRooms && !in.Read(entry.roles))
                return false;
            list->push_back(entry);
        }
    }

    const bool accept = GetSetting("accept_room_list") == "yes";
    SetSetting("accept_room_list", "no");
    if (!accept)
    {
        Log(Area, 2, "Unrequested room list ignored");
        return true;
    }
    Type* userCount = d.GetType("user_count");
    for (const Entry& entry : publicRooms)
        Room(entry.name) += userCount->GetItem(Value(entry.users));
    for (const Entry& entry : privateRooms)
    {
        ItemPtr room = Room(entry.name);
        room += userCount->GetItem(Value(entry.users));
        room.NewItem("is_private");
        SetOwnRoomRole(room, "is_member", entry.roles & RoleMember);
        SetOwnRoomRole(room, "is_operator", entry.roles & RoleOperator);
        SetOwnRoomRole(room, "is_owner", entry.roles & RoleOwner);
    }
    return true;
}

bool Server::HandleJoinRoom(InputStream& in)
{
    QString name;
    quint32 count = 0;
    if (!in.Read(name) || !in.Read(count))
        return false;
    // Grown as entries parse, so memory follows the bytes actually sent
    // rather than the count the server claims.
    std::vector<RoomUser> users;
    for (quint32 i = 0; i < count; ++i)
    {
        RoomUser user;
        if (!ReadRoomUser(in, user))
            return false;
        users.push_back(user);
    }

    ItemPtr room = Room(name);
    room.NewItem("in_room");
    for (const ItemPtr& user : room.GetItems("user"))
        room.Disconnect(user);
    Type* country = d.GetType("country_code");
    for (const RoomUser& entry : users)
    {
        ItemPtr user = User(entry.name);
        room += user;
        SetUserStats(user, entry.stats);
        user += country->GetItem(entry.country);
    }
    return true;
}

bool Server::HandleLeaveRoom(InputStream& in)
{
    QString name;
    if (!in.Read(name))
        return false;
    d.GetType("room")->HasItem(name).Disconnect("in_room");
    return true;
}

bool Server::HandleUserJoinedRoom(InputStream& in)
{
    QString name;
    RoomUser entry;
    if (!in.Read(name) || !ReadRoomUser(in, entry))
        return false;
    ItemPtr user = User(entry.name);
    Room(name) += user;
    SetUserStats(user, entry.stats);
    user += d.GetType("country_code")->GetItem(entry.country);
    return true;
}

bool Server::HandleUserLeftRoom(InputStream& in)
{
    QString roomName, userName;
    if (!in.Read(roomName) || !in.Read(userName))
        return false;
    ItemPtr room = d.GetType("room")->HasItem(roomName);
    ItemPtr user = d.GetType("user")->HasItem(userName);
    if (room && user)
        room.Disconnect(user);
    return true;
}

bool Server::HandleRoomChat(InputStream& in)
{
    QString room, name, text;
    if (!in.Read(room) || !in.Read(name) || !in.Read(text))
        return false;
    if (d.GetType("user")->HasItem(name).IsConnected("is_ignored"))
        return true;
    emit RoomChat(room, name, text);
    return true;
}

namespace
{
void AddTicker(ItemPtr room, ItemPtr user, const QString& text, qint64 order)
{
    ItemPtr ticker = d.GetType("room_ticker")->NewItem();
    ticker += d.GetType("room_ticker_text")->GetItem(text);
    ticker += d.GetType("room_ticker_order")->GetItem(Value(static_cast<long long>(order)));
    ticker += user;
    room += ticker;
}
} // namespace

bool Server::HandleRoomWall(InputStream& in)
{
    QString name;
    quint32 count = 0;
    if (!in.Read(name) || !in.Read(count))
        return false;
    std::vector<std::pair<QString, QString>> messages;
    for (quint32 i = 0; i < count; ++i)
    {
        std::pair<QString, QString> message;
        if (!in.Read(message.first) || !in.Read(message.second))
            return false;
        messages.push_back(message);
    }

    ItemPtr room = Room(name);
    room.GetItems("room_ticker").Remove();
    qint64 order = 0;
    for (const auto& message : messages)
        AddTicker(room, User(message.first), message.second, order++);
    return true;
}

bool Server::HandleRoomWallMessage(InputStream& in)
{
    QString roomName, userName, text;
    if (!in.Read(roomName) || !in.Read(userName) || !in.Read(text))
        return false;
    ItemPtr room = Room(roomName);
    ItemPtr user = User(userName);
    d.GetItems(room, user, "room_ticker").Remove();
    if (text.isEmpty())
        return true;
    qint64 order = 0;
    for (const ItemPtr& ticker : room.GetItems("room_ticker"))
        order = std::max(order, ticker["room_ticker_order"].AsInt64() + 1);
    AddTicker(room, user, text, order);
    return true;
}

bool Server::HandlePrivateRoomState(InputStream& in)
{
    QString name, owner;
    QStringList members, operators;
    if (!in.Read(name) || !in.Read(owner) || !ReadNames(in, members) || !ReadNames(in, operators))
        return false;

    ItemPtr room = Room(name);
    room.NewItem("is_private");
    SetNodeUsers(room.NewItem("room_members"), members);
    SetNodeUsers(room.NewItem("room_operators"), operators);
    ItemPtr ownerNode = room.NewItem("room_owner");
    if (owner.isEmpty())
        ownerNode.Disconnect("user");
    else
        ownerNode += User(owner);

    const QString me = OwnUsername();
    SetOwnRoomRole(room, "is_owner", !me.isEmpty() && owner == me);
    SetOwnRoomRole(room, "is_member", members.contains(me) || (!me.isEmpty() && owner == me));
    SetOwnRoomRole(room, "is_operator", operators.contains(me));
    return true;
}

bool Server::HandlePrivateRoomChange(quint32 code, InputStream& in)
{
    QString roomName, userName;
    if (!in.Read(roomName) || !in.Read(userName))
        return false;
    ItemPtr room = Room(roomName);
    ItemPtr user = User(userName);
    const bool me = userName == OwnUsername();
    switch (code)
    {
    case PrivateRoomAddMember:
        room.NewItem("room_members") += user;
        if (me)
        {
            room.NewItem("is_private");
            room.NewItem("is_member");
        }
        break;
    case PrivateRoomRemoveMember:
        // An operator is always a member, so losing membership ends both.
        if (ItemPtr node = room["room_operators"])
            node.Disconnect(user);
        if (ItemPtr node = room["room_members"])
            node.Disconnect(user);
        if (me)
        {
            room.Disconnect("is_operator");
            room.Disconnect("is_member");
        }
        break;
    case PrivateRoomAddOperator:
        room.NewItem("room_operators") += user;
        if (me)
            room.NewItem("is_operator");
        break;
    case PrivateRoomRemoveOperator:
        if (ItemPtr node = room["room_operators"])
            node.Disconnect(user);
        if (me)
            room.Disconnect("is_operator");
        break;
    }
    return true;
}

bool Server::HandlePrivateRoomRemoved(InputStream& in)
{
    QString name;
    if (!in.Read(name))
        return false;
    ItemPtr room = d.GetType("room")->HasItem(name);
    if (!room)
        return true;
    for (const char* node : {"room_members", "room_operators", "room_owner"})
        room[node].Disconnect("user");
    for (const char* marker : {"is_operator", "is_member", "is_owner", "is_private"})
        room.Disconnect(marker);
    return true;
}

bool Server::HandlePrivateRoomAddEnabled(InputStream& in)
{
    quint8 enabled = 0;
    if (!in.Read(enabled))
        return false;
    emit PrivateRoomAddEnabled(enabled != 0);
    return true;
}

// ---------------------------------------------------------------------------
// Searches

unsigned int Server::NewSearchRequest(QString text)
{
    const unsigned int ticket = ++m_searchTicket;
    ItemPtr request = d.GetType("search_request")->NewItem(Value(ticket));
    request += d.GetType("search_request_text")->GetItem(text);
    return ticket;
}

unsigned int Server::FileSearch(QString text, QString wishListItem)
{
    const unsigned int ticket = NewSearchRequest(text);
    const bool wishList = !wishListItem.isEmpty();
    if (wishList)
        d.GetType("search_request")->HasItem(Value(ticket)) += d.GetType("wish_list_item")->GetItem(wishListItem);
    MemStream body;
    body.Write(quint32(ticket));
    body.Write(text);
    Send(wishList ? WishListSearch : FileSearchCode, body);
    emit SearchRequested(ticket, text, wishList);
    return ticket;
}

unsigned int Server::SearchUserList(QString text)
{
    const unsigned int ticket = NewSearchRequest(text);
    for (const ItemPtr& listed : d.GetType("in_user_list")->GetItems())
    {
        ItemPtr user = listed["user"];
        if (!user.IsConnected("is_online"))
            continue;
        MemStream body;
        body.Write(user.AsString());
        body.Write(quint32(ticket));
        body.Write(text);
        Send(UserSearch, body);
    }
    return ticket;
}

unsigned int Server::SearchRoom(QString room, QString text)
{
    const unsigned int ticket = NewSearchRequest(text);
    MemStream body;
    body.Write(room);
    body.Write(quint32(ticket));
    body.Write(text);
    Send(RoomSearch, body);
    return ticket;
}

void Server::GetSearchCorrelations(QString text)
{
    MemStream body;
    body.Write(text);
    Send(RelatedSearch, body);
}

bool Server::HandleSearch(InputStream& in)
{
    QString user, text;
    quint32 token = 0;
    if (!in.Read(user) || !in.Read(token) || !in.Read(text))
        return false;
    emit DirectFileSearch(user, token, text);
    return true;
}

bool Server::HandleWishListInterval(InputStream& in)
{
    quint32 seconds = 0;
    if (!in.Read(seconds))
        return false;
    emit WishListWait(seconds);
    return true;
}

bool Server::HandleCorrelations(InputStream& in)
{
    QString text;
    quint32 count = 0;
    if (!in.Read(text) || !in.Read(count))
        return false;
    std::vector<std::pair<QString, quint32>> related;
    for (quint32 i = 0; i < count; ++i)
    {
        std::pair<QString, quint32> entry;
        if (!in.Read(entry.first) || !in.Read(entry.second))
            return false;
        related.push_back(entry);
    }

    ItemPtr textItem = d.GetType("search_request_text")->GetItem(text);
    textItem.GetItems("search_correlation").Remove();
    Type* correlation = d.GetType("search_correlation");
    for (const auto& entry : related)
    {
        ItemPtr item = correlation->NewItem();
        item += d.GetType("correlation_text")->GetItem(entry.first);
        item += d.GetType("correlation_rank")->GetItem(Value(entry.second));
        textItem += item;
    }
    emit SearchCorrelations(text);
    return true;
}

// ---------------------------------------------------------------------------
// Reaching other clients

void Server::GetPeerAddress(QString user)
{
    MemStream body;
    body.Write(user);
    Send(GetPeerAddressCode, body);
}

void Server::RequestPeerConnection(QString user, quint32 token, QString type)
{
    MemStream body;
    body.Write(token);
    body.Write(user);
    body.Write(type);
    Send(ConnectToPeer, body);
}

void Server::SendCantConnectToPeer(quint32 token, QString user)
{
    MemStream body;
    body.Write(token);
    body.Write(user);
    Send(CantConnect, body);
}

namespace
{
bool ReadPort(InputStream& in, quint16& port)
{
    quint32 value = 0;
    if (!in.Read(value) || value > 65535)
        return false;
    port = quint16(value);
    return true;
}
} // namespace

bool Server::HandlePeerAddress(InputStream& in)
{
    QString user, address;
    quint16 port = 0, obfuscatedPort = 0;
    if (!in.Read(user) || !in.Read(address) || !ReadPort(in, port) || !ReadPort(in, obfuscatedPort))
        return false;
    emit PeerAddress(user, address, port, obfuscatedPort);
    return true;
}

bool Server::HandlePeerConnectionRequest(InputStream& in)
{
    QString user, type, address;
    quint16 port = 0, obfuscatedPort = 0;
    quint32 token = 0;
    if (!in.Read(user) || !in.Read(type) || !in.Read(address) || !ReadPort(in, port) ||
        !ReadPort(in, obfuscatedPort) || !in.Read(token))
        return false;
    emit PeerConnectionRequested(user, type, address, port, obfuscatedPort, token);
    return true;
}

bool Server::HandleCantConnectToPeer(InputStream& in)
{
    quint32 token = 0;
    QString user;
    if (!in.Read(token) || !in.Read(user))
        return false;
    emit CantConnectToPeer(token, user);
    return true;
}

// ---------------------------------------------------------------------------
// Distributed network

void Server::GetDistributedParentCandidates()
{
    Send(ParentCandidates, MemStream());
}

void Server::SendDistributedState(bool hasParent, QString branchRoot, quint32 level, quint32 childCount,
                                  quint32 childLimit, quint32 depth)
{
    MemStream body;
    body.Write(quint8(hasParent ? 1 : 0));
    body.Write(branchRoot);
    body.Write(level);
    body.Write(childCount);
    body.Write(childLimit);
    body.Write(depth);
    Send(DistributedStateCode, body);
}

bool Server::HandleParentCandidates(InputStream& in)
{
    QStringList users;
    if (!ReadNames(in, users))
        return false;
    emit DistributedParentCandidates(users);
    return true;
}

bool Server::HandleDistributedSearch(InputStream& in)
{
    QString user, text;
    quint32 token = 0;
    if (!in.Read(user) || !in.Read(token) || !in.Read(text))
        return false;
    emit DistributedSearch(user, token, text);
    return true;
}
