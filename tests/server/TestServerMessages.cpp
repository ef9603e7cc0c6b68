// What the server says, as it lands in the store and in signals: user
// status and statistics, chat, rooms and walls, private rooms, searches and
// the relayed connection requests. A second user speaks through RawClient.
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "Data.h"
#include "DataHandler.h"
#include "RawClient.h"
#include "Server.h"
#include "ServerFixture.h"
#include "Settings.h"
#include "TestMessage.h"
#include "TestServer.h"

namespace {
ItemPtr UserItem(const char* name)
{
    return d.GetType("user")->HasItem(name);
}

ItemPtr RoomItem(const char* name)
{
    return d.GetType("room")->HasItem(name);
}

QStringList Names(const ItemSet& items)
{
    QStringList names;
    for (const ItemPtr& item : items)
        names.append(item.AsString());
    names.sort();
    return names;
}

// Writes down the store's connection events of rooms and users in order.
class Recorder : public DataHandler
{
public:
    Recorder()
    {
        d.GetType("room")->AddConnectedHandler(
            new EventHandler<Recorder, ConnectionInfo&>(this, &Recorder::OnRoomConnected));
        d.GetType("room")->AddDisconnectedHandler(
            new EventHandler<Recorder, ConnectionInfo&>(this, &Recorder::OnRoomDisconnected));
        d.GetType("user")->AddConnectedHandler(
            new EventHandler<Recorder, ConnectionInfo&>(this, &Recorder::OnUserConnected));
    }
    void OnRoomConnected(ConnectionInfo& c) { events.append("+" + Describe(c.item2)); }
    void OnRoomDisconnected(ConnectionInfo& c) { events.append("-" + Describe(c.item2)); }
    void OnUserConnected(ConnectionInfo& c)
    {
        if (c.item2.GetType()->GetName() == "average_download_speed")
            events.append("speed:" + c.item1.AsString());
    }
    static QString Describe(ItemPtr item)
    {
        const QString type = QString::fromStdString(item.GetType()->GetName());
        return item.GetType()->IsNull() ? type : type + ":" + item.AsString();
    }
    QStringList events;
};
} // namespace

class TestServerMessages : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ServerFixture> f;

    void Inject(quint32 code, const TestMessage& body) { QVERIFY(f->server->Send("alice", code, body.Body())); }

    // Waits until the client has handled everything injected so far.
    void Settle()
    {
        QSignalSpy admin(f->client, &Server::AdminMessage);
        Inject(66, TestMessage().Str("settle"));
        QVERIFY(admin.wait(30000));
    }

private slots:
    void init()
    {
        f.reset(new ServerFixture);
        QVERIFY(f->Login());
    }
    void cleanup() { f.reset(); }

    void userStatusMarkers()
    {
        Inject(7, TestMessage().Str("bob").U32(2));
        QTRY_VERIFY(UserItem("bob").IsConnected("is_online"));
        ItemPtr bob = UserItem("bob");
        QVERIFY(!bob.IsConnected("is_away"));
        QVERIFY(QDateTime::fromString(bob["last_online_status_change"].AsString(), Qt::TextDate).isValid());

        Inject(7, TestMessage().Str("bob").U32(1));
        QTRY_VERIFY(bob.IsConnected("is_away"));
        QVERIFY(bob.IsConnected("is_online"));

        Inject(7, TestMessage().Str("bob").U32(0));
        QTRY_VERIFY(!bob.IsConnected("is_online"));
        QVERIFY(!bob.IsConnected("is_away"));
    }

    void addUserReplyAndTrackedStatusFollowThePresence()
    {
        f->server->AddKnownUser("bob");
        f->server->SetUserStats("bob", 2048, 9, 120, 4);
        f->server->SetCountry("bob", "NZ");
        QSignalSpy response(f->client, &Server::AddUserResponse);
        f->client->TrackUser("bob");
        f->client->AddUser("nobody");
        QTRY_COMPARE(response.count(), 2);
        QCOMPARE(response.at(0).at(0).toString(), QString("bob"));
        QCOMPARE(response.at(0).at(1).toBool(), true);
        QCOMPARE(response.at(1).at(1).toBool(), false);
        ItemPtr bob = UserItem("bob");
        QCOMPARE(bob["average_download_speed"].AsString(), QString("2048"));
        QCOMPARE(bob["shared_file_count"].AsString(), QString("120"));
        QCOMPARE(bob["country_code"].AsString(), QString("NZ"));
        QVERIFY(!bob.IsConnected("is_online"));
        QVERIFY(!UserItem("nobody")["average_download_speed"]);

        RawClient other(f->server->Port());
        QVERIFY(other.Login("bob"));
        QTRY_VERIFY(bob.IsConnected("is_online"));
        other.Send(28, TestMessage().U32(1).Body());
        QTRY_VERIFY(bob.IsConnected("is_away"));
        other.Send(28, TestMessage().U32(2).Body());
        QTRY_VERIFY(!bob.IsConnected("is_away"));
    }

    void userStatsReplaceThePreviousOnes()
    {
        QSignalSpy stats(f->client, &Server::ReceivedUserStats);
        f->server->SetUserStats("bob", 1000, 1, 10, 1);
        f->client->GetUserStats("bob");
        QTRY_COMPARE(stats.count(), 1);
        f->server->SetUserStats("bob", 3000, 2, 30, 2);
        f->client->GetUserStats("bob");
        QTRY_COMPARE(stats.count(), 2);
        QCOMPARE(stats.at(1).at(0).toString(), QString("bob"));
        const UserStats received = stats.at(1).at(1).value<UserStats>();
        QCOMPARE(received, UserStats(3000, 2, 30, 2));
        ItemPtr bob = UserItem("bob");
        QCOMPARE(bob.GetItems("average_download_speed").size(), size_t(1));
        QCOMPARE(bob["average_download_speed"].AsString(), QString("3000"));
        QCOMPARE(bob["shared_file_count"].AsString(), QString("30"));
    }

    void privilegedListIsComplete()
    {
        Inject(69, TestMessage().U32(2).Str("bob").Str("carol"));
        QTRY_VERIFY(UserItem("carol").IsConnected("is_privileged"));
        QVERIFY(UserItem("bob").IsConnected("is_privileged"));
        Inject(69, TestMessage().U32(1).Str("carol"));
        QTRY_VERIFY(!UserItem("bob").IsConnected("is_privileged"));
        QVERIFY(UserItem("carol").IsConnected("is_privileged"));
    }

    void ownPrivilegesAreStoredBeforeTheSignal()
    {
        f->server->SetPrivileges("alice", 90000);
        QString storedDuringSignal;
        connect(f->client, &Server::ReceivedOwnPrivilegesStatus, this,
                [&] { storedDuringSignal = GetSetting("privileges_time_left"); });
        QSignalSpy privileges(f->client, &Server::ReceivedOwnPrivilegesStatus);
        f->client->GetOwnPrivilegesStatus();
        QVERIFY(privileges.wait(30000));
        QCOMPARE(privileges.at(0).at(0).toInt(), 90000);
        QCOMPARE(storedDuringSignal, QString("90000"));
        QCOMPARE(GetSetting("is_supporter"), QString("yes"));

        SetSetting("is_supporter", "no");
        f->server->SetPrivileges("alice", 0);
        f->client->GetOwnPrivilegesStatus();
        QVERIFY(privileges.wait(30000));
        QCOMPARE(GetSetting("privileges_time_left"), QString("0"));
        QCOMPARE(GetSetting("is_supporter"), QString("no"));
    }

    void privateChatAndIgnoredUsers()
    {
        QSignalSpy chat(f->client, &Server::PrivateChat);
        RawClient bob(f->server->Port());
        QVERIFY(bob.Login("bob"));
        RawClient troll(f->server->Port());
        QVERIFY(troll.Login("troll"));
        d.GetType("user")->GetItem("troll").NewItem("is_ignored");

        troll.Send(22, TestMessage().Str("alice").Str("spam").Body());
        bob.Send(22, TestMessage().Str("alice").Str("hello alice").Body());
        QTRY_COMPARE(chat.count(), 1);
        QCOMPARE(chat.at(0).at(0).toString(), QString("bob"));
        QCOMPARE(chat.at(0).at(1).toString(), QString("hello alice"));
        QCOMPARE(chat.at(0).at(3).toBool(), true);

        // Sent while alice was away: held by the server, not spontaneous.
        f->client->Disconnect();
        QTRY_VERIFY_WITH_TIMEOUT(!f->server->IsLoggedIn("alice"), 30000);
        const int sent = f->server->Count(22);
        bob.Send(22, TestMessage().Str("alice").Str("while you were out").Body());
        QTRY_COMPARE_WITH_TIMEOUT(f->server->Count(22), sent + 1, 30000);
        QVERIFY(f->Login());
        QTRY_COMPARE(chat.count(), 2);
        QCOMPARE(chat.at(1).at(1).toString(), QString("while you were out"));
        QCOMPARE(chat.at(1).at(3).toBool(), false);
    }

    void privateChatReachesTheOtherUser()
    {
        RawClient bob(f->server->Port());
        QVERIFY(bob.Login("bob"));
        f->client->SendPrivateChat("bob", "hi bob");
        QByteArray body;
        QVERIFY(bob.WaitFor(22, &body));
        TestMessage in(body);
        quint32 time = 0;
        QString from, text;
        QVERIFY(in.ReadU32(time) && in.ReadStr(from) && in.ReadStr(text));
        QCOMPARE(from, QString("alice"));
        QCOMPARE(text, QString("hi bob"));
    }

    void adminMessage()
    {
        QSignalSpy admin(f->client, &Server::AdminMessage);
        f->server->SendAdminMessage("maintenance at noon");
        QVERIFY(admin.wait(30000));
        QCOMPARE(admin.at(0).at(0).toString(), QString("maintenance at noon"));
    }

    void joinRebuildsTheRoomInOrder()
    {
        f->server->SetUserStats("bob", 4096, 0, 55, 1);
        f->server->SetCountry("bob", "DE");
        RawClient bob(f->server->Port());
        QVERIFY(bob.Login("bob"));
        bob.Send(14, TestMessage().Str("lobby").U32(0).Body());
        QVERIFY(bob.WaitFor(14));
        ItemPtr room = d.GetType("room")->GetItem("lobby");
        room += d.GetType("user")->GetItem("ghost");

        Recorder recorder;
        f->client->EnterRoom("lobby", false);
        QTRY_VERIFY(room.IsConnected("in_room"));
        QTRY_COMPARE(Names(room.GetItems("user")), (QStringList{"alice", "bob"}));
        const QStringList& e = recorder.events;
        QCOMPARE(e.first(), QString("+in_room"));
        QVERIFY(e.indexOf("-user:ghost") < e.indexOf("+user:bob"));
        // The figures come first, so a user enters the room with them.
        QVERIFY(e.indexOf("speed:bob") < e.indexOf("+user:bob"));
        QCOMPARE(UserItem("bob")["shared_file_count"].AsString(), QString("55"));
        QCOMPARE(UserItem("bob")["country_code"].AsString(), QString("DE"));

        // A re-join shows everyone leaving and arriving again.
        recorder.events.clear();
        f->client->EnterRoom("lobby", false);
        QTRY_VERIFY(recorder.events.contains("+user:bob"));
        QVERIFY(recorder.events.indexOf("-user:bob") < recorder.events.indexOf("+user:bob"));
    }

    void usersJoinAndLeaveAndWeLeave()
    {
        f->client->EnterRoom("lobby", false);
        QTRY_VERIFY(RoomItem("lobby").IsConnected("in_room"));
        ItemPtr room = RoomItem("lobby");
        f->server->SetCountry("bob", "");
        RawClient bob(f->server->Port());
        QVERIFY(bob.Login("bob"));
        bob.Send(14, TestMessage().Str("lobby").U32(0).Body());
        QTRY_VERIFY(room.IsConnected(UserItem("bob")));
        QVERIFY(UserItem("bob")["country_code"]);
        QCOMPARE(UserItem("bob")["country_code"].AsString(), QString());
        bob.Send(15, TestMessage().Str("lobby").Body());
        QTRY_VERIFY(!room.IsConnected(UserItem("bob")));

        f->client->LeaveRoom("lobby");
        QTRY_VERIFY(!room.IsConnected("in_room"));
    }

    void roomChatSkipsIgnoredUsers()
    {
        QSignalSpy chat(f->client, &Server::RoomChat);
        f->client->EnterRoom("lobby", false);
        RawClient bob(f->server->Port()), troll(f->server->Port());
        QVERIFY(bob.Login("bob"));
        QVERIFY(troll.Login("troll"));
        bob.Send(14, TestMessage().Str("lobby").U32(0).Body());
        troll.Send(14, TestMessage().Str("lobby").U32(0).Body());
        QVERIFY(bob.WaitFor(14) && troll.WaitFor(14));
        d.GetType("user")->GetItem("troll").NewItem("is_ignored");

        troll.Send(13, TestMessage().Str("lobby").Str("noise").Body());
        bob.Send(13, TestMessage().Str("lobby").Str("hello room").Body());
        f->client->SendRoomChat("lobby", "hello back");
        QTRY_COMPARE(chat.count(), 2);
        QCOMPARE(chat.at(0).at(0).toString(), QString("lobby"));
        QCOMPARE(chat.at(0).at(1).toString(), QString("bob"));
        QCOMPARE(chat.at(0).at(2).toString(), QString("hello room"));
        QCOMPARE(chat.at(1).at(1).toString(), QString("alice"));
    }

    void wallIsReplacedWholeOrOneMessageAtATime()
    {
        auto wall = [](const char* room) {
            QStringList lines;
            for (const ItemPtr& ticker :
                 RoomItem(room).GetItems("room_ticker").SortNumericBy("room_ticker_order", true))
                lines.append(QString("%1 %2:%3")
                                 .arg(ticker["room_ticker_order"].AsString(), ticker["user"].AsString(),
                                      ticker["room_ticker_text"].AsString()));
            return lines;
        };
        Inject(113, TestMessage().Str("lobby").U32(2).Str("bob").Str("first").Str("carol").Str("second"));
        QTRY_COMPARE(wall("lobby"), (QStringList{"0 bob:first", "1 carol:second"}));
        Inject(113, TestMessage().Str("lobby").U32(1).Str("dave").Str("only"));
        QTRY_COMPARE(wall("lobby"), (QStringList{"0 dave:only"}));
        QCOMPARE(d.GetType("room_ticker")->Count(), size_t(1));

        Inject(114, TestMessage().Str("lobby").Str("bob").Str("news"));
        QTRY_COMPARE(wall("lobby"), (QStringList{"0 dave:only", "1 bob:news"}));
        Inject(114, TestMessage().Str("lobby").Str("dave").Str("update"));
        QTRY_COMPARE(wall("lobby"), (QStringList{"1 bob:news", "2 dave:update"}));
        Inject(114, TestMessage().Str("lobby").Str("bob").Str(""));
        QTRY_COMPARE(wall("lobby"), (QStringList{"2 dave:update"}));

        // Through the server: our own message comes back to us.
        f->client->EnterRoom("hall", false);
        QTRY_VERIFY(RoomItem("hall").IsConnected("in_room"));
        f->client->SetRoomTicker("hall", "my words");
        QTRY_COMPARE(wall("hall"), (QStringList{"0 alice:my words"}));
    }

    void roomListOnlyWhenAskedFor()
    {
        const TestMessage list =
            TestMessage().U32(2).Str("lobby").U32(12).Str("hall").U32(3).U32(1).Str("club").U32(4).U8(1 | 2);
        Inject(64, list);
        Settle();
        QVERIFY(!RoomItem("lobby"));

        SetSetting("accept_room_list", "yes");
        Inject(64, list);
        QTRY_VERIFY(RoomItem("lobby"));
        QCOMPARE(RoomItem("lobby")["user_count"].AsString(), QString("12"));
        QCOMPARE(RoomItem("hall")["user_count"].AsString(), QString("3"));
        ItemPtr club = RoomItem("club");
        QCOMPARE(club["user_count"].AsString(), QString("4"));
        QVERIFY(club.IsConnected("is_private"));
        QVERIFY(club.IsConnected("is_member"));
        QVERIFY(club.IsConnected("is_operator"));
        QVERIFY(!club.IsConnected("is_owner"));
        QVERIFY(!RoomItem("lobby").IsConnected("is_private"));
        QCOMPARE(GetSetting("accept_room_list"), QString("no"));
    }

    void privateRoomRolesFollowTheServer()
    {
        QSignalSpy invitations(f->client, &Server::PrivateRoomAddEnabled);
        f->client->EnablePrivateRoomAdd(true);
        QVERIFY(invitations.wait(30000));
        QCOMPARE(invitations.at(0).at(0).toBool(), true);

        f->client->EnterRoom("club", true);
        QTRY_VERIFY(RoomItem("club").IsConnected("is_owner"));
        ItemPtr club = RoomItem("club");
        QVERIFY(club.IsConnected("is_private"));
        QVERIFY(club.IsConnected("is_member"));
        QCOMPARE(club["room_owner"]["user"].AsString(), QString("alice"));

        RawClient bob(f->server->Port());
        QVERIFY(bob.Login("bob"));
        bob.Send(141, TestMessage().U8(1).Body());
        QVERIFY(bob.WaitFor(141));
        // The sets change only when the server confirms.
        f->client->AddPrivateRoomMember("club", "bob");
        QVERIFY(!club["room_members"] || !club["room_members"].IsConnected(UserItem("bob")));
        QTRY_COMPARE(Names(club["room_members"].GetItems("user")), QStringList{"bob"});
        f->client->AddPrivateRoomOperator("club", "bob");
        QTRY_COMPARE(Names(club["room_operators"].GetItems("user")), QStringList{"bob"});
        f->client->RemovePrivateRoomOperator("club", "bob");
        QTRY_VERIFY(club["room_operators"].GetItems("user").empty());
        f->client->RemovePrivateRoomMember("club", "bob");
        QTRY_VERIFY(club["room_members"].GetItems("user").empty());

        f->client->GiveUpPrivateRoom("club");
        QTRY_VERIFY(!club.IsConnected("is_private"));
        QVERIFY(!club.IsConnected("is_owner"));
        QVERIFY(!club.IsConnected("is_member"));
        QVERIFY(!club["room_owner"]["user"]);
    }

    void privateRoomStateAndOwnMarkers()
    {
        Inject(133, TestMessage().Str("den").Str("carol").U32(2).Str("alice").Str("bob").U32(1).Str("bob"));
        QTRY_VERIFY(RoomItem("den").IsConnected("is_private"));
        ItemPtr den = RoomItem("den");
        QCOMPARE(Names(den["room_members"].GetItems("user")), (QStringList{"alice", "bob"}));
        QCOMPARE(Names(den["room_operators"].GetItems("user")), QStringList{"bob"});
        QCOMPARE(den["room_owner"]["user"].AsString(), QString("carol"));
        QVERIFY(den.IsConnected("is_member"));
        QVERIFY(!den.IsConnected("is_operator"));
        QVERIFY(!den.IsConnected("is_owner"));

        Inject(143, TestMessage().Str("den").Str("alice"));
        QTRY_VERIFY(den.IsConnected("is_operator"));
        // Losing membership ends operatorship too.
        Inject(135, TestMessage().Str("den").Str("alice"));
        QTRY_VERIFY(!den.IsConnected("is_member"));
        QVERIFY(!den.IsConnected("is_operator"));
        QCOMPARE(Names(den["room_operators"].GetItems("user")), QStringList{"bob"});

        // A full state replaces what was there.
        Inject(133, TestMessage().Str("den").Str("").U32(1).Str("dave").U32(0));
        QTRY_COMPARE(Names(den["room_members"].GetItems("user")), QStringList{"dave"});
        QVERIFY(den["room_operators"].GetItems("user").empty());
        QVERIFY(!den["room_owner"]["user"]);
    }

    void searchesRelayedByTheServer()
    {
        QSignalSpy search(f->client, &Server::DirectFileSearch);
        f->client->EnterRoom("lobby", false);
        RawClient bob(f->server->Port());
        QVERIFY(bob.Login("bob"));
        bob.Send(14, TestMessage().Str("lobby").U32(0).Body());
        QVERIFY(bob.WaitFor(14));

        bob.Send(26, TestMessage().U32(11).Str("everywhere").Body());
        bob.Send(42, TestMessage().Str("alice").U32(12).Str("just you").Body());
        bob.Send(120, TestMessage().Str("lobby").U32(13).Str("this room").Body());
        bob.Send(103, TestMessage().U32(14).Str("wished").Body());
        QTRY_COMPARE(search.count(), 4);
        QCOMPARE(search.at(0).at(0).toString(), QString("bob"));
        QCOMPARE(search.at(0).at(1).toUInt(), 11u);
        QCOMPARE(search.at(0).at(2).toString(), QString("everywhere"));
        QCOMPARE(search.at(1).at(1).toUInt(), 12u);
        QCOMPARE(search.at(2).at(2).toString(), QString("this room"));
        QCOMPARE(search.at(3).at(1).toUInt(), 14u);

        // Ours reach bob, never ourselves.
        f->client->FileSearch("abba", "");
        QByteArray body;
        QVERIFY(bob.WaitFor(26, &body));
        QCOMPARE(body, TestMessage().Str("alice").U32(1).Str("abba").Body());
        QCOMPARE(search.count(), 4);
    }

    void wishListIntervalArrivesAtLogin()
    {
        f.reset();
        f.reset(new ServerFixture);
        f->server->SetWishListInterval(300);
        QSignalSpy wait(f->client, &Server::WishListWait);
        QVERIFY(f->Login());
        QTRY_COMPARE(wait.count(), 1);
        QCOMPARE(wait.at(0).at(0).toUInt(), 300u);
    }

    void correlationsReplaceThePreviousOnes()
    {
        QList<QPair<QString, quint32>> related{{"abba gold", 5}, {"abba live", 3}};
        f->server->SetCorrelations("abba", related);
        int countDuringSignal = -1;
        connect(f->client, &Server::SearchCorrelations, this, [&] {
            countDuringSignal =
                int(d.GetType("search_request_text")->HasItem("abba").GetItems("search_correlation").size());
        });
        QSignalSpy signal(f->client, &Server::SearchCorrelations);
        f->client->GetSearchCorrelations("abba");
        QVERIFY(signal.wait(30000));
        QCOMPARE(signal.at(0).at(0).toString(), QString("abba"));
        QCOMPARE(countDuringSignal, 2);
        QStringList found;
        for (const ItemPtr& c : d.GetType("search_request_text")->HasItem("abba").GetItems("search_correlation"))
            found.append(c["correlation_text"].AsString() + "=" + c["correlation_rank"].AsString());
        found.sort();
        QCOMPARE(found, (QStringList{"abba gold=5", "abba live=3"}));

        f->server->SetCorrelations("abba", {{"abba hits", 9}});
        f->client->GetSearchCorrelations("abba");
        QVERIFY(signal.wait(30000));
        ItemSet now = d.GetType("search_request_text")->HasItem("abba").GetItems("search_correlation");
        QCOMPARE(now.size(), size_t(1));
        QCOMPARE(now.First()["correlation_text"].AsString(), QString("abba hits"));
        QCOMPARE(d.GetType("search_correlation")->Count(), size_t(1));
    }

    void peerAddressAndRelayedConnections()
    {
        QSignalSpy address(f->client, &Server::PeerAddress);
        QSignalSpy requested(f->client, &Server::PeerConnectionRequested);
        QSignalSpy failed(f->client, &Server::CantConnectToPeer);
        RawClient bob(f->server->Port());
        QVERIFY(bob.Login("bob"));
        bob.Send(2, TestMessage().U32(5000).U32(5001).Body());

        f->client->GetPeerAddress("bob");
        f->client->GetPeerAddress("nobody");
        QTRY_COMPARE(address.count(), 2);
        QCOMPARE(address.at(0).at(1).toString(), QString("127.0.0.1"));
        QCOMPARE(address.at(0).at(2).toUInt(), 5000u);
        QCOMPARE(address.at(0).at(3).toUInt(), 5001u);
        QCOMPARE(address.at(1).at(0).toString(), QString("nobody"));
        QVERIFY(address.at(1).at(1).toString().isEmpty());

        // Ours reaches bob with our address; bob's reaches us.
        SetSetting("listening_port", "2235");
        f->client->RequestPeerConnection("bob", 77, "P");
        QByteArray body;
        QVERIFY(bob.WaitFor(18, &body));
        TestMessage in(body);
        QString user, type, host;
        quint32 token = 0;
        QVERIFY(in.ReadStr(user) && in.ReadStr(type) && in.ReadStr(host));
        QCOMPARE(user, QString("alice"));
        QCOMPARE(type, QString("P"));
        QCOMPARE(host, QString("127.0.0.1"));

        bob.Send(18, TestMessage().U32(88).Str("alice").Str("F").Body());
        QTRY_COMPARE(requested.count(), 1);
        QCOMPARE(requested.at(0).at(0).toString(), QString("bob"));
        QCOMPARE(requested.at(0).at(1).toString(), QString("F"));
        QCOMPARE(requested.at(0).at(2).toString(), QString("127.0.0.1"));
        QCOMPARE(requested.at(0).at(3).toUInt(), 5000u);
        QCOMPARE(requested.at(0).at(4).toUInt(), 5001u);
        QCOMPARE(requested.at(0).at(5).toUInt(), 88u);

        // Each answer comes through a connection of its own, so the second
        // is sent once the first is in.
        f->client->RequestPeerConnection("nobody", 79, "P");
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 30000);
        QCOMPARE(failed.at(0).at(0).toUInt(), 79u);
        QCOMPARE(failed.at(0).at(1).toString(), QString("nobody"));
        bob.Send(1001, TestMessage().U32(90).Str("alice").Body());
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, 30000);
        QCOMPARE(failed.at(1).at(0).toUInt(), 90u);
        QCOMPARE(failed.at(1).at(1).toString(), QString("bob"));
        Q_UNUSED(token);
    }

    void keptItemsSurviveTheFiveMinuteCleanUp()
    {
        f->server->SetCorrelations("abba", {{"abba gold", 5}});
        f->client->FileSearch("abba", "");
        QSignalSpy correlations(f->client, &Server::SearchCorrelations);
        f->client->GetSearchCorrelations("abba");
        QVERIFY(correlations.wait(30000));
        Inject(113, TestMessage().Str("lobby").U32(1).Str("bob").Str("wall text"));
        Inject(133, TestMessage().Str("den").Str("carol").U32(1).Str("bob").U32(1).Str("bob"));
        Inject(7, TestMessage().Str("dave").U32(1));
        Settle();

        d.RemoveDisconnectedItems();
        QCOMPARE(RoomItem("lobby")["room_ticker"]["room_ticker_text"].AsString(), QString("wall text"));
        QCOMPARE(RoomItem("den")["room_owner"]["user"].AsString(), QString("carol"));
        QCOMPARE(Names(RoomItem("den")["room_operators"].GetItems("user")), QStringList{"bob"});
        QCOMPARE(d.GetType("search_request_text")->HasItem("abba")["search_correlation"]["correlation_rank"].AsString(),
                 QString("5"));
        QVERIFY(UserItem("dave").IsConnected("is_away"));
    }

    void malformedListsChangeNothing()
    {
        ItemPtr room = d.GetType("room")->GetItem("lobby");
        room += d.GetType("user")->GetItem("keep");
        // Claims a million users and carries one.
        Inject(14, TestMessage().Str("lobby").U32(1000000).Str("x").Stats(1, 1, 1, 1).Str("").Bytes("zz"));
        Inject(113, TestMessage().Str("lobby").U32(5).Str("bob"));
        Inject(64, TestMessage().U32(0xffffffff));
        Inject(133, TestMessage().Str("lobby").Str("carol").U32(3).Str("a"));
        SetSetting("accept_room_list", "yes");
        Settle();
        QVERIFY(!room.IsConnected("in_room"));
        QCOMPARE(Names(room.GetItems("user")), QStringList{"keep"});
        QVERIFY(room.GetItems("room_ticker").empty());
        QVERIFY(!room.IsConnected("is_private"));
        QVERIFY(f->client->IsConnected());
    }
};

QTEST_MAIN(TestServerMessages)
#include "TestServerMessages.moc"
