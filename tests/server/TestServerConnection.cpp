// The connection's life: login, refusals, defaults, reconnection,
// keep-alive, being logged in elsewhere, broken frames and what is kept
// across a save.
#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>

#include "Data.h"
#include "DataSaver.h"
#include "DiagnosticsForm.h"
#include "NetworkHosts.h"
#include "RawClient.h"
#include "Server.h"
#include "ServerFixture.h"
#include "Settings.h"
#include "TestMessage.h"
#include "TestServer.h"

class TestServerConnection : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ServerFixture> f;

    static QString Md5(const QString& text)
    {
        return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
    }

    QList<quint32> ReceivedCodes() const
    {
        QList<quint32> codes;
        for (const TestServer::Received& message : f->server->AllReceived())
            codes.append(message.code);
        return codes;
    }

private slots:
    void init() { f.reset(new ServerFixture); }
    void cleanup() { f.reset(); }

    void loginAcceptedSendsNameDigestAndVersion()
    {
        QSignalSpy connecting(f->client, &Server::Connecting);
        QVERIFY(f->Login("alice", "secret"));
        QCOMPARE(connecting.count(), 1);
        QVERIFY(f->client->IsConnected());
        QCOMPARE(f->client->GetState(), Server::StateLoggedIn);
        QVERIFY(f->client->IsAbruptlyDisconnected());
        QCOMPARE(GetSetting("is_supporter"), QString("no"));

        TestMessage login(f->LastBody(1));
        QString user, digest;
        quint32 version = 0;
        QVERIFY(login.ReadStr(user) && login.ReadStr(digest) && login.ReadU32(version));
        QCOMPARE(user, QString("alice"));
        QCOMPARE(digest, Md5("alicesecret"));
        QCOMPARE(version, 20130410u);
        QVERIFY(login.AtEnd());
    }

    void supporterFlagComesFromTheLoginReply()
    {
        f->server->SetSupporter("alice", true);
        QVERIFY(f->Login());
        QCOMPARE(GetSetting("is_supporter"), QString("yes"));
    }

    void loginRefused_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::newRow("wrong password") << "INVALIDPASS";
        QTest::newRow("invalid name") << "INVALIDUSERNAME";
        QTest::newRow("other") << "SERVER FULL";
    }

    void loginRefused()
    {
        QFETCH(QString, reason);
        f->server->RefuseLogins(reason);
        SetSetting("username", "alice");
        SetSetting("password", "secret");
        QSignalSpy failed(f->client, &Server::ConnectionFailed);
        QSignalSpy connected(f->client, &Server::Connected);
        QSignalSpy disconnected(f->client, &Server::Disconnected);
        f->client->Connect();
        QVERIFY(failed.wait(30000));
        QCOMPARE(failed.at(0).at(0).toString(), reason);
        QCOMPARE(f->client->GetState(), Server::StateDisconnected);
        QVERIFY(!f->client->IsConnected());
        // A login was sent, so the client keeps retrying on its own.
        QVERIFY(f->client->IsAbruptlyDisconnected());
        QCOMPARE(connected.count(), 0);
        QCOMPARE(disconnected.count(), 0);

        // Every retry is refused again and reported again.
        f->HalfMinuteTick();
        QVERIFY(failed.wait(30000));
        QCOMPARE(failed.at(1).at(0).toString(), reason);
    }

    void wrongPasswordIsRefusedByTheServersCheck()
    {
        f->server->SetPassword("alice", "right");
        QSignalSpy failed(f->client, &Server::ConnectionFailed);
        QVERIFY(!f->Login("alice", "wrong"));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QString("INVALIDPASS"));
        QVERIFY(f->Login("alice", "right"));
    }

    void missingPasswordLogsInWithTheBuiltInDefaults()
    {
        SetSetting("username", "bob");
        QSignalSpy connected(f->client, &Server::Connected);
        f->client->Connect();
        QVERIFY(connected.wait(30000));
        QCOMPARE(GetSetting("username"), QString("QuorvaneQT"));
        QCOMPARE(GetSetting("password"), QString(Server::DefaultPassword));
        QVERIFY(f->server->IsLoggedIn("QuorvaneQT"));
        TestMessage login(f->LastBody(1));
        QString user, digest;
        QVERIFY(login.ReadStr(user) && login.ReadStr(digest));
        QCOMPARE(digest, Md5(QString("QuorvaneQT") + Server::DefaultPassword));
    }

    void noConnectionWithoutAStoredName()
    {
        QSignalSpy connecting(f->client, &Server::Connecting);
        f->client->Connect();
        QCOMPARE(connecting.count(), 0);
        QCOMPARE(f->client->GetState(), Server::StateDisconnected);
    }

    void connectionRefusedIsASocketError()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        qputenv("QUORVANE_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(port));
        SetSetting("username", "alice");
        SetSetting("password", "secret");
        QSignalSpy failed(f->client, &Server::ConnectionFailed);
        f->client->Connect();
        QVERIFY(failed.wait(30000));
        QCOMPARE(failed.at(0).at(0).toString(), QString("socket error"));
        // No login went out, so nothing retries.
        QVERIFY(!f->client->IsAbruptlyDisconnected());
    }

    void noUsableLoginReplyIsASocketError_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("closed without a reply") << QByteArray();
        QTest::newRow("reply cut short") << TestMessage::Frame(1, TestMessage().U8(1).Body());
    }

    void noUsableLoginReplyIsASocketError()
    {
        QFETCH(QByteArray, reply);
        QTcpServer mute;
        QVERIFY(mute.listen(QHostAddress::LocalHost));
        connect(&mute, &QTcpServer::newConnection, &mute, [&mute, reply] {
            QTcpSocket* socket = mute.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket, reply] {
                if (reply.isEmpty())
                    socket->disconnectFromHost();
                else
                    socket->write(reply);
            });
        });
        qputenv("QUORVANE_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(mute.serverPort()));
        SetSetting("username", "alice");
        SetSetting("password", "secret");
        QSignalSpy failed(f->client, &Server::ConnectionFailed);
        f->client->Connect();
        QVERIFY(failed.wait(30000));
        QCOMPARE(failed.at(0).at(0).toString(), QString("socket error"));
        QCOMPARE(f->client->GetState(), Server::StateDisconnected);
        QVERIFY(f->client->IsAbruptlyDisconnected());
    }

    void serverAndWebHostFromTheEnvironment()
    {
        qputenv("QUORVANE_SERVER", "127.0.0.1");
        QCOMPARE(NetworkHosts::ServerHost(), QString("127.0.0.1"));
        QCOMPARE(NetworkHosts::ServerPort(), quint16(2242));
        qputenv("QUORVANE_SERVER", "127.0.0.1:99999");
        QCOMPARE(NetworkHosts::ServerHost(), QString(NetworkHosts::DefaultServerHost));
        qputenv("QUORVANE_SERVER", "");
        QCOMPARE(NetworkHosts::ServerPort(), quint16(2242));
        qputenv("QUORVANE_WEB", "http://127.0.0.1:8080/site");
        QCOMPARE(NetworkHosts::WebUrl("qtversion.txt").toString(), QString("http://127.0.0.1:8080/site/qtversion.txt"));
        qputenv("QUORVANE_WEB", "not a url");
        QCOMPARE(NetworkHosts::WebBase().toString(), QString(NetworkHosts::DefaultWebBase));
    }

    void cutConnectionIsRetriedOnTheHalfMinuteTick()
    {
        QVERIFY(f->Login());
        QSignalSpy disconnected(f->client, &Server::Disconnected);
        QSignalSpy connected(f->client, &Server::Connected);
        QVERIFY(f->server->Cut("alice"));
        QVERIFY(disconnected.wait(30000));
        QVERIFY(!f->client->IsConnected());
        QVERIFY(f->client->IsAbruptlyDisconnected());

        f->HalfMinuteTick();
        QVERIFY(connected.wait(30000));
        QVERIFY(f->server->IsLoggedIn("alice"));
        // A tick while logged in starts nothing new.
        QSignalSpy connecting(f->client, &Server::Connecting);
        f->HalfMinuteTick();
        QCOMPARE(connecting.count(), 0);
    }

    void noRetryAfterDisconnect()
    {
        QVERIFY(f->Login());
        QSignalSpy disconnected(f->client, &Server::Disconnected);
        f->client->Disconnect();
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(!f->client->IsAbruptlyDisconnected());
        QSignalSpy connecting(f->client, &Server::Connecting);
        f->HalfMinuteTick();
        QCOMPARE(connecting.count(), 0);
        QTRY_VERIFY(!f->server->IsLoggedIn("alice"));
    }

    void loggedInElsewhereStopsReconnection()
    {
        QVERIFY(f->Login());
        bool flagDuringSignal = true;
        connect(f->client, &Server::LoggedInElsewhere, this,
                [&] { flagDuringSignal = f->client->IsAbruptlyDisconnected(); });
        QSignalSpy elsewhere(f->client, &Server::LoggedInElsewhere);
        QSignalSpy disconnected(f->client, &Server::Disconnected);

        RawClient other(f->server->Port());
        QVERIFY(other.Login("alice", "secret"));
        QTRY_COMPARE(elsewhere.count(), 1);
        QVERIFY(!flagDuringSignal);
        QTRY_COMPARE(disconnected.count(), 1);
        QVERIFY(!f->client->IsConnected());

        QSignalSpy connecting(f->client, &Server::Connecting);
        f->HalfMinuteTick();
        QCOMPARE(connecting.count(), 0);
    }

    void keepAliveGoesOutOnTheFiveMinuteTick()
    {
        f->FiveMinuteTick(); // not connected: nothing to send it on
        QVERIFY(f->Login());
        QCOMPARE(f->server->Count(32), 0);
        f->FiveMinuteTick();
        QVERIFY(f->WaitForCount(32, 1));
        QVERIFY(f->LastBody(32).isEmpty());
        f->FiveMinuteTick();
        QVERIFY(f->WaitForCount(32, 2));
    }

    void loginSendsPortsStatusAndTrackedUsersBeforeConnected()
    {
        SetSetting("listening_port", "2235");
        SetSetting("obfuscated_listening_port", "2236");
        f->client->SetAvailabilityStatus(false);
        d.GetType("user")->GetItem("bob").NewItem("is_tracked");
        d.GetType("user")->GetItem("carol").NewItem("is_tracked");
        d.GetType("user")->GetItem("dave"); // not tracked
        // A receiver of Connected() sends after the login's own messages.
        connect(f->client, &Server::Connected, f->client, [this] { f->client->GetOwnPrivilegesStatus(); });

        QVERIFY(f->Login());
        QVERIFY(f->WaitForCount(92, 1));
        QCOMPARE(ReceivedCodes(), (QList<quint32>{1, 2, 28, 5, 5, 92}));
        QCOMPARE(f->LastBody(2), TestMessage().U32(2235).U32(2236).Body());
        QCOMPARE(f->LastBody(28), TestMessage().U32(1).Body());
        const auto added = f->server->ReceivedMessages(5);
        QCOMPARE(added.size(), 2);
        QCOMPARE(added[0].body, TestMessage().Str("bob").Body());
        QCOMPARE(added[1].body, TestMessage().Str("carol").Body());
    }

    void availableUserSendsNoStatusAtLogin()
    {
        QVERIFY(f->Login());
        QVERIFY(f->WaitForCount(2, 1));
        QCOMPARE(f->server->Count(28), 0);
    }

    void disconnectTakesEveryoneOfflineAfterTheSignal()
    {
        ItemPtr bob = d.GetType("user")->GetItem("bob");
        ItemPtr carol = d.GetType("user")->GetItem("carol");
        bob.NewItem("is_online");
        carol.NewItem("is_online");
        QVERIFY(f->Login());
        bool onlineDuringSignal = false;
        connect(f->client, &Server::Disconnected, this, [&] { onlineDuringSignal = bob.IsConnected("is_online"); });
        QSignalSpy disconnected(f->client, &Server::Disconnected);
        f->server->Cut("alice");
        QVERIFY(disconnected.wait(30000));
        QVERIFY(onlineDuringSignal);
        QVERIFY(!bob.IsConnected("is_online"));
        QVERIFY(!carol.IsConnected("is_online"));
    }

    void malformedMessageIsDroppedAndTheConnectionStays()
    {
        QVERIFY(f->Login());
        QSignalSpy admin(f->client, &Server::AdminMessage);
        QSignalSpy disconnected(f->client, &Server::Disconnected);
        // A user status whose status field is cut short, a string whose count
        // runs past the frame, then a good message.
        f->server->Send("alice", 7, TestMessage().Str("bob").U8(2).Body());
        f->server->Send("alice", 66, TestMessage().U32(1000).Bytes("abc").Body());
        f->server->Send("alice", 66, TestMessage().Str("still here").Body());
        QVERIFY(admin.wait(30000));
        QCOMPARE(admin.count(), 1);
        QCOMPARE(admin.at(0).at(0).toString(), QString("still here"));
        QVERIFY(f->client->IsConnected());
        QCOMPARE(disconnected.count(), 0);
        QVERIFY(!d.GetType("user")->HasItem("bob").IsConnected("is_online"));
        QVERIFY(f->diagnostics->AreaText("server").contains("Malformed message 7"));
        QVERIFY(f->diagnostics->AreaText("server").contains("Malformed message 66"));
    }

    void unknownMessageIsIgnored()
    {
        QVERIFY(f->Login());
        QSignalSpy admin(f->client, &Server::AdminMessage);
        f->server->Send("alice", 9999, QByteArray("whatever"));
        f->server->Send("alice", 66, TestMessage().Str("after").Body());
        QVERIFY(admin.wait(30000));
        QVERIFY(f->client->IsConnected());
    }

    void badFrameLengthClosesTheConnection_data()
    {
        QTest::addColumn<quint32>("length");
        QTest::newRow("above the limit") << quint32(Server::MaxFrameLength + 1);
        QTest::newRow("no room for the code") << quint32(2);
    }

    void badFrameLengthClosesTheConnection()
    {
        QFETCH(quint32, length);
        QVERIFY(f->Login());
        QSignalSpy disconnected(f->client, &Server::Disconnected);
        f->server->SendRaw("alice", TestMessage().U32(length).U32(66).Body());
        QVERIFY(disconnected.wait(30000));
        QVERIFY(!f->client->IsConnected());
        QVERIFY(f->diagnostics->AreaText("server").contains(QString("Frame of length %1").arg(length)));
        // The server closed nothing itself: this is the client's decision,
        // and reconnection stays on.
        QVERIFY(f->client->IsAbruptlyDisconnected());
    }

    void frameSplitAcrossWritesIsReassembled()
    {
        QVERIFY(f->Login());
        QSignalSpy admin(f->client, &Server::AdminMessage);
        const QByteArray frame = TestMessage::Frame(66, TestMessage().Str("in pieces").Body());
        // Each piece is read before the next is sent.
        f->server->SendRaw("alice", frame.left(3));
        QTRY_COMPARE_WITH_TIMEOUT(f->client->UnreadBytes(), qint64(3), 30000);
        f->server->SendRaw("alice", frame.mid(3, 6));
        QTRY_COMPARE_WITH_TIMEOUT(f->client->UnreadBytes(), qint64(9), 30000);
        f->server->SendRaw("alice", frame.mid(9) + frame);
        QTRY_COMPARE_WITH_TIMEOUT(admin.count(), 2, 30000);
        QCOMPARE(admin.at(0).at(0).toString(), QString("in pieces"));
    }

    void requestsAreDroppedUntilLoggedIn()
    {
        SetSetting("username", "alice");
        SetSetting("password", "secret");
        QSignalSpy sent(f->client, &Server::PrivateChatSent);
        auto requestEverything = [this] {
            f->client->SendPrivateChat("bob", "hello");
            f->client->SendRoomChat("lobby", "hi");
            f->client->EnterRoom("lobby", false);
            f->client->GetUserStats("bob");
            f->client->SendFilesFolders(1, 2);
            f->client->GetRoomList();
            f->client->FileSearch("abba", "");
            f->client->FileSearch("queen", "queen");
        };
        requestEverything(); // before any connection

        // Connected but not yet logged in: the socket is there, and still
        // nothing may go out on it.
        f->server->HoldLogins(true);
        f->client->Connect();
        QVERIFY(f->WaitForCount(1, 1));
        QCOMPARE(f->client->GetState(), Server::StateConnecting);
        requestEverything();
        QCOMPARE(sent.count(), 2);
        // The searches still made their tickets and items.
        QCOMPARE(d.GetType("search_request")->Count(), size_t(4));
        QCOMPARE(d.GetType("search_request")->HasItem(Value(4u))["wish_list_item"].AsString(), QString("queen"));

        QSignalSpy connected(f->client, &Server::Connected);
        f->server->HoldLogins(false);
        QVERIFY(connected.wait(30000));
        QVERIFY(f->WaitForCount(2, 1));
        f->client->AddUser("end"); // a marker behind anything still in flight
        QVERIFY(f->WaitForCount(5, 1));
        for (quint32 code : {22u, 13u, 14u, 36u, 35u, 64u, 26u, 103u})
            QVERIFY2(f->server->Count(code) == 0, qPrintable(QString::number(code)));
        QCOMPARE(f->client->FileSearch("next", ""), 5u);
    }

    void savedTypesSurviveAReload()
    {
        ItemPtr bob = d.GetType("user")->GetItem("bob");
        bob.NewItem("in_user_list") += d.GetType("user_list_group")->GetItem("friends");
        d.GetType("user")->GetItem("troll").NewItem("is_ignored");
        d.GetType("room")->GetItem("lobby").NewItem("room_autojoin");
        d.GetType("room")->GetItem("transient").NewItem("in_room");
        d.GetType("user")->GetItem("carol").NewItem("is_online");
        d.GetType("wish_list_item")->GetItem("abba");
        const QString prefix = QDir::homePath() + "/.QuorvaneTest";
        f->saver->Save(prefix);

        d.Reset();
        DeclareSettingTypes();
        f->client->CreateData();
        f->saver->Load(prefix);
        ItemPtr list = d.GetType("user")->HasItem("bob")["in_user_list"];
        QVERIFY(list);
        QCOMPARE(list["user_list_group"].AsString(), QString("friends"));
        QVERIFY(d.GetType("user")->HasItem("troll").IsConnected("is_ignored"));
        QVERIFY(d.GetType("room")->HasItem("lobby").IsConnected("room_autojoin"));
        QVERIFY(d.GetType("wish_list_item")->HasItem("abba"));
        QVERIFY(!d.GetType("room")->HasItem("transient"));
        QVERIFY(!d.GetType("user")->HasItem("carol"));
    }

    void loadResetsRoomListAcceptance()
    {
        SetSetting("accept_room_list", "yes");
        f->client->DataLoaded();
        QCOMPARE(GetSetting("accept_room_list"), QString("no"));
        QCOMPARE(GetSetting("availability_status"), QString("available"));
    }
};

QTEST_MAIN(TestServerConnection)
#include "TestServerConnection.moc"
