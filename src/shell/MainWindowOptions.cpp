// The Options controls that write a setting, and the sounds, picture,
// fonts, colours, description and search history of the Options pages. No
// page has an apply step: a control writes its setting the moment it
// changes, and writing what a key already holds is silent.
#include "MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QFont>

#include "Data.h"
#include "DiagnosticsForm.h"
#include "ExtendedAsciiTranslator.h"
#include "PortForwarder.h"
#include "Settings.h"
#include "StandardDialogs.h"
#include "Type.h"
#include "UploadQueuePolicy.h"
#include "common/SettingBinding.h"
#include "settings/ColorSelectionDialog.h"
#include "ui_MainWindow.h"

namespace {

const QStringList kFirstOpenTabs = {"transfers", "rooms", "search", "users"};
const QStringList kChatTimestamps = {"activity_based", "per_message_short", "per_message_long", "no_timestamps"};

} // namespace

// ---------------------------------------------------------------------------
// Switches

void MainWindow::OnMaxUploadsPerUserClicked(bool checked)
{
    SettingBinding::WriteSwitch("max_queued_uploads_per_user_enabled", checked);
}

void MainWindow::OnMaxMBPerUserClicked(bool checked)
{
    SettingBinding::WriteSwitch("max_queued_mb_per_user_enabled", checked);
}

void MainWindow::OnAcceptUserlistUploadsCheckboxToggled(bool checked)
{
    SettingBinding::WriteSwitch("accept_userlist_uploads", checked);
}

void MainWindow::OnEmptyShareWarningMessageCheckBoxClicked(bool checked)
{
    SettingBinding::WriteSwitch("check_for_empty_shares", checked);
}

void MainWindow::OnDontCreateSubfoldersForSingleDownloads(bool checked)
{
    SettingBinding::WriteSwitch("dont_create_subfolders_for_single_downloads", checked);
}

void MainWindow::OnDontSplitDownloads(bool checked)
{
    SettingBinding::WriteSwitch("dont_split_downloads", checked);
}

void MainWindow::OnMinimizeToTrayCheckboxToggled(bool checked)
{
    SettingBinding::WriteSwitch("minimize_to_tray", checked);
    ShowTrayIcon(checked);
}

void MainWindow::OnUseOldStyleSearchResultsCheckboxToggled(bool checked)
{
    SettingBinding::WriteSwitch("use_old_style_search_results", checked);
}

void MainWindow::OnExpandNewSharesCheckboxToggled(bool checked)
{
    SettingBinding::WriteSwitch("expand_new_shares", checked);
}

void MainWindow::OnShowAwayStatusClicked(bool checked)
{
    SettingBinding::WriteSwitch("show_away_status_in_application_icon", checked);
    ResetApplicationIcon();
}

void MainWindow::OnOpenGroupsOnUserAddClicked(bool checked)
{
    SettingBinding::WriteSwitch("open_groups_on_user_add", checked);
}

void MainWindow::OnShowDiagnosticsCheckboxToggled(bool checked)
{
    SettingBinding::WriteSwitch("show_diagnostics", checked);
    if (!diagnosticsForm)
        return;
    const int page = ui->tabControl->indexOf(diagnosticsForm);
    if (checked && page < 0)
        ui->tabControl->addTab(diagnosticsForm, tr("Diagnostics"));
    else if (!checked && page >= 0)
        ui->tabControl->removeTab(page);
}

void MainWindow::OnShowEventButtonsClicked(bool checked)
{
    SettingBinding::WriteSwitch("show_event_buttons", checked);
}

void MainWindow::OnLogRoomChatCheckBoxClicked(bool checked)
{
    SettingBinding::WriteSwitch("log_room_chat", checked);
}

void MainWindow::OnLogPrivateChatCheckBoxClicked(bool checked)
{
    SettingBinding::WriteSwitch("log_private_chat", checked);
}

void MainWindow::OnUserLevelLoggingClicked(bool checked)
{
    SettingBinding::WriteSwitch("user_level_logging", checked);
}

void MainWindow::OnUPnPCheckboxToggled(bool checked)
{
    SettingBinding::WriteSwitch("use_upnp", checked);
    // Only the gateway is looked for here; the ports are mapped at the next
    // login, and switching off leaves earlier mappings in place.
    if (checked && portForwarder)
        portForwarder->Init();
}

// ---------------------------------------------------------------------------
// Choices and numbers

void MainWindow::OnFirstOpenTabBoxIndexChanged(int index)
{
    SettingBinding::WriteChoice("first_open_tab", kFirstOpenTabs, index);
}

void MainWindow::OnChatTimestampsBoxIndexChanged(int index)
{
    SettingBinding::WriteChoice("chat_timestamps", kChatTimestamps, index);
}

void MainWindow::OnCodePageSelected(int index)
{
    // The first entry is "[None]"; no entry at all clears the code page too.
    if (extendedAsciiTranslator)
        extendedAsciiTranslator->SetCodePage(index > 0 ? ui->codePageBox->itemText(index).toLatin1() : QByteArray());
}

void MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged(int value)
{
    SettingBinding::WriteNumber(ui->maxUploadsPerUserSpinBox, "max_queued_uploads_per_user", value,
                                UploadQueuePolicy::LeastFiles);
}

void MainWindow::OnMaxMBPerUserSpinBoxValueChanged(int value)
{
    SettingBinding::WriteNumber(ui->maxMBPerUserSpinBox, "max_queued_mb_per_user", value,
                                UploadQueuePolicy::LeastMegabytes);
}

// ---------------------------------------------------------------------------
// Sounds

void MainWindow::SelectSoundFile(const char* kind, QLineEdit* edit)
{
    const QString path = QDir::fromNativeSeparators(
        StandardDialogs::OpenFileName(this, tr("Select Wave File"), QString(), tr("Wave Files (*.wav)")));
    if (path.isEmpty())
        return;
    // One file item serves every kind that chose it; a kind holds one file,
    // so this also drops the kind's previous one.
    const ItemPtr file = d.GetType("event_sound_file")->NewItem(Value(path));
    d.GetType("event_sound")->NewItem(Value(kind)).Connect(file);
    edit->setText(path);
}

void MainWindow::ClearSoundFile(const char* kind, QLineEdit* edit)
{
    // The file item stays while another kind holds it; the clean-up takes
    // it once nothing does.
    d.GetType("event_sound")->NewItem(Value(kind)).Disconnect("event_sound_file");
    edit->clear();
}

void MainWindow::OnSelectDefaultSoundFile()
{
    SelectSoundFile("default", ui->defaultSoundEdit);
}
void MainWindow::OnClearDefaultSoundFile()
{
    ClearSoundFile("default", ui->defaultSoundEdit);
}
void MainWindow::OnSelectPrivateChatSoundFile()
{
    SelectSoundFile("private_chat", ui->privateChatSoundEdit);
}
void MainWindow::OnClearPrivateChatSoundFile()
{
    ClearSoundFile("private_chat", ui->privateChatSoundEdit);
}
void MainWindow::OnSelectRoomChatSoundFile()
{
    SelectSoundFile("room_chat", ui->roomChatSoundEdit);
}
void MainWindow::OnClearRoomChatSoundFile()
{
    ClearSoundFile("room_chat", ui->roomChatSoundEdit);
}
void MainWindow::OnSelectWishlistSoundFile()
{
    SelectSoundFile("wishlist", ui->wishlistResultsSoundEdit);
}
void MainWindow::OnClearWishlistSoundFile()
{
    ClearSoundFile("wishlist", ui->wishlistResultsSoundEdit);
}
void MainWindow::OnSelectShareBrowseSoundFile()
{
    SelectSoundFile("browse", ui->shareBrowseSoundEdit);
}
void MainWindow::OnClearShareBrowseSoundFile()
{
    ClearSoundFile("browse", ui->shareBrowseSoundEdit);
}
void MainWindow::OnSelectDownloadAlertSoundFile()
{
    SelectSoundFile("download", ui->downloadAlertSoundEdit);
}
void MainWindow::OnClearDownloadAlertSoundFile()
{
    ClearSoundFile("download", ui->downloadAlertSoundEdit);
}
void MainWindow::OnSelectUserOnlineAlertSoundFile()
{
    SelectSoundFile("user_online", ui->userOnlineAlertSoundEdit);
}
void MainWindow::OnClearUserOnlineAlertSoundFile()
{
    ClearSoundFile("user_online", ui->userOnlineAlertSoundEdit);
}
void MainWindow::OnSelectUserInfoSoundFile()
{
    SelectSoundFile("user_info", ui->userInfoSoundEdit);
}
void MainWindow::OnClearUserInfoSoundFile()
{
    ClearSoundFile("user_info", ui->userInfoSoundEdit);
}

// ---------------------------------------------------------------------------
// Picture, description, fonts, colours and the search history

void MainWindow::OnSelectPictureClicked()
{
    const QString path =
        QDir::fromNativeSeparators(StandardDialogs::OpenFileName(this, tr("Select Picture"), QString(), QString()));
    if (path.isEmpty())
        return;
    SetSetting("user_picture_file", path);
    ui->userPictureFilenameEdit->setText(path);
}

void MainWindow::OnClearPictureClicked()
{
    RemoveSetting("user_picture_file");
    ui->userPictureFilenameEdit->clear();
}

void MainWindow::OnUserInfoTextChanged()
{
    SetSetting("user_description", ui->userDescriptionEdit->toPlainText());
}

void MainWindow::OnSelectApplicationFontClicked()
{
    QFont font = QApplication::font();
    QFont stored;
    if (stored.fromString(GetSetting("application_font")))
        font = stored;
    font = StandardDialogs::Font(font, nullptr);
    SetSetting("application_font", font.toString());
    QApplication::setFont(font);
}

void MainWindow::OnDefaultFontClicked()
{
    QFont font;
    if (!font.fromString(GetRuntimeSetting("default_application_font")))
        return;
    SetSetting("application_font", font.toString());
    QApplication::setFont(font);
}

void MainWindow::OnSelectColors()
{
    (new ColorSelectionDialog(this))->show();
}

void MainWindow::OnClearSearchHistoryClicked()
{
    // The search page declares the type; before it has, there is no history.
    Type* records = d.HasType("search_record");
    if (!records)
        return;
    Data::Batch batch(&d);
    for (ItemPtr record : records->GetItems())
        record.Remove();
}
