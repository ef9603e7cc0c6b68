#include "MessageUsersDialog.h"

#include <algorithm>

#include "Data.h"
#include "Server.h"
#include "ServerNames.h"
#include "TransferNames.h"
#include "ui_MessageUsersDialog.h"

MessageUsersDialog* messageUsersDialog = nullptr;

namespace {

const int kAllListed = 0;
const int kDownloading = 1;

ItemSet UsersOf(const ItemSet& listed)
{
    ItemSet users;
    for (const ItemPtr& item : listed) {
        if (ItemPtr user = item[ServerNames::User])
            users.insert(user);
    }
    return users;
}

} // namespace

MessageUsersDialog::MessageUsersDialog(QWidget* parent) : QDialog(parent), ui(new Ui_MessageUsersDialog)
{
    ui->setupUi(this);
    messageUsersDialog = this;
    setAttribute(Qt::WA_DeleteOnClose);
    ui->targetBox->addItem(tr("All User List Users"));
    ui->targetBox->addItem(tr("Downloading Users"));
    PopulateUserList();
    connect(ui->targetBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MessageUsersDialog::OnTargetIndexChanged);
    connect(ui->sendButton, &QPushButton::clicked, this, &MessageUsersDialog::OnSendMessageClicked);

    QStringList groups;
    if (Type* type = d.HasType(ServerNames::UserListGroup)) {
        for (const ItemPtr& group : type->GetItems())
            groups << group.AsString();
    }
    std::sort(groups.begin(), groups.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (const QString& group : groups)
        ui->targetBox->addItem(tr("group: ") + group, group);
}

MessageUsersDialog::~MessageUsersDialog()
{
    delete ui;
    if (messageUsersDialog == this)
        messageUsersDialog = nullptr;
}

MessageUsersDialog* MessageUsersDialog::Open(QWidget* parent)
{
    if (!messageUsersDialog)
        new MessageUsersDialog(parent);
    messageUsersDialog->show();
    return messageUsersDialog;
}

ItemSet MessageUsersDialog::GetUsers() const
{
    const int index = ui->targetBox->currentIndex();
    if (index == kAllListed)
        return d.HasType(ServerNames::InUserList) ? UsersOf(d.GetType(ServerNames::InUserList)->GetItems()) : ItemSet();
    if (index == kDownloading) {
        Type* uploads = d.HasType(TransferNames::UploadEntry);
        return uploads ? UsersOf(uploads->GetItems()).Connected(ServerNames::IsOnline) : ItemSet();
    }
    // A group deleted since the dialog opened has no members.
    Type* groups = d.HasType(ServerNames::UserListGroup);
    ItemPtr group = groups ? groups->HasItem(ui->targetBox->currentData().toString()) : ItemPtr();
    return group ? UsersOf(group.GetItems(ServerNames::InUserList)) : ItemSet();
}

void MessageUsersDialog::PopulateUserList()
{
    ui->userList->clear();
    QStringList names;
    for (const ItemPtr& user : GetUsers())
        names << user.AsString();
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    ui->userList->addItems(names);
}

void MessageUsersDialog::OnTargetIndexChanged(int)
{
    PopulateUserList();
}

void MessageUsersDialog::OnSendMessageClicked()
{
    QString text = ui->messageEdit->toPlainText().trimmed();
    if (text.isEmpty())
        return;
    // The server carries one line.
    text.replace("\n", " ");
    QStringList names;
    for (const ItemPtr& user : GetUsers())
        names << user.AsString();
    if (gp_server)
        gp_server->MessageUsers(names, text);
    close();
}
