#include "UserGroupConfigDialog.h"

#include <QMessageBox>

#include "Data.h"
#include "ServerNames.h"
#include "ui_UserGroupConfigDialog.h"

UserGroupConfigDialog* userGroupConfigDialog = nullptr;

UserGroupConfigDialog::UserGroupConfigDialog(QWidget* parent) : QDialog(parent), ui(new Ui_UserGroupConfigDialog)
{
    userGroupConfigDialog = this;
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    ui->prioritySpinBox->setWhatsThis(
        tr("Defines the download priority of users belonging to this group. Users who belong to more than one group "
           "will be prioritized by their highest-ranked group.\n\nA priority of 0 will not affect the order of "
           "downloads by users of this group relative to other downloads. A priority of 1 or more will order "
           "downloads by users of this group ahead of all other downloads, except for ones with a higher priority."));

    Type* groups = d.GetType(ServerNames::UserListGroup);
    groups->AddItemAddedHandler(
        new EventHandler<UserGroupConfigDialog, ItemPtr>(this, &UserGroupConfigDialog::OnUserGroupAdded));
    groups->AddItemRemovedHandler(
        new EventHandler<UserGroupConfigDialog, ItemPtr>(this, &UserGroupConfigDialog::OnUserGroupRemoved));
    for (const ItemPtr& group : groups->GetItems())
        OnUserGroupAdded(group);
    EnableControls(false);

    connect(ui->groupList, &QListWidget::currentItemChanged, this, &UserGroupConfigDialog::OnCurrentGroupItemChanged);
    connect(ui->prioritySpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &UserGroupConfigDialog::OnPrioritySpinValueChanged);
    connect(ui->acceptUploadsCheckBox, &QCheckBox::toggled, this,
            &UserGroupConfigDialog::OnAcceptUploadsCheckboxToggled);
    connect(ui->deleteButton, &QPushButton::clicked, this, &UserGroupConfigDialog::OnDeleteClicked);
}

UserGroupConfigDialog::~UserGroupConfigDialog()
{
    if (userGroupConfigDialog == this)
        userGroupConfigDialog = nullptr;
    delete ui;
}

UserGroupConfigDialog* UserGroupConfigDialog::Open(QWidget* parent)
{
    if (userGroupConfigDialog) {
        userGroupConfigDialog->setFocus(Qt::OtherFocusReason);
        return userGroupConfigDialog;
    }
    auto* dialog = new UserGroupConfigDialog(parent);
    dialog->show();
    return dialog;
}

void UserGroupConfigDialog::EnableControls(bool enable)
{
    ui->prioritySpinBox->setEnabled(enable);
    ui->acceptUploadsCheckBox->setEnabled(enable);
    ui->deleteButton->setEnabled(enable);
}

void UserGroupConfigDialog::OnUserGroupAdded(ItemPtr group)
{
    ui->groupList->addItem(group.AsString());
}

void UserGroupConfigDialog::OnUserGroupRemoved(ItemPtr group)
{
    const QList<QListWidgetItem*> rows =
        ui->groupList->findItems(group.AsString(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (!rows.isEmpty())
        delete rows.first();
}

ItemPtr UserGroupConfigDialog::CurrentGroup() const
{
    QListWidgetItem* row = ui->groupList->currentItem();
    return row ? d.GetType(ServerNames::UserListGroup)->GetItem(row->text()) : ItemPtr();
}

void UserGroupConfigDialog::OnCurrentGroupItemChanged(QListWidgetItem* current, QListWidgetItem*)
{
    if (!current) {
        EnableControls(false);
        ui->groupBox->setTitle(QString());
        return;
    }
    EnableControls(true);
    ui->groupBox->setTitle(current->text());
    ItemPtr group = d.GetType(ServerNames::UserListGroup)->GetItem(current->text());
    ItemPtr priority = group[ServerNames::GroupDownloadPriority];
    ui->prioritySpinBox->setValue(priority ? priority.AsInt() : 0);
    ui->acceptUploadsCheckBox->setChecked(group.IsConnected(ServerNames::AcceptUploads));
}

void UserGroupConfigDialog::OnAcceptUploadsCheckboxToggled(bool i_on)
{
    ItemPtr group = CurrentGroup();
    if (!group)
        return;
    if (i_on)
        group.NewItem(ServerNames::AcceptUploads);
    else
        group.Disconnect(ServerNames::AcceptUploads);
}

void UserGroupConfigDialog::OnPrioritySpinValueChanged(int i_value)
{
    ItemPtr group = CurrentGroup();
    if (!group)
        return;
    if (i_value > 0)
        group += d.GetType(ServerNames::GroupDownloadPriority)->GetItem(Value(i_value));
    else
        group.Disconnect(ServerNames::GroupDownloadPriority);
}

void UserGroupConfigDialog::OnDeleteClicked()
{
    // Only the name crosses the question's event loop.
    QListWidgetItem* row = ui->groupList->currentItem();
    if (!row)
        return;
    const QString name = row->text();
    if (QMessageBox::question(nullptr, tr("Delete group?"), tr("Are you sure you want to delete this user group?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    d.GetType(ServerNames::UserListGroup)->GetItem(name).Remove();
}
