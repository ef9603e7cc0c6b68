#include "SharedFilesRescannedDialog.h"

SharedFilesRescannedDialog::SharedFilesRescannedDialog(QWidget* parent) : QDialog(parent)
{
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // The box is two lines high; with the usual margins only one line of
    // the report would show.
    ui.plainTextEdit->document()->setDocumentMargin(1);
}

void SharedFilesRescannedDialog::Append(QString line)
{
    ui.plainTextEdit->appendPlainText(line);
    ui.plainTextEdit->moveCursor(QTextCursor::Start);
}
