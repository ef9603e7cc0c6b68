#include "AddSharedFolderDialog.h"

#include <QDir>

#include "Data.h"
#include "ItemSet.h"
#include "ServerNames.h"
#include "ShareNames.h"
#include "SharedFoldersManager.h"
#include "StandardDialogs.h"
#include "Type.h"

AddSharedFolderDialog::AddSharedFolderDialog(ItemPtr folder, QWidget* parent) : QDialog(parent)
{
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui.selectFolderButton, &QPushButton::clicked, this, &AddSharedFolderDialog::OnSelectFolderClicked);
    connect(ui.everyoneCheckBox, &QCheckBox::stateChanged, this,
            &AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged);
    connect(ui.userListCheckBox, &QCheckBox::stateChanged, this,
            &AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged);

    if (folder) {
        m_editing = true;
        m_folderPath = folder.AsString();
        ui.selectFolderButton->setEnabled(false);
        ui.selectedFolderEdit->setEnabled(false);
        ui.selectedFolderEdit->setText(m_folderPath);
        if (folder.IsConnected(ShareNames::SharedPublic)) {
            ui.everyoneCheckBox->setChecked(true);
            ui.userListCheckBox->setChecked(true);
        } else {
            ui.everyoneCheckBox->setChecked(false);
            ui.userListCheckBox->setChecked(folder.IsConnected(ShareNames::SharedUserlist));
        }
    }

    if (Type* groups = d.HasType(ServerNames::UserListGroup)) {
        for (const ItemPtr& group : groups->GetItems()) {
            auto* row = new QListWidgetItem(group.AsString(), ui.groupsListWidget);
            row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
            row->setCheckState(folder && folder.IsConnected(group) ? Qt::Checked : Qt::Unchecked);
        }
    }
}

void AddSharedFolderDialog::OnSelectFolderClicked()
{
    const QString folder =
        QDir::fromNativeSeparators(StandardDialogs::ExistingDirectory(this, tr("Select Folder to Share"), QString()));
    if (!folder.isEmpty())
        ui.selectedFolderEdit->setText(folder);
}

void AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged(int state)
{
    if (state == Qt::Checked) {
        ui.userListCheckBox->setEnabled(false);
        ui.userListCheckBox->setChecked(true);
        ui.groupsListWidget->setEnabled(false);
    } else if (state == Qt::Unchecked) {
        ui.userListCheckBox->setEnabled(true);
        ui.groupsListWidget->setEnabled(!ui.userListCheckBox->isChecked());
    }
}

void AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged(int state)
{
    if (state == Qt::Checked)
        ui.groupsListWidget->setEnabled(false);
    else if (state == Qt::Unchecked)
        ui.groupsListWidget->setEnabled(true);
}

void AddSharedFolderDialog::accept()
{
    const QString path = ui.selectedFolderEdit->text();
    if (path.isEmpty())
        return;

    ItemPtr folder;
    if (m_editing) {
        // Unshared meanwhile: there is nothing left to change, and making
        // the item anew would share a folder the user just gave up.
        if (Type* folders = d.HasType(ShareNames::SharedFolder))
            folder = folders->HasItem(Value(m_folderPath));
    } else if (sharedFoldersManager) {
        folder = sharedFoldersManager->AddSharedFolder(path);
    }
    if (!folder) {
        QDialog::accept();
        return;
    }

    if (ui.everyoneCheckBox->isChecked()) {
        folder.NewItem(ShareNames::SharedPublic);
    } else {
        folder.Disconnect(ShareNames::SharedPublic);
        if (ui.userListCheckBox->isChecked()) {
            folder.NewItem(ShareNames::SharedUserlist);
        } else {
            folder.Disconnect(ShareNames::SharedUserlist);
            ApplyGroups(folder);
        }
    }
    QDialog::accept();
}

void AddSharedFolderDialog::ApplyGroups(ItemPtr folder)
{
    Type* groups = d.HasType(ServerNames::UserListGroup);
    if (!groups)
        return;
    for (int i = 0; i < ui.groupsListWidget->count(); ++i) {
        const QListWidgetItem* row = ui.groupsListWidget->item(i);
        // A group deleted while the dialog was open stays deleted.
        const ItemPtr group = groups->HasItem(Value(row->text()));
        if (!group)
            continue;
        if (row->checkState() == Qt::Checked)
            folder.Connect(group);
        else
            folder.Disconnect(group);
    }
}
