#include "AdminMessageDialog.h"

#include <QDateTime>

#include "common/InertTextDocument.h"

AdminMessageDialog::AdminMessageDialog(QString text, QWidget* parent) : QDialog(parent)
{
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    ui.textEdit->setDocument(new InertTextDocument(ui.textEdit));
    ui.textEdit->setText(text);
    ui.timeEdit->setText(QDateTime::currentDateTime().toString("MMM d h:mm:ss ap"));
}
