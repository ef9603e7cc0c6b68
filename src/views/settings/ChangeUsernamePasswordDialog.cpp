#include "ChangeUsernamePasswordDialog.h"

#include "Settings.h"
#include "common/WindowTitleRoom.h"

ChangeUsernamePasswordDialog::ChangeUsernamePasswordDialog(bool firstRun, QWidget* parent)
    : QDialog(parent), m_firstRun(firstRun)
{
    ui.setupUi(this);
    ui.usernameEdit->setText(GetSetting("username"));
    ui.passwordEdit->setText(GetSetting("password"));
    if (m_firstRun)
        setWindowTitle(tr("Set Username/Password"));
    WindowTitleRoom::Keep(this);
    activateWindow();
}

void ChangeUsernamePasswordDialog::accept()
{
    const QString username = ui.usernameEdit->text().trimmed();
    const QString password = ui.passwordEdit->text().trimmed();
    // The server decides what it accepts; only an empty field is refused,
    // silently, by staying open.
    if (username.isEmpty() || password.isEmpty())
        return;
    QDialog::accept();
    SetSetting("username", username);
    SetSetting("password", password);
    // We are inside our own slot, called from the button box: deleting now
    // would pull the object out from under the code still running.
    if (!m_firstRun)
        deleteLater();
}

void ChangeUsernamePasswordDialog::reject()
{
    QDialog::reject();
    // Opened from the toolbar, a cancelled dialog would otherwise stay
    // hidden for the rest of the run, one more at every opening.
    if (!m_firstRun)
        deleteLater();
}
