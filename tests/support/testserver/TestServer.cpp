#include "TestServer.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>

#include "TestMessage.h"
#include "TestServerSession.h"

namespace {
QString Digest(const QString& user, const QString& password)
{
    return QString::fromLatin1(QCryptographicHash::hash((user + password).toUtf8(), QCryptographicHash::Md5).toHex());
}
} // namespace

TestServer::TestServer(QObject* parent) : QObject(parent), m_listener(new QTcpServer(this))
{
    connect(m_listener, &QTcpServer::newConnection, this, &TestServer::OnNewConnection);
}

TestServer::~TestServer()
{
    for (TestServerSession* session : m_sessions)
        session->disconnect(this);
}

bool TestServer::Listen(quint16 port)
{
    return m_listener->listen(QHostAddress::LocalHost, port);
}

quint16 TestServer::Port() const
{
    return m_listener->serverPort();
}

void TestServer::SetPassword(const QString& user, const QString& password)
{
    m_accounts[user].digest = Digest(user, password);
}

void TestServer::RefuseLogins(const QString& reason)
{
    m_refusal = reason;
}

void TestServer::HoldLogins(bool hold)
{
    m_holdLogins = hold;
    if (hold)
        return;
    const auto held = m_heldLogins;
    m_heldLogins.clear();
    for (const auto& login : held)
        if (m_sessions.contains(login.first)) {
            TestMessage in(login.second);
            HandleLogin(login.first, in);
        }
}

void TestServer::AddKnownUser(const QString& user)
{
    m_accounts[user];
}

void TestServer::SetSupporter(const QString& user, bool supporter)
{
    m_accounts[user].supporter = supporter;
}

void TestServer::SetPrivileges(const QString& user, qint32 seconds)
{
    m_accounts[user].privileges = seconds;
}

qint32 TestServer::Privileges(const QString& user) const
{
    return m_accounts.value(user).privileges;
}

void TestServer::SetUserStats(const QString& user, quint32 speed, quint64 downloads, quint32 files, quint32 folders)
{
    Account& account = m_accounts[user];
    account.speed = speed;
    account.downloads = downloads;
    account.files = files;
    account.folders = folders;
}

void TestServer::SetCountry(const QString& user, const QString& code)
{
    m_accounts[user].country = code;
}

void TestServer::SetCorrelations(const QString& text, const QList<QPair<QString, quint32>>& related)
{
    m_correlations[text] = related;
}

void TestServer::SetWishListInterval(quint32 seconds)
{
    m_wishListInterval = seconds;
}

QList<TestServer::Received> TestServer::ReceivedMessages(quint32 code) const
{
    QList<Received> result;
    for (const Received& message : m_received)
        if (message.code == code)
            result.append(message);
    return result;
}

int TestServer::Count(quint32 code) const
{
    return ReceivedMessages(code).size();
}

QStringList TestServer::SentNames(quint32 code) const
{
    QStringList names;
    for (const Received& message : ReceivedMessages(code)) {
        QString name;
        TestMessage(message.body).ReadStr(name);
        names << name;
    }
    return names;
}

void TestServer::ClearReceived()
{
    m_received.clear();
}

TestServerSession* TestServer::Session(const QString& user) const
{
    for (TestServerSession* session : m_sessions)
        if (session->m_loggedIn && session->m_user == user)
            return session;
    return nullptr;
}

bool TestServer::IsLoggedIn(const QString& user) const
{
    return Session(user) != nullptr;
}

QStringList TestServer::LoggedInUsers() const
{
    QStringList users;
    for (TestServerSession* session : m_sessions)
        if (session->m_loggedIn)
            users.append(session->m_user);
    return users;
}

int TestServer::ConnectionCount() const
{
    return m_sessions.size();
}

bool TestServer::Send(const QString& user, quint32 code, const QByteArray& body)
{
    TestServerSession* session = Session(user);
    if (session)
        session->SendFrame(code, body);
    return session != nullptr;
}

bool TestServer::SendRaw(const QString& user, const QByteArray& bytes)
{
    TestServerSession* session = Session(user);
    if (session)
        session->SendRaw(bytes);
    return session != nullptr;
}

void TestServer::SendRawToAll(const QByteArray& bytes)
{
    for (TestServerSession* session : m_sessions)
        session->SendRaw(bytes);
}

bool TestServer::Cut(const QString& user)
{
    TestServerSession* session = Session(user);
    if (session)
        session->Cut();
    return session != nullptr;
}

bool TestServer::Hangup(const QString& user)
{
    TestServerSession* session = Session(user);
    if (session)
        session->Close();
    return session != nullptr;
}

void TestServer::CutAll()
{
    const QList<TestServerSession*> sessions = m_sessions;
    for (TestServerSession* session : sessions)
        session->Cut();
}

void TestServer::SendAdminMessage(const QString& text)
{
    for (TestServerSession* session : m_sessions)
        if (session->m_loggedIn)
            session->SendFrame(66, TestMessage().Str(text).Body());
}

void TestServer::AddRoom(const QString& room, const QStringList& users)
{
    Room& entry = m_rooms[room];
    for (const QString& user : users)
        if (!entry.users.contains(user))
            entry.users.append(user);
}

void TestServer::SetPrivateRoom(const QString& room, const QString& owner, const QStringList& members,
                                const QStringList& operators)
{
    Room& entry = m_rooms[room];
    entry.isPrivate = true;
    entry.owner = owner;
    entry.members = members;
    entry.operators = operators;
}

void TestServer::SetRoomWall(const QString& room, const QList<WallMessage>& wall)
{
    m_rooms[room].wall = wall;
}

void TestServer::SendRoomWall(const QString& room)
{
    SendToRoom(room, 113, WallBody(room));
}

void TestServer::UserJoinsRoom(const QString& user, const QString& room)
{
    Room& entry = m_rooms[room];
    if (entry.users.contains(user))
        return;
    entry.users.append(user);
    SendToRoom(room, 16, TestMessage().Str(room).Bytes(UserEntry(user)).Body(), user);
}

void TestServer::UserLeavesRoom(const QString& user, const QString& room)
{
    if (m_rooms.value(room).users.contains(user))
        LeaveRoom(user, room, false);
}

void TestServer::SayInRoom(const QString& room, const QString& user, const QString& text)
{
    SendToRoom(room, 13, TestMessage().Str(room).Str(user).Str(text).Body());
}

void TestServer::PostToWall(const QString& room, const QString& user, const QString& text)
{
    SetWallMessage(room, user, text);
}

void TestServer::RemoveFromRoom(const QString& user, const QString& room)
{
    if (m_rooms.value(room).users.contains(user))
        LeaveRoom(user, room, true);
}

QStringList TestServer::RoomUsers(const QString& room) const
{
    return m_rooms.value(room).users;
}

bool TestServer::IsPrivateRoom(const QString& room) const
{
    return m_rooms.value(room).isPrivate;
}

QString TestServer::RoomOwner(const QString& room) const
{
    return m_rooms.value(room).owner;
}

QStringList TestServer::RoomMembers(const QString& room) const
{
    return m_rooms.value(room).members;
}

QStringList TestServer::RoomOperators(const QString& room) const
{
    return m_rooms.value(room).operators;
}

QList<TestServer::WallMessage> TestServer::RoomWall(const QString& room) const
{
    return m_rooms.value(room).wall;
}

TestServer::DistributedReport TestServer::Distributed(const QString& user) const
{
    const TestServerSession* session = Session(user);
    return session ? session->m_distributed : DistributedReport();
}

void TestServer::OnNewConnection()
{
    while (QTcpSocket* socket = m_listener->nextPendingConnection()) {
        TestServerSession* session = new TestServerSession(socket, MaxFrameLength, this);
        m_sessions.append(session);
        connect(session, &TestServerSession::FrameReceived, this,
                [this, session](quint32 code, QByteArray body) { OnFrame(session, code, body); });
        connect(session, &TestServerSession::Closed, this, [this, session] { OnClosed(session); });
    }
}

void TestServer::OnClosed(TestServerSession* session)
{
    m_sessions.removeAll(session);
    session->deleteLater();
    if (!session->m_loggedIn)
        return;
    session->m_loggedIn = false;
    const QString user = session->m_user;
    LeaveAllRooms(user);
    NotifyStatus(user, 0);
    emit UserLoggedOut(user);
}

void TestServer::OnFrame(TestServerSession* session, quint32 code, const QByteArray& body)
{
    const QString user = session->m_loggedIn ? session->m_user : QString();
    if (m_received.size() >= MaxKeptMessages)
        m_received.removeFirst();
    m_received.append({user, code, body});
    emit MessageReceived(user, code, body);
    // The signal's receivers may have cut the connection.
    if (!m_sessions.contains(session))
        return;
    TestMessage in(body);
    if (code == 1 && m_holdLogins)
        m_heldLogins.append({session, body});
    else if (code == 1)
        HandleLogin(session, in);
    else if (session->m_loggedIn)
        Handle(session, code, in);
}

void TestServer::HandleLogin(TestServerSession* session, TestMessage& in)
{
    QString user, digest;
    quint32 version = 0;
    if (session->m_loggedIn || !in.ReadStr(user) || !in.ReadStr(digest) || !in.ReadU32(version))
        return;

    QString refusal = m_refusal;
    if (refusal.isEmpty() && (user.isEmpty() || user.size() > 30))
        refusal = "INVALIDUSERNAME";
    const QString expected = m_accounts.value(user).digest;
    if (refusal.isEmpty() && !expected.isEmpty() && expected != digest)
        refusal = "INVALIDPASS";
    if (!refusal.isEmpty()) {
        session->SendFrame(1, TestMessage().U8(0).Str(refusal).Body());
        session->Close();
        return;
    }

    if (TestServerSession* older = Session(user)) {
        // The older connection leaves its rooms but the user stays online,
        // so watchers hear nothing.
        older->m_loggedIn = false;
        LeaveAllRooms(user);
        older->SendFrame(41, QByteArray());
        older->Close();
    }

    Account& account = m_accounts[user];
    session->m_user = user;
    session->m_loggedIn = true;
    session->m_status = 2;
    session->SendFrame(1, TestMessage().U8(1).Str("Welcome to the test server").U8(account.supporter ? 1 : 0).Body());

    TestMessage privileged;
    QStringList names;
    for (auto it = m_accounts.cbegin(); it != m_accounts.cend(); ++it)
        if (it.value().privileges > 0)
            names.append(it.key());
    privileged.U32(quint32(names.size()));
    for (const QString& name : names)
        privileged.Str(name);
    session->SendFrame(69, privileged.Body());
    session->SendFrame(104, TestMessage().U32(m_wishListInterval).Body());

    for (const Account::Held& held : account.held)
        session->SendFrame(22, TestMessage().U32(held.time).Str(held.from).Str(held.text).U8(0).Body());
    account.held.clear();

    NotifyStatus(user, 2);
    emit UserLoggedIn(user);
}

void TestServer::Handle(TestServerSession* session, quint32 code, TestMessage& in)
{
    const QString me = session->m_user;
    QString a, b;
    quint32 n = 0, m = 0;
    switch (code) {
    case 2: // listening ports
        if (in.ReadU32(n) && in.ReadU32(m)) {
            session->m_port = quint16(n);
            session->m_obfuscatedPort = quint16(m);
        }
        break;
    case 3: // peer address
        if (in.ReadStr(a)) {
            TestServerSession* other = Session(a);
            TestMessage reply;
            reply.Str(a);
            if (other)
                reply.Str(other->PeerAddress()).U32(other->m_port).U32(other->m_obfuscatedPort);
            else
                reply.Str(QString()).U32(0).U32(0);
            session->SendFrame(3, reply.Body());
        }
        break;
    case 5: // add user
        if (in.ReadStr(a)) {
            TestMessage reply;
            reply.Str(a);
            if (m_accounts.contains(a)) {
                session->m_watched.insert(a);
                reply.U8(1).U32(StatusOf(a)).Bytes(StatsOf(a)).Str(m_accounts.value(a).country);
            } else {
                reply.U8(0);
            }
            session->SendFrame(5, reply.Body());
        }
        break;
    case 13: // room chat
        if (in.ReadStr(a) && in.ReadStr(b) && m_rooms.value(a).users.contains(me))
            SendToRoom(a, 13, TestMessage().Str(a).Str(me).Str(b).Body());
        break;
    case 14: // join room
        if (in.ReadStr(a) && in.ReadU32(n))
            JoinRoom(session, a, n != 0);
        break;
    case 15: // leave room
        if (in.ReadStr(a) && m_rooms.value(a).users.contains(me))
            LeaveRoom(me, a, true);
        break;
    case 18: // connect to peer
        if (in.ReadU32(n) && in.ReadStr(a) && in.ReadStr(b)) {
            if (TestServerSession* other = Session(a))
                other->SendFrame(18, TestMessage()
                                         .Str(me)
                                         .Str(b)
                                         .Str(session->PeerAddress())
                                         .U32(session->m_port)
                                         .U32(session->m_obfuscatedPort)
                                         .U32(n)
                                         .Body());
            else
                session->SendFrame(1001, TestMessage().U32(n).Str(a).Body());
        }
        break;
    case 22: // private chat
        if (in.ReadStr(a) && in.ReadStr(b))
            DeliverChat(me, a, b);
        break;
    case 26:  // network-wide search
    case 103: // wish-list search
        if (in.ReadU32(n) && in.ReadStr(a))
            RelayNetworkSearch(me, n, a);
        break;
    case 28: // status
        if (in.ReadU32(n) && (n == 1 || n == 2) && n != session->m_status) {
            session->m_status = n;
            NotifyStatus(me, n);
        }
        break;
    case 35: // shared folders and files
        if (in.ReadU32(n) && in.ReadU32(m)) {
            m_accounts[me].folders = n;
            m_accounts[me].files = m;
        }
        break;
    case 36: // user stats
        if (in.ReadStr(a))
            session->SendFrame(36, TestMessage().Str(a).Bytes(StatsOf(a)).Body());
        break;
    case 42: // user search
        if (in.ReadStr(a) && in.ReadU32(n) && in.ReadStr(b))
            RelaySearch(me, QStringList{a}, n, b);
        break;
    case 64: // room list
    {
        TestMessage reply;
        QStringList publicRooms, privateRooms;
        for (auto it = m_rooms.cbegin(); it != m_rooms.cend(); ++it) {
            const Room& room = it.value();
            if (!room.isPrivate)
                publicRooms.append(it.key());
            else if (room.owner == me || room.members.contains(me))
                privateRooms.append(it.key());
        }
        reply.U32(quint32(publicRooms.size()));
        for (const QString& name : publicRooms)
            reply.Str(name).U32(quint32(m_rooms[name].users.size()));
        reply.U32(quint32(privateRooms.size()));
        for (const QString& name : privateRooms) {
            const Room& room = m_rooms[name];
            quint8 roles = 0;
            if (room.members.contains(me))
                roles |= 1;
            if (room.operators.contains(me))
                roles |= 2;
            if (room.owner == me)
                roles |= 4;
            reply.Str(name).U32(quint32(room.users.size())).U8(roles);
        }
        session->SendFrame(64, reply.Body());
        break;
    }
    case 92: // own privileges
        session->SendFrame(92, TestMessage().I32(m_accounts.value(me).privileges).Body());
        break;
    case 116: // wall message
        if (in.ReadStr(a) && in.ReadStr(b) && m_rooms.value(a).users.contains(me))
            SetWallMessage(a, me, b);
        break;
    case 120: // room search
        if (in.ReadStr(a) && in.ReadU32(n) && in.ReadStr(b))
            RelaySearch(me, m_rooms.value(a).users, n, b);
        break;
    case 121: // upload speed
        if (in.ReadU32(n))
            m_accounts[me].speed = n;
        break;
    case 123: // gift privileges
        if (in.ReadStr(a) && in.ReadU32(n) && m_accounts.contains(a))
            m_accounts[a].privileges += qint32(n * 86400);
        break;
    case 134: // add member
    case 135: // remove member
    case 143: // add operator
    case 144: // remove operator
        if (in.ReadStr(a) && in.ReadStr(b) && m_rooms.contains(a) && m_rooms[a].isPrivate) {
            Room& room = m_rooms[a];
            const bool isOwner = room.owner == me;
            const bool mayManageMembers = isOwner || room.operators.contains(me);
            if (code == 134 && mayManageMembers && !room.members.contains(b) && b != room.owner && Session(b) &&
                Session(b)->m_acceptsPrivateRooms)
                room.members.append(b);
            else if (code == 135 && mayManageMembers && room.members.contains(b) &&
                     (isOwner || !room.operators.contains(b))) {
                room.members.removeAll(b);
                room.operators.removeAll(b);
            } else if (code == 143 && isOwner && room.members.contains(b) && !room.operators.contains(b))
                room.operators.append(b);
            else if (code == 144 && isOwner && room.operators.contains(b))
                room.operators.removeAll(b);
            else
                break;
            SendPrivateRoomChange(a, code, b);
        }
        break;
    case 136: // give up membership
        if (in.ReadStr(a) && m_rooms.value(a).members.contains(me)) {
            SendPrivateRoomChange(a, 135, me);
            m_rooms[a].members.removeAll(me);
            m_rooms[a].operators.removeAll(me);
        }
        break;
    case 137: // give up the room
        if (in.ReadStr(a) && m_rooms.contains(a) && m_rooms[a].isPrivate && m_rooms[a].owner == me) {
            Room& room = m_rooms[a];
            QStringList told = room.members;
            told.append(room.owner);
            for (const QString& user : told)
                if (TestServerSession* other = Session(user))
                    other->SendFrame(139, TestMessage().Str(a).Body());
            room.isPrivate = false;
            room.owner.clear();
            room.members.clear();
            room.operators.clear();
        }
        break;
    case 141: // accept private room invitations
    {
        quint8 flag = 0;
        if (in.ReadU8(flag)) {
            session->m_acceptsPrivateRooms = flag != 0;
            session->SendFrame(141, TestMessage().U8(flag ? 1 : 0).Body());
        }
        break;
    }
    case 149: // message users
    {
        QStringList users;
        if (in.ReadNames(users) && in.ReadStr(b))
            for (const QString& user : users)
                DeliverChat(me, user, b);
        break;
    }
    case 153: // related searches
        if (in.ReadStr(a)) {
            const QList<QPair<QString, quint32>> related = m_correlations.value(a);
            TestMessage reply;
            reply.Str(a).U32(quint32(related.size()));
            for (const auto& entry : related)
                reply.Str(entry.first).U32(entry.second);
            session->SendFrame(153, reply.Body());
        }
        break;
    case 1001: // cannot connect
        if (in.ReadU32(n) && in.ReadStr(a))
            if (TestServerSession* other = Session(a))
                other->SendFrame(1001, TestMessage().U32(n).Str(me).Body());
        break;
    case 1100: // parent candidates
    {
        const QStringList candidates = ParentCandidates(me);
        TestMessage reply;
        reply.U32(quint32(candidates.size()));
        for (const QString& user : candidates)
            reply.Str(user);
        session->SendFrame(1100, reply.Body());
        break;
    }
    case 1101: // distributed state
    {
        quint8 hasParent = 0;
        DistributedReport state;
        if (in.ReadU8(hasParent) && in.ReadStr(state.branchRoot) && in.ReadU32(state.level) &&
            in.ReadU32(state.childCount) && in.ReadU32(state.childLimit) && in.ReadU32(state.depth)) {
            state.reported = true;
            state.hasParent = hasParent != 0;
            session->m_distributed = state;
        }
        break;
    }
    default: // keep-alive (32) and anything unknown need no answer
        break;
    }
}

bool TestServer::MayJoin(const Room& room, const QString& user) const
{
    return !room.isPrivate || room.owner == user || room.members.contains(user);
}

void TestServer::JoinRoom(TestServerSession* session, const QString& name, bool makePrivate)
{
    const QString me = session->m_user;
    if (!m_rooms.contains(name)) {
        Room room;
        room.isPrivate = makePrivate;
        if (makePrivate)
            room.owner = me;
        m_rooms.insert(name, room);
    }
    Room& room = m_rooms[name];
    if (!MayJoin(room, me))
        return;
    if (!room.users.contains(me)) {
        room.users.append(me);
        SendToRoom(name, 16, TestMessage().Str(name).Bytes(UserEntry(me)).Body(), me);
    }

    TestMessage joined;
    joined.Str(name).U32(quint32(room.users.size()));
    for (const QString& user : room.users)
        joined.Bytes(UserEntry(user));
    session->SendFrame(14, joined.Body());

    if (room.isPrivate) {
        TestMessage state;
        state.Str(name).Str(room.owner).U32(quint32(room.members.size()));
        for (const QString& user : room.members)
            state.Str(user);
        state.U32(quint32(room.operators.size()));
        for (const QString& user : room.operators)
            state.Str(user);
        session->SendFrame(133, state.Body());
    }

    session->SendFrame(113, WallBody(name));
}

QByteArray TestServer::WallBody(const QString& name) const
{
    const QList<WallMessage> messages = m_rooms.value(name).wall;
    TestMessage wall;
    wall.Str(name).U32(quint32(messages.size()));
    for (const WallMessage& message : messages)
        wall.Str(message.user).Str(message.text);
    return wall.Body();
}

void TestServer::LeaveRoom(const QString& user, const QString& name, bool tellLeaver)
{
    Room& room = m_rooms[name];
    room.users.removeAll(user);
    if (tellLeaver)
        if (TestServerSession* session = Session(user))
            session->SendFrame(15, TestMessage().Str(name).Body());
    SendToRoom(name, 17, TestMessage().Str(name).Str(user).Body());
}

void TestServer::LeaveAllRooms(const QString& user)
{
    for (auto it = m_rooms.begin(); it != m_rooms.end(); ++it)
        if (it.value().users.contains(user))
            LeaveRoom(user, it.key(), false);
}

void TestServer::NotifyStatus(const QString& user, quint32 status)
{
    for (TestServerSession* session : m_sessions)
        if (session->m_loggedIn && session->m_watched.contains(user))
            session->SendFrame(7, TestMessage().Str(user).U32(status).Body());
}

void TestServer::DeliverChat(const QString& from, const QString& to, const QString& text)
{
    const quint32 now = quint32(QDateTime::currentSecsSinceEpoch());
    if (TestServerSession* session = Session(to))
        session->SendFrame(22, TestMessage().U32(now).Str(from).Str(text).U8(1).Body());
    else if (m_accounts.contains(to))
        m_accounts[to].held.append({now, from, text});
}

void TestServer::RelaySearch(const QString& from, const QStringList& to, quint32 ticket, const QString& text)
{
    const QByteArray body = TestMessage().Str(from).U32(ticket).Str(text).Body();
    for (const QString& user : to)
        if (user != from)
            if (TestServerSession* session = Session(user))
                session->SendFrame(26, body);
}

void TestServer::RelayNetworkSearch(const QString& from, quint32 ticket, const QString& text)
{
    // Users below a branch root hear the search through their tree, so the
    // server speaks only to the roots (and to those that never reported).
    const QByteArray body = TestMessage().Str(from).U32(ticket).Str(text).Body();
    for (TestServerSession* session : m_sessions) {
        if (!session->m_loggedIn)
            continue;
        const DistributedReport& state = session->m_distributed;
        if (state.reported && state.hasParent)
            continue;
        // The searcher does not hear its own search, but its children must
        // hear it from it like any other root's.
        if (session->m_user != from)
            session->SendFrame(26, body);
        if (state.reported && state.childCount > 0)
            session->SendFrame(1102, body);
    }
}

QStringList TestServer::ParentCandidates(const QString& asker) const
{
    QList<const TestServerSession*> open;
    for (const TestServerSession* session : m_sessions) {
        const DistributedReport& state = session->m_distributed;
        // A node of the asker's own branch would make a loop.
        if (session->m_loggedIn && session->m_user != asker && state.reported && state.childCount < state.childLimit &&
            state.branchRoot != asker && state.level < MaxDistributedLevel)
            open.append(session);
    }
    std::sort(open.begin(), open.end(), [](const TestServerSession* a, const TestServerSession* b) {
        if (a->m_distributed.level != b->m_distributed.level)
            return a->m_distributed.level < b->m_distributed.level;
        return a->m_user < b->m_user;
    });
    QStringList users;
    for (const TestServerSession* session : open.mid(0, MaxParentCandidates))
        users.append(session->m_user);
    return users;
}

void TestServer::SetWallMessage(const QString& name, const QString& user, const QString& text)
{
    Room& room = m_rooms[name];
    for (int i = room.wall.size() - 1; i >= 0; --i)
        if (room.wall[i].user == user)
            room.wall.removeAt(i);
    if (!text.isEmpty())
        room.wall.append({user, text});
    SendToRoom(name, 114, TestMessage().Str(name).Str(user).Str(text).Body());
}

void TestServer::SendToRoom(const QString& room, quint32 code, const QByteArray& body, const QString& except)
{
    for (const QString& user : m_rooms.value(room).users)
        if (user != except)
            if (TestServerSession* session = Session(user))
                session->SendFrame(code, body);
}

void TestServer::SendPrivateRoomChange(const QString& name, quint32 code, const QString& user)
{
    const Room& room = m_rooms[name];
    QStringList told = room.members;
    told.append(room.owner);
    if (!told.contains(user))
        told.append(user);
    const QByteArray body = TestMessage().Str(name).Str(user).Body();
    for (const QString& member : told)
        if (TestServerSession* session = Session(member))
            session->SendFrame(code, body);
}

QByteArray TestServer::StatsOf(const QString& user) const
{
    const Account account = m_accounts.value(user);
    return TestMessage().Stats(account.speed, account.downloads, account.files, account.folders).Body();
}

QByteArray TestServer::UserEntry(const QString& user) const
{
    return TestMessage().Str(user).Bytes(StatsOf(user)).Str(m_accounts.value(user).country).Body();
}

quint32 TestServer::StatusOf(const QString& user) const
{
    TestServerSession* session = Session(user);
    return session ? session->m_status : 0;
}
