#include "AddUserDialog.h"

#include "Data.h"
#include "Server.h"
#include "ServerNames.h"
#include "ui_AddUserDialog.h"

AddUserDialog::AddUserDialog(QWidget* parent) : QDialog(parent), ui(new Ui_AddUserDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->addFriendButton, &QPushButton::clicked, this, &AddUserDialog::OnAddUserClicked);
    if (gp_server)
        connect(gp_server, &Server::AddUserResponse, this, &AddUserDialog::OnAddUserResponse);
}

AddUserDialog::~AddUserDialog()
{
    delete ui;
}

void AddUserDialog::SetStatus(const QString& text)
{
    ui->statusEdit->setText(text);
}

void AddUserDialog::OnAddUserClicked()
{
    const QString name = ui->userNameEdit->text().trimmed();
    if (name.isEmpty()) {
        SetStatus(tr("User name must not be empty."));
        return;
    }
    if (!gp_server || !gp_server->IsConnected()) {
        SetStatus(tr("Must be online to add a user to your list."));
        return;
    }
    if (d.GetType(ServerNames::User)->HasItem(name).IsConnected(ServerNames::InUserList)) {
        SetStatus(tr("User already in list."));
        return;
    }
    SetStatus(tr("Adding user..."));
    ui->userNameEdit->setReadOnly(true);
    ui->addFriendButton->setEnabled(false);
    m_pendingUser = name;
    gp_server->AddUser(name);
}

void AddUserDialog::OnAddUserResponse(QString i_user, bool i_exists)
{
    if (m_pendingUser.isEmpty() || i_user != m_pendingUser)
        return;
    ui->userNameEdit->setReadOnly(false);
    ui->addFriendButton->setEnabled(true);
    m_pendingUser.clear();
    if (i_exists) {
        d.GetType(ServerNames::User)->GetItem(i_user).NewItem(ServerNames::InUserList);
        SetStatus(tr("User added to list."));
    } else {
        SetStatus(tr("User name does not exist."));
    }
}
