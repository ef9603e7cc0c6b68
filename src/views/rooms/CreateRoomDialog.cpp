#include "CreateRoomDialog.h"

#include "Server.h"
#include "ui_CreateRoomDialog.h"

CreateRoomDialog* createRoomDialog = nullptr;

CreateRoomDialog::CreateRoomDialog(QWidget* parent) : QDialog(parent), ui(new Ui_CreateRoomDialog)
{
    ui->setupUi(this);
    createRoomDialog = this;
}

CreateRoomDialog::~CreateRoomDialog()
{
    if (createRoomDialog == this)
        createRoomDialog = nullptr;
    delete ui;
}

void CreateRoomDialog::OnButtonClicked()
{
    const QString name = ui->roomNameEdit->text().trimmed();
    if (name.isEmpty())
        return;
    if (gp_server)
        gp_server->EnterRoom(name, ui->createPrivateCheckBox->isChecked());
    // We are inside the button's own signal: the dialog goes once it has
    // returned. From now on it is not the one to show again.
    if (createRoomDialog == this)
        createRoomDialog = nullptr;
    hide();
    deleteLater();
}
