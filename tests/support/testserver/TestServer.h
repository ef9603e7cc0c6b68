#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class QTcpServer;
class TestMessage;
class TestServerSession;

// A real server for the client's server protocol (docs/protocol.md) on
// 127.0.0.1. It logs users in, relays chat, searches and connection
// requests, keeps rooms, walls and private rooms, reports user status, and
// keeps each client's place in the distributed network to name parent
// candidates and to hand network-wide searches to the branch roots.
// Tests can also inject any frame, read every frame a client sent, and cut
// a client's connection.
class TestServer : public QObject
{
    Q_OBJECT

public:
    struct Received
    {
        QString user; // empty before the login
        quint32 code;
        QByteArray body;
    };
    struct WallMessage
    {
        QString user;
        QString text;
    };
    // A client's last report of its place in the distributed network.
    struct DistributedReport
    {
        bool reported = false;
        bool hasParent = false;
        QString branchRoot;
        quint32 level = 0;
        quint32 childCount = 0;
        quint32 childLimit = 0;
        quint32 depth = 0;
    };

    static constexpr quint32 MaxFrameLength = 16 * 1024 * 1024;
    static constexpr int MaxParentCandidates = 10;
    // A server left running keeps only the latest messages, so a client
    // that floods it (a loop of reports) cannot grow it without end.
    static constexpr int MaxKeptMessages = 100000;
    // A node reporting a level this high is in a loop, not a tree: it is
    // never offered as a parent.
    static constexpr quint32 MaxDistributedLevel = 64;

    explicit TestServer(QObject* parent = nullptr);
    ~TestServer() override;

    // Listens on 127.0.0.1; port 0 takes any free port.
    bool Listen(quint16 port = 0);
    quint16 Port() const;

    // Accounts. A user with no password set is accepted with any password.
    void SetPassword(const QString& user, const QString& password);
    // Refuses every login with this reason until called with "".
    void RefuseLogins(const QString& reason);
    // While held, logins get no answer; releasing answers the waiting ones.
    void HoldLogins(bool hold);
    void AddKnownUser(const QString& user);
    void SetSupporter(const QString& user, bool supporter);
    void SetPrivileges(const QString& user, qint32 seconds);
    qint32 Privileges(const QString& user) const;
    void SetUserStats(const QString& user, quint32 speed, quint64 downloads, quint32 files, quint32 folders);
    void SetCountry(const QString& user, const QString& code);
    void SetCorrelations(const QString& text, const QList<QPair<QString, quint32>>& related);
    void SetWishListInterval(quint32 seconds);

    // What clients sent, in arrival order (the latest MaxKeptMessages).
    const QList<Received>& AllReceived() const { return m_received; }
    QList<Received> ReceivedMessages(quint32 code) const;
    int Count(quint32 code) const;
    // The first string of each message of the code, in arrival order (the
    // name most requests start with).
    QStringList SentNames(quint32 code) const;
    void ClearReceived();

    bool IsLoggedIn(const QString& user) const;
    QStringList LoggedInUsers() const;
    int ConnectionCount() const;

    // Sends a frame (or raw bytes) to the user's logged-in connection.
    bool Send(const QString& user, quint32 code, const QByteArray& body);
    bool SendRaw(const QString& user, const QByteArray& bytes);
    // Raw bytes to every connection, logged in or not.
    void SendRawToAll(const QByteArray& bytes);
    bool Cut(const QString& user);
    // Closes the user's connection once what was sent to it has gone out.
    bool Hangup(const QString& user);
    void CutAll();
    void SendAdminMessage(const QString& text);

    // Rooms as a test sets them up. Users put in a room this way need no
    // connection of their own; they are simply present (and told nothing).
    void AddRoom(const QString& room, const QStringList& users = {});
    void SetPrivateRoom(const QString& room, const QString& owner, const QStringList& members,
                        const QStringList& operators);
    void SetRoomWall(const QString& room, const QList<WallMessage>& wall);
    // The room's whole wall, as sent on joining, to the room's users now.
    void SendRoomWall(const QString& room);
    // What another user does in a room, told to the room's logged-in users
    // as the server tells them: arriving, leaving, a chat line, a wall
    // message (an empty text withdraws the user's message).
    void UserJoinsRoom(const QString& user, const QString& room);
    void UserLeavesRoom(const QString& user, const QString& room);
    void SayInRoom(const QString& room, const QString& user, const QString& text);
    void PostToWall(const QString& room, const QString& user, const QString& text);
    // The server's own leave: takes the room away from a logged-in user.
    void RemoveFromRoom(const QString& user, const QString& room);

    QStringList RoomUsers(const QString& room) const;
    bool IsPrivateRoom(const QString& room) const;
    QString RoomOwner(const QString& room) const;
    QStringList RoomMembers(const QString& room) const;
    QStringList RoomOperators(const QString& room) const;
    QList<WallMessage> RoomWall(const QString& room) const;
    // The user's last distributed-network report; not reported when its
    // current connection sent none.
    DistributedReport Distributed(const QString& user) const;

signals:
    void MessageReceived(QString user, quint32 code, QByteArray body);
    void UserLoggedIn(QString user);
    void UserLoggedOut(QString user);

private slots:
    void OnNewConnection();

private:
    struct Account
    {
        QString digest;
        bool supporter = false;
        qint32 privileges = 0;
        quint32 speed = 0;
        quint64 downloads = 0;
        quint32 files = 0;
        quint32 folders = 0;
        QString country;
        struct Held
        {
            quint32 time;
            QString from;
            QString text;
        };
        QList<Held> held;
    };
    struct Room
    {
        QStringList users;
        bool isPrivate = false;
        QString owner;
        QStringList members;
        QStringList operators;
        QList<WallMessage> wall;
    };

    void OnFrame(TestServerSession* session, quint32 code, const QByteArray& body);
    void OnClosed(TestServerSession* session);
    void HandleLogin(TestServerSession* session, TestMessage& in);
    void Handle(TestServerSession* session, quint32 code, TestMessage& in);
    void LeaveAllRooms(const QString& user);
    void LeaveRoom(const QString& user, const QString& room, bool tellLeaver);
    void JoinRoom(TestServerSession* session, const QString& room, bool makePrivate);
    void NotifyStatus(const QString& user, quint32 status);
    void DeliverChat(const QString& from, const QString& to, const QString& text);
    void RelaySearch(const QString& from, const QStringList& to, quint32 ticket, const QString& text);
    void RelayNetworkSearch(const QString& from, quint32 ticket, const QString& text);
    QStringList ParentCandidates(const QString& asker) const;
    void SetWallMessage(const QString& room, const QString& user, const QString& text);
    QByteArray WallBody(const QString& room) const;
    void SendToRoom(const QString& room, quint32 code, const QByteArray& body, const QString& except = QString());
    void SendPrivateRoomChange(const QString& room, quint32 code, const QString& user);
    QByteArray UserEntry(const QString& user) const;
    QByteArray StatsOf(const QString& user) const;
    quint32 StatusOf(const QString& user) const;
    bool MayJoin(const Room& room, const QString& user) const;
    TestServerSession* Session(const QString& user) const;

    QTcpServer* m_listener;
    QList<TestServerSession*> m_sessions;
    QMap<QString, Account> m_accounts;
    QMap<QString, Room> m_rooms;
    QMap<QString, QList<QPair<QString, quint32>>> m_correlations;
    QList<Received> m_received;
    QString m_refusal;
    bool m_holdLogins = false;
    QList<QPair<TestServerSession*, QByteArray>> m_heldLogins;
    quint32 m_wishListInterval = 720;
};
