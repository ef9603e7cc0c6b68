#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <utility>
#include <vector>

#include "UserStats.h"

// The messages of the server connection: their codes, their framing, a
// writer for every message the client sends and a reader for every message
// it receives. The layouts are in docs/protocol.md.
//
// A writer returns the whole message, code and body, ready for Framed. A
// reader takes the body (the bytes after the code) and fails, leaving its
// output alone, when the body ends before its last field, a count promises
// more than the body holds or a value is out of range; it never reads past
// the end, so any bytes at all may be fed to it. Bytes after the last field
// are ignored, so a later server may append fields.
class ServerMessages
{
public:
    enum Code : quint32
    {
        Login = 1,
        SetListenPorts = 2,
        GetPeerAddress = 3,
        AddUser = 5,
        UserStatus = 7,
        SayInRoom = 13,
        JoinRoom = 14,
        LeaveRoom = 15,
        UserJoinedRoom = 16,
        UserLeftRoom = 17,
        ConnectToPeer = 18,
        PrivateChat = 22,
        FileSearch = 26,
        SetStatus = 28,
        KeepAlive = 32,
        SharedFoldersFiles = 35,
        GetUserStats = 36,
        LoggedInElsewhere = 41,
        UserSearch = 42,
        RoomList = 64,
        AdminMessage = 66,
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
        MessageUsers = 149,
        RelatedSearch = 153,
        CantConnect = 1001,
        ParentCandidates = 1100,
        DistributedState = 1101,
        DistributedSearch = 1102,
    };

    // A user's status on the wire.
    static constexpr quint32 StatusOffline = 0;
    static constexpr quint32 StatusAway = 1;
    static constexpr quint32 StatusOnline = 2;

    // Role bits of a private room in the room list.
    static constexpr quint8 RoleMember = 1;
    static constexpr quint8 RoleOperator = 2;
    static constexpr quint8 RoleOwner = 4;

    // A frame whose length field exceeds this cannot be trusted: nothing the
    // server legitimately sends comes near it, and it caps what a broken or
    // hostile server can make us buffer.
    static constexpr quint32 MaxFrameLength = 16 * 1024 * 1024;

    enum class FrameStatus
    {
        Complete,
        // The buffer ends within the frame: wait for more bytes.
        Incomplete,
        // The length field is below 4 or above MaxFrameLength.
        Invalid
    };
    struct Frame
    {
        quint32 length = 0;
        quint32 code = 0;
        QByteArray body;
    };
    // The frame starting at position in buffer. Complete moves position past
    // it; Invalid sets frame.length only.
    static FrameStatus TakeFrame(const QByteArray& buffer, int& position, Frame& frame);
    // How many more bytes a reader holding unhandled (none of it handled
    // yet) may take from its socket so as to hold at most backlogLimit; more
    // only to complete the frame at its head when that frame alone is larger.
    static qint64 ReadAllowance(const QByteArray& unhandled, qint64 backlogLimit);
    // A message (code and body) behind its length field.
    static QByteArray Framed(const QByteArray& message);

    // What the server sends.
    struct LoginReplyBody
    {
        bool accepted = false;
        QString reason;
        QString greeting;
        bool supporter = false;
    };
    struct AddUserReplyBody
    {
        QString user;
        bool exists = false;
        quint32 status = 0;
        UserStats stats;
        QString country;
    };
    struct UserStatusBody
    {
        QString user;
        quint32 status = 0;
    };
    struct UserStatsBody
    {
        QString user;
        UserStats stats;
    };
    struct PrivateChatBody
    {
        quint32 time = 0;
        QString user;
        QString text;
        bool spontaneous = false;
    };
    struct RoomUser
    {
        QString name;
        UserStats stats;
        QString country;
    };
    struct JoinedRoomBody
    {
        QString room;
        std::vector<RoomUser> users;
    };
    struct UserJoinedRoomBody
    {
        QString room;
        RoomUser user;
    };
    struct RoomAndUserBody
    {
        QString room;
        QString user;
    };
    struct RoomTextBody
    {
        QString room;
        QString user;
        QString text;
    };
    struct RoomListEntry
    {
        QString name;
        quint32 users = 0;
        // Role bits; always 0 for a public room.
        quint8 roles = 0;
    };
    struct RoomListBody
    {
        std::vector<RoomListEntry> publicRooms;
        std::vector<RoomListEntry> privateRooms;
    };
    struct RoomWallBody
    {
        QString room;
        // User and text, oldest first.
        std::vector<std::pair<QString, QString>> messages;
    };
    struct PrivateRoomStateBody
    {
        QString room;
        QString owner;
        QStringList members;
        QStringList operators;
    };
    struct SearchRequestBody
    {
        QString user;
        quint32 token = 0;
        QString text;
    };
    struct CorrelationsBody
    {
        QString text;
        // Related text and rank.
        std::vector<std::pair<QString, quint32>> related;
    };
    struct PeerAddressBody
    {
        QString user;
        QString address;
        quint16 port = 0;
        quint16 obfuscatedPort = 0;
    };
    struct PeerConnectionRequestBody
    {
        QString user;
        QString type;
        QString address;
        quint16 port = 0;
        quint16 obfuscatedPort = 0;
        quint32 token = 0;
    };
    struct CantConnectBody
    {
        quint32 token = 0;
        QString user;
    };

    static bool ReadLoginReply(const QByteArray& body, LoginReplyBody& reply);
    static bool ReadPeerAddress(const QByteArray& body, PeerAddressBody& address);
    static bool ReadAddUserReply(const QByteArray& body, AddUserReplyBody& reply);
    static bool ReadUserStatus(const QByteArray& body, UserStatusBody& status);
    static bool ReadRoomChat(const QByteArray& body, RoomTextBody& chat);
    static bool ReadJoinedRoom(const QByteArray& body, JoinedRoomBody& joined);
    static bool ReadLeftRoom(const QByteArray& body, QString& room);
    static bool ReadUserJoinedRoom(const QByteArray& body, UserJoinedRoomBody& joined);
    static bool ReadUserLeftRoom(const QByteArray& body, RoomAndUserBody& left);
    static bool ReadPeerConnectionRequest(const QByteArray& body, PeerConnectionRequestBody& request);
    static bool ReadPrivateChat(const QByteArray& body, PrivateChatBody& chat);
    static bool ReadSearchRequest(const QByteArray& body, SearchRequestBody& request);
    static bool ReadUserStats(const QByteArray& body, UserStatsBody& stats);
    static bool ReadRoomList(const QByteArray& body, RoomListBody& list);
    static bool ReadAdminMessage(const QByteArray& body, QString& text);
    static bool ReadPrivilegedUsers(const QByteArray& body, QStringList& users);
    static bool ReadOwnPrivileges(const QByteArray& body, qint32& seconds);
    static bool ReadWishListInterval(const QByteArray& body, quint32& seconds);
    static bool ReadRoomWall(const QByteArray& body, RoomWallBody& wall);
    static bool ReadRoomWallMessage(const QByteArray& body, RoomTextBody& message);
    static bool ReadPrivateRoomState(const QByteArray& body, PrivateRoomStateBody& state);
    // Messages 134, 135, 143 and 144.
    static bool ReadPrivateRoomChange(const QByteArray& body, RoomAndUserBody& change);
    static bool ReadPrivateRoomDissolved(const QByteArray& body, QString& room);
    static bool ReadPrivateRoomToggle(const QByteArray& body, bool& enabled);
    static bool ReadCorrelations(const QByteArray& body, CorrelationsBody& correlations);
    static bool ReadCantConnect(const QByteArray& body, CantConnectBody& cantConnect);
    static bool ReadParentCandidates(const QByteArray& body, QStringList& users);
    static bool ReadDistributedSearch(const QByteArray& body, SearchRequestBody& search);

    // What the client sends.
    struct DistributedStateBody
    {
        bool hasParent = false;
        QString branchRoot;
        quint32 level = 0;
        quint32 childCount = 0;
        quint32 childLimit = 0;
        quint32 depth = 0;
    };

    // The digest is computed here from the password.
    static QByteArray WriteLogin(const QString& username, const QString& password, quint32 version);
    static QByteArray WriteSetListenPorts(quint32 port, quint32 obfuscatedPort);
    static QByteArray WriteGetPeerAddress(const QString& user);
    static QByteArray WriteAddUser(const QString& user);
    static QByteArray WriteSayInRoom(const QString& room, const QString& text);
    static QByteArray WriteJoinRoom(const QString& room, bool isPrivate);
    static QByteArray WriteLeaveRoom(const QString& room);
    static QByteArray WriteConnectToPeer(quint32 token, const QString& user, const QString& type);
    static QByteArray WritePrivateChat(const QString& user, const QString& text);
    static QByteArray WriteFileSearch(quint32 ticket, const QString& text);
    static QByteArray WriteSetStatus(quint32 status);
    static QByteArray WriteKeepAlive();
    static QByteArray WriteSharedFoldersFiles(quint32 folders, quint32 files);
    static QByteArray WriteGetUserStats(const QString& user);
    static QByteArray WriteUserSearch(const QString& user, quint32 ticket, const QString& text);
    static QByteArray WriteRoomList();
    static QByteArray WriteOwnPrivileges();
    static QByteArray WriteWishListSearch(quint32 ticket, const QString& text);
    static QByteArray WriteSetRoomWallMessage(const QString& room, const QString& text);
    static QByteArray WriteRoomSearch(const QString& room, quint32 ticket, const QString& text);
    static QByteArray WriteUploadSpeed(quint32 bytesPerSecond);
    static QByteArray WriteGivePrivileges(const QString& user, quint32 days);
    static QByteArray WritePrivateRoomAddMember(const QString& room, const QString& user);
    static QByteArray WritePrivateRoomRemoveMember(const QString& room, const QString& user);
    static QByteArray WritePrivateRoomDismember(const QString& room);
    static QByteArray WritePrivateRoomDisown(const QString& room);
    static QByteArray WritePrivateRoomToggle(bool enable);
    static QByteArray WritePrivateRoomAddOperator(const QString& room, const QString& user);
    static QByteArray WritePrivateRoomRemoveOperator(const QString& room, const QString& user);
    static QByteArray WriteMessageUsers(const QStringList& users, const QString& text);
    static QByteArray WriteRelatedSearch(const QString& text);
    static QByteArray WriteCantConnect(quint32 token, const QString& user);
    static QByteArray WriteParentCandidates();
    static QByteArray WriteDistributedState(const DistributedStateBody& state);
};
