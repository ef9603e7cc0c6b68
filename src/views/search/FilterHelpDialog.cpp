#include "FilterHelpDialog.h"

#include "ui_FilterHelpDialog.h"

FilterHelpDialog* filterHelpDialog = nullptr;

FilterHelpDialog::FilterHelpDialog(QWidget* parent) : QDialog(parent), ui(new Ui_FilterHelpDialog)
{
    ui->setupUi(this);
    filterHelpDialog = this;
    setAttribute(Qt::WA_DeleteOnClose);
}

FilterHelpDialog::~FilterHelpDialog()
{
    if (filterHelpDialog == this)
        filterHelpDialog = nullptr;
    delete ui;
}

FilterHelpDialog* FilterHelpDialog::Open(QWidget* view)
{
    if (!filterHelpDialog)
        new FilterHelpDialog(view);
    filterHelpDialog->show();
    filterHelpDialog->raise();
    filterHelpDialog->activateWindow();
    return filterHelpDialog;
}
