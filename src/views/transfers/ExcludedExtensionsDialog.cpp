#include "ExcludedExtensionsDialog.h"

#include <QMenu>
#include <QPointer>

#include "Data.h"
#include "TransferNames.h"
#include "ui_ExcludedExtensionsDialog.h"

ExcludedExtensionsDialog* excludedExtensionsDialog = nullptr;

namespace {

const char* const kExtension = TransferNames::ExcludedDownloadExtension;

} // namespace

ExcludedExtensionsDialog::ExcludedExtensionsDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui_ExcludedExtensionsDialog)
{
    excludedExtensionsDialog = this;
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    Type* extensions = d.GetType(kExtension);
    extensions->AddItemAddedHandler(
        new EventHandler<ExcludedExtensionsDialog, ItemPtr>(this, &ExcludedExtensionsDialog::OnExtensionAdded));
    extensions->AddItemRemovedHandler(
        new EventHandler<ExcludedExtensionsDialog, ItemPtr>(this, &ExcludedExtensionsDialog::OnExtensionRemoved));
    for (const ItemPtr& extension : extensions->GetItems())
        OnExtensionAdded(extension);
    connect(ui->extensionListWidget, &QWidget::customContextMenuRequested, this,
            &ExcludedExtensionsDialog::OnExtensionListContextMenuRequested);
}

ExcludedExtensionsDialog::~ExcludedExtensionsDialog()
{
    RemoveDataHandlers();
    delete ui;
    ui = nullptr;
    if (excludedExtensionsDialog == this)
        excludedExtensionsDialog = nullptr;
}

ExcludedExtensionsDialog* ExcludedExtensionsDialog::Open(QWidget* parent)
{
    if (!excludedExtensionsDialog)
        new ExcludedExtensionsDialog(parent);
    ExcludedExtensionsDialog* dialog = excludedExtensionsDialog;
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    dialog->setFocus(Qt::OtherFocusReason);
    return dialog;
}

void ExcludedExtensionsDialog::OnNewExtensionButtonClicked()
{
    const QString text = ui->newExtensionEdit->text().trimmed();
    ui->newExtensionEdit->clear();
    // As typed, case and dots included; a text already there adds nothing.
    if (!text.isEmpty())
        d.GetType(kExtension)->GetItem(Value(text));
}

void ExcludedExtensionsDialog::OnExtensionAdded(ItemPtr ip_extension)
{
    ui->extensionListWidget->addItem(ip_extension.AsString());
}

void ExcludedExtensionsDialog::OnExtensionRemoved(ItemPtr ip_extension)
{
    const QString text = ip_extension.AsString();
    for (QListWidgetItem* row : ui->extensionListWidget->findItems(text, Qt::MatchExactly | Qt::MatchCaseSensitive))
        delete row;
}

void ExcludedExtensionsDialog::OnExtensionListContextMenuRequested(QPoint i_point)
{
    if (!ui->extensionListWidget->itemAt(i_point))
        return;
    // The dialog may be closed, and so deleted, while its menu is open.
    QPointer<QMenu> menu = new QMenu(this);
    menu->addAction(tr("Remove"), this, &ExcludedExtensionsDialog::OnRemoveExcludedExtension);
    menu->exec(ui->extensionListWidget->viewport()->mapToGlobal(i_point));
    delete menu;
}

void ExcludedExtensionsDialog::OnRemoveExcludedExtension()
{
    // Texts first: each removal takes its row away, which changes the
    // selection being walked.
    QStringList texts;
    for (QListWidgetItem* row : ui->extensionListWidget->selectedItems())
        texts << row->text();
    texts.removeDuplicates();
    Type* extensions = d.GetType(kExtension);
    for (const QString& text : texts)
        if (ItemPtr extension = extensions->HasItem(Value(text)))
            extension.Remove();
}
