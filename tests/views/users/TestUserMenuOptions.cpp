// The user menu: its entries for each state of the user, the private-room
// submenu, what each entry does, and the privilege gift it opens.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "Data.h"
#include "Settings.h"
#include "TestMessage.h"
#include "TestServer.h"
#include "ViewFixture.h"
#include "rooms/ChatsForm.h"
#include "settings/GiftPrivilegesDialog.h"
#include "users/UserMenuOptions.h"
#include "users/UserWindows.h"

namespace {

ItemPtr User(const QString& name)
{
    return d.GetType("user")->GetItem(name);
}

// The texts of a menu's entries, "-" for a separator, a submenu's entries
// after its title in brackets.
QStringList Entries(const QMenu& menu)
{
    QStringList texts;
    for (QAction* action : menu.actions()) {
        if (action->isSeparator())
            texts << "-";
        else if (action->menu())
            texts << action->text() + "[" + Entries(*action->menu()).join("|") + "]";
        else
            texts << action->text();
    }
    return texts;
}

QStringList Entries(const QString& user)
{
    QMenu menu;
    UserMenuOptions options(&menu, user, nullptr);
    return Entries(menu);
}

// Chooses the entry of that text, in a submenu too, from a fresh menu for
// the user; false when the menu does not offer it.
bool Choose(const QString& user, const QString& text)
{
    QMenu menu;
    UserMenuOptions options(&menu, user, nullptr);
    QList<QAction*> actions = menu.actions();
    while (!actions.isEmpty()) {
        QAction* action = actions.takeFirst();
        if (action->menu())
            actions += action->menu()->actions();
        else if (action->text() == text)
            return action->trigger(), true;
    }
    return false;
}

} // namespace

class TestUserMenuOptions : public QObject
{
    Q_OBJECT

private:
    ViewFixture* f = nullptr;
    ChatsForm* chats = nullptr;

private slots:
    void init()
    {
        f = new ViewFixture;
        chats = new ChatsForm;
        f->AddPage(chats, "Chat");
        chats->Init();
        // Declared by the user list page, as in the program.
        d.GetType("user")->RelateToType(d.NewType("user_online_alert", 2, true, true), many, one, false);
        QVERIFY(f->Start("me"));
    }
    void cleanup()
    {
        delete f;
        f = nullptr;
    }

    void entriesFollowTheUsersState()
    {
        const QStringList fresh{"Message user", "Add user to list", "Browse user's files", "Upload to user",
                                "Get User Info", "Add user note", "Alert when user goes online", "-",
                                "Unshare files from user", "Ignore user"};
        QCOMPARE(Entries("nobody"), fresh);

        ItemPtr ann = User("ann");
        ann.NewItem("in_user_list");
        ann += d.GetType("user_note")->GetItem("plays the oud");
        ann.NewItem("user_online_alert");
        ann.NewItem("unshared");
        ann.NewItem("is_ignored");
        SetSetting("privileges_time_left", "3600");
        SetSetting("user_level_logging", "yes");
        QCOMPARE(Entries("ann"),
                 (QStringList{"Message user", "Set user's groups", "Remove user from list", "Browse user's files",
                              "Upload to user", "Get User Info", "Edit user note", "Remove online status alert",
                              "Gift Privileges", "-", "Re-share files with user", "Unignore user", "-",
                              "See User Log"}));

        for (const char* none : {"0", "-5", ""}) {
            SetSetting("privileges_time_left", none);
            QVERIFY(!Entries("ann").contains("Gift Privileges"));
        }
        SetSetting("user_level_logging", "Yes");
        QVERIFY(!Entries("ann").contains("See User Log"));

        // A caller's own entries come first, a separator after them.
        QMenu menu;
        menu.addAction("Open File");
        menu.addAction("Retry");
        UserMenuOptions options(&menu, "nobody", nullptr);
        QCOMPARE(Entries(menu).mid(0, 4), (QStringList{"Open File", "Retry", "-", "Message user"}));
    }

    void privateRoomsOfferWhatTheUserCanBeGiven()
    {
        QCOMPARE(Entries("ann").last(), QString("Ignore user"));
        Type* room = d.GetType("room");
        for (const char* owned : {"beta", "alpha", "gamma"})
            room->GetItem(owned).NewItem("is_owner");
        room->GetItem("gamma").NewItem("is_operator");
        room->GetItem("delta").NewItem("is_operator");
        ItemPtr ann = User("ann");
        room->GetItem("alpha").NewItem("room_members") += ann;
        room->GetItem("beta").NewItem("room_operators") += ann;
        room->GetItem("delta").NewItem("room_members") += ann;

        const QStringList entries = Entries("ann");
        QCOMPARE(entries.mid(entries.indexOf("Ignore user") + 1),
                 (QStringList{"-", "Private Rooms[alpha[Remove User's Membership|-|Make User Operator]|"
                                   "beta[Give User Membership|-|Remove User's Operator Status]|"
                                   "gamma[Give User Membership]|delta[Remove User's Membership]]"}));

        QMenu menu;
        UserMenuOptions options(&menu, "ann", nullptr);
        const QMenu* rooms = menu.actions().last()->menu();
        const QFont owned = rooms->actions().first()->font();
        QVERIFY(owned.weight() == QFont::Bold && owned.underline());
        QVERIFY(!rooms->actions().last()->font().underline());
    }

    void entriesActOnTheUser()
    {
        ItemPtr ann = User("ann");
        const struct
        {
            const char* on;
            const char* off;
            const char* marker;
        } toggles[] = {{"Ignore user", "Unignore user", "is_ignored"},
                       {"Unshare files from user", "Re-share files with user", "unshared"},
                       {"Alert when user goes online", "Remove online status alert", "user_online_alert"},
                       {"Add user to list", "Remove user from list", "in_user_list"}};
        for (const auto& toggle : toggles) {
            QVERIFY(Choose("ann", toggle.on) && ann.IsConnected(toggle.marker));
            QVERIFY(Choose("ann", toggle.off) && !ann.IsConnected(toggle.marker));
        }
        // Alerts need the server to report the user; removing one does not
        // stop that.
        QTRY_COMPARE(f->net.server->Count(5), 1);

        QStringList opened;
        for (UserWindows::Opener* opener : {&g_userWindows.groups, &g_userWindows.shareBrowse, &g_userWindows.info,
                                            &g_userWindows.uploadBrowse, &g_userWindows.note, &g_userWindows.itemLog})
            *opener = [&opened](const QString& user) { opened << user; };
        SetSetting("user_level_logging", "yes");
        SetSetting("open_groups_on_user_add", "yes");
        for (const char* entry : {"Browse user's files", "Upload to user", "Get User Info", "Add user note",
                                  "See User Log", "Add user to list", "Set user's groups"})
            QVERIFY2(Choose("ann", entry), entry);
        QCOMPARE(opened.size(), 7);
        QCOMPARE(opened.count("ann"), 7);

        QVERIFY(Choose("ann", "Message user"));
        QTabWidget* tabs = chats->findChild<QTabWidget*>("chatTabControl");
        QCOMPARE(tabs->tabText(tabs->currentIndex()), QString("ann"));

        // The room's sets change when the server says so, not here.
        d.GetType("room")->GetItem("club").NewItem("is_owner");
        QVERIFY(Choose("ann", "Give User Membership"));
        d.GetType("room")->GetItem("club").NewItem("room_members") += ann;
        QVERIFY(Choose("ann", "Make User Operator") && Choose("ann", "Remove User's Membership"));
        QTRY_COMPARE(f->net.server->Count(135), 1);
        for (quint32 code : {134u, 143u, 135u}) {
            TestMessage sent(f->net.server->ReceivedMessages(code).first().body);
            QString room, user;
            QVERIFY(sent.ReadStr(room) && sent.ReadStr(user));
            QCOMPARE(room + " " + user, QString("club ann"));
        }
    }

    void aGiftSendsADayCountOrNothing()
    {
        SetSetting("privileges_time_left", "86400");
        QVERIFY(Choose("ann", "Gift Privileges"));
        GiftPrivilegesDialog* gift = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<GiftPrivilegesDialog*>(window); dialog && dialog->isVisible())
                gift = dialog;
        QVERIFY(gift);
        QCOMPARE(gift->windowTitle(), QString("Gift Privileges to ann"));
        QPointer<GiftPrivilegesDialog> alive(gift);
        auto* daysEdit = gift->findChild<QLineEdit*>("daysEdit");
        auto* button = gift->findChild<QPushButton*>("giftButton");

        QTest::keyClicks(daysEdit, "12a345");
        QCOMPARE(daysEdit->text(), QString("1234"));
        for (const char* days : {"", "0", "0000", "0030"}) {
            daysEdit->setText(days);
            button->click();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCOMPARE(alive.isNull(), QString(days) == "0030");
        }
        QTRY_COMPARE(f->net.server->Count(123), 1);
        TestMessage sent(f->net.server->ReceivedMessages(123).first().body);
        QString user;
        quint32 count = 0;
        QVERIFY(sent.ReadStr(user) && sent.ReadU32(count));
        QCOMPARE(user + " " + QString::number(count), QString("ann 30"));
    }
};

QTEST_MAIN(TestUserMenuOptions)
#include "TestUserMenuOptions.moc"
