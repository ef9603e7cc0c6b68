#include "GiftPrivilegesDialog.h"

#include "Server.h"
#include "common/WindowTitleRoom.h"

GiftPrivilegesDialog::GiftPrivilegesDialog(QString user, QWidget* parent) : QDialog(parent), m_user(user)
{
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Gift Privileges to ") + m_user);
    // Up to four digits, none required: 0 to 9999 days.
    ui.daysEdit->setInputMask("0000");
    WindowTitleRoom::Keep(this);
}

void GiftPrivilegesDialog::OnGiftClicked()
{
    const int days = ui.daysEdit->text().toInt();
    if (days == 0)
        return;
    if (gp_server)
        gp_server->GiftPrivileges(m_user, days);
    deleteLater();
}
