// The dialogs of the users page: adding a user once the server knows the
// name, messaging many users, a user's groups and the groups' settings.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include "DialogAnswerer.h"
#include "FakeWire.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "TransferQueueManager.h"
#include "UsersSetup.h"
#include "common/PeerText.h"
#include "rooms/MessageUsersDialog.h"
#include "users/AddUserDialog.h"
#include "users/UserGroupConfigDialog.h"
#include "users/UserGroupsDialog.h"

namespace {

template <class T>
T* Child(QWidget* dialog, const char* name)
{
    return dialog->findChild<T*>(name);
}

QStringList Rows(QListWidget* list, bool withTicks = false)
{
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << (withTicks && list->item(i)->checkState() == Qt::Checked ? "+" : "") + list->item(i)->text();
    return rows;
}

} // namespace

class TestUserDialogs : public QObject
{
    Q_OBJECT

private:
    UsersSetup s;

private slots:
    void cleanup() { s.Stop(); }

    void addingAUserWaitsForTheServersAnswerToItsOwnName()
    {
        s.Make([] { UsersSetup::Listed("bob"); });
        for (const char* user : {"bob", "carol"})
            s.Server()->AddKnownUser(user);
        auto* first = new AddUserDialog(s.page);
        auto* second = new AddUserDialog(s.page);
        auto add = [](AddUserDialog* dialog, const QString& name) {
            Child<QLineEdit>(dialog, "userNameEdit")->setText(name);
            Child<QPushButton>(dialog, "addFriendButton")->click();
            return Child<QLineEdit>(dialog, "statusEdit")->text();
        };
        QCOMPARE(add(first, "   "), QString("User name must not be empty."));
        QCOMPARE(add(first, "carol"), QString("Must be online to add a user to your list."));
        QVERIFY(s.Start());
        QCOMPARE(add(first, "bob"), QString("User already in list."));

        // Each of two waiting dialogs takes the answer for its own name.
        QCOMPARE(add(first, "  carol "), QString("Adding user..."));
        QVERIFY(Child<QLineEdit>(first, "userNameEdit")->isReadOnly());
        QVERIFY(!Child<QPushButton>(first, "addFriendButton")->isEnabled());
        QCOMPARE(add(second, "nobody"), QString("Adding user..."));
        QTRY_COMPARE(Child<QLineEdit>(first, "statusEdit")->text(), QString("User added to list."));
        QTRY_COMPARE(Child<QLineEdit>(second, "statusEdit")->text(), QString("User name does not exist."));
        // The list asks once more for its new member; the dialog is idle.
        QTRY_COMPARE(s.SentNames(5).count("carol"), 2);
        QCOMPARE(s.SentNames(5).count("nobody"), 1);
        QCOMPARE(Child<QLineEdit>(first, "statusEdit")->text(), QString("User added to list."));
        QVERIFY(UsersSetup::User("carol").IsConnected("in_user_list"));
        QVERIFY(!UsersSetup::User("nobody").IsConnected("in_user_list"));
        QTRY_VERIFY(s.Row("userList", "carol"));
        QVERIFY(Child<QPushButton>(first, "addFriendButton")->isEnabled());
        QCOMPARE(add(first, "carol"), QString("User already in list."));
    }

    void messagingManyUsersSendsOneLineToTheChosenSet()
    {
        s.Make([] {
            UsersSetup::Listed("alice");
            UsersSetup::Listed("Bob", {"Band"});
            UsersSetup::Listed("carol", {"band"});
        });
        QVERIFY(s.Start());
        // Two users ask for a shared file; one of them leaves again.
        s.fixture->WriteFile("share/song.ogg", QByteArray(1000, 'x'));
        ShareScanned(s.fixture->shares, s.fixture->MakeFolder("share")).NewItem("shared_public");
        for (const char* user : {"dave", "erin"}) {
            FakePeerLink* link = s.fixture->OnlinePeer(user);
            QVERIFY(link);
            link->SendMessage(43, FakeWire().Str(s.fixture->Remote("share/song.ogg")).Bytes());
            QTRY_VERIFY(!UsersSetup::User(user).GetItems("upload_entry").empty());
        }
        QVERIFY(s.Server()->Cut("erin"));
        QTRY_VERIFY(!UsersSetup::User("erin").IsConnected("is_online"));

        MessageUsersDialog* dialog = MessageUsersDialog::Open(s.page);
        QCOMPARE(MessageUsersDialog::Open(s.page), dialog);
        auto* targets = Child<QComboBox>(dialog, "targetBox");
        auto* users = Child<QListWidget>(dialog, "userList");
        UsersSetup::Group("later");
        QStringList entries;
        for (int i = 0; i < targets->count(); ++i)
            entries << targets->itemText(i);
        QCOMPARE(entries, (QStringList{"All User List Users", "Downloading Users", "group: Band", "group: band"}));
        QCOMPARE(Rows(users), (QStringList{"alice", "Bob", "carol"}));
        targets->setCurrentIndex(1);
        QCOMPARE(Rows(users), QStringList{"dave"});
        targets->setCurrentIndex(3);
        QCOMPARE(Rows(users), QStringList{"carol"});

        // Blanks send nothing; the message goes to the set as it is now.
        auto* edit = Child<QPlainTextEdit>(dialog, "messageEdit");
        edit->setPlainText("  \n ");
        Child<QPushButton>(dialog, "sendButton")->click();
        QVERIFY(messageUsersDialog);
        UsersSetup::User("alice")["in_user_list"] += UsersSetup::Group("band");
        edit->setPlainText("  hi\nthere  ");
        Child<QPushButton>(dialog, "sendButton")->click();
        QTRY_COMPARE(s.Server()->Count(149), 1);
        TestMessage sent(s.Server()->ReceivedMessages(149).first().body);
        QStringList names;
        QString text;
        QVERIFY(sent.ReadNames(names) && sent.ReadStr(text));
        QCOMPARE(names, (QStringList{"alice", "carol"}));
        QCOMPARE(text, QString("hi there"));
        QTRY_VERIFY(!messageUsersDialog);
    }

    void aUsersGroupsAreTickedAndMadeAtOnce()
    {
        s.Make([] {
            UsersSetup::Listed("bob", {"Band"});
            UsersSetup::Group("friends");
        });
        QVERIFY(s.Start());
        UserGroupsDialog* bobs = UserGroupsDialog::Open("bob");
        UserGroupsDialog* other = UserGroupsDialog::Open("bob");
        QCOMPARE(bobs->windowTitle(), "User Groups for [" + PeerText::Line("bob") + "]");
        auto* list = Child<QListWidget>(bobs, "groupListWidget");
        QCOMPARE(Rows(list, true), (QStringList{"+Band", "friends"}));

        list->item(1)->setCheckState(Qt::Checked);
        ItemPtr listed = UsersSetup::User("bob")["in_user_list"];
        QCOMPARE(listed.CountItems("user_list_group"), 2);
        QCOMPARE(s.Row("userList", "bob")->text(3), QString("Band, friends"));
        // The other dialog was not told; its tick changes nothing stored.
        Child<QListWidget>(other, "groupListWidget")->item(1)->setCheckState(Qt::Checked);
        QCOMPARE(listed.CountItems("user_list_group"), 2);
        list->item(0)->setCheckState(Qt::Unchecked);
        QCOMPARE(s.Row("userList", "bob")->text(3), QString("friends"));

        // A new group, trimmed, appears unticked in every open dialog, once.
        Child<QLineEdit>(bobs, "newGroupEdit")->setText("  Work ");
        Child<QPushButton>(bobs, "newGroupButton")->click();
        Child<QLineEdit>(other, "newGroupEdit")->setText("Work");
        Child<QPushButton>(other, "newGroupButton")->click();
        QVERIFY(Child<QLineEdit>(bobs, "newGroupEdit")->text().isEmpty());
        QCOMPARE(Rows(list, true), (QStringList{"Band", "Work", "+friends"}));
        QCOMPARE(Rows(Child<QListWidget>(other, "groupListWidget")).size(), 3);

        // A group deleted meanwhile keeps its row; ticking makes it again,
        // but not for a user who has left the list.
        UsersSetup::Group("Work").Remove();
        UsersSetup::User("bob").Disconnect("in_user_list");
        list->item(1)->setCheckState(Qt::Checked);
        QVERIFY(!d.GetType("user_list_group")->HasItem("Work"));
        UsersSetup::Listed("bob");
        list->item(1)->setCheckState(Qt::Unchecked);
        list->item(1)->setCheckState(Qt::Checked);
        QVERIFY(UsersSetup::User("bob")["in_user_list"].IsConnected(UsersSetup::Group("Work")));
        QCOMPARE(Rows(list), (QStringList{"Band", "Work", "friends"}));
    }

    void groupSettingsAreStoredAndGroupsDeleted()
    {
        s.Make([] {
            UsersSetup::Listed("bob", {"Band", "friends"});
            UsersSetup::Group("empty");
        });
        QVERIFY(s.Start());
        UserGroupConfigDialog* dialog = UserGroupConfigDialog::Open(s.page);
        QCOMPARE(UserGroupConfigDialog::Open(s.page), dialog);
        auto* list = Child<QListWidget>(dialog, "groupList");
        auto* priority = Child<QSpinBox>(dialog, "prioritySpinBox");
        auto* accept = Child<QCheckBox>(dialog, "acceptUploadsCheckBox");
        auto* box = Child<QGroupBox>(dialog, "groupBox");
        QCOMPARE(Rows(list), (QStringList{"Band", "empty", "friends"}));
        QVERIFY(!priority->isEnabled() && !accept->isEnabled());

        list->setCurrentRow(0);
        QCOMPARE(box->title(), QString("Band"));
        priority->setValue(2);
        accept->setChecked(true);
        list->setCurrentRow(2);
        QCOMPARE(priority->value(), 0);
        QVERIFY(!accept->isChecked());
        priority->setValue(7);
        list->setCurrentRow(1);
        priority->setValue(7);
        // Equal priorities share one item; the user's highest one counts.
        QCOMPARE(UsersSetup::Group("empty")["group_download_priority"],
                 UsersSetup::Group("friends")["group_download_priority"]);
        QCOMPARE(s.fixture->transfers->GetUserGroupDownloadPriority("bob"), 7);
        priority->setValue(0);
        QVERIFY(!UsersSetup::Group("empty").IsConnected("group_download_priority"));
        QCOMPARE(UsersSetup::Group("friends")["group_download_priority"].AsInt(), 7);
        list->setCurrentRow(0);
        QCOMPARE(priority->value(), 2);
        QVERIFY(accept->isChecked());

        // Deleting asks first; only Yes takes the group from its members.
        UserGroupsDialog* groups = UserGroupsDialog::Open("bob");
        DialogAnswerer answers;
        answers.Then(DialogAnswerer::Press(QMessageBox::No)).Then(DialogAnswerer::Press(QMessageBox::Yes));
        Child<QPushButton>(dialog, "deleteButton")->click();
        QVERIFY(d.GetType("user_list_group")->HasItem("Band"));
        Child<QPushButton>(dialog, "deleteButton")->click();
        QCOMPARE(answers.Titles(), (QStringList{"Delete group?", "Delete group?"}));
        QVERIFY(!d.GetType("user_list_group")->HasItem("Band"));
        QCOMPARE(Rows(list), (QStringList{"empty", "friends"}));
        QCOMPARE(s.Row("userList", "bob")->text(3), QString("friends"));
        QCOMPARE(Child<QListWidget>(groups, "groupListWidget")->count(), 3);
        list->clear();
        QVERIFY(!priority->isEnabled() && box->title().isEmpty());
    }
};

QTEST_MAIN(TestUserDialogs)
#include "TestUserDialogs.moc"
