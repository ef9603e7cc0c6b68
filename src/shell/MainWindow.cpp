#include "MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QColor>
#include <QDateTime>
#include <QDir>
#include <QFont>
#include <QMessageBox>
#include <QMoveEvent>
#include <QResizeEvent>

#include "ActionSetToolBar.h"
#include "DNetManager.h"
#include "Data.h"
#include "DataSaver.h"
#include "DelayedInvoker.h"
#include "DiagnosticsForm.h"
#include "EventToolBar.h"
#include "ExitSave.h"
#include "ExtendedAsciiTranslator.h"
#include "FocusHelpers.h"
#include "Log.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "ShareNames.h"
#include "SharedFoldersManager.h"
#include "ShellHooks.h"
#include "SizeManager.h"
#include "TimerManager.h"
#include "TransferNames.h"
#include "TransferQueueManager.h"
#include "UploadQueuePolicy.h"
#include "search/SearchForm.h"
#include "search/WishListSearcher.h"
#include "settings/ChangeUsernamePasswordDialog.h"
#include "settings/ColorSettings.h"
#include "shares/AddSharedFolderDialog.h"
#include "transfers/TransfersForm.h"
#include "ui_MainWindow.h"
#include "users/ItemLogDialog.h"
#include "users/UserListForm.h"
#include "users/UserNoteDialog.h"

#include <cstdio>

namespace {

const char* const kConfigurationArea = "Configuration Data";

QString BuildTitle()
{
    return QString("QuorvaneQt build %3.%1.%2")
        .arg(QString::number((g_currentVersion % 10000) / 100), QString::number(g_currentVersion % 100),
             QString::number(g_currentVersion / 10000));
}

// Reading a setting for a control makes its key item, as every other read
// of a key through the store does; nothing is connected, so nothing is
// written.
QString ControlText(const char* key)
{
    return GetSettingItem(key)["global_value"].AsString();
}

bool ControlFlag(const char* key)
{
    Type* values = d.HasType("global_value");
    return values && GetSettingItem(key).IsConnected(values->GetItem("yes"));
}

bool HasValue(const char* key)
{
    return !GetSettingItem(key)["global_value"].IsNull();
}

// Each engine's global is cleared here as well, since not every engine
// clears its own when it goes.
template <class T>
void DeleteEngine(T*& global)
{
    if (!global)
        return;
    T* engine = global;
    global = nullptr;
    delete engine;
}

} // namespace

// ---------------------------------------------------------------------------
// Size proxy

int MainWindow::SizeProxy::GetX()
{
    return mainWindow->geometry().x();
}

int MainWindow::SizeProxy::GetY()
{
    return mainWindow->geometry().y();
}

int MainWindow::SizeProxy::GetWidth()
{
    return mainWindow->geometry().width();
}

int MainWindow::SizeProxy::GetHeight()
{
    return mainWindow->geometry().height();
}

void MainWindow::SizeProxy::SetPosition(int x, int y)
{
    const QRect r = mainWindow->geometry();
    mainWindow->setGeometry(x, y, r.width(), r.height());
}

void MainWindow::SizeProxy::SetSize(int width, int height)
{
    const QRect r = mainWindow->geometry();
    mainWindow->setGeometry(r.x(), r.y(), width, height);
}

// ---------------------------------------------------------------------------
// Construction and teardown

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui_MainWindow)
{
    mainWindow = this;
    ui->setupUi(this);

    g_shellHooks.isMainWindowActive = [this] { return isActiveWindow(); };
    g_shellHooks.popupAlert = [this](const QString& text) { PopupAlert(text); };
    g_shellHooks.setApplicationIcon = [this](const QString& resource) { SetApplicationIcon(resource); };
    g_shellHooks.resetApplicationIcon = [this] { ResetApplicationIcon(); };
    g_shellHooks.saveData = [this] { SaveData(); };

    SetApplicationIcon(":/icons/offline_icon");
    ui->sharedFoldersList->setColumnWidth(0, 400);
    ui->sharedFoldersList->setHeaderLabels(QStringList() << tr("Shared folder") << tr("Accessible to"));
}

MainWindow::~MainWindow()
{
    delete m_elsewhereBox;
    m_tearingDown = true;
    if (!m_savedAtExit)
        SaveData();
    g_showIsOver = true;
    if (gp_server)
        gp_server->Disconnect();

    // The transfer engine and the shared folders wait for their threads
    // here, so no worker outlives the engines and the store it uses.
    DeleteEngine(transferQueueManager);
    DeleteEngine(sharedFoldersManager);
    DeleteEngine(delayedInvoker);
    DeleteEngine(dnetManager);
    DeleteEngine(peerMessenger);
    if (m_server) {
        if (gp_server == m_server)
            gp_server = nullptr;
        delete m_server;
        m_server = nullptr;
    }
    DeleteEngine(dataSaver);
    DeleteEngine(extendedAsciiTranslator);
    DeleteEngine(timerManager);
    // Shown only as a tab while diagnostics are on; it goes either way.
    DeleteEngine(diagnosticsForm);
    delete ui;
    ui = nullptr;
    DeleteEngine(sizeManager);

    g_shellHooks = ShellHooks();
    if (mainWindow == this)
        mainWindow = nullptr;
}

QString MainWindow::DataFilePrefix()
{
    return QDir::homePath() + "/.Quorvane";
}

void MainWindow::SaveData()
{
    const QString reason = TrySave();
    if (!reason.isEmpty())
        OnSaveFailed(reason);
}

QString MainWindow::TrySave()
{
    if (g_showIsOver || !dataSaver)
        return QString();
    d.RemoveDisconnectedItems();
    try {
        dataSaver->Save(DataFilePrefix());
    } catch (const DataSaveFailure& failure) {
        // Saving runs from slots and from the destructor, where an exception
        // would end the program; the run goes on with the data in memory.
        return failure.reason.isEmpty() ? QString("the system gave no reason") : failure.reason;
    }
    return QString();
}

void MainWindow::OnSaveFailed(const QString& reason)
{
    const QString text = reason.isEmpty()
                             ? QString("Failure to save configuration data to %1.").arg(DataFilePrefix())
                             : QString("Failure to save configuration data to %1: %2.").arg(DataFilePrefix(), reason);
    Log(kConfigurationArea, 1, text);
    if (m_tearingDown)
        std::fprintf(stderr, "%s\n", qPrintable(text));
    else
        ReportSaveFailure();
}

bool MainWindow::SaveAtExit(const std::function<bool()>& someoneThere)
{
    // What fails from here on is this save's to tell, not the once-a-run box's.
    m_tearingDown = true;
    ExitSave save;
    save.save = [this] { return TrySave(); };
    save.someoneThere = someoneThere;
    save.tryAgain = [this](const QString& reason) { return AskToTryAgainSaving(reason); };
    save.report = [this](const QString& reason) { OnSaveFailed(reason); };
    // The half-minute tick still comes while the user is asked: a write it
    // started could fail after "Quit Without Saving", told to no one.
    if (dataSaver)
        dataSaver->HoldChanges(true);
    const bool saved = save.Run();
    if (dataSaver)
        dataSaver->HoldChanges(false);
    m_savedAtExit = true;
    return saved;
}

bool MainWindow::AskToTryAgainSaving(const QString& reason)
{
    // A box of this scope, answered by its standard buttons: nothing of it
    // is looked at through a pointer once its loop has run.
    QMessageBox box(QMessageBox::Warning, tr("Error saving configuration data"),
                    tr("Your client configuration data could not be saved to %1: %2.\n\n"
                       "Free some space or mend the folder's permissions and try again, or quit without saving "
                       "and lose the changes made in this session.")
                        .arg(QDir::toNativeSeparators(DataFilePrefix()), reason),
                    QMessageBox::Retry | QMessageBox::Discard, this);
    box.button(QMessageBox::Retry)->setText(tr("Try Again"));
    box.button(QMessageBox::Discard)->setText(tr("Quit Without Saving"));
    box.setDefaultButton(QMessageBox::Retry);
    // Escape or closing the box gives nothing up; only the button does.
    box.setEscapeButton(QMessageBox::Retry);
    return box.exec() == QMessageBox::Retry;
}

void MainWindow::ReportSaveFailure()
{
    // Once per run, and without waiting: the hourly save repeats the
    // failure while nothing changes, and a save may be asked for while a
    // modal dialog already runs.
    if (m_saveFailureReported)
        return;
    m_saveFailureReported = true;
    ShowNotice(tr("Error saving configuration data"), tr("Your client configuration data could not be saved to %1. "
                                                         "Changes made in this session may be lost.")
                                                          .arg(QDir::toNativeSeparators(DataFilePrefix())));
}

void MainWindow::ShowNotice(const QString& title, const QString& text, Qt::TextFormat format)
{
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box->setTextFormat(format);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

// ---------------------------------------------------------------------------
// Composition root

void MainWindow::Init()
{
    setWindowTitle(BuildTitle());

    new TimerManager();
    new DataSaver();
    dataSaver->SetSaveFailedHandler([this] { OnSaveFailed(); });
    m_server = new Server();

    DeclareSettingTypes();
    dataSaver->AddSavedType("global");
    dataSaver->AddSavedByConnectionType("global_value", "global");
    m_server->CreateData();
    qRegisterMetaType<ItemPtr>("ItemPtr");

    connect(m_server, &Server::Connected, this, &MainWindow::OnConnected);
    connect(m_server, &Server::Connecting, this, &MainWindow::OnConnecting);
    connect(m_server, &Server::Disconnected, this, &MainWindow::OnDisconnected);

    ui->mainToolBar->Init();
    AddToolBarActions();
    connect(ui->mainToolBar, &ActionSetToolBar::ActionTriggered, this, &MainWindow::OnToolBarActionTriggered);

    new PeerMessenger();

    Type* user = d.GetType(ServerNames::User);
    Type* userNote = d.NewType("user_note", 1, false, true);
    user->RelateToType(userNote, many, one, false);
    dataSaver->AddSavedType("user_note");
    dataSaver->AddSavedByConnectionType(ServerNames::User, "user_note");

    new DelayedInvoker();
    new DNetManager();
    new SharedFoldersManager(this);

    m_trayIcon.setIcon(QIcon(":/icons/offline_icon"));

    user->RelateToType(d.NewType("user_chat_widget", 0, false, true), one, one, false);

    connect(m_server, &Server::PrivateChat, this, &MainWindow::OnPrivateChat);

    Type* sharedFolder = d.GetType(ShareNames::SharedFolder);
    sharedFolder->AddItemAddedHandler(new EventHandler<MainWindow, ItemPtr>(this, &MainWindow::OnSharedFolderAdded));
    sharedFolder->AddItemRemovedHandler(
        new EventHandler<MainWindow, ItemPtr>(this, &MainWindow::OnSharedFolderRemoved));
    sharedFolder->AddConnectedHandler(
        new EventHandler<MainWindow, ConnectionInfo&>(this, &MainWindow::OnSharedFolderChange));
    sharedFolder->AddDisconnectedHandler(
        new EventHandler<MainWindow, ConnectionInfo&>(this, &MainWindow::OnSharedFolderChange));
    // Before the first-run dialogs: a folder shared there may be scanned
    // while the next one is open.
    if (sharedFoldersManager)
        connect(sharedFoldersManager, &SharedFoldersManager::SharedFolderScanned, this,
                &MainWindow::OnSharedFolderScanned);

    new SizeManager();
    (new DiagnosticsForm())->Init();
    diagnosticsForm->RegisterLoggableItemType(ServerNames::User);

    new TransferQueueManager();
    ui->transfersTab->Init();
    ui->sharesTab->Init();
    ui->searchTab->Init();
    new WishListSearcher(this);

    setContextMenuPolicy(Qt::NoContextMenu);
    auto* events = new EventToolBar();
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, events);

    {
        PathNode* root = new PathNode(GetSettingItem("username"));
        new PathNode(root, "global_value", 0);
        d.AddPathEventHandler(root, new EventHandler<MainWindow, ItemPtr>(this, &MainWindow::OnUsernameChanged));
    }
    connect(m_server, &Server::ConnectionFailed, this, &MainWindow::OnConnectionFailed);
    connect(m_server, &Server::LoggedInElsewhere, this, &MainWindow::OnLoggedInElsewhere);

    WriteDefaults();
    WriteAppearanceDefaults();
    SetSetting("log_room_chat", "yes");
    SetSetting("log_private_chat", "yes");

    connect(ui->logRoomChatCheckBox, &QCheckBox::clicked, this, &MainWindow::OnLogRoomChatCheckBoxClicked);
    connect(ui->logPrivateChatCheckBox, &QCheckBox::clicked, this, &MainWindow::OnLogPrivateChatCheckBoxClicked);
    connect(ui->emptyShareWarningCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnEmptyShareWarningMessageCheckBoxClicked);
    {
        PathNode* root = new PathNode(GetSettingItem("obfuscated_listening_port"));
        new PathNode(root, "global_value", 2);
        d.AddPathEventHandler(root, new EventHandler<MainWindow, ItemPtr>(this, &MainWindow::OnObfuscatedPortSet));
    }
    // These two raise a value below their minimum at once; told of every
    // keystroke, they would raise the first digit of "25" and make it "150".
    ui->maxUploadsPerUserSpinBox->setKeyboardTracking(false);
    ui->maxMBPerUserSpinBox->setKeyboardTracking(false);
    // No lower than the settings keep, or a value typed would silently become another.
    ui->maxUploadsPerUserSpinBox->setMinimum(UploadQueuePolicy::LeastFiles);
    ui->maxMBPerUserSpinBox->setMinimum(UploadQueuePolicy::LeastMegabytes);
    connect(ui->maxUploadsPerUserSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged);
    connect(ui->maxMBPerUserSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &MainWindow::OnMaxMBPerUserSpinBoxValueChanged);
    connect(ui->maxUploadsPerUserCheckBox, &QCheckBox::clicked, this, &MainWindow::OnMaxUploadsPerUserClicked);
    connect(ui->maxMBPerUserCheckBox, &QCheckBox::clicked, this, &MainWindow::OnMaxMBPerUserClicked);

    new ExtendedAsciiTranslator();
    ui->codePageBox->addItem("[None]");
    ui->codePageBox->addItems(ExtendedAsciiTranslator::CodePageNames());
    connect(ui->codePageBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::OnCodePageSelected);
    ui->userListForm->Init();

    LoadData();

    if (GetSetting("show_diagnostics") == "yes")
        ui->tabControl->addTab(diagnosticsForm, tr("Diagnostics"));
    ui->roomsForm->Init();
    ApplyAppearance();
    SetSetting("data_version", "1");

    if (!HasValue("username"))
        RunFirstRunDialogs();
    if (HasValue("username"))
        m_server->Connect();

    FillConnectionOptions();
    FillChatAndStartPage();
    sizeManager->RegisterResizableWindow("main_window", &m_sizeProxy);

    connect(timerManager, &QTimer::timeout, this, &MainWindow::EveryHalfMinute);
    connect(timerManager->FiveMinuteTimer(), &QTimer::timeout, this, &MainWindow::EveryFiveMinutes);
    connect(timerManager->HourTimer(), &QTimer::timeout, this, &MainWindow::EveryHour);
    connect(&m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::OnTrayIconActivated);
    UserNoteDialog::Init();
    ItemLogDialog::Init();
    activateWindow();

    sharedFoldersManager->Init();
    connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, this,
            &MainWindow::OnSharedFilesRescanned);
    RegisterWidgetForTabFocus(ui->usernameEdit, 1);
    RegisterWidgetForTabFocus(ui->sharedFoldersList, 1);
    ui->chatsForm->Init();

    Type* chatLogForm = d.NewType("chat_log_form", 0, false, true);
    chatLogForm->RelateToType(d.GetType(ServerNames::Room), one, one, false);
    chatLogForm->RelateToType(user, one, one, false);
    actionBar->AddSetAction("chat_log", "clear_chat_log", tr("Clear Log"), ":/icons/empty_note_icon", false);
    actionBar->AddSetAction("chat_log", "open_log_folder", tr("Open Log Folder"), ":/icons/browse_icon", false);
    actionBar->AddSetAction("user_chat", "user_chat_log", tr("Chat Log"), ":/icons/note_icon", false);

    FillUploadOptions();
    m_updateChecker.Init();
    connect(&m_updateChecker, &UpdateChecker::NewVersion, this, &MainWindow::OnNewVersion);
    FillLimitOptions();
    ui->sharedFoldersList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->sharedFoldersList, &QWidget::customContextMenuRequested, this,
            &MainWindow::OnSharedFoldersListContextMenuRequested);
    FillUserInfoOptions();
    connect(m_server, &Server::AdminMessage, this, &MainWindow::OnAdminMessage);

    Type* excluded = d.GetType(TransferNames::ExcludedDownloadExtension);
    excluded->AddItemAddedHandler(
        new EventHandler<MainWindow, ItemPtr>(this, &MainWindow::OnExcludedDownloadExtensionAddedOrRemoved));
    excluded->AddItemRemovedHandler(
        new EventHandler<MainWindow, ItemPtr>(this, &MainWindow::OnExcludedDownloadExtensionAddedOrRemoved));
    OnExcludedDownloadExtensionAddedOrRemoved(ItemPtr());

    FillSoundEdits();
    ConnectSoundButtons();
}

void MainWindow::AddToolBarActions()
{
    ActionSetToolBar* bar = ui->mainToolBar;
    bar->AddSetAction("shared_folders", "set_download_folder", tr("Set Download Folder"), ":/icons/downloads_icon",
                      false);
    bar->AddSetAction("shared_folders", "share_folder", tr("Share Folder"), ":/icons/browse_icon", false);
    bar->AddSetAction("shared_folders", "rescan_shares", tr("Rescan Shares"), ":/icons/circular_arrow_icon", false);
    bar->RegisterWidget(ui->fileSharingOptionsTab, "shared_folders");
    bar->AddSetAction("login_options", "connect_disconnect", tr("Connect"), ":/icons/connect_icon", false);
    bar->AddSetAction("login_options", "set_user_pass", tr("Change Username/Password"), ":/icons/password_icon", false);
    bar->AddSetAction("login_options", "set_listening_port", tr("Change Listening Port"), ":/icons/listening_port_icon",
                      false);
    bar->RegisterWidget(ui->loginOptionsTab, "login_options");
    bar->AddSetAction("user", "message_user", tr("Message User"), ":/icons/chat_icon", true);
    bar->AddSetAction("user", "browse_user", tr("Browse User's Files"), ":/icons/browse_icon", true);
    bar->AddSetAction("user", "add_user", tr("Add User"), ":/icons/add_user_icon", true);
}

void MainWindow::WriteDefaults()
{
    SetSetting("minimize_to_tray", "yes");
    SetSetting("expand_new_shares", "yes");
    SetSetting("chat_timestamps", "activity_based");
    SetSetting("first_open_tab", "rooms");
}

void MainWindow::WriteAppearanceDefaults()
{
    defaultPalette = QApplication::palette();
    for (const ColorSettings::Entry& entry : ColorSettings::Entries())
        SetSetting(entry.key, ColorSettings::Default(entry, defaultPalette).name());
    const QString font = QApplication::font().toString();
    SetSetting("application_font", font);
    SetRuntimeSetting("default_application_font", font);
}

void MainWindow::LoadData()
{
    const QString prefix = DataFilePrefix();
    Log(kConfigurationArea, 1, QString("Loading configuration data from %1").arg(prefix));
    try {
        dataSaver->Load(prefix);
        ReportUnopenedDataFiles();
        ReportSetAsideFiles();
        Log(kConfigurationArea, 1, "Data loaded successfully.");
    } catch (const DataLoadFailure&) {
        ReportUnopenedDataFiles();
        // The store still holds the defaults and every declared type; the
        // engines then start as on a first run, so the client still listens
        // and the transfer engine still runs its load step.
        Log(kConfigurationArea, 1, "Failure to load configuration data.");
        QMessageBox::information(this, tr("Error loading configuration data"),
                                 tr("Your client configuration data could not be loaded. Starting from scratch..."),
                                 QMessageBox::Ok);
        dataSaver->NotifyNoData();
    }
}

void MainWindow::ReportUnopenedDataFiles()
{
    // Such a file may hold newer data than the run starts with; the user
    // can make it readable and start again before a save matters.
    const QStringList files = dataSaver->UnopenedFiles();
    if (files.isEmpty())
        return;
    QStringList shown;
    for (const QString& file : files)
        shown << QDir::toNativeSeparators(file);
    Log(kConfigurationArea, 1, QString("Could not open %1; left as it is.").arg(shown.join(", ")));
    QMessageBox::warning(this, tr("Error opening configuration data"),
                         tr("These configuration data files could not be opened and were left as they are:\n%1\n"
                            "The client starts without them. To use them, quit, make them readable and "
                            "start the client again.")
                             .arg(shown.join("\n")),
                         QMessageBox::Ok);
}

void MainWindow::ReportSetAsideFiles()
{
    // After a crash the newest file may be the one damaged: the user learns
    // what the run starts from, and the run goes on without waiting.
    const auto& setAside = dataSaver->SetAsideFiles();
    if (setAside.empty())
        return;
    // Each name on a line of its own, never broken at its dots as the box
    // breaks plain text: the user looks for the file by that name.
    QString kept;
    for (const auto& file : setAside) {
        // Said again now that the loaded settings say whether to show it.
        Log(kConfigurationArea, 1,
            QString("Could not read %1; kept as %2")
                .arg(QDir::toNativeSeparators(file.first), QDir::toNativeSeparators(file.second)));
        kept += "<div style=\"white-space:pre\">" + QDir::toNativeSeparators(file.second).toHtmlEscaped() + "</div>";
    }
    const QString saved = QDateTime::fromMSecsSinceEpoch(dataSaver->LoadedSaveTime()).toString("yyyy-MM-dd hh:mm:ss");
    ShowNotice(tr("Damaged configuration data"),
               tr("<div>The newest configuration data could not be read and was set aside as:</div>%1"
                  "<div>The client started with the data saved on %2; changes made after that are lost.</div>")
                   .arg(kept, saved),
               Qt::RichText);
}

void MainWindow::ApplyAppearance()
{
    // The box lists each code page under its own name; a stored alias
    // selects that entry.
    const QString codePage = ExtendedAsciiTranslator::OwnName(GetSetting("extended_ascii_codepage"));
    if (!codePage.isEmpty()) {
        const int entry = ui->codePageBox->findText(codePage);
        if (entry > 0)
            ui->codePageBox->setCurrentIndex(entry);
    }

    // A stored text that names no colour or font leaves that part of the
    // start-up appearance as it was, rather than painting it black.
    QApplication::setPalette(ColorSettings::MakePalette(defaultPalette, ColorSettings::StoredColors()));

    QFont font;
    if (font.fromString(GetSetting("application_font")))
        QApplication::setFont(font);
}

void MainWindow::RunFirstRunDialogs()
{
    {
        ChangeUsernamePasswordDialog dialog(true, nullptr);
        dialog.exec();
    }
    const QMessageBox::StandardButton answer =
        QMessageBox::question(nullptr, tr("Share a folder?"),
                              tr("Many Quorvane users require that you share something before downloading from "
                                 "them. Would you like to share a folder now?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::Yes) {
        // The dialog deletes itself when it closes, so it is never a local
        // object of this scope.
        auto* share = new AddSharedFolderDialog(ItemPtr(), this);
        share->exec();
    }
    QMessageBox::information(nullptr, tr("In the future"),
                             tr("You can always share additional folders by clicking the Share Folder button when "
                                "viewing the Options->File Sharing tab."),
                             QMessageBox::Ok);
}

void MainWindow::FillConnectionOptions()
{
    ui->downloadFolderEdit->setText(ControlText("download_folder"));
    ui->uPnPCheckBox->setChecked(ControlFlag("use_upnp"));
    ui->autoExpandSharesCheckBox->setChecked(ControlFlag("expand_new_shares"));
    ui->useOldStyleSearchResultsCheckBox->setChecked(ControlFlag("use_old_style_search_results"));
    ui->showDiagnosticsCheckBox->setChecked(ControlFlag("show_diagnostics"));
    ui->dontDownloadSingleFilesIntoSubfolders->setChecked(ControlFlag("dont_create_subfolders_for_single_downloads"));
    ui->dontSplitDownloadsCheckBox->setChecked(ControlFlag("dont_split_downloads"));

    connect(ui->useOldStyleSearchResultsCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnUseOldStyleSearchResultsCheckboxToggled);
    connect(ui->showDiagnosticsCheckBox, &QCheckBox::clicked, this, &MainWindow::OnShowDiagnosticsCheckboxToggled);
    connect(ui->dontDownloadSingleFilesIntoSubfolders, &QCheckBox::clicked, this,
            &MainWindow::OnDontCreateSubfoldersForSingleDownloads);
    connect(ui->minimizeToTrayCheckBox, &QCheckBox::clicked, this, &MainWindow::OnMinimizeToTrayCheckboxToggled);
    connect(ui->autoExpandSharesCheckBox, &QCheckBox::clicked, this, &MainWindow::OnExpandNewSharesCheckboxToggled);
    connect(ui->chatTimestampsBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::OnChatTimestampsBoxIndexChanged);
    connect(ui->showAwayStatusCheckBox, &QCheckBox::clicked, this, &MainWindow::OnShowAwayStatusClicked);
    connect(ui->selectColorsButton, &QPushButton::clicked, this, &MainWindow::OnSelectColors);
    connect(ui->dontSplitDownloadsCheckBox, &QCheckBox::clicked, this, &MainWindow::OnDontSplitDownloads);

    if (ControlFlag("minimize_to_tray")) {
        ui->minimizeToTrayCheckBox->setChecked(true);
        ShowTrayIcon(true);
    }
    ui->listeningPortEdit->setText(ControlText("listening_port"));

    PathNode* root = new PathNode(GetSettingItem("new_listening_port"));
    new PathNode(root, "global_value", 0);
    d.AddPathEventHandler(root, new EventHandler<MainWindow, ItemPtr>(this, &MainWindow::OnNewListeningPortChanged));
}

void MainWindow::FillChatAndStartPage()
{
    const QString timestamps = ControlText("chat_timestamps");
    int timestampEntry = 3;
    if (timestamps == "activity_based")
        timestampEntry = 0;
    else if (timestamps == "per_message_short")
        timestampEntry = 1;
    else if (timestamps == "per_message_long")
        timestampEntry = 2;
    ui->chatTimestampsBox->setCurrentIndex(timestampEntry);

    // The box lists four pages only, so its entries are not tab indexes.
    const QString firstTab = ControlText("first_open_tab");
    const struct
    {
        const char* text;
        int entry;
        int page;
    } pages[] = {{"transfers", 0, 0}, {"rooms", 1, 1}, {"search", 2, 3}, {"users", 3, 4}};
    for (const auto& page : pages) {
        if (firstTab == page.text) {
            ui->firstOpenTabBox->setCurrentIndex(page.entry);
            ui->tabControl->setCurrentIndex(page.page);
        }
    }
    connect(ui->firstOpenTabBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::OnFirstOpenTabBoxIndexChanged);
}

void MainWindow::FillUploadOptions()
{
    ui->logRoomChatCheckBox->setChecked(ControlFlag("log_room_chat"));
    ui->logPrivateChatCheckBox->setChecked(ControlFlag("log_private_chat"));
    ui->emptyShareWarningCheckBox->setChecked(ControlFlag("check_for_empty_shares"));
    ui->emptyShareWarningEdit->setText(ControlText("empty_share_message"));
    ui->emptyShareWarningEdit->setCursorPosition(0);
    ui->acceptUserListUploadsCheckBox->setChecked(ControlFlag("accept_userlist_uploads"));
    connect(ui->emptyShareWarningEdit, &QLineEdit::textEdited, this, &MainWindow::OnEmptyShareWarningEditEdited);
    connect(ui->saveEmptyShareWarningMessageButton, &QPushButton::clicked, this,
            &MainWindow::OnSaveEmptyShareWarningMessageButtonClicked);
}

void MainWindow::FillLimitOptions()
{
    ui->maxUploadsPerUserCheckBox->setChecked(ControlFlag("max_queued_uploads_per_user_enabled"));
    ui->maxMBPerUserCheckBox->setChecked(ControlFlag("max_queued_mb_per_user_enabled"));
    ui->maxUploadsPerUserSpinBox->setValue(ControlText("max_queued_uploads_per_user").toInt());
    ui->maxMBPerUserSpinBox->setValue(ControlText("max_queued_mb_per_user").toInt());
}

void MainWindow::FillUserInfoOptions()
{
    ui->userPictureFilenameEdit->setText(ControlText("user_picture_file"));
    ui->userDescriptionEdit->setPlainText(ControlText("user_description"));
    ui->showAwayStatusCheckBox->setChecked(ControlFlag("show_away_status_in_application_icon"));
    ui->userLevelLoggingCheckBox->setChecked(ControlFlag("user_level_logging"));
    ui->openGroupsOnUserAddCheckBox->setChecked(ControlFlag("open_groups_on_user_add"));
    ui->showEventButtonsCheckBox->setChecked(ControlFlag("show_event_buttons"));
    connect(ui->openGroupsOnUserAddCheckBox, &QCheckBox::clicked, this, &MainWindow::OnOpenGroupsOnUserAddClicked);
    connect(ui->showEventButtonsCheckBox, &QCheckBox::clicked, this, &MainWindow::OnShowEventButtonsClicked);
}

void MainWindow::FillSoundEdits()
{
    Type* sounds = d.GetType("event_sound");
    const struct
    {
        QLineEdit* edit;
        const char* kind;
    } edits[] = {{ui->defaultSoundEdit, "default"},
                 {ui->privateChatSoundEdit, "private_chat"},
                 {ui->roomChatSoundEdit, "room_chat"},
                 {ui->wishlistResultsSoundEdit, "wishlist"},
                 {ui->shareBrowseSoundEdit, "browse"},
                 {ui->downloadAlertSoundEdit, "download"},
                 {ui->userOnlineAlertSoundEdit, "user_online"},
                 {ui->userInfoSoundEdit, "user_info"}};
    for (const auto& e : edits)
        e.edit->setText(sounds->NewItem(e.kind)["event_sound_file"].AsString());
}

void MainWindow::ConnectSoundButtons()
{
    const struct
    {
        QPushButton* button;
        void (MainWindow::*slot)();
    } buttons[] = {{ui->defaultSoundSelectFileButton, &MainWindow::OnSelectDefaultSoundFile},
                   {ui->defaultSoundClearButton, &MainWindow::OnClearDefaultSoundFile},
                   {ui->privateChatSoundSelectFileButton, &MainWindow::OnSelectPrivateChatSoundFile},
                   {ui->privateChatSoundClearButton, &MainWindow::OnClearPrivateChatSoundFile},
                   {ui->roomChatSoundSelectFileButton, &MainWindow::OnSelectRoomChatSoundFile},
                   {ui->roomChatSoundClearButton, &MainWindow::OnClearRoomChatSoundFile},
                   {ui->wishlistResultsSoundSelectFileButton, &MainWindow::OnSelectWishlistSoundFile},
                   {ui->wishlistResultsSoundClearButton, &MainWindow::OnClearWishlistSoundFile},
                   {ui->shareBrowseSoundSelectFileButton, &MainWindow::OnSelectShareBrowseSoundFile},
                   {ui->shareBrowseSoundClearButton, &MainWindow::OnClearShareBrowseSoundFile},
                   {ui->downloadAlertSoundSelectFileButton, &MainWindow::OnSelectDownloadAlertSoundFile},
                   {ui->downloadAlertSoundClearButton, &MainWindow::OnClearDownloadAlertSoundFile},
                   {ui->userOnlineAlertSoundSelectFileButton, &MainWindow::OnSelectUserOnlineAlertSoundFile},
                   {ui->userOnlineAlertSoundClearButton, &MainWindow::OnClearUserOnlineAlertSoundFile},
                   {ui->userInfoSoundSelectFileButton, &MainWindow::OnSelectUserInfoSoundFile},
                   {ui->userInfoSoundClearButton, &MainWindow::OnClearUserInfoSoundFile},
                   {ui->selectApplicationFontButton, &MainWindow::OnSelectApplicationFontClicked},
                   {ui->defaultFontButton, &MainWindow::OnDefaultFontClicked},
                   {ui->clearSearchHistoryButton, &MainWindow::OnClearSearchHistoryClicked}};
    for (const auto& b : buttons)
        connect(b.button, &QPushButton::clicked, this, b.slot);
}

// ---------------------------------------------------------------------------
// Window events, icons and the periodic duties

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    // Only the normal geometry is worth remembering: a maximised window is
    // restored by its state, not by its size. The event's position may be
    // that of the frame, while the proxy restores the client area; reporting
    // the frame would move the window by the frame's size at every start.
    if (!isMaximized())
        emit m_sizeProxy.WindowMoved(geometry().x(), geometry().y());
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (!isMaximized())
        emit m_sizeProxy.WindowResized(event->size().width(), event->size().height());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    // Notes, logs and other dialogs have no parent: without this, one left
    // open would keep the program running with no window of its own.
    if (event->isAccepted())
        QCoreApplication::quit();
}

void MainWindow::SetApplicationIcon(QString resource)
{
    const QIcon icon(resource);
    QApplication::setWindowIcon(icon);
    setWindowIcon(icon);
    m_trayIcon.setIcon(icon);
}

void MainWindow::ShowTrayIcon(bool shown)
{
    // Without a tray there is nothing to show it in; the toolkit would only
    // complain on every start.
    m_trayIcon.setVisible(shown && QSystemTrayIcon::isSystemTrayAvailable());
}

void MainWindow::ResetApplicationIcon()
{
    QString icon = ":/icons/offline_icon";
    if (m_server && m_server->IsConnected()) {
        if (GetSetting("availability_status") == "available" ||
            GetSetting("show_away_status_in_application_icon") != "yes")
            icon = ":/icons/online_icon";
        else
            icon = ":/icons/away_icon";
    }
    SetApplicationIcon(icon);
}

void MainWindow::PopupAlert(QString text)
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_trayIcon.showMessage(QString(), text, QSystemTrayIcon::Information, 10000);
}

void MainWindow::EveryHalfMinute()
{
    // A crash loses at most the last half minute. The file is written off
    // the event loop; a failure comes back through OnSaveFailed.
    if (!g_showIsOver && dataSaver)
        dataSaver->SaveChanges(DataFilePrefix());
}

void MainWindow::EveryFiveMinutes()
{
    d.RemoveDisconnectedItems();
}

void MainWindow::EveryHour()
{
    // What changed is saved every half minute already: the hour's save is
    // the same, after the clean-up, and never holds the event loop while the
    // disk writes a large share's file.
    if (g_showIsOver || !dataSaver)
        return;
    d.RemoveDisconnectedItems();
    dataSaver->SaveChanges(DataFilePrefix());
}

void MainWindow::OnUsernameChanged(ItemPtr key)
{
    const QString name = key["global_value"].AsString();
    ui->usernameEdit->setText(name);
    setWindowTitle(BuildTitle() + QString(" [%1]").arg(name));
}
