// A joined room's page: chat out and in, action lines, stamps and chat
// activity, connection notices and joining again, leaving when closed, the
// activity alert, links, and the room's log.
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTabBar>

#include "RoomsSetup.h"
#include "Settings.h"
#include "common/ViewClock.h"
#include "rooms/ChatText.h"

namespace {

QString Now(const char* format)
{
    return ViewClock::Now().toString(format);
}

QStringList LogLines(const QString& room)
{
    QFile file(ChatText::LogPath(ChatText::Log::Room, room));
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestRoomForm : public QObject
{
    Q_OBJECT

private:
    RoomsSetup s;
    RoomForm* m_lobby = nullptr;

    // "me" in the lobby with x, the lobby's page open.
    bool InLobby()
    {
        s.Make();
        if (!s.Start())
            return false;
        s.Server()->AddRoom("lobby", {"x"});
        m_lobby = s.Enter("lobby");
        return m_lobby != nullptr;
    }

private slots:
    void init() { QDir(QDir::homePath() + "/Quorvane Chat Logs").removeRecursively(); }
    void cleanup() { s.Stop(); }

    void chatGoesOutAsTypedAndIsShownWhenTheServerSaysIt()
    {
        QVERIFY(InLobby());
        QLineEdit* edit = RoomsSetup::Edit(m_lobby);
        const QString before = RoomsSetup::View(m_lobby)->toPlainText();
        edit->setText("  hello  there ");
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(edit->text(), QString());
        QCOMPARE(RoomsSetup::View(m_lobby)->toPlainText(), before);
        QTRY_COMPARE(s.Server()->ReceivedMessages(13).size(), 1);
        TestMessage sent(s.Server()->ReceivedMessages(13).first().body);
        QString room, text;
        QVERIFY(sent.ReadStr(room) && sent.ReadStr(text));
        QCOMPARE(room, QString("lobby"));
        QCOMPARE(text, QString("  hello  there "));
        QTRY_COMPARE(RoomsSetup::Lines(m_lobby).last(), QString("[me] hello  there"));

        // An empty line sends nothing.
        QTest::keyClick(edit, Qt::Key_Return);
        s.Server()->SayInRoom("lobby", "x", "<b>hi</b> http://a.org/?p=1&q=2");
        QTRY_COMPARE(RoomsSetup::Lines(m_lobby).last(), QString("[x] <b>hi</b> http://a.org/?p=1&q=2"));
        QCOMPARE(s.Server()->ReceivedMessages(13).size(), 1);

        const QString stamp = Now("MMM d h:mm:ss ap");
        QCOMPARE(LogLines("lobby"), (QStringList{QString("[%1][me] hello  there").arg(stamp),
                                                 QString("[%1][x] <b>hi</b> http://a.org/?p=1&q=2").arg(stamp)}));
    }

    void eachPageShowsOnlyItsOwnRoom()
    {
        QVERIFY(InLobby());
        s.Server()->AddRoom("Lobby", {"y"});
        RoomForm* upper = s.Enter("Lobby");
        QVERIFY(upper);
        s.Server()->SayInRoom("Lobby", "y", "upper");
        s.Server()->SayInRoom("lobby", "x", "lower");
        QTRY_VERIFY(RoomsSetup::Lines(m_lobby).contains("[x] lower"));
        QTRY_VERIFY(RoomsSetup::Lines(upper).contains("[y] upper"));
        QVERIFY(!RoomsSetup::Lines(m_lobby).contains("[y] upper"));
        QVERIFY(!RoomsSetup::Lines(upper).contains("[x] lower"));
    }

    void anActionLineIsAStatusLineOnly()
    {
        QVERIFY(InLobby());
        SetSetting("chat_timestamps", "per_message_short");
        s.Server()->SayInRoom("lobby", "x", "   /me  waves   ");
        s.Server()->SayInRoom("lobby", "x", "/mewaves");
        s.Server()->SayInRoom("lobby", "x", "/ME waves");
        const QString stamp = Now("h:mm:ss");
        QTRY_COMPARE(RoomsSetup::Lines(m_lobby).size(), 3);
        QCOMPARE(RoomsSetup::Lines(m_lobby),
                 (QStringList{"* x waves", "[" + stamp + "][x] /mewaves", "[" + stamp + "][x] /ME waves"}));
        QCOMPARE(LogLines("lobby").first(), QString("[%1] * x waves").arg(Now("MMM d h:mm:ss ap")));
    }

    void activityStampsMarkWhereTheChatStartsAndEnds()
    {
        QVERIFY(InLobby());
        const QString start = Now("MMM d h:mm:ss ap");
        s.Server()->SayInRoom("lobby", "x", "/me arrives");
        s.Server()->SayInRoom("lobby", "x", "first");
        QTRY_COMPARE(RoomsSetup::Lines(m_lobby), (QStringList{"* x arrives", "* Chat started " + start, "[x] first"}));

        s.fixture->Advance(120000);
        s.Server()->SayInRoom("lobby", "x", "second");
        QTRY_COMPARE(RoomsSetup::Lines(m_lobby).last(), QString("[x] second"));
        const QString last = Now("MMM d h:mm:ss ap");
        s.fixture->Advance(299999);
        s.fixture->Tick();
        QCOMPARE(RoomsSetup::Lines(m_lobby).last(), QString("[x] second"));
        s.fixture->Advance(30000);
        s.fixture->Tick();
        QCOMPARE(RoomsSetup::Lines(m_lobby).last(), "* Chat ended " + last);
        s.fixture->Tick();
        QCOMPARE(RoomsSetup::Lines(m_lobby).filter("Chat ended").size(), 1);

        s.Server()->SayInRoom("lobby", "x", "again");
        QTRY_COMPARE(RoomsSetup::Lines(m_lobby).last(), QString("[x] again"));
        QCOMPARE(RoomsSetup::Lines(m_lobby).filter("Chat started").size(), 2);
        // Status lines are never logged.
        QCOMPARE(LogLines("lobby").size(), 4);
    }

    void perMessageStampsLeaveOutActivityStamps()
    {
        QVERIFY(InLobby());
        SetSetting("chat_timestamps", "per_message_long");
        s.Server()->SayInRoom("lobby", "x", "one");
        QTRY_COMPARE(RoomsSetup::Lines(m_lobby), QStringList{"[" + Now("MMM d h:mm:ss ap") + "][x] one"});
        s.fixture->Advance(400000);
        s.fixture->Tick();
        SetSetting("chat_timestamps", "no_timestamps");
        s.Server()->SayInRoom("lobby", "x", "two");
        QTRY_COMPARE(RoomsSetup::Lines(m_lobby).size(), 2);
        QCOMPARE(RoomsSetup::Lines(m_lobby).last(), QString("[x] two"));
    }

    void aReconnectionIsNotedAndJoinsTheSamePageAgain()
    {
        QVERIFY(InLobby());
        const QString at = Now("h:mm:ss");
        QVERIFY(s.Reconnect());
        QTRY_COMPARE(s.SentNames(14), (QStringList{"lobby", "lobby"}));
        QCOMPARE(RoomsSetup::Lines(m_lobby),
                 (QStringList{"* Disconnected at " + at + ".", "* Reconnected at " + at + "."}));
        QCOMPARE(s.Tabs()->count(), 1);
        QTRY_VERIFY(s.Server()->RoomUsers("lobby").contains("me"));
        s.Server()->SayInRoom("lobby", "x", "welcome back");
        QTRY_COMPARE(RoomsSetup::Lines(m_lobby).filter("welcome back").size(), 1);
    }

    void closingAPageLeavesTheRoomUnlessTheServerAlreadyTookIt()
    {
        QVERIFY(InLobby());
        s.Server()->AddRoom("cafe");
        RoomForm* cafe = s.Enter("cafe");
        QVERIFY(cafe);
        s.Server()->RemoveFromRoom("me", "cafe");
        QTRY_VERIFY(cafe->HasLeft());
        emit s.Tabs()->tabCloseRequested(s.Tabs()->indexOf(cafe));
        emit s.Tabs()->tabCloseRequested(s.Tabs()->indexOf(m_lobby));
        QCOMPARE(s.Tabs()->count(), 0);
        QTRY_COMPARE(s.SentNames(15), QStringList{"lobby"});
        QTRY_VERIFY(!s.RoomItem("lobby").IsConnected("in_room"));
    }

    void aLineTypedOutOfTheServerIsKeptAndSaidNotToBeSent()
    {
        QVERIFY(InLobby());
        QSignalSpy lost(s.fixture->net.client, &Server::Disconnected);
        s.Server()->Cut("me");
        QVERIFY(lost.wait(30000));
        QLineEdit* edit = RoomsSetup::Edit(m_lobby);
        edit->setText("anyone there?");
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(RoomsSetup::Lines(m_lobby).last(), QString("* Not sent: not connected to the server."));
        QCOMPARE(edit->text(), QString("anyone there?"));
        QVERIFY(LogLines("lobby").isEmpty());

        // Back on the server, the kept line goes out as typed.
        QSignalSpy back(s.fixture->net.client, &Server::Connected);
        s.fixture->Tick();
        QVERIFY(back.wait(30000));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(edit->text(), QString());
        QTRY_COMPARE(s.Server()->ReceivedMessages(13).size(), 1);
        QCOMPARE(s.Server()->ReceivedMessages(13).first().body, TestMessage().Str("lobby").Str("anyone there?").Body());
    }

    void aPageClosedOfflineLetsItsRoomOpenAgain()
    {
        QVERIFY(InLobby());
        QSignalSpy lost(s.fixture->net.client, &Server::Disconnected);
        s.Server()->Cut("me");
        QVERIFY(lost.wait(30000));
        emit s.Tabs()->tabCloseRequested(0);
        QVERIFY(!s.RoomItem("lobby").IsConnected("in_room"));

        QSignalSpy back(s.fixture->net.client, &Server::Connected);
        s.fixture->Tick();
        QVERIFY(back.wait(30000));
        QVERIFY(s.Enter("lobby"));
        QCOMPARE(s.SentNames(15), QStringList());
    }

    void aRoomWithTheAlertRaisesAnEventPerChatLine()
    {
        QVERIFY(InLobby());
        s.Server()->AddRoom("other");
        QVERIFY(s.Enter("other"));
        s.Tabs()->setCurrentIndex(1);
        d.GetType("event_sound")->GetItem("room_chat") += d.GetType("event_sound_file")->GetItem("/sounds/room.wav");

        s.Server()->SayInRoom("lobby", "x", "quiet");
        QTRY_VERIFY(RoomsSetup::Lines(m_lobby).contains("[x] quiet"));
        QCOMPARE(s.fixture->sounds, QStringList());

        s.RoomItem("lobby").NewItem("room_activity_alert");
        s.Server()->SayInRoom("lobby", "x", "/me shouts");
        s.Server()->SayInRoom("lobby", "x", "loud");
        QTRY_COMPARE(s.fixture->sounds, QStringList{"/sounds/room.wav"});
        QCOMPARE(s.Tabs()->tabBar()->tabTextColor(0), QColor(Qt::blue));
        QVERIFY(RoomsSetup::Lines(m_lobby).contains("* x shouts"));
    }

    void aLinkOpensWithTheDesktopAndTheFocusReturns()
    {
        QVERIFY(InLobby());
        QVERIFY(s.fixture->Focus(s.List()));
        emit RoomsSetup::View(m_lobby)->anchorClicked(QUrl("http://a.org/x"));
        QCOMPARE(s.fixture->OpenedUrls(), QList<QUrl>{QUrl("http://a.org/x")});
        QTRY_VERIFY(RoomsSetup::Edit(m_lobby)->hasFocus());
    }

    void theLogKeepsOneLinePerEntryWhateverTheNames()
    {
        s.Make();
        QVERIFY(s.Start());
        for (const QString& room : {QString("../up"), QString("a/b")}) {
            s.Server()->AddRoom(room, {"x"});
            QVERIFY(s.Enter(room));
            s.Server()->SayInRoom(room, "ev\nil", "one\r\n[Jan 1 1:00:00 am][admin] two");
        }
        const QString stamp = Now("MMM d h:mm:ss ap");
        const QString line = "[" + stamp + "][ev il] one  [Jan 1 1:00:00 am][admin] two";
        QTRY_COMPARE(LogLines("a/b"), QStringList{line});
        QTRY_COMPARE(LogLines("../up"), QStringList{line});
        QCOMPARE(QDir(ChatText::LogFolder(ChatText::Log::Room)).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"%2E.%2Fup.txt", "a%2Fb.txt"}));

        SetSetting("log_room_chat", "no");
        s.Server()->SayInRoom("a/b", "x", "unlogged");
        QTRY_VERIFY(RoomsSetup::Lines(s.rooms->FindRoomForm("a/b")).contains("[x] unlogged"));
        QCOMPARE(LogLines("a/b").size(), 1);
    }
};

QTEST_MAIN(TestRoomForm)
#include "TestRoomForm.moc"
