// A joined room's user list: flags, figures and note marks, rows and the
// room's count through joins, leaves and a re-join, the operators' and the
// owner's fonts, each column's order, and the clicks and the user menu.
#include <QSignalSpy>
#include <QStyledItemDelegate>

#include "RoomsSetup.h"
#include "common/PeerText.h"
#include "rooms/ChatForm.h"
#include "users/UserWindows.h"

namespace {

QImage Picture(const QIcon& icon)
{
    return icon.pixmap(16, 11).toImage();
}

void SetNote(const QString& user, const QString& note)
{
    ItemPtr item = d.GetType("user")->GetItem(user);
    if (note.isEmpty())
        item.Disconnect("user_note");
    else
        item += d.GetType("user_note")->GetItem(note);
}

} // namespace

class TestRoomUserList : public QObject
{
    Q_OBJECT

private:
    RoomsSetup s;

    int Count(const QString& room) { return s.RoomItem(room)["user_count"].AsInt(); }

private slots:
    void cleanup() { s.Stop(); }

    void rowsShowTheUsersAndFollowTheRoom()
    {
        s.Make();
        QVERIFY(s.Start());
        s.Server()->SetCountry("ann", "DE");
        s.Server()->SetUserStats("ann", 1536, 0, 1234567, 3);
        s.Server()->SetCountry("cy", "fr");
        s.Server()->SetUserStats("cy", 20480, 0, 12, 1);
        SetNote("bob", "owes me a tape");
        s.Server()->AddRoom("lobby", {"ann", "bob", "cy"});
        RoomForm* page = s.Enter("lobby");
        QVERIFY(page);
        QTRY_COMPARE(RoomsSetup::UserNames(page), (QStringList{"ann", "bob", "cy", "me"}));
        QTRY_COMPARE(Count("lobby"), 4);

        QTreeWidgetItem* ann = RoomsSetup::UserRow(page, "ann");
        QTreeWidgetItem* bob = RoomsSetup::UserRow(page, "bob");
        QCOMPARE(Picture(ann->icon(1)), Picture(QIcon(":/resources/flags/de.png")));
        QCOMPARE(Picture(RoomsSetup::UserRow(page, "cy")->icon(1)), Picture(QIcon(":/resources/flags/fr.png")));
        QCOMPARE(Picture(bob->icon(1)), Picture(QIcon(":/icons/cat_icon")));
        QCOMPARE((QStringList{ann->text(4), ann->text(5), bob->text(4), bob->text(5)}),
                 (QStringList{"1,234,567", "1.5", "", ""}));
        QVERIFY(ann->icon(3).isNull() && !bob->icon(3).isNull());
        SetNote("ann", "plays the oud");
        SetNote("bob", "");
        QVERIFY(!ann->icon(3).isNull() && bob->icon(3).isNull());

        s.Server()->UserJoinsRoom("dan", "lobby");
        QTRY_COMPARE(Count("lobby"), 5);
        s.Server()->UserLeavesRoom("bob", "lobby");
        QTRY_COMPARE(RoomsSetup::UserNames(page), (QStringList{"ann", "cy", "dan", "me"}));
        QTRY_COMPARE(Count("lobby"), 4);

        // A new speed shows once the user joins anew, here with everyone at
        // the re-join that follows a reconnection.
        s.Server()->SetUserStats("ann", 4096, 0, 1234567, 3);
        QVERIFY(s.Reconnect());
        QTRY_COMPARE(RoomsSetup::UserRow(page, "ann")->text(5), QString("4.0"));
        QCOMPARE(RoomsSetup::UserNames(page), (QStringList{"ann", "cy", "dan", "me"}));
        QTRY_COMPARE(Count("lobby"), 4);
    }

    void operatorsAreBoldAndTheOwnerUnderlined()
    {
        s.Make();
        QVERIFY(s.Start());
        s.Server()->AddRoom("club", {"olga", "otto", "pia"});
        s.Server()->SetPrivateRoom("club", "olga", {"me", "otto", "pia"}, {"otto"});
        RoomForm* page = s.Enter("club");
        QVERIFY(page);
        auto style = [page](const QString& user) {
            const QFont font = RoomsSetup::UserRow(page, user)->font(2);
            return QString(font.weight() == QFont::Bold ? "b" : "-") + (font.underline() ? "u" : "-");
        };
        // The owner is named after the users: the row follows.
        QTRY_COMPARE(style("olga"), QString("bu"));
        QCOMPARE(style("otto"), QString("b-"));
        QCOMPARE(style("pia"), QString("--"));

        auto change = [this](quint32 code, const QString& user) {
            s.Server()->Send("me", code, TestMessage().Str("club").Str(user).Body());
        };
        change(144, "otto");
        change(143, "pia");
        QTRY_COMPARE(style("pia"), QString("b-"));
        QCOMPARE(style("otto"), QString("--"));
        change(143, "olga");
        change(144, "olga");
        QTRY_COMPARE(style("olga"), QString("-u"));

        // Another room's operators change nothing here.
        s.Server()->AddRoom("den", {"pia"});
        s.Server()->SetPrivateRoom("den", "me", {"pia"}, {"pia"});
        QVERIFY(s.Enter("den"));
        s.Server()->Send("me", 144, TestMessage().Str("den").Str("pia").Body());
        QTRY_VERIFY(!s.RoomItem("den")["room_operators"].IsConnected(d.GetType("user")->GetItem("pia")));
        QCOMPARE(style("pia"), QString("b-"));
    }

    void eachColumnSortsItsOwnWay()
    {
        s.Make();
        QVERIFY(s.Start());
        // The columns order the four differently.
        s.Server()->SetCountry("Bea", "se");
        s.Server()->SetUserStats("Bea", 3000, 0, 5, 1);
        s.Server()->SetCountry("al", "AT");
        s.Server()->SetUserStats("al", 1000, 0, 900, 1);
        s.Server()->SetUserStats("cid", 9000, 0, 50, 1);
        s.Server()->SetCountry("me", "no");
        SetNote("cid", "note");
        s.Server()->AddRoom("lobby", {"Bea", "al", "cid"});
        RoomForm* page = s.Enter("lobby");
        QVERIFY(page);
        QTRY_COMPARE(RoomsSetup::UserNames(page).size(), 4);

        const QStringList byColumn[] = {{"al", "Bea", "cid", "me"}, {"cid", "al", "me", "Bea"},
                                        {"al", "Bea", "cid", "me"}, {},
                                        {"al", "cid", "Bea", "me"}, {"cid", "Bea", "al", "me"}};
        for (int column = 0; column < 6; ++column) {
            RoomsSetup::Users(page)->sortItems(column, Qt::AscendingOrder);
            if (column == 3)
                QCOMPARE(RoomsSetup::UserNames(page).first(), QString("cid"));
            else
                QCOMPARE(RoomsSetup::UserNames(page), byColumn[column]);
        }
        RoomsSetup::Users(page)->sortItems(4, Qt::DescendingOrder);
        QCOMPARE(RoomsSetup::UserNames(page), (QStringList{"me", "Bea", "cid", "al"}));
    }

    void aJoinWritesTheCountOnceAndNamesAreDrawnAsTheyAre()
    {
        s.Make();
        QVERIFY(s.Start());
        const QString tricky = QString("tab\tby") + QChar(0x202e) + "txt.exe";
        QStringList users{tricky};
        for (int i = 0; i < 300; ++i)
            users << QString("u%1").arg(i);
        s.Server()->AddRoom("crowd", users);
        const ItemPtr crowd = s.RoomItem("crowd");
        DataHandler watcher;
        int writes = 0;
        d.GetType("user_count")
            ->AddConnectedHandler(new FunctionHandler<ConnectionInfo&>(
                &watcher, [&](ConnectionInfo& c) { writes += c.item1 == crowd || c.item2 == crowd; }));

        RoomForm* page = s.Enter("crowd");
        QVERIFY(page);
        QTRY_COMPARE(Count("crowd"), 302);
        QCOMPARE(RoomsSetup::Users(page)->topLevelItemCount(), 302);
        // The room list's cell is written for the join, not for each user.
        QCOMPARE(writes, 1);

        // The row keeps the name as it came: found, sorted and acted on by
        // it; only the drawing shows its controls and isolates it.
        QTreeWidgetItem* row = RoomsSetup::UserRow(page, tricky);
        QVERIFY(row);
        QTreeWidget* list = RoomsSetup::Users(page);
        const QModelIndex index = list->model()->index(list->indexOfTopLevelItem(row), 2);
        auto* delegate = qobject_cast<QStyledItemDelegate*>(list->itemDelegate(index));
        QVERIFY(delegate);
        QCOMPARE(delegate->displayText(index.data(), QLocale()), PeerText::Line(tricky));
    }

    void clicksAndTheMenuActOnTheUserByName()
    {
        s.Make();
        QVERIFY(s.Start());
        SetNote("ann", "plays the oud");
        s.Server()->AddRoom("lobby", {"ann", "bob"});
        RoomForm* page = s.Enter("lobby");
        QVERIFY(page);
        QTRY_VERIFY(RoomsSetup::UserRow(page, "bob"));
        QTreeWidget* list = RoomsSetup::Users(page);
        QStringList notesOpened;
        g_userWindows.note = [&notesOpened](const QString& user) { notesOpened << user; };

        emit list->itemClicked(RoomsSetup::UserRow(page, "bob"), 3);
        emit list->itemClicked(RoomsSetup::UserRow(page, "ann"), 2);
        emit list->itemClicked(RoomsSetup::UserRow(page, "ann"), 3);
        QCOMPARE(notesOpened, QStringList{"ann"});

        emit list->itemDoubleClicked(RoomsSetup::UserRow(page, "bob"), 4);
        QCOMPARE(s.ChatTabs()->count(), 1);
        QCOMPARE(s.ChatTabs()->tabText(0), PeerText::Title("bob"));
        QTRY_COMPARE(s.fixture->tabs->currentWidget(), static_cast<QWidget*>(s.chats));

        // The user leaves while the menu is open; the entry still acts on
        // the name it was opened for.
        const QPoint bobAt = list->visualItemRect(RoomsSetup::UserRow(page, "bob")).center();
        const QStringList shown = ViewFixture::ChooseFromMenu(
            [&] { emit list->customContextMenuRequested(bobAt); }, "Ignore user",
            [&] {
                s.Server()->UserLeavesRoom("bob", "lobby");
                (void)QTest::qWaitFor([&] { return !RoomsSetup::UserRow(page, "bob"); }, FakePeerLink::DefaultWaitMs);
            });
        QVERIFY(shown.contains("Ignore user"));
        QVERIFY(!RoomsSetup::UserRow(page, "bob"));
        QVERIFY(d.GetType("user")->GetItem("bob").IsConnected("is_ignored"));

        const QPoint below(10, list->viewport()->height() - 2);
        QVERIFY(!list->itemAt(below));
        QCOMPARE(ViewFixture::ChooseFromMenu([&] { emit list->customContextMenuRequested(below); }, QString()),
                 QStringList());
    }
};

QTEST_MAIN(TestRoomUserList)
#include "TestRoomUserList.moc"
