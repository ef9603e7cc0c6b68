#include "ChangeListeningPortDialog.h"

#include <QMessageBox>

#include "Settings.h"
#include "common/WindowTitleRoom.h"

ChangeListeningPortDialog::ChangeListeningPortDialog(QWidget* parent) : QDialog(parent)
{
    ui.setupUi(this);
    // Closing by either button goes through the toolkit's deferred delete,
    // never a delete from inside this dialog's own slot.
    setAttribute(Qt::WA_DeleteOnClose);
    ui.portEdit->setInputMask("D9999");
    ui.portEdit->setText(GetSetting("listening_port"));
    WindowTitleRoom::Keep(this);
}

void ChangeListeningPortDialog::accept()
{
    const qint64 port = ui.portEdit->text().trimmed().toLongLong();
    if (port < 1 || port > 65535) {
        QMessageBox::information(this, tr("Invalid Port Number"), tr("Port number must be in the range of 1 to 65535."),
                                 QMessageBox::Ok);
        return;
    }
    if (port == GetSetting("listening_port").toLongLong()) {
        QMessageBox::information(this, tr("Port Number Not Changed"), tr("Port number has not been changed."),
                                 QMessageBox::Ok);
        return;
    }
    QDialog::accept();
    SetSetting("new_listening_port", QString::number(port));
    // The dialog is hidden by now; its owner carries the notice.
    QMessageBox::information(parentWidget(), tr("Change to Listening Port Pending"),
                             tr("Changes to the listening port will take effect after a client restart."),
                             QMessageBox::Ok);
}
