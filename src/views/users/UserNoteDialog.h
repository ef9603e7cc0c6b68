#pragma once

#include <QDialog>
#include <QString>

#include "ui_UserNoteDialog.h"

// The user's own free-text note about another user, kept as the user's
// "user_note" item. One dialog per user at a time: it is registered as the
// user's "user_note_dialog" item (its address), so asking again brings the
// open one forward. Nothing is stored until Save; the window goes when it
// is closed either way.
class UserNoteDialog : public QDialog
{
    Q_OBJECT

public:
    // Declares the registry of open dialogs and opens them for the user
    // menu and the lists.
    static void Init();
    // The user's open dialog, or a new one (not yet shown).
    static UserNoteDialog* GetDialog(QString user);

    UserNoteDialog(QString user, QWidget* parent = nullptr);
    ~UserNoteDialog() override;

public slots:
    void OnSaveNote();
    void OnClearNote();

private:
    Ui_UserNoteDialog ui;
    QString m_user;
};
