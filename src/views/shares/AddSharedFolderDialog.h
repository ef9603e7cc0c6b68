#pragma once

#include <QDialog>
#include <QString>

#include "ItemPtr.h"
#include "ui_AddSharedFolderDialog.h"

// Shares a new folder, or changes who may see one already shared: everyone,
// everyone on the user list, or the members of chosen user-list groups.
// Nothing changes before OK. Any number may be open at once; each deletes
// itself when closed.
class AddSharedFolderDialog : public QDialog
{
    Q_OBJECT

public:
    // folder: the "shared_folder" item to edit, or null for a new folder.
    AddSharedFolderDialog(ItemPtr folder, QWidget* parent = nullptr);

public slots:
    void OnSelectFolderClicked();
    void OnAccessibleToEveryoneCheckStateChanged(int state);
    void OnAccessibleToUserListCheckStateChanged(int state);
    void accept() override;

private:
    void ApplyGroups(ItemPtr folder);

    Ui_AddSharedFolderDialog ui;
    // The folder and its groups are kept by value and looked up again on
    // OK: either may be removed while the dialog is open.
    bool m_editing = false;
    QString m_folderPath;
};
