#include "Server.h"

#include <QMetaObject>
#include <QTcpSocket>

#include "Data.h"
#include "DataSaver.h"
#include "Log.h"
#include "NetworkHosts.h"
#include "PortForwarder.h"
#include "Schema.h"
#include "ServerNames.h"
#include "Settings.h"
#include "TimerManager.h"
#include "TurnBudget.h"

Server* gp_server = nullptr;

const char* const Server::DefaultUsername = "QuorvaneQT";
const char* const Server::DefaultPassword = "quorvaneqt";
const char* const Server::Area = "server";

ItemPtr Server::User(const QString& name)
{
    return d.GetType(ServerNames::User)->GetItem(name);
}

ItemPtr Server::Room(const QString& name)
{
    return d.GetType(ServerNames::Room)->GetItem(name);
}

Server::Server(PortForwarderWorker* upnpWorker) : m_socket(nullptr)
{
    gp_server = this;
    qRegisterMetaType<UserStats>("UserStats");
    qRegisterMetaType<time_t>("time_t");
    m_portForwarder = new PortForwarder(upnpWorker, this);
    if (timerManager) {
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
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    if (gp_server == this)
        gp_server = nullptr;
}

void Server::CreateData()
{
    using namespace Schema;
    Declare(ServerNames::User, Root, Valued);
    for (const char* marker : {ServerNames::IsOnline, ServerNames::IsAway, "is_tracked", ServerNames::IsPrivileged,
                               ServerNames::IsIgnored}) {
        Declare(marker, Attribute, Valueless, OnNewItem);
        Relate(ServerNames::User, marker, one, many);
    }
    for (const char* attribute : {ServerNames::AverageDownloadSpeed, ServerNames::SharedFileCount,
                                  ServerNames::CountryCode, ServerNames::LastOnlineStatusChange}) {
        Declare(attribute, Attribute, Valued);
        Relate(ServerNames::User, attribute, one, many);
    }

    Declare(ServerNames::InUserList, Node, Valueless, OnNewItem);
    Own(ServerNames::User, ServerNames::InUserList, one);
    Declare(ServerNames::UserListGroup, Root, Valued);
    Relate(ServerNames::InUserList, ServerNames::UserListGroup, many, many);
    Declare(ServerNames::GroupDownloadPriority, Attribute, Valued);
    Relate(ServerNames::UserListGroup, ServerNames::GroupDownloadPriority, one, many);
    Declare(ServerNames::AcceptUploads, Attribute, Valueless, OnNewItem);
    Relate(ServerNames::UserListGroup, ServerNames::AcceptUploads, one, many);

    Declare(ServerNames::Room, Root, Valued);
    Relate(ServerNames::Room, ServerNames::User, many, many);
    Declare(ServerNames::UserCount, Attribute, Valued);
    Relate(ServerNames::Room, ServerNames::UserCount, one, many);
    for (const char* marker : {ServerNames::InRoom, ServerNames::RoomAutojoin, "is_private", ServerNames::IsMember,
                               ServerNames::IsOperator, ServerNames::IsOwner}) {
        Declare(marker, Attribute, Valueless, OnNewItem);
        Relate(ServerNames::Room, marker, one, many);
    }
    for (const char* list : {ServerNames::RoomMembers, ServerNames::RoomOperators, ServerNames::RoomOwner}) {
        Declare(list, Node, Valueless, OnNewItem);
        Own(ServerNames::Room, list, one);
    }
    Relate(ServerNames::RoomMembers, ServerNames::User, many, many);
    Relate(ServerNames::RoomOperators, ServerNames::User, many, many);
    Relate(ServerNames::RoomOwner, ServerNames::User, one, many);

    Declare(ServerNames::RoomTicker, Node, Valueless, OnNewItem);
    Own(ServerNames::Room, ServerNames::RoomTicker, many);
    Declare(ServerNames::RoomTickerText, Attribute, Valued);
    Relate(ServerNames::RoomTicker, ServerNames::RoomTickerText, one, many);
    Declare(ServerNames::RoomTickerOrder, Attribute, Valued);
    Relate(ServerNames::RoomTicker, ServerNames::RoomTickerOrder, one, many);
    Relate(ServerNames::RoomTicker, ServerNames::User, one, many);

    // The search types that peer messaging and the search views share; see
    // "Item types" in docs/protocol.md for who declares what.
    Declare(ServerNames::SearchRequest, Root, Valued, OnNewItem);
    Declare(ServerNames::SearchRequestText, Node, Valued);
    Relate(ServerNames::SearchRequest, ServerNames::SearchRequestText, one, many);
    Declare(ServerNames::WishListItem, Root, Valued);
    Relate(ServerNames::SearchRequest, ServerNames::WishListItem, one, many);
    Declare(ServerNames::SearchCorrelation, Node, Valueless, OnNewItem);
    Own(ServerNames::SearchRequestText, ServerNames::SearchCorrelation, many);
    Declare(ServerNames::CorrelationText, Attribute, Valued);
    Relate(ServerNames::SearchCorrelation, ServerNames::CorrelationText, one, many);
    Declare(ServerNames::CorrelationRank, Attribute, Valued);
    Relate(ServerNames::SearchCorrelation, ServerNames::CorrelationRank, one, many);

    Save(ServerNames::RoomAutojoin);
    SaveWith(ServerNames::Room, ServerNames::RoomAutojoin);
    Save(ServerNames::InUserList);
    SaveWith(ServerNames::User, ServerNames::InUserList);
    Save(ServerNames::UserListGroup);
    Save(ServerNames::GroupDownloadPriority);
    Save(ServerNames::AcceptUploads);
    Save(ServerNames::IsIgnored);
    SaveWith(ServerNames::User, ServerNames::IsIgnored);
    Save(ServerNames::WishListItem);

    SetSetting("availability_status", "available");
}

void Server::DataLoaded()
{
    // A room list is expected only after this run asked for one; a "yes"
    // saved by an earlier run must not let an unrequested list through.
    SetSetting("accept_room_list", "no");
}

void Server::NoData() {}

// ---------------------------------------------------------------------------
// Connection

void Server::Connect()
{
    if (m_state != StateDisconnected || GetSetting("username").isEmpty())
        return;

    // A fresh socket per attempt: a slot that runs a nested event loop
    // while handling the old socket's data must not hold back the new one's.
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    m_socket = new QTcpSocket(this);
    m_socket->setReadBufferSize(SocketBufferLimit);
    connect(m_socket, &QTcpSocket::connected, this, &Server::OnSocketConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &Server::OnSocketReadyToRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &Server::OnSocketEnded);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &Server::OnSocketEnded);

    m_state = StateConnecting;
    ++m_connectionNumber;
    m_buffer.clear();
    m_socketEnded = false;

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
    if (oldState == StateLoggedIn) {
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

qint64 Server::UnreadBytes() const
{
    return m_buffer.size() + (m_socket ? m_socket->bytesAvailable() : 0);
}

void Server::CloseConnection()
{
    m_state = StateDisconnected;
    ++m_connectionNumber;
    m_buffer.clear();
    m_socketEnded = false;
    if (m_socket) {
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

void Server::OnSocketEnded()
{
    if (m_state == StateDisconnected || !m_socket)
        return;
    // What the server sent before it closed (a "logged in elsewhere" after a
    // burst, say) is still handled, in order; the connection ends after it.
    m_socketEnded = true;
    m_buffer.append(m_socket->readAll());
    HandleBuffered();
}

void Server::OnSocketClosed()
{
    if (m_state == StateDisconnected)
        return;
    const int oldState = m_state;
    CloseConnection();
    if (oldState == StateLoggedIn) {
        Log(Area, 1, "The connection to the server ended");
        emit Disconnected();
        SetAllUsersOffline();
    } else {
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
    Send(ServerMessages::WriteKeepAlive());
}

void Server::Send(const QByteArray& message)
{
    // Requests made while not logged in are dropped: the caller's state is
    // rebuilt at the next login (rooms rejoin, tracked users are re-added).
    if (m_state != StateLoggedIn || !m_socket)
        return;
    m_socket->write(ServerMessages::Framed(message));
}

void Server::OnSocketReadyToRead()
{
    if (m_socket)
        HandleBuffered();
}

qint64 Server::ReadWhatFits()
{
    if (!m_socket)
        return 0;
    const QByteArray bytes = ReadBacklog::ReadWhatFits(m_socket, m_buffer, MaxBacklog, MaxFrameLength);
    m_buffer.append(bytes);
    return bytes.size();
}

void Server::HandleBuffered()
{
    // A handler's nested event loop may announce more; it waits for the
    // outer call to finish, so the order stays that of arrival.
    if (m_handling) {
        m_handlingAgain = true;
        return;
    }
    m_handling = true;
    m_handlingAgain = false;
    const quint64 connection = m_connectionNumber;
    int position = 0;
    bool more = false;
    ServerMessages::Frame frame;
    while (connection == m_connectionNumber) {
        if (TurnBudget::Exhausted()) {
            // A full socket buffer announces nothing more, so bytes waiting
            // there need the continuation as much as a whole frame does.
            int next = position;
            more = ServerMessages::TakeFrame(m_buffer, next, frame) != ServerMessages::FrameStatus::Incomplete ||
                   (m_socket && m_socket->bytesAvailable() > 0);
            break;
        }
        const ServerMessages::FrameStatus status = ServerMessages::TakeFrame(m_buffer, position, frame);
        if (status == ServerMessages::FrameStatus::Incomplete) {
            m_buffer.remove(0, position);
            position = 0;
            if (ReadWhatFits() > 0)
                continue;
            break;
        }
        if (status == ServerMessages::FrameStatus::Invalid) {
            m_handling = false;
            Log(Area, 1, QString("Frame of length %1 from the server; closing the connection").arg(frame.length));
            OnSocketClosed();
            return;
        }
        HandleMessage(frame.code, frame.body);
        TurnBudget::Spend();
    }
    m_handling = false;
    // A handler may have ended this connection (and cleared the buffer).
    if (connection == m_connectionNumber)
        m_buffer.remove(0, position);
    if (!more && !m_handlingAgain && m_socketEnded && connection == m_connectionNumber) {
        OnSocketClosed();
        return;
    }
    if ((more || m_handlingAgain) && !m_continuationQueued) {
        // The rest waits for a later turn of the event loop; a connection
        // ended meanwhile has left nothing to handle.
        m_continuationQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_continuationQueued = false;
                HandleBuffered();
            },
            Qt::QueuedConnection);
    }
}

void Server::HandleMessage(quint32 code, const QByteArray& body)
{
    using Code = ServerMessages::Code;
    if (m_state == StateConnecting) {
        if (code != Code::Login) {
            Log(Area, 2, QString("Message %1 before the login reply ignored").arg(code));
            return;
        }
        if (!HandleLoginReply(body)) {
            Log(Area, 1, "Malformed login reply from the server");
            OnSocketClosed();
        }
        return;
    }

    bool ok = true;
    switch (code) {
    case Code::Login:
        Log(Area, 2, "Second login reply ignored");
        break;
    case Code::GetPeerAddress:
        ok = HandlePeerAddress(body);
        break;
    case Code::AddUser:
        ok = HandleAddUserReply(body);
        break;
    case Code::UserStatus:
        ok = HandleUserStatus(body);
        break;
    case Code::SayInRoom:
        ok = HandleRoomChat(body);
        break;
    case Code::JoinRoom:
        ok = HandleJoinRoom(body);
        break;
    case Code::LeaveRoom:
        ok = HandleLeaveRoom(body);
        break;
    case Code::UserJoinedRoom:
        ok = HandleUserJoinedRoom(body);
        break;
    case Code::UserLeftRoom:
        ok = HandleUserLeftRoom(body);
        break;
    case Code::ConnectToPeer:
        ok = HandlePeerConnectionRequest(body);
        break;
    case Code::PrivateChat:
        ok = HandlePrivateChat(body);
        break;
    case Code::FileSearch:
        ok = HandleSearch(body);
        break;
    case Code::GetUserStats:
        ok = HandleUserStats(body);
        break;
    case Code::LoggedInElsewhere:
    {
        Log(Area, 1, "Logged in elsewhere");
        m_abruptlyDisconnected = false;
        const quint64 connection = m_connectionNumber;
        emit LoggedInElsewhere();
        if (connection == m_connectionNumber)
            OnSocketClosed();
        break;
    }
    case Code::RoomList:
        ok = HandleRoomList(body);
        break;
    case Code::AdminMessage:
        ok = HandleAdminMessage(body);
        break;
    case Code::PrivilegedUsers:
        ok = HandlePrivilegedUsers(body);
        break;
    case Code::OwnPrivileges:
        ok = HandleOwnPrivileges(body);
        break;
    case Code::WishListInterval:
        ok = HandleWishListInterval(body);
        break;
    case Code::RoomWall:
        ok = HandleRoomWall(body);
        break;
    case Code::RoomWallMessage:
        ok = HandleRoomWallMessage(body);
        break;
    case Code::PrivateRoomState:
        ok = HandlePrivateRoomState(body);
        break;
    case Code::PrivateRoomAddMember:
    case Code::PrivateRoomRemoveMember:
    case Code::PrivateRoomAddOperator:
    case Code::PrivateRoomRemoveOperator:
        ok = HandlePrivateRoomChange(code, body);
        break;
    case Code::PrivateRoomDissolved:
        ok = HandlePrivateRoomRemoved(body);
        break;
    case Code::PrivateRoomToggle:
        ok = HandlePrivateRoomAddEnabled(body);
        break;
    case Code::RelatedSearch:
        ok = HandleCorrelations(body);
        break;
    case Code::CantConnect:
        ok = HandleCantConnectToPeer(body);
        break;
    case Code::ParentCandidates:
        ok = HandleParentCandidates(body);
        break;
    case Code::DistributedSearch:
        ok = HandleDistributedSearch(body);
        break;
    default:
        Log(Area, 2, QString("Unknown message %1 from the server ignored").arg(code));
        break;
    }
    if (!ok)
        Log(Area, 1, QString("Malformed message %1 from the server dropped").arg(code));
}
