// The users page: its four lists as the store and the server change them,
// the order of the user list under many status changes, and the toolbar's
// actions.
#include <QApplication>
#include <QRandomGenerator>
#include <QTabWidget>

#include "EventToolBar.h"
#include "Settings.h"
#include "SliceTrace.h"
#include "SlicedJob.h"
#include "TabWidget.h"
#include "UsersSetup.h"
#include "common/PeerText.h"
#include "rooms/ChatForm.h"
#include "rooms/ChatsForm.h"
#include "rooms/MessageUsersDialog.h"
#include "users/AddUserDialog.h"
#include "users/UserGroupConfigDialog.h"
#include "users/UserGroupsDialog.h"
#include "users/UserInfoForm.h"

class TestUserListForm : public QObject
{
    Q_OBJECT

private:
    UsersSetup s;

private slots:
    void cleanup() { s.Stop(); }

    void aLoginAsksForTheListedUsersFiguresAFewHundredATurn()
    {
        QStringList listed;
        for (int n = 0; n < 1000; ++n)
            listed << QString("user %1").arg(n, 4, 10, QChar('0'));
        s.Make([&] {
            for (const QString& user : listed)
                UsersSetup::Listed(user);
        });
        QVERIFY(s.Start());
        QTRY_COMPARE(s.SentNames(36), listed);

        // The next login's: 200 a turn whatever the turn's budget, every
        // one once.
        s.Server()->ClearReceived();
        s.page->OnConnected();
        const QList<int> steps = SliceTrace::StepsUntilDone(s.page->StatsJob());
        QCOMPARE(steps, QList<int>({200, 200, 200, 200, 200}));
        QTRY_COMPARE(s.SentNames(36), listed);
    }

    void theListsShowWhatTheStoreAndTheServerSay()
    {
        s.Make([] {
            UsersSetup::Listed("bob", {"friends", "Band"});
            UsersSetup::Listed("Carol");
            UsersSetup::Listed("alice");
            UsersSetup::Listed("dave");
            UsersSetup::User("Carol") += d.GetType("user_note")->GetItem("  gig on friday\nbring cables  ");
            UsersSetup::User("erin").NewItem("unshared");
            UsersSetup::User("erin") += d.GetType("user_note")->GetItem("owes me\na CD");
            UsersSetup::User("frank").NewItem("is_ignored");
            UsersSetup::User("gina").NewItem("user_online_alert");
        });
        for (const char* user : {"bob", "Carol", "alice", "dave", "gina", "hugo"})
            s.Server()->AddKnownUser(user);
        s.Server()->SetUserStats("bob", 153600, 0, 12345, 10);
        d.GetType("event_sound")->GetItem("user_online") += d.GetType("event_sound_file")->GetItem("/s/online.wav");
        QVERIFY(s.Start());

        QCOMPARE(s.Column("userList"), (QStringList{"alice", "bob", "Carol", "dave"}));
        QCOMPARE(s.Row("userList", "bob")->text(3), QString("Band, friends"));
        QCOMPARE(s.Row("userList", "Carol")->text(4), QString("gig on friday ..."));
        QVERIFY(UsersSetup::ShowsIcon(s.Row("userList", "Carol"), 4, ":/icons/note_icon"));
        QVERIFY(UsersSetup::ShowsIcon(s.Row("userList", "alice"), 0, ":/icons/offline_icon"));
        QCOMPARE(s.Row("unsharedList", "erin")->text(1), QString("owes me\na CD"));
        QCOMPARE(s.Column("ignoredList"), QStringList{"frank"});
        QCOMPARE(s.Column("onlineAlertList"), QStringList{"gina"});
        // Every login asks again for the figures of every listed user.
        QTRY_COMPARE(s.SentNames(36), (QStringList{"Carol", "alice", "bob", "dave"}));
        QTRY_COMPARE(s.Row("userList", "bob")->text(1), QString("12,345"));
        QCOMPARE(s.Row("userList", "bob")->text(2), QString("150.0"));

        // Users coming online move up; an alerted one raises its event.
        QVERIFY(s.fixture->net.AddPeer("dave"));
        QVERIFY(s.fixture->net.AddPeer("bob"));
        QVERIFY(s.fixture->net.AddPeer("gina"));
        QTRY_COMPARE(s.Column("userList"), (QStringList{"bob", "dave", "alice", "Carol"}));
        QVERIFY(UsersSetup::ShowsIcon(s.Row("userList", "bob"), 0, ":/icons/online_icon"));
        QTRY_VERIFY(UsersSetup::ShowsIcon(s.Row("onlineAlertList", "gina"), 0, ":/icons/online_icon"));
        QCOMPARE(s.fixture->sounds, QStringList{"/s/online.wav"});
        s.Server()->Cut("dave");
        QTRY_COMPARE(s.Column("userList"), (QStringList{"bob", "alice", "Carol", "dave"}));

        // A user added while online is placed among the online users, with
        // the alert raised at once, and the server is asked for the figures.
        QVERIFY(s.fixture->net.AddPeer("hugo"));
        // As the per-user menu sets an alert.
        UsersSetup::User("hugo").NewItem("user_online_alert");
        s.fixture->net.client->TrackUser("hugo");
        QTRY_VERIFY(UsersSetup::User("hugo").IsConnected("is_online"));
        UsersSetup::Listed("hugo");
        QCOMPARE(s.Column("userList"), (QStringList{"bob", "hugo", "alice", "Carol", "dave"}));
        QCOMPARE(s.fixture->sounds.size(), 3);
        QTRY_COMPARE(s.SentNames(36), (QStringList{"Carol", "alice", "bob", "dave", "hugo"}));

        // Notes, groups and the markers follow the store both ways.
        UsersSetup::User("alice") += d.GetType("user_note")->GetItem("one line");
        QCOMPARE(s.Row("userList", "alice")->text(4), QString("one line"));
        UsersSetup::User("alice").Disconnect("user_note");
        QCOMPARE(s.Row("userList", "alice")->text(4), QString());
        QVERIFY(s.Row("userList", "alice")->icon(4).isNull());
        UsersSetup::User("bob")["in_user_list"].Disconnect(UsersSetup::Group("friends"));
        QCOMPARE(s.Row("userList", "bob")->text(3), QString("Band"));
        UsersSetup::Group("Band").Remove();
        QCOMPARE(s.Row("userList", "bob")->text(3), QString());
        UsersSetup::User("dave").NewItem("is_ignored");
        UsersSetup::User("erin").Disconnect("unshared");
        UsersSetup::User("gina").Disconnect("user_online_alert");
        UsersSetup::User("Carol").Disconnect("in_user_list");
        QCOMPARE(s.Column("ignoredList"), (QStringList{"dave", "frank"}));
        QCOMPARE(s.Column("unsharedList"), QStringList());
        QCOMPARE(s.Column("onlineAlertList"), QStringList{"hugo"});
        QCOMPARE(s.Column("userList"), (QStringList{"bob", "hugo", "alice", "dave"}));
    }

    void aLongListAsksForEveryUsersFiguresOnceAtLogin()
    {
        QStringList names;
        s.Make([&] {
            for (int i = 0; i < 1100; ++i) {
                names << QString("listed%1").arg(i, 4, 10, QChar('0'));
                UsersSetup::Listed(names.last());
            }
        });
        QVERIFY(s.Start());
        // Asked over several turns, each name once.
        QTRY_COMPARE(s.SentNames(36).size(), names.size());
        QCOMPARE(s.SentNames(36), names);
    }

    void manyStatusChangesKeepTheOrderOfAFullSort()
    {
        QStringList names;
        s.Make([&] {
            for (int i = 0; i < 300; ++i) {
                names << QString(i % 2 ? "User%1" : "user%1").arg(i, 3, 10, QChar('0'));
                UsersSetup::Listed(names.last());
            }
        });
        QVERIFY(s.Start());
        QTreeWidget* list = s.List("userList");
        list->setCurrentItem(s.Row("userList", "user100"));

        QRandomGenerator random(20);
        QSet<QString> online;
        for (int change = 0; change < 2000; ++change) {
            const QString name = names.at(random.bounded(names.size()));
            // As the server connection stores a status report.
            if (!online.remove(name)) {
                online.insert(name);
                UsersSetup::User(name).NewItem("is_online");
            } else {
                UsersSetup::User(name).Disconnect("is_online");
            }
        }
        QStringList expected = names;
        std::sort(expected.begin(), expected.end(), [&](const QString& a, const QString& b) {
            if (online.contains(a) != online.contains(b))
                return online.contains(a);
            return a.compare(b, Qt::CaseInsensitive) < 0;
        });
        QCOMPARE(s.Column("userList"), expected);
        // The row the user had chosen is still the chosen one.
        QCOMPARE(list->currentItem(), s.Row("userList", "user100"));
        QCOMPARE(list->selectedItems(), QList<QTreeWidgetItem*>{list->currentItem()});
    }

    void rowsOfferTheUserMenuAndOpenAChat()
    {
        s.Make([] {
            UsersSetup::Listed("bob");
            UsersSetup::User("eve").NewItem("is_ignored");
        });
        auto* chats = new ChatsForm;
        s.fixture->AddPage(chats, "Chat");
        chats->Init();
        QVERIFY(s.Start());
        SetSetting("open_groups_on_user_add", "yes");
        auto menuAt = [&](const char* list, const QString& user, const QString& choice) {
            QTreeWidget* tree = s.List(list);
            const QPoint at = user.isEmpty() ? QPoint(5, tree->viewport()->height() - 2)
                                             : tree->visualItemRect(s.Row(list, user)).center();
            return ViewFixture::ChooseFromMenu([&] { emit tree->customContextMenuRequested(at); }, choice);
        };
        auto groupDialogs = [] {
            int count = 0;
            for (QWidget* window : QApplication::topLevelWidgets())
                count += qobject_cast<UserGroupsDialog*>(window) && window->isVisible();
            return count;
        };

        QVERIFY(menuAt("userList", "bob", "Get User Info").contains("Set user's groups"));
        auto* info = s.page->findChild<UserInfoForm*>();
        QVERIFY(info && info->isVisible() && info->User() == "bob");
        menuAt("userList", "bob", "Set user's groups");
        QCOMPARE(groupDialogs(), 1);
        // Added from the ignored list, the user's groups follow at once.
        menuAt("ignoredList", "eve", "Add user to list");
        QVERIFY(s.Row("userList", "eve"));
        QCOMPARE(groupDialogs(), 2);
        QCOMPARE(menuAt("userList", "", "Get User Info"), QStringList());

        QTreeWidget* list = s.List("userList");
        const QPoint bob = list->visualItemRect(s.Row("userList", "bob")).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, bob);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, bob);
        QTabWidget* chatTabs = chats->findChild<QTabWidget*>("chatTabControl");
        QCOMPARE(chatTabs->count(), 1);
        QCOMPARE(chatTabs->tabText(0), PeerText::Title("bob"));
    }

    void namesAreShownAsTextAndActedOnAsThemselves()
    {
        // A tab in a name once moved the text after it, and an override
        // reversed the name and everything after it.
        const QString name = QString("r&b") + QChar(0x202e) + "gnp.exe\t";
        s.Make([&] {
            UsersSetup::Listed(name);
            UsersSetup::User(name).NewItem("unshared");
            UsersSetup::User(name).NewItem("is_ignored");
            UsersSetup::User(name).NewItem("user_online_alert");
        });
        auto* chats = new ChatsForm;
        s.fixture->AddPage(chats, "Chat");
        chats->Init();
        s.Server()->AddKnownUser(name);
        SetSetting("show_event_buttons", "yes");
        QVERIFY(s.Start());
        for (const char* list : {"userList", "unsharedList", "ignoredList", "onlineAlertList"}) {
            QTreeWidgetItem* row = s.Row(list, name);
            QVERIFY2(row, list);
            QCOMPARE(row->text(0),
                     QString(QChar(0x2068)) + "r&b" + QChar(0x202e) + "gnp.exe" + QChar(0x2409) + QChar(0x2069));
        }
        // Out of sight, the user coming online gets a button that reads as
        // the name itself.
        s.fixture->tabs->setCurrentWidget(chats);
        QVERIFY(s.fixture->net.AddPeer(name));
        QTRY_VERIFY(!s.fixture->events->isHidden());
        QCOMPARE(s.fixture->events->actions().first()->text(), PeerText::Title(name) + " online");
        s.fixture->tabs->setCurrentWidget(s.page);
        // What the rows open is the user's, by the name itself.
        emit s.List("ignoredList")->itemDoubleClicked(s.Row("ignoredList", name), 0);
        const QList<ChatForm*> opened = chats->findChildren<ChatForm*>();
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.first()->User(), name);
        QTreeWidget* alerts = s.List("onlineAlertList");
        const QPoint at = alerts->visualItemRect(s.Row("onlineAlertList", name)).center();
        ViewFixture::ChooseFromMenu([&] { emit alerts->customContextMenuRequested(at); }, "Remove online status alert");
        QVERIFY(!UsersSetup::User(name).IsConnected("user_online_alert"));
        QVERIFY(!s.Row("onlineAlertList", name));
    }

    void unsharedAndIgnoredRowsShowTheirWholeNote()
    {
        s.Make([] {
            for (const char* user : {"ann", "bob"}) {
                UsersSetup::User(user).NewItem("unshared");
                UsersSetup::User(user).NewItem("is_ignored");
            }
            UsersSetup::User("ann") += d.GetType("user_note")->GetItem("two\nlines");
            UsersSetup::User("bob") += d.GetType("user_note")->GetItem("one\ntwo\nthree\nfour");
        });
        QVERIFY(s.Start());
        s.page->show();
        for (const char* list : {"unsharedList", "ignoredList"}) {
            QTreeWidget* tree = s.List(list);
            const int two = tree->visualItemRect(s.Row(list, "ann")).height();
            const int four = tree->visualItemRect(s.Row(list, "bob")).height();
            QVERIFY2(four >= 2 * two - 2, list);
            QVERIFY2(four >= 4 * tree->fontMetrics().height(), list);
        }
        // The user list keeps its one-line rows.
        QVERIFY(s.List("userList")->uniformRowHeights());
    }

    void theToolbarOpensTheListsDialogs()
    {
        s.Make();
        QVERIFY(s.Start());
        auto trigger = [&](const QString& text) {
            QAction* action = s.fixture->Focus(s.List("userList")) ? s.fixture->ToolbarAction(text) : nullptr;
            if (action)
                action->trigger();
            return action != nullptr;
        };

        QVERIFY(trigger("Configure User Groups"));
        UserGroupConfigDialog* groups = userGroupConfigDialog;
        QVERIFY(groups && groups->isVisible());
        QVERIFY(trigger("Configure User Groups"));
        QCOMPARE(userGroupConfigDialog, groups);
        QVERIFY(trigger("Message Users"));
        MessageUsersDialog* message = messageUsersDialog;
        QVERIFY(message && message->isVisible());
        QVERIFY(trigger("Message Users"));
        QCOMPARE(messageUsersDialog, message);
        QVERIFY(trigger("Add User"));
        QVERIFY(trigger("Add User"));
        QCOMPARE(s.page->findChildren<AddUserDialog*>().size(), 2);
        groups->close();
        QTRY_VERIFY(!userGroupConfigDialog);
    }
};

QTEST_MAIN(TestUserListForm)
#include "TestUserListForm.moc"
