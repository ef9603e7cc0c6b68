// A user's note, written from the user menu or the room's user list, and a
// user's item log read by area.
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextEdit>

#include "../rooms/RoomsSetup.h"
#include "Log.h"
#include "Settings.h"
#include "users/ItemLogDialog.h"
#include "users/UserMenuOptions.h"
#include "users/UserNoteDialog.h"

namespace {

bool Choose(const QString& user, const QString& entry)
{
    QMenu menu;
    UserMenuOptions options(&menu, user, nullptr);
    for (QAction* action : menu.actions()) {
        if (action->text() == entry) {
            action->trigger();
            return true;
        }
    }
    return false;
}

ItemPtr User(const QString& name)
{
    return d.GetType("user")->GetItem(name);
}

QString Note(const QString& user)
{
    return User(user)["user_note"].AsString();
}

// The user's open note dialog, as its registry names it.
UserNoteDialog* NoteDialog(const QString& user)
{
    const ItemPtr open = User(user)["user_note_dialog"];
    return open ? open.AsObject<UserNoteDialog>() : nullptr;
}

QTextEdit* Edit(UserNoteDialog* dialog)
{
    return dialog->findChild<QTextEdit*>("noteEdit");
}

// Types the text over the dialog's note, then presses the button of that
// text; true once the dialog has gone.
bool Press(UserNoteDialog* dialog, const QString& button, const QString& text = QString())
{
    QPointer<UserNoteDialog> alive(dialog);
    if (!text.isNull())
        Edit(dialog)->setPlainText(text);
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
        if (b->text() == button)
            b->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return alive.isNull();
}

QList<ItemLogDialog*> LogDialogs()
{
    QList<ItemLogDialog*> dialogs;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<ItemLogDialog*>(window))
            dialogs << dialog;
    return dialogs;
}

// Each tab of a log dialog as "title: its lines joined by '|'".
QStringList Pages(ItemLogDialog* dialog)
{
    QStringList pages;
    auto* tabs = dialog->findChild<QTabWidget*>("logTabWidget");
    for (int i = 0; i < tabs->count(); ++i)
        pages << tabs->tabText(i) + ": " +
                     qobject_cast<QTextBrowser*>(tabs->widget(i))->toPlainText().replace('\n', '|');
    return pages;
}

// Drops the time stamps, which only the program log knows.
QStringList Unstamped(QStringList pages)
{
    return pages.replaceInStrings(QRegularExpression("\\[[^\\]]*\\] "), "");
}

} // namespace

class TestNotesAndItemLogs : public QObject
{
    Q_OBJECT

private:
    RoomsSetup s;

private slots:
    void init()
    {
        s.Make();
        UserNoteDialog::Init();
        ItemLogDialog::Init();
        QVERIFY(s.Start());
    }
    void cleanup()
    {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (qobject_cast<UserNoteDialog*>(window) || qobject_cast<ItemLogDialog*>(window))
                delete window;
        s.Stop();
    }

    void aNoteIsTheUsersPlainTextSharedAndShownInTheRoom()
    {
        s.Server()->AddRoom("lobby", {"ann", "bob"});
        RoomForm* page = s.Enter("lobby");
        QVERIFY(page);
        QTRY_VERIFY(RoomsSetup::UserRow(page, "ann"));

        // Written from the menu: the ends trimmed, inner breaks and anything
        // that looks like markup kept as typed.
        QVERIFY(Choose("ann", "Add user note"));
        UserNoteDialog* dialog = NoteDialog("ann");
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QString("ann"));
        QVERIFY(Choose("ann", "Add user note"));
        QCOMPARE(UserNoteDialog::GetDialog("ann"), dialog);
        const QString note = "<b>plays</b> the <img src=/dev/zero>\n\n  on fridays";
        QVERIFY(Press(dialog, "Save", " \n" + note + " \n"));
        QCOMPARE(Note("ann"), note);
        QVERIFY(!NoteDialog("ann"));
        QTRY_VERIFY(!RoomsSetup::UserRow(page, "ann")->icon(3).isNull());

        // The room list's note icon opens it again as stored; Save keeps it
        // to the letter.
        emit RoomsSetup::Users(page)->itemClicked(RoomsSetup::UserRow(page, "ann"), 3);
        dialog = NoteDialog("ann");
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(Edit(dialog)->toPlainText(), note);
        QVERIFY(Press(dialog, "Save"));
        QCOMPARE(Note("ann"), note);

        // Equal texts share one item; a later change is one user's only.
        QVERIFY(Choose("bob", "Add user note") && Press(NoteDialog("bob"), "Save", note));
        QCOMPARE(User("bob")["user_note"], User("ann")["user_note"]);
        QVERIFY(Choose("bob", "Edit user note") && Press(NoteDialog("bob"), "Save", "owes me a tape"));
        QCOMPARE(Note("ann"), note);
        QCOMPARE(Note("bob"), QString("owes me a tape"));

        // Closing discards edits and Clear alone stores nothing; blanks or
        // Clear then Save delete the note.
        QVERIFY(Choose("bob", "Edit user note") && !Press(NoteDialog("bob"), "Clear"));
        NoteDialog("bob")->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!NoteDialog("bob"));
        QCOMPARE(Note("bob"), QString("owes me a tape"));
        QVERIFY(Choose("bob", "Edit user note") && Press(NoteDialog("bob"), "Save", "  \n\n "));
        QVERIFY(!User("bob").IsConnected("user_note"));
        UserNoteDialog::GetDialog("ann")->show();
        QVERIFY(!Press(NoteDialog("ann"), "Clear") && Press(NoteDialog("ann"), "Save"));
        QVERIFY(!User("ann").IsConnected("user_note"));
        QTRY_VERIFY(RoomsSetup::UserRow(page, "ann")->icon(3).isNull());
    }

    void anItemLogShowsTheUsersRecordsByAreaAsPlainText()
    {
        // Nothing is kept unless diagnostics and per-item logging are on.
        ItemPtr ann = User("ann");
        Log("Peers", 1, "before logging was on", ann);
        SetSetting("user_level_logging", "yes");
        SetSetting("show_diagnostics", "no");
        Log("Peers", 1, "with diagnostics off", ann);
        QVERIFY(Choose("ann", "See User Log"));
        QCOMPARE(LogDialogs().size(), 1);
        QCOMPARE(Pages(LogDialogs().first()), QStringList{"All: "});
        delete LogDialogs().first();

        SetSetting("show_diagnostics", "yes");
        Log("Transfers", 1, "Queue upload requested by <img src=/dev/zero> for file <a href=\"x\">a</a>", ann);
        Log("Peers", 3, "deep detail", ann);
        Log("Transfers", 2, "queued", User("bob"));
        Log("All", 1, "about all", ann);
        // A record made earlier in logging order but connected later goes
        // where its order puts it.
        ItemPtr early = d.GetType("item_log")->NewItem();
        for (const char* attribute : {"log_time", "log_area", "log_level", "log_text"})
            early += d.GetType(attribute)->GetItem(attribute == QString("log_text") ? "first" : "Peers");
        early += d.GetType("log_order")->GetItem(0);
        ann += early;

        QVERIFY(Choose("ann", "See User Log"));
        ItemLogDialog* dialog = LogDialogs().first();
        QCOMPARE(dialog->windowTitle(), QString("Item Log"));
        const QString hostile = "Queue upload requested by <img src=/dev/zero> for file <a href=\"x\">a</a>";
        QCOMPARE(Unstamped(Pages(dialog)),
                 (QStringList{"All: first|" + hostile + "|      deep detail|about all|about all",
                              "Peers: first|      deep detail", "Transfers: " + hostile}));
        auto* transfers = dialog->findChild<QTabWidget*>("logTabWidget")->widget(2);
        QVERIFY(!qobject_cast<QTextBrowser*>(transfers)->toHtml().contains("<img"));

        // Records arriving while it is open: to their page, a new area's
        // page last, and "All".
        Log("Transfers", 1, "granted", ann);
        Log("Search", 2, "asked", ann);
        QCOMPARE(Unstamped(Pages(dialog)).mid(2),
                 (QStringList{"Transfers: " + hostile + "|granted", "Search:    asked"}));
        QVERIFY(Unstamped(Pages(dialog)).first().endsWith("|about all|about all|granted|   asked"));
    }
};

QTEST_MAIN(TestNotesAndItemLogs)
#include "TestNotesAndItemLogs.moc"
