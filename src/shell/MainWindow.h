#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>
#include <ctime>
#include <functional>

#include "DataHandler.h"
#include "EventHandler.h"
#include "ItemPtr.h"
#include "ResizableWindow.h"
#include "UpdateChecker.h"

class QLineEdit;
class QMessageBox;
class QCloseEvent;
class QMoveEvent;
class QPoint;
class QResizeEvent;
class QTreeWidgetItem;
class Server;
class Ui_MainWindow;

// The program's one top-level window. It builds its form at construction,
// before any engine exists; Init() then creates and wires every engine in
// order, loads the data file and brings the Options pages up to date. The
// destructor saves once more and takes everything down in order.
class MainWindow : public QMainWindow, public DataHandler
{
    Q_OBJECT

public:
    // What the size memory reads and restores of the window: its client
    // geometry, without the frame.
    class SizeProxy : public ResizableWindow
    {
    public:
        int GetX() override;
        int GetY() override;
        int GetWidth() override;
        int GetHeight() override;
        void SetPosition(int x, int y) override;
        void SetSize(int width, int height) override;
    };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void Init();
    void SaveData();
    // A save that failed, with its reason when known: logged, and told the
    // user once per run; from the end of the run on, written to standard
    // error instead.
    void OnSaveFailed(const QString& reason = QString());
    // The last save of the run, made when the event loop has ended and the
    // window still stands (see ExitSave); someoneThere says whether the user
    // can still be asked. True when the data was saved. The teardown then
    // saves no more.
    bool SaveAtExit(const std::function<bool()>& someoneThere);

    void SetApplicationIcon(QString resource);
    void ResetApplicationIcon();
    // Shows the tray icon only where a tray exists.
    void ShowTrayIcon(bool shown);
    void PopupAlert(QString text);

    // The data file's name without its save-time suffix.
    static QString DataFilePrefix();

    // Store event handlers (registered by Init).
    void OnUsernameChanged(ItemPtr key);
    void OnObfuscatedPortSet(ItemPtr key);
    void OnNewListeningPortChanged(ItemPtr key);
    void OnSharedFolderAdded(ItemPtr folder);
    void OnSharedFolderRemoved(ItemPtr folder);
    void OnSharedFolderScanned(QString path);
    void OnSharedFolderChange(ConnectionInfo& connection);
    void OnExcludedDownloadExtensionAddedOrRemoved(ItemPtr extension);

public slots:
    // The shared timers.
    void EveryHalfMinute();
    void EveryFiveMinutes();
    void EveryHour();

    // Server connection and messages.
    void OnConnecting();
    void OnConnected();
    void OnDisconnected();
    void OnConnectionFailed(QString reason);
    void OnLoggedInElsewhere();
    void OnAdminMessage(QString text);
    void OnPrivateChat(QString user, QString text, time_t time, bool spontaneous);
    void OnNewVersion(qint64 version, QString downloadLink, QStringList description);

    void OnToolBarActionTriggered(QWidget* widget, QString id);
    void OnTrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    void OnSharedFilesRescanned(int filesAdded, int filesRemoved);

    // Options controls connected by the form.
    void OnOptionsTabSelectionChanged(int index);
    void OnUPnPCheckboxToggled(bool checked);
    void OnAcceptUserlistUploadsCheckboxToggled(bool checked);
    void OnSelectPictureClicked();
    void OnUserInfoTextChanged();
    void OnClearPictureClicked();
    void OnCheckPortsClicked();
    void OnUserLevelLoggingClicked(bool checked);
    void OnEditExcludedDownloadExtensionsClicked();
    void OnImportUserListClicked();

    // Options controls connected by Init.
    void OnLogRoomChatCheckBoxClicked(bool checked);
    void OnLogPrivateChatCheckBoxClicked(bool checked);
    void OnEmptyShareWarningMessageCheckBoxClicked(bool checked);
    void OnMaxUploadsPerUserSpinBoxValueChanged(int value);
    void OnMaxMBPerUserSpinBoxValueChanged(int value);
    void OnMaxUploadsPerUserClicked(bool checked);
    void OnMaxMBPerUserClicked(bool checked);
    void OnCodePageSelected(int index);
    void OnUseOldStyleSearchResultsCheckboxToggled(bool checked);
    void OnShowDiagnosticsCheckboxToggled(bool checked);
    void OnDontCreateSubfoldersForSingleDownloads(bool checked);
    void OnMinimizeToTrayCheckboxToggled(bool checked);
    void OnExpandNewSharesCheckboxToggled(bool checked);
    void OnChatTimestampsBoxIndexChanged(int index);
    void OnShowAwayStatusClicked(bool checked);
    void OnSelectColors();
    void OnDontSplitDownloads(bool checked);
    void OnFirstOpenTabBoxIndexChanged(int index);
    void OnEmptyShareWarningEditEdited(QString text);
    void OnSaveEmptyShareWarningMessageButtonClicked();
    void OnSharedFoldersListContextMenuRequested(const QPoint& position);
    void OnSetFolderPermissions();
    void OnUnshareFolder();
    void OnOpenGroupsOnUserAddClicked(bool checked);
    void OnShowEventButtonsClicked(bool checked);
    void OnSelectDefaultSoundFile();
    void OnClearDefaultSoundFile();
    void OnSelectPrivateChatSoundFile();
    void OnClearPrivateChatSoundFile();
    void OnSelectRoomChatSoundFile();
    void OnClearRoomChatSoundFile();
    void OnSelectWishlistSoundFile();
    void OnClearWishlistSoundFile();
    void OnSelectShareBrowseSoundFile();
    void OnClearShareBrowseSoundFile();
    void OnSelectDownloadAlertSoundFile();
    void OnClearDownloadAlertSoundFile();
    void OnSelectUserOnlineAlertSoundFile();
    void OnClearUserOnlineAlertSoundFile();
    void OnSelectUserInfoSoundFile();
    void OnClearUserInfoSoundFile();
    void OnSelectApplicationFontClicked();
    void OnDefaultFontClicked();
    void OnClearSearchHistoryClicked();

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void DeclareShellTypes();
    void AddToolBarActions();
    void WriteDefaults();
    void WriteAppearanceDefaults();
    void LoadData();
    void ApplyAppearance();
    void RunFirstRunDialogs();
    void FillConnectionOptions();
    void FillChatAndStartPage();
    void FillUploadOptions();
    void FillLimitOptions();
    void FillUserInfoOptions();
    void FillSoundEdits();
    void ConnectSoundButtons();
    void ReportUnopenedDataFiles();
    void ReportSetAsideFiles();
    void ReportSaveFailure();
    // A message beside the window that waits for nothing.
    void ShowNotice(const QString& title, const QString& text, Qt::TextFormat format = Qt::PlainText);
    // Empty when the data file was written, else why not.
    QString TrySave();
    bool AskToTryAgainSaving(const QString& reason);
    void SetConnectActionText(const QString& text);
    void ShowRefusal(const QString& title, const QString& text);
    void SelectSoundFile(const char* kind, QLineEdit* edit);
    void ClearSoundFile(const char* kind, QLineEdit* edit);
    QTreeWidgetItem* SharedFolderRow(const QString& path) const;
    void ShowSharedFolderState(QTreeWidgetItem* row, ItemPtr folder);
    ItemPtr SelectedSharedFolder() const;

    Ui_MainWindow* ui;
    Server* m_server = nullptr;
    SizeProxy m_sizeProxy;
    QSystemTrayIcon m_trayIcon;
    UpdateChecker m_updateChecker;

    // From the save at exit or the first line of the destructor on; a failed
    // save is then told by that save or, with nobody left to tell, written
    // to the log and standard error.
    bool m_tearingDown = false;
    bool m_savedAtExit = false;
    bool m_saveFailureReported = false;
    // The one login-refusal box, brought forward again at each retry.
    QPointer<QMessageBox> m_refusalBox;
    // Has no parent, so the window closes it when it goes.
    QPointer<QMessageBox> m_elsewhereBox;
};
