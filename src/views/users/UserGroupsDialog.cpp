#include "UserGroupsDialog.h"

#include "Data.h"
#include "ServerNames.h"
#include "common/PeerText.h"
#include "ui_UserGroupsDialog.h"

UserGroupsDialog::UserGroupsDialog(QString user, QWidget* parent)
    : QDialog(parent), ui(new Ui_UserGroupsDialog), m_user(user)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    Type* groups = d.GetType(ServerNames::UserListGroup);
    groups->AddItemAddedHandler(new EventHandler<UserGroupsDialog, ItemPtr>(this, &UserGroupsDialog::OnUserGroupAdded));
    setWindowTitle(tr("User Groups for [%1]").arg(PeerText::Line(user)));

    ItemPtr listed = d.GetType(ServerNames::User)->GetItem(user)[ServerNames::InUserList];
    for (const ItemPtr& group : groups->GetItems())
        AddRow(group.AsString(), listed && listed.IsConnected(group));

    connect(ui->newGroupButton, &QPushButton::clicked, this, &UserGroupsDialog::OnNewGroupButtonClicked);
    connect(ui->groupListWidget, &QListWidget::itemChanged, this, &UserGroupsDialog::OnGroupItemChanged);
}

UserGroupsDialog::~UserGroupsDialog()
{
    delete ui;
}

UserGroupsDialog* UserGroupsDialog::Open(const QString& user)
{
    auto* dialog = new UserGroupsDialog(user, nullptr);
    dialog->show();
    return dialog;
}

void UserGroupsDialog::AddRow(const QString& group, bool ticked)
{
    auto* row = new QListWidgetItem(group);
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    ui->groupListWidget->addItem(row);
}

void UserGroupsDialog::OnUserGroupAdded(ItemPtr group)
{
    // A group deleted while the dialog was open keeps its row here; ticking
    // it makes the group again, and the row stays the one row of it.
    const QString name = group.AsString();
    if (ui->groupListWidget->findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive).isEmpty())
        AddRow(name, false);
}

void UserGroupsDialog::OnGroupItemChanged(QListWidgetItem* item)
{
    if (!item || item->checkState() == Qt::PartiallyChecked || item->text().isEmpty())
        return;
    // The user may have left the list while the dialog was open: then a tick
    // stores nothing, and above all makes no group.
    ItemPtr listed = d.GetType(ServerNames::User)->GetItem(m_user)[ServerNames::InUserList];
    if (!listed)
        return;
    ItemPtr group = d.GetType(ServerNames::UserListGroup)->GetItem(item->text());
    const bool member = listed.IsConnected(group);
    if (item->checkState() == Qt::Checked && !member)
        listed += group;
    else if (item->checkState() == Qt::Unchecked && member)
        listed -= group;
}

void UserGroupsDialog::OnNewGroupButtonClicked()
{
    const QString name = ui->newGroupEdit->text().trimmed();
    ui->newGroupEdit->clear();
    if (name.isEmpty())
        return;
    d.GetType(ServerNames::UserListGroup)->GetItem(name);
}
