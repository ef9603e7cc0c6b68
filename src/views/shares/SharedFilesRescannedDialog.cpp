#include "SharedFilesRescannedDialog.h"

SharedFilesRescannedDialog::SharedFilesRescannedDialog(QWidget* parent) : QDialog(parent)
{
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
}

void SharedFilesRescannedDialog::Append(QString line)
{
    ui.plainTextEdit->appendPlainText(line);
}
