#include "ServerMessages.h"

#include <QCryptographicHash>

#include "MemStream.h"
#include "ReadBacklog.h"

namespace {
using Messages = ServerMessages;

template <typename... Fields>
QByteArray Message(quint32 code, const Fields&... fields)
{
    MemStream out;
    out.Write(code);
    (out.Write(fields), ...);
    return out.GetBytes();
}

quint32 U32At(const char* bytes)
{
    const uchar* p = reinterpret_cast<const uchar*>(bytes);
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// Hands a completely read body to the caller, so that a failed read leaves
// the caller's copy as it was.
template <typename T>
bool Accept(T& out, T& read)
{
    out = std::move(read);
    return true;
}

bool ReadFlag(InputStream& in, bool& flag)
{
    quint8 value = 0;
    if (!in.Read(value))
        return false;
    flag = value != 0;
    return true;
}

// Ports travel as u32; a value no port can have makes the message malformed.
bool ReadPort(InputStream& in, quint16& port)
{
    quint32 value = 0;
    if (!in.Read(value) || value > 65535)
        return false;
    port = quint16(value);
    return true;
}

// A u32 count, then that many entries of at least minimumSize bytes each. A
// count the rest of the body cannot hold is refused before anything is set
// aside for it; otherwise the list grows as entries parse.
template <typename List, typename ReadEntry>
bool ReadList(InputStream& in, unsigned long minimumSize, List& list, ReadEntry readEntry)
{
    quint32 count = 0;
    if (!in.Read(count) || count > in.Remaining() / minimumSize)
        return false;
    for (quint32 i = 0; i < count; ++i) {
        typename List::value_type entry;
        if (!readEntry(in, entry))
            return false;
        list.push_back(std::move(entry));
    }
    return true;
}

bool ReadNames(InputStream& in, QStringList& names)
{
    return ReadList(in, 4, names, [](InputStream& in, QString& name) { return in.Read(name); });
}

// Both kinds of pairs sent (a string with a string or a u32) take at least
// 8 bytes.
template <typename Second>
bool ReadPairs(InputStream& in, std::vector<std::pair<QString, Second>>& pairs)
{
    return ReadList(in, 8, pairs, [](InputStream& in, std::pair<QString, Second>& pair) {
        return in.Read(pair.first) && in.Read(pair.second);
    });
}

bool ReadRoomUser(InputStream& in, Messages::RoomUser& user)
{
    return in.Read(user.name) && user.stats.Read(in) && in.Read(user.country);
}

bool ReadRoomAndUser(const QByteArray& body, Messages::RoomAndUserBody& out)
{
    MemStream in(body);
    Messages::RoomAndUserBody read;
    return in.Read(read.room) && in.Read(read.user) && Accept(out, read);
}

bool ReadRoomText(const QByteArray& body, Messages::RoomTextBody& out)
{
    MemStream in(body);
    Messages::RoomTextBody read;
    return in.Read(read.room) && in.Read(read.user) && in.Read(read.text) && Accept(out, read);
}

bool ReadSearch(const QByteArray& body, Messages::SearchRequestBody& out)
{
    MemStream in(body);
    Messages::SearchRequestBody read;
    return in.Read(read.user) && in.Read(read.token) && in.Read(read.text) && Accept(out, read);
}

bool ReadString(const QByteArray& body, QString& out)
{
    MemStream in(body);
    QString read;
    return in.Read(read) && Accept(out, read);
}

bool ReadNameList(const QByteArray& body, QStringList& out)
{
    MemStream in(body);
    QStringList read;
    return ReadNames(in, read) && Accept(out, read);
}
} // namespace

// ---------------------------------------------------------------------------
// Framing

ServerMessages::FrameStatus ServerMessages::TakeFrame(const QByteArray& buffer, int& position, Frame& frame)
{
    if (buffer.size() - position < 4)
        return FrameStatus::Incomplete;
    const quint32 length = U32At(buffer.constData() + position);
    if (length < 4 || length > MaxFrameLength) {
        frame.length = length;
        return FrameStatus::Invalid;
    }
    if (quint32(buffer.size() - position - 4) < length)
        return FrameStatus::Incomplete;
    frame.length = length;
    frame.code = U32At(buffer.constData() + position + 4);
    frame.body = buffer.mid(position + 8, int(length) - 4);
    position += 4 + int(length);
    return FrameStatus::Complete;
}

qint64 ServerMessages::ReadAllowance(const QByteArray& unhandled, qint64 backlogLimit)
{
    return ReadBacklog::Allowance(unhandled.constData(), unhandled.size(), backlogLimit, MaxFrameLength);
}

QByteArray ServerMessages::Framed(const QByteArray& message)
{
    MemStream frame;
    frame.Write(quint32(message.size()));
    frame.Append(message);
    return frame.GetBytes();
}

// ---------------------------------------------------------------------------
// Readers

bool ServerMessages::ReadLoginReply(const QByteArray& body, LoginReplyBody& reply)
{
    MemStream in(body);
    LoginReplyBody read;
    if (!ReadFlag(in, read.accepted))
        return false;
    const bool complete = read.accepted ? in.Read(read.greeting) && ReadFlag(in, read.supporter) : in.Read(read.reason);
    return complete && Accept(reply, read);
}

bool ServerMessages::ReadPeerAddress(const QByteArray& body, PeerAddressBody& address)
{
    MemStream in(body);
    PeerAddressBody read;
    return in.Read(read.user) && in.Read(read.address) && ReadPort(in, read.port) &&
           ReadPort(in, read.obfuscatedPort) && Accept(address, read);
}

bool ServerMessages::ReadAddUserReply(const QByteArray& body, AddUserReplyBody& reply)
{
    MemStream in(body);
    AddUserReplyBody read;
    if (!in.Read(read.user) || !ReadFlag(in, read.exists))
        return false;
    if (read.exists && (!in.Read(read.status) || !read.stats.Read(in) || !in.Read(read.country)))
        return false;
    return Accept(reply, read);
}

bool ServerMessages::ReadUserStatus(const QByteArray& body, UserStatusBody& status)
{
    MemStream in(body);
    UserStatusBody read;
    return in.Read(read.user) && in.Read(read.status) && Accept(status, read);
}

bool ServerMessages::ReadRoomChat(const QByteArray& body, RoomTextBody& chat)
{
    return ReadRoomText(body, chat);
}

bool ServerMessages::ReadJoinedRoom(const QByteArray& body, JoinedRoomBody& joined)
{
    MemStream in(body);
    JoinedRoomBody read;
    // A user is at least two string lengths and the statistics.
    return in.Read(read.room) && ReadList(in, 28, read.users, ReadRoomUser) && Accept(joined, read);
}

bool ServerMessages::ReadLeftRoom(const QByteArray& body, QString& room)
{
    return ReadString(body, room);
}

bool ServerMessages::ReadUserJoinedRoom(const QByteArray& body, UserJoinedRoomBody& joined)
{
    MemStream in(body);
    UserJoinedRoomBody read;
    return in.Read(read.room) && ReadRoomUser(in, read.user) && Accept(joined, read);
}

bool ServerMessages::ReadUserLeftRoom(const QByteArray& body, RoomAndUserBody& left)
{
    return ReadRoomAndUser(body, left);
}

bool ServerMessages::ReadPeerConnectionRequest(const QByteArray& body, PeerConnectionRequestBody& request)
{
    MemStream in(body);
    PeerConnectionRequestBody read;
    return in.Read(read.user) && in.Read(read.type) && in.Read(read.address) && ReadPort(in, read.port) &&
           ReadPort(in, read.obfuscatedPort) && in.Read(read.token) && Accept(request, read);
}

bool ServerMessages::ReadPrivateChat(const QByteArray& body, PrivateChatBody& chat)
{
    MemStream in(body);
    PrivateChatBody read;
    return in.Read(read.time) && in.Read(read.user) && in.Read(read.text) && ReadFlag(in, read.spontaneous) &&
           Accept(chat, read);
}

bool ServerMessages::ReadSearchRequest(const QByteArray& body, SearchRequestBody& request)
{
    return ReadSearch(body, request);
}

bool ServerMessages::ReadUserStats(const QByteArray& body, UserStatsBody& stats)
{
    MemStream in(body);
    UserStatsBody read;
    return in.Read(read.user) && read.stats.Read(in) && Accept(stats, read);
}

bool ServerMessages::ReadRoomList(const QByteArray& body, RoomListBody& list)
{
    MemStream in(body);
    RoomListBody read;
    auto readPublic = [](InputStream& in, RoomListEntry& room) { return in.Read(room.name) && in.Read(room.users); };
    auto readPrivate = [&](InputStream& in, RoomListEntry& room) {
        return readPublic(in, room) && in.Read(room.roles);
    };
    return ReadList(in, 8, read.publicRooms, readPublic) && ReadList(in, 9, read.privateRooms, readPrivate) &&
           Accept(list, read);
}

bool ServerMessages::ReadAdminMessage(const QByteArray& body, QString& text)
{
    return ReadString(body, text);
}

bool ServerMessages::ReadPrivilegedUsers(const QByteArray& body, QStringList& users)
{
    return ReadNameList(body, users);
}

bool ServerMessages::ReadOwnPrivileges(const QByteArray& body, qint32& seconds)
{
    MemStream in(body);
    return in.Read(seconds);
}

bool ServerMessages::ReadWishListInterval(const QByteArray& body, quint32& seconds)
{
    MemStream in(body);
    return in.Read(seconds);
}

bool ServerMessages::ReadRoomWall(const QByteArray& body, RoomWallBody& wall)
{
    MemStream in(body);
    RoomWallBody read;
    return in.Read(read.room) && ReadPairs(in, read.messages) && Accept(wall, read);
}

bool ServerMessages::ReadRoomWallMessage(const QByteArray& body, RoomTextBody& message)
{
    return ReadRoomText(body, message);
}

bool ServerMessages::ReadPrivateRoomState(const QByteArray& body, PrivateRoomStateBody& state)
{
    MemStream in(body);
    PrivateRoomStateBody read;
    return in.Read(read.room) && in.Read(read.owner) && ReadNames(in, read.members) && ReadNames(in, read.operators) &&
           Accept(state, read);
}

bool ServerMessages::ReadPrivateRoomChange(const QByteArray& body, RoomAndUserBody& change)
{
    return ReadRoomAndUser(body, change);
}

bool ServerMessages::ReadPrivateRoomDissolved(const QByteArray& body, QString& room)
{
    return ReadString(body, room);
}

bool ServerMessages::ReadPrivateRoomToggle(const QByteArray& body, bool& enabled)
{
    MemStream in(body);
    return ReadFlag(in, enabled);
}

bool ServerMessages::ReadCorrelations(const QByteArray& body, CorrelationsBody& correlations)
{
    MemStream in(body);
    CorrelationsBody read;
    return in.Read(read.text) && ReadPairs(in, read.related) && Accept(correlations, read);
}

bool ServerMessages::ReadCantConnect(const QByteArray& body, CantConnectBody& cantConnect)
{
    MemStream in(body);
    CantConnectBody read;
    return in.Read(read.token) && in.Read(read.user) && Accept(cantConnect, read);
}

bool ServerMessages::ReadParentCandidates(const QByteArray& body, QStringList& users)
{
    return ReadNameList(body, users);
}

bool ServerMessages::ReadDistributedSearch(const QByteArray& body, SearchRequestBody& search)
{
    return ReadSearch(body, search);
}

// ---------------------------------------------------------------------------
// Writers

QByteArray ServerMessages::WriteLogin(const QString& username, const QString& password, quint32 version)
{
    const QByteArray digest = QCryptographicHash::hash((username + password).toUtf8(), QCryptographicHash::Md5).toHex();
    return Message(Login, username, QString::fromLatin1(digest), version);
}

QByteArray ServerMessages::WriteSetListenPorts(quint32 port, quint32 obfuscatedPort)
{
    return Message(SetListenPorts, port, obfuscatedPort);
}

QByteArray ServerMessages::WriteGetPeerAddress(const QString& user)
{
    return Message(GetPeerAddress, user);
}

QByteArray ServerMessages::WriteAddUser(const QString& user)
{
    return Message(AddUser, user);
}

QByteArray ServerMessages::WriteSayInRoom(const QString& room, const QString& text)
{
    return Message(SayInRoom, room, text);
}

QByteArray ServerMessages::WriteJoinRoom(const QString& room, bool isPrivate)
{
    return Message(JoinRoom, room, quint32(isPrivate ? 1 : 0));
}

QByteArray ServerMessages::WriteLeaveRoom(const QString& room)
{
    return Message(LeaveRoom, room);
}

QByteArray ServerMessages::WriteConnectToPeer(quint32 token, const QString& user, const QString& type)
{
    return Message(ConnectToPeer, token, user, type);
}

QByteArray ServerMessages::WritePrivateChat(const QString& user, const QString& text)
{
    return Message(PrivateChat, user, text);
}

QByteArray ServerMessages::WriteFileSearch(quint32 ticket, const QString& text)
{
    return Message(FileSearch, ticket, text);
}

QByteArray ServerMessages::WriteSetStatus(quint32 status)
{
    return Message(SetStatus, status);
}

QByteArray ServerMessages::WriteKeepAlive()
{
    return Message(KeepAlive);
}

QByteArray ServerMessages::WriteSharedFoldersFiles(quint32 folders, quint32 files)
{
    return Message(SharedFoldersFiles, folders, files);
}

QByteArray ServerMessages::WriteGetUserStats(const QString& user)
{
    return Message(GetUserStats, user);
}

QByteArray ServerMessages::WriteUserSearch(const QString& user, quint32 ticket, const QString& text)
{
    return Message(UserSearch, user, ticket, text);
}

QByteArray ServerMessages::WriteRoomList()
{
    return Message(RoomList);
}

QByteArray ServerMessages::WriteOwnPrivileges()
{
    return Message(OwnPrivileges);
}

QByteArray ServerMessages::WriteWishListSearch(quint32 ticket, const QString& text)
{
    return Message(WishListSearch, ticket, text);
}

QByteArray ServerMessages::WriteSetRoomWallMessage(const QString& room, const QString& text)
{
    return Message(SetRoomWallMessage, room, text);
}

QByteArray ServerMessages::WriteRoomSearch(const QString& room, quint32 ticket, const QString& text)
{
    return Message(RoomSearch, room, ticket, text);
}

QByteArray ServerMessages::WriteUploadSpeed(quint32 bytesPerSecond)
{
    return Message(UploadSpeed, bytesPerSecond);
}

QByteArray ServerMessages::WriteGivePrivileges(const QString& user, quint32 days)
{
    return Message(GivePrivileges, user, days);
}

QByteArray ServerMessages::WritePrivateRoomAddMember(const QString& room, const QString& user)
{
    return Message(PrivateRoomAddMember, room, user);
}

QByteArray ServerMessages::WritePrivateRoomRemoveMember(const QString& room, const QString& user)
{
    return Message(PrivateRoomRemoveMember, room, user);
}

QByteArray ServerMessages::WritePrivateRoomDismember(const QString& room)
{
    return Message(PrivateRoomDismember, room);
}

QByteArray ServerMessages::WritePrivateRoomDisown(const QString& room)
{
    return Message(PrivateRoomDisown, room);
}

QByteArray ServerMessages::WritePrivateRoomToggle(bool enable)
{
    return Message(PrivateRoomToggle, quint8(enable ? 1 : 0));
}

QByteArray ServerMessages::WritePrivateRoomAddOperator(const QString& room, const QString& user)
{
    return Message(PrivateRoomAddOperator, room, user);
}

QByteArray ServerMessages::WritePrivateRoomRemoveOperator(const QString& room, const QString& user)
{
    return Message(PrivateRoomRemoveOperator, room, user);
}

QByteArray ServerMessages::WriteMessageUsers(const QStringList& users, const QString& text)
{
    MemStream out;
    out.Write(quint32(MessageUsers));
    out.Write(quint32(users.size()));
    for (const QString& user : users)
        out.Write(user);
    out.Write(text);
    return out.GetBytes();
}

QByteArray ServerMessages::WriteRelatedSearch(const QString& text)
{
    return Message(RelatedSearch, text);
}

QByteArray ServerMessages::WriteCantConnect(quint32 token, const QString& user)
{
    return Message(CantConnect, token, user);
}

QByteArray ServerMessages::WriteParentCandidates()
{
    return Message(ParentCandidates);
}

QByteArray ServerMessages::WriteDistributedState(const DistributedStateBody& state)
{
    return Message(DistributedState, quint8(state.hasParent ? 1 : 0), state.branchRoot, state.level, state.childCount,
                   state.childLimit, state.depth);
}
