#pragma once

#include <QDialog>
#include <QString>

#include "ui_GiftPrivilegesDialog.h"

// Gives another user a number of days of privileges: one dialog per gift,
// opened from the user menu without a parent. It only sends the request and
// goes once it has; the server keeps the accounts.
class GiftPrivilegesDialog : public QDialog
{
    Q_OBJECT

public:
    GiftPrivilegesDialog(QString user, QWidget* parent = nullptr);

public slots:
    void OnGiftClicked();

private:
    Ui_GiftPrivilegesDialog ui;
    QString m_user;
};
