#pragma once

#include <QDialog>

#include "DataHandler.h"
#include "ItemPtr.h"

class QListWidgetItem;
class Ui_UserGroupConfigDialog;

// The settings each user-list group carries (uploads accepted from its
// members, the download priority of its members) and the deletion of
// groups. At most one exists, through userGroupConfigDialog; every change
// is stored at once and the dialog deletes itself when closed.
class UserGroupConfigDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit UserGroupConfigDialog(QWidget* parent = nullptr);
    ~UserGroupConfigDialog() override;

    // The one dialog: focuses an open one, else makes and shows it.
    static UserGroupConfigDialog* Open(QWidget* parent);

    // Store handlers.
    void OnUserGroupAdded(ItemPtr group);
    void OnUserGroupRemoved(ItemPtr group);

public slots:
    void OnCurrentGroupItemChanged(QListWidgetItem* current, QListWidgetItem* previous);
    void OnAcceptUploadsCheckboxToggled(bool i_on);
    void OnPrioritySpinValueChanged(int i_value);
    void OnDeleteClicked();

private:
    // The group of the current row (made when absent), or null without one.
    ItemPtr CurrentGroup() const;
    void EnableControls(bool enable);

    Ui_UserGroupConfigDialog* ui;
};

extern UserGroupConfigDialog* userGroupConfigDialog;
