#pragma once

#include <QDialog>
#include <QString>

#include "DataHandler.h"
#include "ItemPtr.h"

class QListWidgetItem;
class Ui_UserGroupsDialog;

// The groups of one listed user: a tick per group, stored at once, and a
// field to create groups. Several may be open at once, for one user or
// many; each deletes itself when closed.
class UserGroupsDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit UserGroupsDialog(QString user, QWidget* parent = nullptr);
    ~UserGroupsDialog() override;

    // A new dialog for the user, shown without a parent (the per-user
    // menu's "Set user's groups").
    static UserGroupsDialog* Open(const QString& user);

    // Store handler: a group was created anywhere.
    void OnUserGroupAdded(ItemPtr group);

public slots:
    void OnNewGroupButtonClicked();
    void OnGroupItemChanged(QListWidgetItem* item);

private:
    void AddRow(const QString& group, bool ticked);

    Ui_UserGroupsDialog* ui;
    QString m_user;
};
