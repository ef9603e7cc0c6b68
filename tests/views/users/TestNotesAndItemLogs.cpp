// A user's note, written from the user menu or the room's user list, and a
// user's item log read by area.
#include <QApplication>
#include <QPushButton>

#include "../rooms/RoomsSetup.h"
#include "Log.h"
#include "Settings.h"
#include "common/PeerText.h"
#include "users/ItemLogDialog.h"
#include "users/UserListForm.h"
#include "users/UserNoteDialog.h"
#include "users/UserWindows.h"

namespace {

ItemPtr User(const QString& name)
{
    return d.GetType("user")->GetItem(name);
}

// The user's open note dialog, as its registry names it.
UserNoteDialog* NoteDialog(const QString& user)
{
    const ItemPtr open = User(user)["user_note_dialog"];
    return open ? open.AsObject<UserNoteDialog>() : nullptr;
}

// Opens the user's note as the user menu does, types the text (if any) and
// presses the button; true once the dialog has gone.
bool Note(const QString& user, const QString& button, const QString& text = QString())
{
    g_userWindows.note(user);
    if (!text.isNull())
        NoteDialog(user)->findChild<QTextEdit*>("noteEdit")->setPlainText(text);
    NoteDialog(user)->findChild<QPushButton*>(button)->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return !NoteDialog(user);
}

void CloseDialogs()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (qobject_cast<UserNoteDialog*>(window) || qobject_cast<ItemLogDialog*>(window))
            delete window;
}

// The one log window's tabs as "title: lines joined by '|'", without the
// time stamps, which only the program log knows.
QStringList LogPages()
{
    QTabWidget* tabs = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (qobject_cast<ItemLogDialog*>(window))
            tabs = window->findChild<QTabWidget*>("logTabWidget");
    QStringList pages;
    for (int i = 0; i < tabs->count(); ++i)
        pages << tabs->tabText(i) + ": " +
                     qobject_cast<QTextBrowser*>(tabs->widget(i))->toPlainText().replace('\n', '|');
    return pages.replaceInStrings(QRegularExpression("\\[[^\\]]*\\] "), "");
}

} // namespace

class TestNotesAndItemLogs : public QObject
{
    Q_OBJECT

private:
    RoomsSetup s;
    UserListForm* users = nullptr;

    QString ListedNote() { return users->findChild<QTreeWidget*>("userList")->topLevelItem(0)->text(4); }

private slots:
    void init()
    {
        s.Make();
        users = new UserListForm;
        s.fixture->AddPage(users, "Users");
        users->Init();
        UserNoteDialog::Init();
        ItemLogDialog::Init();
        QVERIFY(s.Start());
    }
    void cleanup()
    {
        CloseDialogs();
        s.Stop();
    }

    void aNoteIsTheUsersPlainTextSharedAndShownInTheRoom()
    {
        User("ann").NewItem("in_user_list");
        s.Server()->AddRoom("lobby", {"ann", "bob"});
        RoomForm* page = s.Enter("lobby");
        QVERIFY(page);
        QTRY_VERIFY(RoomsSetup::UserRow(page, "ann"));

        // One dialog per user; the ends trimmed, inner breaks and anything
        // that looks like markup kept as typed.
        g_userWindows.note("ann");
        QVERIFY(NoteDialog("ann")->isVisible() && NoteDialog("ann")->windowTitle() == PeerText::Line("ann"));
        const QString note = "<b>plays</b> the <img src=/dev/zero>\n\n  on fridays";
        QVERIFY(Note("ann", "saveButton", " \n" + note + " \n"));
        QCOMPARE(User("ann")["user_note"].AsString(), note);
        QTRY_VERIFY(!RoomsSetup::UserRow(page, "ann")->icon(3).isNull());
        QCOMPARE(ListedNote(), QString("<b>plays</b> the <img src=/dev/zero> ..."));

        // The room's note icon opens a new dialog with the note to the letter.
        emit RoomsSetup::Users(page)->itemClicked(RoomsSetup::UserRow(page, "ann"), 3);
        QVERIFY(NoteDialog("ann") && NoteDialog("ann") == UserNoteDialog::GetDialog("ann"));
        QVERIFY(Note("ann", "saveButton"));
        QCOMPARE(User("ann")["user_note"].AsString(), note);

        // Equal texts share one item; a later change is one user's only.
        QVERIFY(Note("bob", "saveButton", note));
        QCOMPARE(User("bob")["user_note"], User("ann")["user_note"]);
        QVERIFY(Note("bob", "saveButton", "owes me a tape"));
        QCOMPARE(User("ann")["user_note"].AsString(), note);

        // Clear, then closing keeps the note; blanks or Clear then Save
        // delete it.
        QVERIFY(!Note("bob", "clearButton"));
        NoteDialog("bob")->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!NoteDialog("bob") && User("bob")["user_note"].AsString() == "owes me a tape");
        QVERIFY(Note("bob", "saveButton", "  \n\n ") && !Note("ann", "clearButton") && Note("ann", "saveButton"));
        QVERIFY(!User("bob").IsConnected("user_note") && !User("ann").IsConnected("user_note"));
        QTRY_VERIFY(RoomsSetup::UserRow(page, "ann")->icon(3).isNull());
        QCOMPARE(ListedNote(), QString());
    }

    void anItemLogShowsTheUsersRecordsByAreaAsPlainText()
    {
        SetSetting("user_level_logging", "yes");
        g_userWindows.itemLog("ann");
        QCOMPARE(LogPages(), QStringList{"All: "});
        CloseDialogs();

        const QString hostile = "requested by <img src=/dev/zero> for <a href=\"x\">a</a>";
        ItemPtr ann = User("ann");
        Log("Transfers", 1, hostile, ann);
        Log("Peers", 3, "deep", ann);
        Log("Transfers", 2, "bob's", User("bob"));
        Log("All", 1, "about all", ann);
        // Made before the others in logging order, connected after them.
        ItemPtr early = d.GetType("item_log")->NewItem();
        for (const char* attribute : {"log_time", "log_area", "log_level"})
            early += d.GetType(attribute)->GetItem("Peers");
        early += d.GetType("log_text")->GetItem("first");
        early += d.GetType("log_order")->GetItem(0);
        ann += early;

        g_userWindows.itemLog("ann");
        QCOMPARE(LogPages(), (QStringList{"All: first|" + hostile + "|      deep|about all|about all",
                                          "Peers: first|      deep", "Transfers: " + hostile}));
        // Arriving while it is open: to the area's page, a new one last,
        // and "All".
        Log("Transfers", 1, "<b>granted</b>", ann);
        Log("Search", 2, "asked", ann);
        QCOMPARE(LogPages().mid(2), (QStringList{"Transfers: " + hostile + "|<b>granted</b>", "Search:    asked"}));
        QVERIFY(LogPages().first().endsWith("|about all|about all|<b>granted</b>|   asked"));
    }
};

QTEST_MAIN(TestNotesAndItemLogs)
#include "TestNotesAndItemLogs.moc"
