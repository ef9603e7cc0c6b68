#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <ctime>

#include "DataHandler.h"
#include "DataLoadedEventHandler.h"
#include "ItemPtr.h"
#include "ReadBacklog.h"
#include "ServerMessages.h"
#include "UserStats.h"

class PortForwarder;
class PortForwarderWorker;
class QTcpSocket;

// The one connection to the network's central server. Requests go out as
// framed messages while logged in; what the server says comes back as
// changes of the item store and as signals. The wire format is described in
// docs/protocol.md; the bytes are read and written by ServerMessages. The
// implementation is split by concern: Server.cpp (schema, connection and
// dispatch), ServerLogin.cpp, ServerUsers.cpp, ServerRooms.cpp,
// ServerSearches.cpp and ServerPeers.cpp (other clients and the distributed
// network).
class Server : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // Connection states.
    static constexpr int StateDisconnected = 0;
    static constexpr int StateConnecting = 1;
    static constexpr int StateLoggedIn = 2;

    // A frame whose length field exceeds this closes the connection.
    static constexpr quint32 MaxFrameLength = ServerMessages::MaxFrameLength;

    // The connection reads no faster than it handles, so that TCP slows a
    // server that sends faster: it holds at most MaxBacklog bytes read and
    // not yet handled, and its socket at most SocketBufferLimit more. Only
    // a message at the head larger than MaxBacklog is read whole beyond it.
    static constexpr qint64 MaxBacklog = ReadBacklog::MaxBacklog;
    static constexpr qint64 SocketBufferLimit = ReadBacklog::SocketBufferLimit;
    static constexpr qint64 MaxUnreadBytes = ReadBacklog::MaxUnreadBytes;

    static constexpr quint16 DefaultPort = 2242;
    static const char* const DefaultUsername;
    static const char* const DefaultPassword;

    // upnpWorker replaces the port forwarder's gateway worker (tests); null
    // gives the real one.
    explicit Server(PortForwarderWorker* upnpWorker = nullptr);
    ~Server() override;

    // Declares the server's item types and relations and registers its saved
    // types. The settings types ("global", "vglobal", "global_value") must be
    // declared before.
    void CreateData();

    void Connect();
    void Disconnect();
    bool IsConnected() const;
    bool IsAbruptlyDisconnected() const;
    int GetState() const { return m_state; }
    // What the connection holds of what the server sent: the bytes read and
    // not yet let go, and those waiting in its socket.
    qint64 UnreadBytes() const;

    // Users.
    void AddUser(QString user);
    void TrackUser(QString user);
    void GetUserStats(QString user);
    void GetOwnPrivilegesStatus();
    void GiftPrivileges(QString user, int days);
    void SendPrivateChat(QString user, QString text);
    void MessageUsers(QStringList& users, QString text);
    void SetAvailabilityStatus(bool available);
    void SendFilesFolders(int folders, int files);
    void SendUploadSpeed(int bytesPerSecond);

    // Rooms.
    void GetRoomList();
    void EnterRoom(QString room, bool isPrivate);
    void LeaveRoom(QString room);
    void SendRoomChat(QString room, QString text);
    void SetRoomTicker(QString room, QString text);
    void EnablePrivateRoomAdd(bool enable);
    void GiveUpPrivateRoomMembership(QString room);
    void GiveUpPrivateRoom(QString room);
    void AddPrivateRoomMember(QString room, QString user);
    void RemovePrivateRoomMember(QString room, QString user);
    void AddPrivateRoomOperator(QString room, QString user);
    void RemovePrivateRoomOperator(QString room, QString user);

    // Searches; each returns the new ticket, made even while offline.
    unsigned int FileSearch(QString text, QString wishListItem);
    unsigned int SearchUserList(QString text);
    unsigned int SearchRoom(QString room, QString text);
    void GetSearchCorrelations(QString text);

    // Reaching other clients: their address, and the server's relay of a
    // connection request when a direct connection is not possible.
    void GetPeerAddress(QString user);
    void RequestPeerConnection(QString user, quint32 token, QString type);
    void SendCantConnectToPeer(quint32 token, QString user);

    void DataLoaded() override;
    void NoData() override;

public slots:
    // The distributed search network's requests (see DNetManager): a request
    // for parent candidates, and this client's place in the network.
    void GetDistributedParentCandidates();
    void SendDistributedState(bool hasParent, QString branchRoot, quint32 level, quint32 childCount, quint32 childLimit,
                              quint32 depth);

signals:
    void Connecting();
    void Connected();
    void Disconnected();
    void ConnectionFailed(QString reason);
    void LoggedInElsewhere();
    void AdminMessage(QString text);
    void PrivateChat(QString user, QString text, time_t time, bool spontaneous);
    void PrivateChatSent(QString user, QString text);
    void RoomChat(QString room, QString user, QString text);
    void DirectFileSearch(QString user, quint32 token, QString text);
    void ReceivedUserStats(QString user, UserStats stats);
    void AddUserResponse(QString user, bool exists);
    void PrivateRoomAddEnabled(bool enabled);
    void ReceivedOwnPrivilegesStatus(int i_seconds);
    void SearchCorrelations(QString text);
    void WishListWait(uint seconds);
    void SearchRequested(uint ticket, QString text, bool wishList);
    // An empty address means the user is unknown or offline.
    void PeerAddress(QString user, QString address, quint16 port, quint16 obfuscatedPort);
    void PeerConnectionRequested(QString user, QString type, QString address, quint16 port, quint16 obfuscatedPort,
                                 quint32 token);
    void CantConnectToPeer(quint32 token, QString user);
    // The users the server offers as our parent in the distributed network,
    // best first.
    void DistributedParentCandidates(QStringList users);
    // A network-wide search for a branch root to pass down its tree.
    void DistributedSearch(QString user, quint32 token, QString text);

private slots:
    void OnSocketConnected();
    void OnSocketReadyToRead();
    void HandleBuffered();
    void OnSocketEnded();
    void OnSocketClosed();
    void OnHalfMinuteTick();
    void OnFiveMinuteTick();

private:
    void OnConnectedToServer();
    void SendLogin();
    // Frames and sends a message made by a ServerMessages writer.
    void Send(const QByteArray& message);
    void CloseConnection();
    // Moves what fits under the backlog bound from the socket to the buffer,
    // which must hold no handled bytes; returns how many bytes it moved.
    qint64 ReadWhatFits();
    void HandleMessage(quint32 code, const QByteArray& body);
    bool HandleLoginReply(const QByteArray& body);
    bool HandleAddUserReply(const QByteArray& body);
    bool HandleUserStatus(const QByteArray& body);
    bool HandleUserStats(const QByteArray& body);
    bool HandlePrivilegedUsers(const QByteArray& body);
    bool HandleOwnPrivileges(const QByteArray& body);
    bool HandlePrivateChat(const QByteArray& body);
    bool HandleRoomList(const QByteArray& body);
    bool HandleJoinRoom(const QByteArray& body);
    bool HandleLeaveRoom(const QByteArray& body);
    bool HandleUserJoinedRoom(const QByteArray& body);
    bool HandleUserLeftRoom(const QByteArray& body);
    bool HandleRoomChat(const QByteArray& body);
    bool HandleRoomWall(const QByteArray& body);
    bool HandleRoomWallMessage(const QByteArray& body);
    bool HandlePrivateRoomState(const QByteArray& body);
    bool HandlePrivateRoomChange(quint32 code, const QByteArray& body);
    bool HandlePrivateRoomRemoved(const QByteArray& body);
    bool HandlePrivateRoomAddEnabled(const QByteArray& body);
    bool HandleSearch(const QByteArray& body);
    bool HandleWishListInterval(const QByteArray& body);
    bool HandleCorrelations(const QByteArray& body);
    bool HandlePeerAddress(const QByteArray& body);
    bool HandlePeerConnectionRequest(const QByteArray& body);
    bool HandleCantConnectToPeer(const QByteArray& body);
    bool HandleParentCandidates(const QByteArray& body);
    bool HandleDistributedSearch(const QByteArray& body);
    bool HandleAdminMessage(const QByteArray& body);

    void SetUserStatus(ItemPtr user, quint32 status);
    void SetUserStats(ItemPtr user, const UserStats& stats);
    void SetOwnRoomRole(ItemPtr room, const char* marker, bool on);
    void SetAllUsersOffline();
    unsigned int NewSearchRequest(QString text);
    QString OwnUsername() const;
    // The store's user or room of that name, made when missing.
    static ItemPtr User(const QString& name);
    static ItemPtr Room(const QString& name);

    // The log area of the server connection.
    static const char* const Area;

    QTcpSocket* m_socket;
    PortForwarder* m_portForwarder;
    int m_state = StateDisconnected;
    bool m_abruptlyDisconnected = false;
    // Whether this run has entered the rooms marked "room_autojoin".
    bool m_autojoined = false;
    // The position the next single wall message of a room takes, by room:
    // finding the highest one among a room's messages for every message
    // makes a flood of them quadratic.
    QHash<QString, qint64> m_nextWallOrder;
    unsigned int m_searchTicket = 0;
    QByteArray m_buffer;
    // Counts connections, so that parsing stops when a handler's signal
    // ended the connection the remaining bytes came from.
    quint64 m_connectionNumber = 0;
    // Buffered messages are handled a turn's budget at a time.
    bool m_handling = false;
    bool m_handlingAgain = false;
    bool m_continuationQueued = false;
    // The socket closed; the connection ends once its messages are handled.
    bool m_socketEnded = false;
};

extern Server* gp_server;
