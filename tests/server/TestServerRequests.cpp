// Every request operation's bytes as the server receives them, and the
// items and signals the operations make on the client's side.
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <memory>

#include "Data.h"
#include "Server.h"
#include "ServerFixture.h"
#include "Settings.h"
#include "TestMessage.h"
#include "TestServer.h"

class TestServerRequests : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ServerFixture> f;

    // Runs the request and checks the one new message it put on the wire.
    bool Expect(quint32 code, const QByteArray& body, const std::function<void()>& request)
    {
        const int before = f->server->Count(code);
        request();
        if (!f->WaitForCount(code, before + 1)) {
            qWarning("message %u did not arrive", code);
            return false;
        }
        if (f->LastBody(code) != body) {
            qWarning("message %u: got %s, expected %s", code, f->LastBody(code).toHex().constData(),
                     body.toHex().constData());
            return false;
        }
        return true;
    }

private slots:
    void init()
    {
        f.reset(new ServerFixture);
        QVERIFY(f->Login());
    }
    void cleanup() { f.reset(); }

    void userRequests()
    {
        Server* s = f->client;
        QVERIFY(Expect(5, TestMessage().Str("bob").Body(), [&] { s->AddUser("bob"); }));
        QVERIFY(Expect(36, TestMessage().Str("bob").Body(), [&] { s->GetUserStats("bob"); }));
        QVERIFY(Expect(92, QByteArray(), [&] { s->GetOwnPrivilegesStatus(); }));
        QVERIFY(Expect(123, TestMessage().Str("bob").U32(7).Body(), [&] { s->GiftPrivileges("bob", 7); }));
        QVERIFY(Expect(35, TestMessage().U32(12).U32(3400).Body(), [&] { s->SendFilesFolders(12, 3400); }));
        QVERIFY(Expect(121, TestMessage().U32(56789).Body(), [&] { s->SendUploadSpeed(56789); }));
        QStringList users{"bob", "carol", "dave"};
        QVERIFY(Expect(149, TestMessage().U32(3).Str("bob").Str("carol").Str("dave").Str("hello all").Body(),
                       [&] { s->MessageUsers(users, "hello all"); }));
        QVERIFY(Expect(3, TestMessage().Str("bob").Body(), [&] { s->GetPeerAddress("bob"); }));
        QVERIFY(Expect(18, TestMessage().U32(77).Str("bob").Str("F").Body(),
                       [&] { s->RequestPeerConnection("bob", 77, "F"); }));
        QVERIFY(Expect(1001, TestMessage().U32(78).Str("bob").Body(), [&] { s->SendCantConnectToPeer(78, "bob"); }));
    }

    void privateChatFlattensLinesAndAlwaysReportsSending()
    {
        QSignalSpy sent(f->client, &Server::PrivateChatSent);
        QVERIFY(Expect(22, TestMessage().Str("bob").Str("one two  three").Body(),
                       [&] { f->client->SendPrivateChat("bob", "one\ntwo\r\nthree"); }));
        QCOMPARE(sent.count(), 1);
        QCOMPARE(sent.at(0).at(0).toString(), QString("bob"));
        QCOMPARE(sent.at(0).at(1).toString(), QString("one two  three"));
    }

    void availability()
    {
        QVERIFY(Expect(28, TestMessage().U32(1).Body(), [&] { f->client->SetAvailabilityStatus(false); }));
        QCOMPARE(GetSetting("availability_status"), QString("away"));
        QVERIFY(Expect(28, TestMessage().U32(2).Body(), [&] { f->client->SetAvailabilityStatus(true); }));
        QCOMPARE(GetSetting("availability_status"), QString("available"));
    }

    void trackingAsksOnce()
    {
        QVERIFY(Expect(5, TestMessage().Str("bob").Body(), [&] { f->client->TrackUser("bob"); }));
        QVERIFY(d.GetType("user")->HasItem("bob").IsConnected("is_tracked"));
        f->client->TrackUser("bob");
        f->client->AddUser("marker");
        QVERIFY(f->WaitForCount(5, 2));
        QCOMPARE(f->LastBody(5), TestMessage().Str("marker").Body());
    }

    void roomRequests()
    {
        Server* s = f->client;
        QString acceptance;
        QVERIFY(Expect(64, QByteArray(), [&] {
            s->GetRoomList();
            acceptance = GetSetting("accept_room_list");
        }));
        QCOMPARE(acceptance, QString("yes"));
        // The answer closes the window again.
        QTRY_COMPARE(GetSetting("accept_room_list"), QString("no"));
        QVERIFY(Expect(14, TestMessage().Str("lobby").U32(0).Body(), [&] { s->EnterRoom("lobby", false); }));
        QVERIFY(Expect(14, TestMessage().Str("club").U32(1).Body(), [&] { s->EnterRoom("club", true); }));
        QVERIFY(Expect(13, TestMessage().Str("lobby").Str("hi there").Body(),
                       [&] { s->SendRoomChat("lobby", "hi there"); }));
        QVERIFY(Expect(116, TestMessage().Str("lobby").Str("my wall").Body(),
                       [&] { s->SetRoomTicker("lobby", "my wall"); }));
        QVERIFY(Expect(141, TestMessage().U8(1).Body(), [&] { s->EnablePrivateRoomAdd(true); }));
        QVERIFY(Expect(141, TestMessage().U8(0).Body(), [&] { s->EnablePrivateRoomAdd(false); }));
        QVERIFY(
            Expect(134, TestMessage().Str("club").Str("bob").Body(), [&] { s->AddPrivateRoomMember("club", "bob"); }));
        QVERIFY(Expect(135, TestMessage().Str("club").Str("bob").Body(),
                       [&] { s->RemovePrivateRoomMember("club", "bob"); }));
        QVERIFY(Expect(143, TestMessage().Str("club").Str("bob").Body(),
                       [&] { s->AddPrivateRoomOperator("club", "bob"); }));
        QVERIFY(Expect(144, TestMessage().Str("club").Str("bob").Body(),
                       [&] { s->RemovePrivateRoomOperator("club", "bob"); }));
        QVERIFY(Expect(136, TestMessage().Str("club").Body(), [&] { s->GiveUpPrivateRoomMembership("club"); }));
        QVERIFY(Expect(137, TestMessage().Str("club").Body(), [&] { s->GiveUpPrivateRoom("club"); }));
    }

    void leavingNeedsAJoinedRoom()
    {
        f->client->LeaveRoom("elsewhere"); // never joined: nothing goes out
        f->client->EnterRoom("lobby", false);
        QTRY_VERIFY(d.GetType("room")->HasItem("lobby").IsConnected("in_room"));
        QVERIFY(Expect(15, TestMessage().Str("lobby").Body(), [&] { f->client->LeaveRoom("lobby"); }));
        QCOMPARE(f->server->Count(15), 1);
    }

    void searchesMakeTicketsAndItems()
    {
        QSignalSpy requested(f->client, &Server::SearchRequested);
        unsigned int ticket = 0;
        QVERIFY(Expect(26, TestMessage().U32(1).Str("abba gold").Body(),
                       [&] { ticket = f->client->FileSearch("abba gold", ""); }));
        QCOMPARE(ticket, 1u);
        ItemPtr request = d.GetType("search_request")->HasItem(Value(1u));
        QCOMPARE(request["search_request_text"].AsString(), QString("abba gold"));
        QVERIFY(!request["wish_list_item"]);

        QVERIFY(Expect(103, TestMessage().U32(2).Str("queen").Body(),
                       [&] { ticket = f->client->FileSearch("queen", "queen"); }));
        QCOMPARE(ticket, 2u);
        QCOMPARE(d.GetType("search_request")->HasItem(Value(2u))["wish_list_item"].AsString(), QString("queen"));
        QCOMPARE(requested.count(), 2);
        QCOMPARE(requested.at(1).at(0).toUInt(), 2u);
        QCOMPARE(requested.at(1).at(2).toBool(), true);

        QVERIFY(Expect(120, TestMessage().Str("lobby").U32(3).Str("jazz").Body(),
                       [&] { ticket = f->client->SearchRoom("lobby", "jazz"); }));
        QCOMPARE(ticket, 3u);
        QCOMPARE(d.GetType("search_request")->HasItem(Value(3u))["search_request_text"].AsString(), QString("jazz"));

        QVERIFY(Expect(153, TestMessage().Str("jazz").Body(), [&] { f->client->GetSearchCorrelations("jazz"); }));
    }

    void userListSearchGoesToOnlineMembersOnly()
    {
        Type* users = d.GetType("user");
        for (const char* name : {"bob", "carol", "dave"})
            users->GetItem(name).NewItem("in_user_list");
        users->GetItem("bob").NewItem("is_online");
        users->GetItem("dave").NewItem("is_online");
        users->GetItem("eve").NewItem("is_online"); // online but not listed

        const unsigned int ticket = f->client->SearchUserList("blues");
        QCOMPARE(ticket, 1u);
        QVERIFY(f->WaitForCount(42, 2));
        const auto sent = f->server->ReceivedMessages(42);
        QCOMPARE(sent[0].body, TestMessage().Str("bob").U32(1).Str("blues").Body());
        QCOMPARE(sent[1].body, TestMessage().Str("dave").U32(1).Str("blues").Body());
        QCOMPARE(d.GetType("search_request")->HasItem(Value(1u))["search_request_text"].AsString(), QString("blues"));
        // Nothing more trails behind.
        f->client->AddUser("end");
        QVERIFY(f->WaitForCount(5, 1));
        QCOMPARE(f->server->Count(42), 2);
    }
};

QTEST_MAIN(TestServerRequests)
#include "TestServerRequests.moc"
