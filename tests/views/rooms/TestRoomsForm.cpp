// The rooms page: the room list with counts, role fonts and tiers, joining
// from the list, one page per room whatever the server does, rooms entered
// at the first login, and the toolbar's actions on rooms.
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "DialogAnswerer.h"
#include "RoomsSetup.h"
#include "Settings.h"
#include "common/PeerText.h"
#include "rooms/CreateRoomDialog.h"
#include "rooms/RoomWallForm.h"

namespace {

// As a user does it: a view takes a double-click only after a press.
void DoubleClick(QTreeWidget* list, const QPoint& point)
{
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, point);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, point);
}

} // namespace

class TestRoomsForm : public QObject
{
    Q_OBJECT

private:
    RoomsSetup s;

    bool RefreshList(int rows)
    {
        if (!s.Trigger(s.List(), "Refresh Room List"))
            return false;
        (void)QTest::qWaitFor([&] { return s.List()->topLevelItemCount() >= rows; }, FakePeerLink::DefaultWaitMs);
        return s.List()->topLevelItemCount() == rows;
    }

    static QString Style(QTreeWidgetItem* row)
    {
        const QFont font = row->font(0);
        return QString("%1%2%3").arg(font.italic() ? "i" : "-", font.underline() ? "u" : "-",
                                     font.weight() == QFont::Bold ? "b" : "-");
    }

private slots:
    void cleanup() { s.Stop(); }

    void theListShowsCountsRolesAndTiers()
    {
        s.Make();
        QVERIFY(s.Start());
        TestServer* server = s.Server();
        server->AddRoom("alpha2", {"x", "y"});
        server->AddRoom("empty");
        server->AddRoom("beta", {"z"});
        server->SetPrivateRoom("beta", "me", {}, {});
        server->AddRoom("Alpha", {"z", "w", "v"});
        server->SetPrivateRoom("Alpha", "z", {"me"}, {});
        server->AddRoom("Ops");
        server->SetPrivateRoom("Ops", "z", {"me"}, {"me"});
        QVERIFY(RefreshList(5));

        QCOMPARE(s.Row("alpha2")->text(1), QString("2"));
        QCOMPARE(s.Row("Alpha")->text(1), QString("3"));
        QCOMPARE(s.Row("empty")->text(1), QString());
        QCOMPARE(Style(s.Row("beta")), QString("iub"));
        QCOMPARE(Style(s.Row("Ops")), QString("i-b"));
        QCOMPARE(Style(s.Row("Alpha")), QString("i--"));
        QCOMPARE(Style(s.Row("alpha2")), QString("---"));
        QTRY_COMPARE(s.RowNames(), (QStringList{"beta", "Ops", "Alpha", "alpha2", "empty"}));
        s.List()->sortItems(0, Qt::DescendingOrder);
        QCOMPARE(s.RowNames(), (QStringList{"empty", "alpha2", "Alpha", "Ops", "beta"}));
        s.List()->sortItems(1, Qt::AscendingOrder);
        QCOMPARE(s.RowNames().mid(2), (QStringList{"beta", "alpha2", "Alpha"}));

        // The owner gives the room up but stays a member: a member row now.
        s.List()->sortItems(0, Qt::AscendingOrder);
        s.RoomItem("beta").NewItem("is_member");
        s.RoomItem("beta").Disconnect("is_owner");
        QCOMPARE(Style(s.Row("beta")), QString("i--"));
        QCOMPARE(s.RowNames(), (QStringList{"Ops", "Alpha", "beta", "alpha2", "empty"}));
        s.RoomItem("Ops").Disconnect("is_operator");
        QCOMPARE(Style(s.Row("Ops")), QString("i--"));

        // A count that falls to nothing shows nothing and sorts as 0.
        s.RoomItem("alpha2") += d.GetType("user_count")->GetItem("0");
        QCOMPARE(s.Row("alpha2")->text(1), QString());
        s.List()->sortItems(1, Qt::DescendingOrder);
        QCOMPARE(s.RowNames().first(), QString("Alpha"));
    }

    void roomsKnownBeforeTheListAreListedOnce()
    {
        // A room of the data file (an auto-joined one) is there before Init.
        s.Make([&] { s.RoomItem("saved").NewItem("room_autojoin"); });
        QCOMPARE(s.RowNames(), QStringList{"saved"});
        QVERIFY(s.Start());
        s.Server()->AddRoom("saved", {"a"});
        QTRY_VERIFY(s.rooms->FindRoomForm("saved"));
        QVERIFY(RefreshList(1));
        QTRY_COMPARE(s.Row("saved")->text(1), QString("2"));
    }

    void joiningFromTheListOpensOnePagePerRoom()
    {
        s.Make();
        QVERIFY(s.Start());
        s.Server()->AddRoom("lobby", {"x"});
        s.Server()->AddRoom("R&D");
        QVERIFY(RefreshList(2));

        // A double-click on the count does nothing; on the name it joins.
        QTreeWidget* list = s.List();
        const QRect lobby = list->visualItemRect(s.Row("lobby"));
        const int usersX = list->header()->sectionViewportPosition(1) + 5;
        DoubleClick(list, QPoint(usersX, lobby.center().y()));
        const QRect rnd = list->visualItemRect(s.Row("R&D"));
        DoubleClick(list, QPoint(5, rnd.center().y()));
        QTRY_VERIFY(s.rooms->FindRoomForm("R&D"));
        QCOMPARE(s.SentNames(14), QStringList{"R&D"});
        QCOMPARE(s.Tabs()->tabText(0), PeerText::Title("R&D"));

        // The row's menu enters the selected room; the empty part has none.
        list->setCurrentItem(s.Row("lobby"));
        const QStringList entries =
            ViewFixture::ChooseFromMenu([&] { emit list->customContextMenuRequested(lobby.center()); }, "Enter Room");
        QCOMPARE(entries, QStringList{"Enter Room"});
        QTRY_VERIFY(s.rooms->FindRoomForm("lobby"));
        QCOMPARE(s.Tabs()->count(), 2);
        QCOMPARE(s.Tabs()->currentIndex(), 0);
        const QPoint below(5, list->viewport()->height() - 2);
        QVERIFY(!list->itemAt(below));
        QCOMPARE(ViewFixture::ChooseFromMenu([&] { emit list->customContextMenuRequested(below); }, "Enter Room"),
                 QStringList());
    }

    void aLargeListIsOrderedAndTakesNoStoreItemPerRow()
    {
        s.Make();
        QVERIFY(s.Start());
        const int rooms = 3000;
        QStringList names;
        for (int i = 0; i < rooms; ++i) {
            names << QString("%1 %2").arg(i % 2 ? "room" : "Hall").arg((i * 7919) % rooms);
            QStringList users;
            for (int u = 0; u < i % 13; ++u)
                users << QString("u%1").arg(u);
            s.Server()->AddRoom(names.last(), users);
        }
        s.Server()->AddRoom("club");
        s.Server()->SetPrivateRoom("club", "z", {"me"}, {});
        s.Server()->AddRoom("Mine");
        s.Server()->SetPrivateRoom("Mine", "me", {}, {});
        const size_t itemsBefore = d.ItemCount();
        QVERIFY(RefreshList(rooms + 2));
        // A room item each, and counts and markers shared among them:
        // nothing per row.
        QVERIFY(d.ItemCount() - itemsBefore <= size_t(rooms + 2 + 13 + 20));

        // By name: the owned room, the member room, then all others
        // ignoring case.
        QStringList expected = names;
        std::sort(expected.begin(), expected.end(),
                  [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        QCOMPARE(s.RowNames(), QStringList({"Mine", "club"}) + expected);
        s.List()->sortItems(1, Qt::DescendingOrder);
        QCOMPARE(s.List()->topLevelItem(0)->text(1), QString("12"));
        QCOMPARE(s.List()->topLevelItem(rooms + 1)->text(1), QString());
        // Sorted by count, a changed count takes its place.
        s.RoomItem(expected.first()) += d.GetType("user_count")->GetItem("999");
        QCOMPARE(s.Row(expected.first())->text(1), QString("999"));
        QTRY_COMPARE(s.RowNames().first(), expected.first());
        // A changed role moves its row alone.
        s.List()->sortItems(0, Qt::AscendingOrder);
        s.RoomItem(expected.last()).NewItem("is_operator");
        QCOMPARE(s.RowNames().mid(0, 3), (QStringList{"Mine", expected.last(), "club"}));
    }

    void savedRoomsOpenTheirPagesWithTheirUsersAndFirstLines()
    {
        s.Make();
        for (int i = 0; i < 40; ++i) {
            s.RoomItem(QString("saved %1").arg(i)).NewItem("room_autojoin");
            s.Server()->AddRoom(QString("saved %1").arg(i), {QString("u%1").arg(i)});
        }
        QVERIFY(s.Start());
        QTRY_COMPARE(s.Tabs()->count(), 40);
        // Pages made after their rooms were entered list the users the
        // server named and show the lines that came before them.
        RoomForm* last = s.rooms->FindRoomForm("saved 39");
        QVERIFY(last);
        QTRY_COMPARE(RoomsSetup::UserNames(last), (QStringList{"me", "u39"}));
        QCOMPARE(s.Tabs()->tabText(39), PeerText::Title("saved 39"));

        // Entered and at once greeted in the same burst: the greeting waits
        // for the page.
        QByteArray burst =
            TestMessage::Frame(14, TestMessage().Str("burst").U32(1).Str("x").Stats(0, 0, 0, 0).Str("").Body());
        burst += TestMessage::Frame(13, TestMessage().Str("burst").Str("x").Str("first!").Body());
        QVERIFY(s.Server()->SendRaw("me", burst));
        QTRY_VERIFY(s.rooms->FindRoomForm("burst"));
        QCOMPARE(RoomsSetup::Lines(s.rooms->FindRoomForm("burst")).filter("first!").size(), 1);
    }

    void aRoomTakenAwayAndEnteredAgainKeepsItsOnePage()
    {
        s.Make();
        QVERIFY(s.Start());
        s.Server()->AddRoom("lobby");
        RoomForm* page = s.Enter("lobby");
        QVERIFY(page);
        s.Server()->RemoveFromRoom("me", "lobby");
        QTRY_VERIFY(page->HasLeft());
        QCOMPARE(s.rooms->FindRoomForm("lobby"), page);

        s.fixture->net.client->EnterRoom("lobby", false);
        QTRY_VERIFY(!page->HasLeft());
        QCOMPARE(s.Tabs()->count(), 1);
        s.Server()->SayInRoom("lobby", "x", "once");
        QTRY_COMPARE(s.Lines(page).filter("[x] once").size(), 1);

        // Entered again, the page leaves the room again when it is closed.
        emit s.Tabs()->tabCloseRequested(0);
        QVERIFY(!s.rooms->FindRoomForm("lobby"));
        QTRY_COMPARE(s.SentNames(15), QStringList{"lobby"});
    }

    void markedRoomsAreEnteredAtTheFirstLoginOnly()
    {
        s.Make();
        s.RoomItem("lobby").NewItem("room_autojoin");
        s.RoomItem("cafe").NewItem("room_autojoin");
        s.RoomItem("elsewhere");
        QVERIFY(s.Start());
        QTRY_VERIFY(s.rooms->FindRoomForm("lobby") && s.rooms->FindRoomForm("cafe"));
        QCOMPARE(s.SentNames(14), (QStringList{"lobby", "cafe"}));

        // After a reconnection only the pages still open enter again.
        emit s.Tabs()->tabCloseRequested(s.Tabs()->indexOf(s.rooms->FindRoomForm("cafe")));
        QTRY_COMPARE(s.SentNames(15), QStringList{"cafe"});
        QSignalSpy lost(s.fixture->net.client, &Server::Disconnected);
        s.Server()->Cut("me");
        QVERIFY(lost.wait(30000));
        QSignalSpy back(s.fixture->net.client, &Server::Connected);
        s.fixture->Tick();
        QVERIFY(back.wait(30000));
        QTRY_COMPARE(s.SentNames(14), (QStringList{"lobby", "cafe", "lobby"}));
        QCOMPARE(s.Tabs()->count(), 1);
    }

    void aRoomPageKeepsItsActionsInStepWithTheRoom()
    {
        s.Make();
        QVERIFY(s.Start());
        s.Server()->AddRoom("lobby");
        RoomForm* page = s.Enter("lobby");
        QVERIFY(page);
        QVERIFY(s.Trigger(RoomsSetup::Edit(page), "Auto-Join [off]"));
        QVERIFY(s.RoomItem("lobby").IsConnected("room_autojoin"));
        QVERIFY(s.Trigger(RoomsSetup::Edit(page), "Auto-Join [on]"));
        QVERIFY(!s.RoomItem("lobby").IsConnected("room_autojoin"));
        QVERIFY(s.fixture->ToolbarAction("Auto-Join [off]"));

        QVERIFY(s.Trigger(RoomsSetup::Edit(page), "Activity Alert [off]"));
        QVERIFY(s.RoomItem("lobby").IsConnected("room_activity_alert"));
        s.RoomItem("lobby").Disconnect("room_activity_alert");
        QVERIFY(s.fixture->ToolbarAction("Activity Alert [off]"));

        // A public room has nothing to give up.
        QVERIFY(s.fixture->ToolbarAction("Chat Log"));
        QVERIFY(s.fixture->ToolbarAction("Room Wall"));
        QVERIFY(!s.fixture->ToolbarAction("Give Up Membership"));
        QVERIFY(!s.fixture->ToolbarAction("Give Up Room"));

        // The list has its own set, whose actions need no room.
        QVERIFY(s.fixture->Focus(s.List()));
        QVERIFY(s.fixture->ToolbarAction("Create Room"));
        QVERIFY(!s.fixture->ToolbarAction("Auto-Join [off]"));
    }

    void givingUpARoomAsksFirst()
    {
        s.Make();
        QVERIFY(s.Start());
        s.Server()->AddRoom("club");
        s.Server()->SetPrivateRoom("club", "z", {"me"}, {});
        s.Server()->AddRoom("mine");
        s.Server()->SetPrivateRoom("mine", "me", {}, {});
        RoomForm* club = s.Enter("club");
        RoomForm* mine = s.Enter("mine");
        QVERIFY(club && mine);
        QTRY_VERIFY(s.RoomItem("club").IsConnected("is_member") && s.RoomItem("mine").IsConnected("is_owner"));

        // The pages were made before the server named the roles; a page
        // made now shows only what applies.
        emit s.Tabs()->tabCloseRequested(s.Tabs()->indexOf(club));
        emit s.Tabs()->tabCloseRequested(s.Tabs()->indexOf(mine));
        QTRY_COMPARE(s.SentNames(15).size(), 2);
        club = s.Enter("club");
        mine = s.Enter("mine");
        QVERIFY(club && mine);
        QVERIFY(s.fixture->Focus(RoomsSetup::Edit(mine)));
        QVERIFY(!s.fixture->ToolbarAction("Give Up Membership"));
        QVERIFY(s.fixture->ToolbarAction("Give Up Room"));

        DialogAnswerer answers;
        answers.Then(DialogAnswerer::Press(QMessageBox::No))
            .Then(DialogAnswerer::Press(QMessageBox::Yes))
            .Then(DialogAnswerer::Press(QMessageBox::Yes))
            .Then(DialogAnswerer::Press(QMessageBox::No))
            .Then(DialogAnswerer::Press(QMessageBox::Yes))
            .Then(DialogAnswerer::Press(QMessageBox::Yes));
        QVERIFY(s.Trigger(RoomsSetup::Edit(club), "Give Up Membership"));
        QVERIFY(!s.fixture->ToolbarAction("Give Up Room"));
        QVERIFY(s.Trigger(RoomsSetup::Edit(club), "Give Up Membership"));
        QTRY_COMPARE(s.SentNames(136), QStringList{"club"});
        QCOMPARE(answers.Texts().first(),
                 QString("Are you sure you want to give up your membership to the club private room?"));

        // Membership of an owned room is not given up that way.
        QVERIFY(s.fixture->Focus(RoomsSetup::Edit(mine)));
        s.rooms->OnToolBarActionTriggered(mine, "give_up_membership");
        QCOMPARE(answers.Titles().size(), 2);

        QVERIFY(s.Trigger(RoomsSetup::Edit(mine), "Give Up Room"));
        QVERIFY(s.Trigger(RoomsSetup::Edit(mine), "Give Up Room"));
        QTRY_COMPARE(s.SentNames(137), QStringList{"mine"});
        QTRY_COMPARE(s.SentNames(15).mid(2), QStringList{"mine"});
        QCOMPARE(answers.Titles().mid(2),
                 (QStringList{"Give up membership?", "REALLY?", "Give up membership?", "REALLY?"}));
        QCOMPARE(answers.Texts().at(2),
                 QString("Are you SURE you want to give up your ownership of the mine private room?"));
        QCOMPARE(s.Server()->Count(136), 1);
    }

    void aRoomsNameInAQuestionIsPlainText()
    {
        s.Make();
        QVERIFY(s.Start());
        const QString name = "<img src=\"file:///etc/hostname\">den";
        s.Server()->AddRoom(name);
        s.Server()->SetPrivateRoom(name, "z", {"me"}, {});
        RoomForm* page = s.Enter(name);
        QVERIFY(page);
        QTRY_VERIFY(s.RoomItem(name).IsConnected("is_member"));
        QVERIFY(s.fixture->Focus(RoomsSetup::Edit(page)));

        Qt::TextFormat format = Qt::AutoText;
        DialogAnswerer answers;
        answers.Then([&format](QWidget* dialog) {
            if (auto* box = qobject_cast<QMessageBox*>(dialog))
                format = box->textFormat();
            DialogAnswerer::Press(QMessageBox::No)(dialog);
        });
        s.rooms->OnToolBarActionTriggered(page, "give_up_membership");
        QCOMPARE(answers.Texts(),
                 QStringList{"Are you sure you want to give up your membership to the " + name + " private room?"});
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(s.Tabs()->tabText(0), PeerText::Title(name));
    }

    void invitationsFollowTheServersAnswer()
    {
        s.Make();
        SetSetting("enable_private_room_add", "yes");
        QVERIFY(s.Start());
        QCOMPARE(GetSetting("enable_private_room_add"), QString("no"));

        QVERIFY(s.Trigger(s.List(), "Accept Private Room Invitations"));
        QTRY_COMPARE(GetSetting("enable_private_room_add"), QString("yes"));
        QVERIFY(s.fixture->ToolbarAction("Reject Private Room Invitations"));
        QVERIFY(s.Trigger(s.List(), "Reject Private Room Invitations"));
        QTRY_COMPARE(GetSetting("enable_private_room_add"), QString("no"));
        QVERIFY(s.fixture->ToolbarAction("Accept Private Room Invitations"));
        const QList<TestServer::Received> sent = s.Server()->ReceivedMessages(141);
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(0).body, QByteArray(1, '\1'));
        QCOMPARE(sent.at(1).body, QByteArray(1, '\0'));
    }

    void anOwnedRoomsPageAndRowFollowItsRolesToItsEnd()
    {
        s.Make();
        QVERIFY(s.Start());
        s.Server()->AddRoom("mine", {"ann"});
        s.Server()->SetPrivateRoom("mine", "me", {}, {});
        RoomForm* page = s.Enter("mine");
        QVERIFY(page);
        QTRY_COMPARE(RoomsSetup::UserNames(page), (QStringList{"ann", "me"}));
        // The page was made before the server named the owner.
        QTRY_VERIFY(s.RoomItem("mine").IsConnected("is_owner"));
        QVERIFY(s.fixture->Focus(RoomsSetup::Edit(page)));
        QVERIFY(s.fixture->ToolbarAction("Give Up Room"));
        QVERIFY(!s.fixture->ToolbarAction("Give Up Membership"));
        QCOMPARE(Style(s.Row("mine")), QString("iub"));

        // The list names the owner without membership; the row stays an
        // owner's.
        s.Server()->AddRoom("other");
        QVERIFY(RefreshList(2));
        QCOMPARE(Style(s.Row("mine")), QString("iub"));
        QCOMPARE(s.RowNames().first(), QString("mine"));

        // Given up and left: the page says so, lists nobody and sends
        // nothing more.
        DialogAnswerer answers;
        answers.Then(DialogAnswerer::Press(QMessageBox::Yes)).Then(DialogAnswerer::Press(QMessageBox::Yes));
        QVERIFY(s.Trigger(RoomsSetup::Edit(page), "Give Up Room"));
        QTRY_VERIFY(page->HasLeft());
        QVERIFY(RoomsSetup::UserNames(page).isEmpty());
        QVERIFY(RoomsSetup::Lines(page).last().contains("You left the room"));
        QLineEdit* edit = RoomsSetup::Edit(page);
        QVERIFY(!edit->isEnabled());
        edit->setText("anyone there?");
        page->OnEnterPressed();
        QVERIFY(s.Server()->ReceivedMessages(13).isEmpty());
        // A reconnection does not take the user back into it.
        const int joins = s.Server()->Count(14);
        QVERIFY(s.Reconnect());
        QTRY_VERIFY(RoomsSetup::Lines(page).last().contains("Reconnected at"));
        QCOMPARE(s.Server()->Count(14), joins);

        // Put out of a room and entered again, a page takes lines again.
        RoomForm* other = s.Enter("other");
        QVERIFY(other);
        s.Server()->RemoveFromRoom("me", "other");
        QTRY_VERIFY(other->HasLeft());
        QVERIFY(!RoomsSetup::Edit(other)->isEnabled());
        s.fixture->net.client->EnterRoom("other", false);
        QTRY_VERIFY(!other->HasLeft());
        QVERIFY(RoomsSetup::Edit(other)->isEnabled());
        QTRY_COMPARE(RoomsSetup::UserNames(other), QStringList{"me"});
    }

    void namesAreDrawnAsTheyAreAndKeptAsTheyCame()
    {
        s.Make();
        QVERIFY(s.Start());
        const QString night = "late night & co";
        const QString tricky = QString("bell\a") + QChar(0x202e) + "gnp.exe";
        s.Server()->AddRoom(night);
        s.Server()->AddRoom(tricky);
        QVERIFY(RefreshList(2));
        // The row keeps the real name, by which it sorts and is acted on;
        // only what is drawn changes.
        QTreeWidgetItem* row = s.Row(tricky);
        QVERIFY(row);
        const QModelIndex index = s.List()->model()->index(s.List()->indexOfTopLevelItem(row), 0);
        auto* delegate = qobject_cast<QStyledItemDelegate*>(s.List()->itemDelegate(index));
        QVERIFY(delegate);
        QCOMPARE(delegate->displayText(index.data(), QLocale()), PeerText::Line(tricky));

        RoomForm* page = s.Enter(night);
        QVERIFY(page);
        QCOMPARE(s.Tabs()->tabText(s.Tabs()->indexOf(page)), PeerText::Title(night));
        QVERIFY(s.Trigger(RoomsSetup::Edit(page), "Room Wall"));
        QWidget* wall = s.Tabs()->currentWidget();
        QVERIFY(qobject_cast<RoomWallForm*>(wall));
        QCOMPARE(s.Tabs()->tabText(s.Tabs()->indexOf(wall)), PeerText::Title(night));
        QCOMPARE(s.SentNames(14), QStringList{night});
    }

    void wallsAndTheCreateDialogOpenOnceEach()
    {
        s.Make();
        QVERIFY(s.Start());
        s.Server()->AddRoom("lobby");
        RoomForm* page = s.Enter("lobby");
        QVERIFY(page);
        QVERIFY(s.Trigger(RoomsSetup::Edit(page), "Room Wall"));
        QCOMPARE(s.Tabs()->count(), 2);
        auto* wall = qobject_cast<RoomWallForm*>(s.Tabs()->widget(1));
        QVERIFY(wall);
        QCOMPARE(s.Tabs()->currentWidget(), wall);
        QCOMPARE(s.Tabs()->tabText(1), PeerText::Title("lobby"));
        s.Tabs()->setCurrentIndex(0);
        QVERIFY(s.Trigger(RoomsSetup::Edit(page), "Room Wall"));
        QCOMPARE(s.Tabs()->count(), 2);
        QCOMPARE(s.Tabs()->currentWidget(), wall);

        // Closed, it is forgotten, and the next wall is a new one.
        emit s.Tabs()->tabCloseRequested(1);
        QVERIFY(!s.RoomItem("lobby").IsConnected("room_wall_form"));
        QVERIFY(s.Trigger(RoomsSetup::Edit(page), "Room Wall"));
        QCOMPARE(s.Tabs()->count(), 2);

        QVERIFY(s.Trigger(s.List(), "Create Room"));
        QPointer<CreateRoomDialog> dialog = createRoomDialog;
        QVERIFY(dialog && dialog->isVisible());
        dialog->close();
        QVERIFY(s.Trigger(s.List(), "Create Room"));
        QCOMPARE(createRoomDialog, dialog.data());
        QVERIFY(dialog->isVisible());
        delete dialog;
        QCOMPARE(createRoomDialog, nullptr);
    }
};

QTEST_MAIN(TestRoomsForm)
#include "TestRoomsForm.moc"
