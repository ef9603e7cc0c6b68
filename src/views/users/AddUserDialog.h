#pragma once

#include <QDialog>
#include <QString>

class Ui_AddUserDialog;

// Puts a user on the list by name once the server says the name exists.
// Non-modal; stays open for the next name and deletes itself when closed.
class AddUserDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddUserDialog(QWidget* parent = nullptr);
    ~AddUserDialog() override;

    // The name asked about and not answered yet; empty while idle.
    QString PendingUser() const { return m_pendingUser; }

public slots:
    void OnAddUserClicked();
    // Every answer of the server reaches every dialog; only the one for the
    // pending name counts.
    void OnAddUserResponse(QString i_user, bool i_exists);

private:
    void SetStatus(const QString& text);

    Ui_AddUserDialog* ui;
    QString m_pendingUser;
};
