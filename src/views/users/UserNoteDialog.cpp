#include "UserNoteDialog.h"

#include "Data.h"
#include "ServerNames.h"
#include "UserWindows.h"
#include "common/PeerText.h"

void UserNoteDialog::Init()
{
    if (!d.HasType("user_note_dialog"))
        d.NewType("user_note_dialog", 0, false, true)->RelateToType(d.GetType(ServerNames::User), one, one, false);
    g_userWindows.note = [](const QString& user) { GetDialog(user)->show(); };
}

UserNoteDialog* UserNoteDialog::GetDialog(QString user)
{
    ItemPtr userItem = d.GetType(ServerNames::User)->GetItem(user);
    const ItemPtr open = userItem["user_note_dialog"];
    if (open && open.AsUInt64()) {
        auto* dialog = open.AsObject<UserNoteDialog>();
        dialog->raise();
        dialog->activateWindow();
        return dialog;
    }
    auto* dialog = new UserNoteDialog(user, nullptr);
    userItem += d.GetType("user_note_dialog")->GetItem(Value(dialog));
    return dialog;
}

UserNoteDialog::UserNoteDialog(QString user, QWidget* parent) : QDialog(parent), m_user(user)
{
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // The note is the user's own plain text: as markup, a note that looks
    // like a tag would be lost on the next save.
    if (const ItemPtr note = d.GetType(ServerNames::User)->HasItem(m_user)["user_note"])
        ui.noteEdit->setPlainText(note.AsString());
    setWindowIcon(QIcon(":/icons/note_icon"));
    setWindowTitle(PeerText::Line(m_user));
}

UserNoteDialog::~UserNoteDialog()
{
    if (Type* dialogs = d.HasType("user_note_dialog")) {
        if (ItemPtr registered = dialogs->HasItem(Value(this)))
            registered.Remove();
    }
}

void UserNoteDialog::OnSaveNote()
{
    const QString text = ui.noteEdit->toPlainText().trimmed();
    ItemPtr user = d.GetType(ServerNames::User)->GetItem(m_user);
    // An emptied note is dropped; the store's sweep removes the item once no
    // user holds it. Equal notes share one item.
    if (text.isEmpty())
        user.Disconnect("user_note");
    else
        user += d.GetType("user_note")->GetItem(text);
    accept();
}

void UserNoteDialog::OnClearNote()
{
    ui.noteEdit->clear();
}
