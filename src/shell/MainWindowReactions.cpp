// The main window's reactions to the server connection, to the server's
// messages, to the tray icon and to its own context-toolbar actions.
#include "MainWindow.h"

#include <QDir>
#include <QMessageBox>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "NewVersionDialog.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "StandardDialogs.h"
#include "Type.h"
#include "rooms/ChatForm.h"
#include "rooms/ChatsForm.h"
#include "settings/AdminMessageDialog.h"
#include "settings/ChangeListeningPortDialog.h"
#include "settings/ChangeUsernamePasswordDialog.h"
#include "shares/AddSharedFolderDialog.h"
#include "ui_MainWindow.h"
#include "users/UserWindows.h"

namespace {

// A dialog that lives on beside the window, above every other window.
void ShowOnTop(QDialog* dialog)
{
    dialog->setWindowFlags(dialog->windowFlags() | Qt::WindowStaysOnTopHint);
    dialog->show();
}

} // namespace

void MainWindow::SetConnectActionText(const QString& text)
{
    if (actionBar)
        actionBar->SetWidgetActionText(ui->loginOptionsTab, "connect_disconnect", text);
}

void MainWindow::OnConnecting()
{
    SetConnectActionText(tr("Connecting..."));
}

void MainWindow::OnConnected()
{
    SetConnectActionText(tr("Disconnect"));
    ResetApplicationIcon();
    m_server->GetOwnPrivilegesStatus();
}

void MainWindow::OnDisconnected()
{
    SetConnectActionText(tr("Connect"));
    SetApplicationIcon(":/icons/offline_icon");
}

void MainWindow::OnConnectionFailed(QString reason)
{
    QString title;
    QString text;
    if (reason == "INVALIDPASS") {
        title = tr("Login Failure: Wrong Password");
        text = tr("Login failed. The password you supplied does not match your username. Please change your login "
                  "settings in the Options tab and try reconnecting.");
    } else if (reason == "INVALIDUSERNAME") {
        title = tr("Login Failure: Username is Invalid");
        text = tr("Login failed. The username you supplied is invalid. Please change your login settings in the "
                  "Options tab and try reconnecting.");
    } else if (!m_server->IsAbruptlyDisconnected()) {
        title = tr("Login Failure");
        text = tr("Login failed. Reported failure reason: %1. Please change your login settings in the Options tab "
                  "and try reconnecting.")
                   .arg(reason);
    }
    if (!title.isEmpty())
        ShowRefusal(title, text);
    SetConnectActionText(tr("Connect"));
}

void MainWindow::ShowRefusal(const QString& title, const QString& text)
{
    // The server retries every half minute and a refusal comes with each
    // try. A box that waited for its answer would run an event loop inside
    // the server's own slot, and the next retry would open another one in
    // it; one box that stays open and is brought forward again does neither.
    if (!m_refusalBox) {
        m_refusalBox = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, this);
        m_refusalBox->setAttribute(Qt::WA_DeleteOnClose);
        m_refusalBox->setModal(false);
    }
    m_refusalBox->setWindowTitle(title);
    m_refusalBox->setText(text);
    m_refusalBox->show();
    m_refusalBox->raise();
}

void MainWindow::OnLoggedInElsewhere()
{
    // Modal to the whole program, but shown without waiting: this runs in
    // the server's slot, which must return before anything else happens.
    if (m_elsewhereBox)
        m_elsewhereBox->close();
    m_elsewhereBox = new QMessageBox(QMessageBox::NoIcon, tr("Logged In Elsewhere"),
                                     tr("Your Quorvane account was used to log in elsewhere."));
    // The box's own modality setter resets its window flags, so it goes
    // first.
    m_elsewhereBox->setWindowModality(Qt::ApplicationModal);
    m_elsewhereBox->setWindowFlags(Qt::WindowStaysOnTopHint);
    m_elsewhereBox->setAttribute(Qt::WA_DeleteOnClose);
    m_elsewhereBox->show();
}

void MainWindow::OnAdminMessage(QString text)
{
    // One window lists them all: a burst of messages opens no window each.
    // A closed one is hidden until it goes.
    for (AdminMessageDialog* open : findChildren<AdminMessageDialog*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!open->isHidden()) {
            open->AddMessage(text);
            return;
        }
    }
    ShowOnTop(new AdminMessageDialog(text, this));
}

void MainWindow::OnNewVersion(qint64 version, QString downloadLink, QStringList description)
{
    ShowOnTop(new NewVersionDialog(version, downloadLink, description, this));
}

void MainWindow::OnPrivateChat(QString user, QString text, time_t, bool)
{
    // The chat's tab is made if need be, and left where it is.
    ui->chatsForm->GetChatForm(user)->AddChat(user, text);
}

void MainWindow::OnTrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger)
        return;
    showNormal();
    activateWindow();
}

void MainWindow::OnToolBarActionTriggered(QWidget*, QString id)
{
    if (id == "share_folder") {
        (new AddSharedFolderDialog(ItemPtr(), this))->show();
    } else if (id == "set_download_folder") {
        const QString folder =
            QDir::fromNativeSeparators(StandardDialogs::ExistingDirectory(this, tr("Set Download Folder"), QString()));
        if (folder.isEmpty())
            return;
        SetSetting("download_folder", folder);
        ui->downloadFolderEdit->setText(folder);
    } else if (id == "rescan_shares") {
        if (sharedFoldersManager)
            sharedFoldersManager->RescanShares();
    } else if (id == "browse_user") {
        // Through the share browser, which asks for the list: a list that
        // no browser waits for is dropped unread.
        const QString user = actionBar->GetKey("user");
        if (!user.isEmpty())
            UserWindows::Open(g_userWindows.shareBrowse, user);
    } else if (id == "message_user") {
        const QString user = actionBar->GetKey("user");
        if (!user.isEmpty())
            ui->chatsForm->GetChatForm(user)->Focus();
    } else if (id == "add_user") {
        const QString user = actionBar->GetKey("user");
        if (!user.isEmpty())
            d.GetType(ServerNames::User)->GetItem(Value(user)).NewItem(ServerNames::InUserList);
    } else if (id == "set_user_pass") {
        if (!m_server->IsConnected())
            (new ChangeUsernamePasswordDialog(false, this))->show();
        else
            QMessageBox::information(this, tr("Cannot change username while online"),
                                     tr("You must be disconnected from the Quorvane server to change your username."),
                                     QMessageBox::Ok);
    } else if (id == "set_listening_port") {
        (new ChangeListeningPortDialog(this))->show();
    } else if (id == "connect_disconnect") {
        if (!m_server->IsConnected())
            m_server->Connect();
        else
            m_server->Disconnect();
    }
}
