// The user menu: its entries for each state of the user and its private
// rooms, what each entry does, and the privilege gift it opens.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <functional>

#include "Data.h"
#include "DrawnText.h"
#include "Settings.h"
#include "TestMessage.h"
#include "TestServer.h"
#include "ViewFixture.h"
#include "common/PeerText.h"
#include "rooms/ChatsForm.h"
#include "settings/GiftPrivilegesDialog.h"
#include "users/UserMenuOptions.h"
#include "users/UserWindows.h"

namespace {

// A submenu's title as drawn, without the marks that keep a room name's
// direction to itself; any shortcut it would give is "!".
QString Drawn(const QString& title)
{
    QString plain = DrawnText(title).remove(QChar(0x2068)).remove(QChar(0x2069));
    return QKeySequence::mnemonic(title).isEmpty() ? plain : plain + "!";
}

// The entries of a fresh menu for the user: "-" for a separator, a
// submenu's entries after its title in brackets. With a choice, chooses
// that entry (in a submenu too) and returns the entries only if it was
// there.
QStringList Menu(const QString& user, const QString& choice = QString())
{
    QMenu menu;
    UserMenuOptions options(&menu, user, nullptr);
    bool chosen = false;
    std::function<QStringList(QMenu*)> texts = [&](QMenu* m) {
        QStringList all;
        for (QAction* action : m->actions()) {
            if (action->menu())
                all << Drawn(action->text()) + "[" + texts(action->menu()).join("|") + "]";
            else
                all << (action->isSeparator() ? QString("-") : action->text());
            if (!chosen && !choice.isEmpty() && action->text() == choice)
                chosen = true, action->trigger();
        }
        return all;
    };
    const QStringList all = texts(&menu);
    return choice.isEmpty() || chosen ? all : QStringList();
}

bool Choose(const QString& user, const QString& choice)
{
    return !Menu(user, choice).isEmpty();
}

} // namespace

class TestUserMenuOptions : public QObject
{
    Q_OBJECT

private:
    ViewFixture* f = nullptr;
    ChatsForm* chats = nullptr;
    ItemPtr ann;

    // The one message of that code the client sent, as its fields: a name,
    // then for a gift the days, for a room change the user.
    void Expect(quint32 code, const QString& fields)
    {
        QTRY_COMPARE(f->net.server->Count(code), 1);
        TestMessage sent(f->net.server->ReceivedMessages(code).first().body);
        QString name, user;
        quint32 days = 0;
        QVERIFY(sent.ReadStr(name));
        if (code == 123)
            QVERIFY(sent.ReadU32(days) && !(user = QString::number(days)).isEmpty());
        else if (code != 5)
            QVERIFY(sent.ReadStr(user));
        QCOMPARE(QStringList({name, user}).join(" ").trimmed(), fields);
    }

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
        ann = d.GetType("user")->GetItem("ann");
    }
    void cleanup()
    {
        delete f;
        f = nullptr;
    }

    void entriesFollowTheUsersStateAndRooms()
    {
        QCOMPARE(Menu("nobody"),
                 (QStringList{"Message user", "Add user to list", "Browse user's files", "Upload to user",
                              "Get User Info", "Add user note", "Alert when user goes online", "-",
                              "Unshare files from user", "Ignore user"}));
        for (const char* marker : {"in_user_list", "user_online_alert", "unshared", "is_ignored"})
            ann.NewItem(marker);
        ann += d.GetType("user_note")->GetItem("plays the oud");
        SetSetting("privileges_time_left", "3600");
        SetSetting("user_level_logging", "yes");
        QCOMPARE(Menu("ann"), (QStringList{"Message user", "Set user's groups", "Remove user from list",
                                           "Browse user's files", "Upload to user", "Get User Info", "Edit user note",
                                           "Remove online status alert", "Gift Privileges", "-",
                                           "Re-share files with user", "Unignore user", "-", "See User Log"}));
        for (const char* none : {"0", "-5", ""}) {
            SetSetting("privileges_time_left", none);
            QVERIFY(!Menu("ann").contains("Gift Privileges"));
        }
        SetSetting("user_level_logging", "Yes");
        QCOMPARE(Menu("ann").last(), QString("Unignore user"));

        // Owned rooms with the operator entries, then rooms only operated.
        Type* room = d.GetType("room");
        for (const char* owned : {"beta", "alpha", "gamma"})
            room->GetItem(owned).NewItem("is_owner");
        room->GetItem("gamma").NewItem("is_operator");
        room->GetItem("delta").NewItem("is_operator");
        room->GetItem("alpha").NewItem("room_members") += ann;
        room->GetItem("beta").NewItem("room_operators") += ann;
        room->GetItem("delta").NewItem("room_members") += ann;
        QCOMPARE(Menu("ann").mid(11), (QStringList{"-", "Private Rooms[alpha[Remove User's Membership|-|Make User "
                                                        "Operator]|beta[Give User Membership|-|Remove User's "
                                                        "Operator Status]|gamma[Give User Membership]|delta[Remove "
                                                        "User's Membership]]"}));

        // A room's name is the submenu's title as it is, never a shortcut.
        room->GetItem("r&b").NewItem("is_operator");
        QVERIFY(Menu("ann").last().contains("|r&b[Give User Membership]"));
    }

    void entriesActOnTheUser()
    {
        const char* toggles[][3] = {{"Ignore user", "Unignore user", "is_ignored"},
                                    {"Unshare files from user", "Re-share files with user", "unshared"},
                                    {"Alert when user goes online", "Remove online status alert", "user_online_alert"},
                                    {"Add user to list", "Remove user from list", "in_user_list"}};
        for (const auto& toggle : toggles) {
            QVERIFY(Choose("ann", toggle[0]) && ann.IsConnected(toggle[2]));
            QVERIFY(Choose("ann", toggle[1]) && !ann.IsConnected(toggle[2]));
        }
        // An alert has the server report the user.
        Expect(5, "ann");

        QStringList opened;
        for (UserWindows::Opener* opener : {&g_userWindows.groups, &g_userWindows.shareBrowse, &g_userWindows.info,
                                            &g_userWindows.uploadBrowse, &g_userWindows.note, &g_userWindows.itemLog})
            *opener = [&opened](const QString& user) { opened << user; };
        SetSetting("user_level_logging", "yes");
        SetSetting("open_groups_on_user_add", "yes");
        for (const char* entry : {"Browse user's files", "Upload to user", "Get User Info", "Add user note",
                                  "See User Log", "Add user to list", "Set user's groups"})
            QVERIFY2(Choose("ann", entry), entry);
        QCOMPARE(opened.join(","), QString("ann,ann,ann,ann,ann,ann,ann"));

        QVERIFY(Choose("ann", "Message user"));
        QTabWidget* tabs = chats->findChild<QTabWidget*>("chatTabControl");
        QCOMPARE(tabs->tabText(tabs->currentIndex()), PeerText::Title("ann"));

        // The room's sets change when the server says so, not here.
        d.GetType("room")->GetItem("club").NewItem("is_owner");
        QVERIFY(Choose("ann", "Give User Membership"));
        d.GetType("room")->GetItem("club").NewItem("room_members") += ann;
        QVERIFY(Choose("ann", "Make User Operator") && Choose("ann", "Remove User's Membership"));
        for (quint32 code : {134u, 143u, 135u})
            Expect(code, "club ann");
    }

    void aGiftSendsADayCountOrNothing()
    {
        SetSetting("privileges_time_left", "86400");
        QVERIFY(Choose("ann", "Gift Privileges"));
        QPointer<GiftPrivilegesDialog> gift;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible() && qobject_cast<GiftPrivilegesDialog*>(window))
                gift = qobject_cast<GiftPrivilegesDialog*>(window);
        QVERIFY(gift);
        QCOMPARE(gift->windowTitle(), QString("Gift Privileges to ann"));
        auto* daysEdit = gift->findChild<QLineEdit*>("daysEdit");
        QTest::keyClicks(daysEdit, "12a345");
        QCOMPARE(daysEdit->text(), QString("1234"));
        for (const char* days : {"", "0", "0000", "0030"}) {
            daysEdit->setText(days);
            gift->findChild<QPushButton*>("giftButton")->click();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCOMPARE(gift.isNull(), QString(days) == "0030");
        }
        Expect(123, "ann 30");
    }
};

QTEST_MAIN(TestUserMenuOptions)
#include "TestUserMenuOptions.moc"
