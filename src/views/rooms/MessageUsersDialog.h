#pragma once

#include <QDialog>

#include "ItemSet.h"

class Ui_MessageUsersDialog;

// One message, through the server, to a whole set of users at once: every
// listed user, the online users downloading from us, or one group's
// members. At most one exists, through messageUsersDialog; it deletes
// itself when closed or once the message is sent.
class MessageUsersDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MessageUsersDialog(QWidget* parent = nullptr);
    ~MessageUsersDialog() override;

    // Makes the one dialog when there is none, then shows it.
    static MessageUsersDialog* Open(QWidget* parent);

    // The user items of the chosen set, as the store holds them now.
    ItemSet GetUsers() const;
    void PopulateUserList();

public slots:
    void OnTargetIndexChanged(int i_index);
    void OnSendMessageClicked();

private:
    Ui_MessageUsersDialog* ui;
};

extern MessageUsersDialog* messageUsersDialog;
