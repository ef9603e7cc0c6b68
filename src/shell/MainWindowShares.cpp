// The Options pages' shared-folder list with its menu, the rescan reports,
// the listening ports and their test pages, the excluded download
// extensions, the empty-share message and the user-list import.
#include "MainWindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QUrlQuery>

#include "ConfigurationImporter.h"
#include "Data.h"
#include "NetworkHosts.h"
#include "Settings.h"
#include "ShareNames.h"
#include "SharedFoldersManager.h"
#include "StandardDialogs.h"
#include "TransferNames.h"
#include "Type.h"
#include "shares/AddSharedFolderDialog.h"
#include "shares/SharedFilesRescannedDialog.h"
#include "shares/SharedFolderAudience.h"
#include "transfers/ExcludedExtensionsDialog.h"
#include "ui_MainWindow.h"

namespace {

// The note under the listening port on the obfuscated one. The obfuscated
// port is the plain one plus one, so a plain port of 65535 leaves none:
// peer messaging then stores 0.
QString PortNote(qint64 obfuscatedPort)
{
    if (obfuscatedPort < 1 || obfuscatedPort > 65535)
        return MainWindow::tr("There is no obfuscated port: the listening port is the highest there is.\n"
                              "Choose a lower one to accept obfuscated connections.");
    return MainWindow::tr("Obfuscated port is %1, if you're manually forwarding\n"
                          "your ports be sure to open it as well.")
        .arg(obfuscatedPort);
}

} // namespace

// ---------------------------------------------------------------------------
// The shared-folder list

QTreeWidgetItem* MainWindow::SharedFolderRow(const QString& path) const
{
    // Rows carry no item: the folder's path is the one thing both share.
    for (int i = 0; i < ui->sharedFoldersList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = ui->sharedFoldersList->topLevelItem(i);
        if (row->text(0) == path)
            return row;
    }
    return nullptr;
}

ItemPtr MainWindow::SelectedSharedFolder() const
{
    const QList<QTreeWidgetItem*> rows = ui->sharedFoldersList->selectedItems();
    Type* folders = d.HasType(ShareNames::SharedFolder);
    if (rows.isEmpty() || !folders)
        return ItemPtr();
    // Looked up, never made: a folder item made here would be a share that
    // was never added, with no id and no scan.
    return folders->HasItem(Value(rows.first()->text(0)));
}

void MainWindow::ShowSharedFolderState(QTreeWidgetItem* row, ItemPtr folder)
{
    const QString audience = SharedFolderAudience::Text(folder);
    // A folder's first scan runs behind the window; its row says so until
    // its files are shared.
    if (sharedFoldersManager && sharedFoldersManager->IsScanningNewFolder(folder.AsString()))
        row->setText(1, audience.isEmpty() ? tr("Scanning...") : tr("%1 (scanning...)").arg(audience));
    else
        row->setText(1, audience);
}

void MainWindow::OnSharedFolderAdded(ItemPtr folder)
{
    ShowSharedFolderState(new QTreeWidgetItem(ui->sharedFoldersList, QStringList(folder.AsString())), folder);
}

void MainWindow::OnSharedFolderScanned(QString path)
{
    Type* folders = d.HasType(ShareNames::SharedFolder);
    const ItemPtr folder = folders ? folders->HasItem(Value(path)) : ItemPtr();
    if (QTreeWidgetItem* row = SharedFolderRow(path); row && folder)
        ShowSharedFolderState(row, folder);
}

void MainWindow::OnSharedFolderRemoved(ItemPtr folder)
{
    delete SharedFolderRow(folder.AsString());
}

void MainWindow::OnSharedFolderChange(ConnectionInfo& connection)
{
    if (!SharedFolderAudience::IsAudienceType(connection.item2.GetType()))
        return;
    if (QTreeWidgetItem* row = SharedFolderRow(connection.item1.AsString()))
        ShowSharedFolderState(row, connection.item1);
}

void MainWindow::OnSharedFoldersListContextMenuRequested(const QPoint& position)
{
    if (!ui->sharedFoldersList->itemAt(position))
        return;
    // The entries act on the selection as it is when one is chosen, so no
    // row is held while the menu runs.
    QMenu menu;
    menu.addAction(QIcon(":/icons/browse_icon"), tr("Set Folder Permissions"), this,
                   &MainWindow::OnSetFolderPermissions);
    menu.addAction(QIcon(":/icons/browse_icon"), tr("Unshare Folder"), this, &MainWindow::OnUnshareFolder);
    menu.exec(ui->sharedFoldersList->viewport()->mapToGlobal(position));
}

void MainWindow::OnSetFolderPermissions()
{
    if (const ItemPtr folder = SelectedSharedFolder())
        (new AddSharedFolderDialog(folder, this))->show();
}

void MainWindow::OnUnshareFolder()
{
    ItemPtr folder = SelectedSharedFolder();
    if (!folder)
        return;
    folder.Remove();
    // The folder's scanned folders and files go with it.
    d.RemoveDisconnectedItems();
}

void MainWindow::OnSharedFilesRescanned(int filesAdded, int filesRemoved)
{
    auto* report = new SharedFilesRescannedDialog(this);
    // No translation is loaded, so the plural is chosen here.
    report->Append(filesAdded == 1 ? tr("1 file added.") : tr("%1 files added.").arg(filesAdded));
    report->Append(filesRemoved == 1 ? tr("1 file removed.") : tr("%1 files removed.").arg(filesRemoved));
    report->setWindowTitle(tr("Shared Files Rescanned"));
    report->show();
}

void MainWindow::OnOptionsTabSelectionChanged(int index)
{
    // The list's focus brings the page's actions into the context toolbar.
    if (index >= 0 && ui->optionsTabControl->tabText(index) == "File Sharing")
        ui->sharedFoldersList->setFocus(Qt::OtherFocusReason);
}

// ---------------------------------------------------------------------------
// Ports

void MainWindow::OnNewListeningPortChanged(ItemPtr setting)
{
    const QString port = setting["global_value"].AsString();
    if (port.isEmpty())
        return;
    ui->listeningPortEdit->setText(port);
    ui->obfuscatedPortLabel->setText(PortNote(port.toLongLong() + 1));
}

void MainWindow::OnObfuscatedPortSet(ItemPtr)
{
    ui->obfuscatedPortLabel->setText(PortNote(GetSetting("obfuscated_listening_port").toLongLong()));
}

void MainWindow::OnCheckPortsClicked()
{
    for (const char* key : {"listening_port", "obfuscated_listening_port"}) {
        const qint64 port = GetSetting(key).toLongLong();
        // Without an obfuscated port there is nothing to test.
        if (port < 1)
            continue;
        QUrl page = NetworkHosts::WebUrl("porttest.php");
        QUrlQuery query;
        query.addQueryItem("port", QString::number(port));
        page.setQuery(query);
        QDesktopServices::openUrl(page);
    }
}

// ---------------------------------------------------------------------------
// Downloads excluded, the empty-share message, the user-list import

void MainWindow::OnExcludedDownloadExtensionAddedOrRemoved(ItemPtr)
{
    QStringList extensions;
    if (Type* excluded = d.HasType(TransferNames::ExcludedDownloadExtension)) {
        for (const ItemPtr& extension : excluded->GetItems())
            extensions << extension.AsString();
    }
    ui->excludedExtensionsEdit->setText(extensions.join(' '));
}

void MainWindow::OnEditExcludedDownloadExtensionsClicked()
{
    ExcludedExtensionsDialog::Open(this);
}

void MainWindow::OnEmptyShareWarningEditEdited(QString text)
{
    ui->saveEmptyShareWarningMessageButton->setEnabled(!text.trimmed().isEmpty());
}

void MainWindow::OnSaveEmptyShareWarningMessageButtonClicked()
{
    SetSetting("empty_share_message", ui->emptyShareWarningEdit->text());
    ui->emptyShareWarningEdit->setCursorPosition(0);
    ui->saveEmptyShareWarningMessageButton->setEnabled(false);
}

void MainWindow::OnImportUserListClicked()
{
    const QString title = tr("Importing user list from original Quorvane client");
    QMessageBox::information(
        this, title,
        tr("To import your user list, your original Quorvane client must be set not to save configuration data to "
           "the registry (under Options->General), and the palroll.cfg file must then be located on your computer. "
           "The next dialog will ask you to navigate to the exact location of the palroll.cfg file."),
        QMessageBox::Ok);
    const QString path = QDir::fromNativeSeparators(
        StandardDialogs::OpenFileName(this, tr("Find User List Configuration File"), QString(), "palroll.cfg"));
    if (path.isEmpty())
        return;
    const bool imported = ConfigurationImporter::ImportUserList(path);
    QMessageBox::information(this, title,
                             imported ? tr("Import successful.") : tr("Import could not be completed successfully."),
                             QMessageBox::Ok);
}
