// The program's start, as the main window runs it: the form, a first run
// with the account dialog, a run from a data file with every Options
// control set from it, a damaged data file, one that cannot be opened, the
// saves on the hour, at the desktop's request, at exit and at the
// half-minute tick after a change to saved data, a save that fails (and
// the tick that writes nothing while the user is asked about it at quit),
// and the remembered window geometry. Each case has a home of its own and a
// fresh store; the server and the web host are loopback stand-ins.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "DataFileWriter.h"
#include "DataSaver.h"
#include "DiagnosticsForm.h"
#include "DialogAnswerer.h"
#include "ExtendedAsciiTranslator.h"
#include "MainWindow.h"
#include "Server.h"
#include "Settings.h"
#include "ShellHooks.h"
#include "TabWidget.h"
#include "TestHttpServer.h"
#include "TestServer.h"
#include "TimerManager.h"
#include "search/ReceivedSearchesForm.h"
#include "search/WishListSearcher.h"

namespace {

const QString kTitle = "QuorvaneQt build 2013.4.10";

QStringList TabTexts(QTabWidget* tabs)
{
    QStringList texts;
    for (int i = 0; i < tabs->count(); ++i)
        texts << tabs->tabText(i);
    return texts;
}

QByteArray NewestDataFile()
{
    const auto files = DataSaver::DataFiles(MainWindow::DataFilePrefix());
    if (files.empty())
        return QByteArray();
    QFile file(files.front().second);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// The warnings the toolkit prints while it lives.
class WarningCatcher
{
public:
    WarningCatcher()
    {
        s_caught.clear();
        m_previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtWarningMsg)
                s_caught << text;
        });
    }
    ~WarningCatcher() { qInstallMessageHandler(m_previous); }
    QStringList Caught() const { return s_caught; }

private:
    static QStringList s_caught;
    QtMessageHandler m_previous;
};

QStringList WarningCatcher::s_caught;

void FireTimer(QTimer* timer)
{
    // What the timer's own timeout does, without waiting an hour for it.
    QMetaObject::invokeMethod(timer, "timeout");
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<TestHttpServer> m_web;
    std::unique_ptr<QTemporaryDir> m_home;
    MainWindow* m_window = nullptr;
    QPalette m_palette;
    QFont m_font;

    MainWindow* Start()
    {
        m_window = new MainWindow();
        m_window->show();
        m_window->Init();
        return m_window;
    }

    void Stop()
    {
        delete m_window;
        m_window = nullptr;
    }

    template <class T>
    T* Control(const char* name)
    {
        T* control = m_window->findChild<T*>(name);
        if (!control)
            qWarning("no control %s", name);
        return control;
    }

    bool WriteDataFile(const QMap<QString, QString>& settings,
                       const QMap<QString, QString>& sounds = QMap<QString, QString>())
    {
        return DataFileWriter::Write(MainWindow::DataFilePrefix(), settings, sounds);
    }

private slots:
    void initTestCase()
    {
        m_server.reset(new TestServer);
        QVERIFY(m_server->Listen());
        m_web.reset(new TestHttpServer);
        QVERIFY(m_web->Listen());
        qputenv("QUORVANE_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(m_server->Port()));
        qputenv("QUORVANE_WEB", m_web->BaseUrl().toUtf8());
        m_palette = QApplication::palette();
        m_font = QApplication::font();
    }

    void init()
    {
        m_home.reset(new QTemporaryDir);
        QVERIFY(m_home->isValid());
        qputenv("HOME", m_home->path().toUtf8());
        d.Reset();
        g_showIsOver = false;
    }

    void cleanup()
    {
        Stop();
        d.Reset();
        g_showIsOver = false;
        QApplication::setPalette(m_palette);
        QApplication::setFont(m_font);
        m_server->RefuseLogins(QString());
        m_server->HoldLogins(false);
        m_server->CutAll();
        m_server->ClearReceived();
    }

    void formBeforeInit()
    {
        m_window = new MainWindow();
        QCOMPARE(m_window->objectName(), QString("MainWindow"));
        QCOMPARE(m_window->windowTitle(), QString("QuorvaneQt"));
        QCOMPARE(m_window->size(), QSize(1000, 600));
        QCOMPARE(mainWindow, m_window);

        auto* tabs = Control<TabWidget>("tabControl");
        QVERIFY(tabs);
        QCOMPARE(TabTexts(tabs), QStringList({"Transfers", "Rooms", "Chat", "Search", "Users", "Browse", "Options"}));
        QCOMPARE(tabs->currentIndex(), 1);
        QCOMPARE(tabs->widget(4)->objectName(), QString("tab_2"));
        auto* options = Control<TabWidget>("optionsTabControl");
        QVERIFY(options);
        QCOMPARE(TabTexts(options),
                 QStringList({"Login", "File Sharing", "UI", "General", "User Info", "Notification Sounds", "Extras"}));
        QCOMPARE(options->currentIndex(), 0);
        QCOMPARE(options->tabShape(), QTabWidget::Triangular);

        auto* bar = Control<ActionSetToolBar>("mainToolBar");
        QCOMPARE(actionBar, bar);
        QVERIFY(!bar->isMovable());
        QCOMPARE(bar->iconSize(), QSize(16, 16));
        QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);

        auto* firstTab = Control<QComboBox>("firstOpenTabBox");
        QStringList entries;
        for (int i = 0; i < firstTab->count(); ++i)
            entries << firstTab->itemText(i);
        QCOMPARE(entries, QStringList({"Transfers", "Rooms", "Search", "Users"}));
        auto* timestamps = Control<QComboBox>("chatTimestampsBox");
        QCOMPARE(timestamps->count(), 4);
        QCOMPARE(timestamps->itemText(0), QString("Activity based"));
        QCOMPARE(timestamps->itemText(3), QString("No timestamps"));
        QCOMPARE(Control<QComboBox>("codePageBox")->count(), 0);

        for (const char* name : {"maxUploadsPerUserSpinBox", "maxMBPerUserSpinBox"}) {
            auto* spin = Control<QSpinBox>(name);
            QCOMPARE(spin->minimum(), 0);
            QCOMPARE(spin->maximum(), 99999);
            QCOMPARE(spin->value(), 0);
        }
        QVERIFY(!Control<QPushButton>("saveEmptyShareWarningMessageButton")->isEnabled());
        for (const char* name : {"usernameEdit", "listeningPortEdit", "downloadFolderEdit", "excludedExtensionsEdit",
                                 "userPictureFilenameEdit", "defaultSoundEdit", "userInfoSoundEdit"})
            QVERIFY2(Control<QLineEdit>(name)->isReadOnly(), name);
        QVERIFY(!Control<QLineEdit>("emptyShareWarningEdit")->isReadOnly());
        for (QCheckBox* box : m_window->findChildren<QCheckBox*>())
            QVERIFY2(!box->isChecked(), qPrintable(box->objectName()));

        auto* shared = Control<QTreeWidget>("sharedFoldersList");
        QCOMPARE(shared->columnCount(), 2);
        QCOMPARE(shared->headerItem()->text(0), QString("Shared folder"));
        QCOMPARE(shared->headerItem()->text(1), QString("Accessible to"));
        QCOMPARE(shared->columnWidth(0), 400);
        // Laid out in its page, its whole text shows at any font.
        auto* import = Control<QPushButton>("importUserListButton");
        auto* extras = Control<QWidget>("extrasTab");
        extras->resize(m_window->width(), 200);
        extras->layout()->activate();
        QCOMPARE(import->pos(), QPoint(10, 30));
        QVERIFY(import->width() >= import->sizeHint().width());
        const int width = import->width();
        const QFont font = QApplication::font();
        QFont larger = font;
        larger.setPointSize(font.pointSize() * 2);
        QApplication::setFont(larger);
        extras->layout()->activate();
        const bool fits = import->width() >= import->sizeHint().width() && import->width() > width;
        QApplication::setFont(font);
        QVERIFY(fits);

        // Without Init there is nothing to save and nothing to take down.
        Stop();
        QVERIFY(DataSaver::DataFiles(MainWindow::DataFilePrefix()).empty());
    }

    void firstRunAsksForTheAccountThenConnects()
    {
        DialogAnswerer answers;
        answers.Then(DialogAnswerer::EnterAccount("  alice  ", " secret "))
            .Then(DialogAnswerer::Press(QMessageBox::No))
            .Then(DialogAnswerer::Press(QMessageBox::Ok));
        {
            // Minimising to the tray is on by default, and there is no tray.
            WarningCatcher warnings;
            Start();
            QVERIFY2(warnings.Caught().filter("QSystemTrayIcon").isEmpty(), qPrintable(warnings.Caught().join("\n")));
        }

        QCOMPARE(answers.Titles(), QStringList({"Set Username/Password", "Share a folder?", "In the future"}));
        QCOMPARE(answers.ShownAccount(), QStringList({"", ""}));
        QCOMPARE(GetSetting("username"), QString("alice"));
        QCOMPARE(GetSetting("password"), QString("secret"));
        QCOMPARE(m_window->windowTitle(), kTitle + " [alice]");
        QCOMPARE(Control<QLineEdit>("usernameEdit")->text(), QString("alice"));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->IsLoggedIn("alice"), 30000);

        // The defaults written before the load hold, and the engines were
        // told that there was no data: the transfer engine's first-run
        // extension, the listening port settled by peer messaging.
        auto* tabs = Control<TabWidget>("tabControl");
        QCOMPARE(tabs->count(), 7);
        QCOMPARE(tabs->currentIndex(), 1);
        QCOMPARE(Control<QComboBox>("firstOpenTabBox")->currentIndex(), 1);
        QCOMPARE(Control<QComboBox>("chatTimestampsBox")->currentIndex(), 0);
        QVERIFY(Control<QCheckBox>("minimizeToTrayCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("autoExpandSharesCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("logRoomChatCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("logPrivateChatCheckBox")->isChecked());
        QVERIFY(!Control<QCheckBox>("uPnPCheckBox")->isChecked());
        QVERIFY(d.GetType("excluded_download_extension")->HasItem(".ini"));
        QCOMPARE(GetSetting("listening_port"), QString("2235"));
        QCOMPARE(Control<QLineEdit>("listeningPortEdit")->text(), QString("2235"));
        QCOMPARE(GetSetting("data_version"), QString("1"));
        QCOMPARE(GetSetting("color_transfer_failed"), QString("#ff0a47"));
        QCOMPARE(GetRuntimeSetting("default_application_font"), m_font.toString());
        QCOMPARE(Control<QComboBox>("codePageBox")->itemText(0), QString("[None]"));
        // Each code page once, under its own name, in the order of names.
        auto* codePages = Control<QComboBox>("codePageBox");
        QStringList names;
        for (int i = 1; i < codePages->count(); ++i)
            names << codePages->itemText(i);
        QCOMPARE(names, ExtendedAsciiTranslator::CodePageNames());

        // The start colours are the user's colours now, yet a disabled
        // control still looks disabled: the empty-share message's "Save".
        auto* save = Control<QPushButton>("saveEmptyShareWarningMessageButton");
        QVERIFY(!save->isEnabled());
        const QPalette shown = save->palette();
        QVERIFY(shown.color(QPalette::Disabled, QPalette::ButtonText) !=
                shown.color(QPalette::Active, QPalette::ButtonText));
        QCOMPARE(shown.color(QPalette::Disabled, QPalette::ButtonText),
                 m_palette.color(QPalette::Disabled, QPalette::ButtonText));
        QCOMPARE(shown.color(QPalette::Disabled, QPalette::Text), m_palette.color(QPalette::Disabled, QPalette::Text));

        // Closing saves: the next start finds the account and asks nothing.
        Stop();
        const QByteArray saved = NewestDataFile();
        QVERIFY(saved.contains("alice"));
        QVERIFY(!saved.contains("default_application_font"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_server->IsLoggedIn("alice"), 30000);
        d.Reset();
        g_showIsOver = false;

        DialogAnswerer none;
        Start();
        QVERIFY(none.Titles().isEmpty());
        QCOMPARE(m_window->windowTitle(), kTitle + " [alice]");
        QTRY_VERIFY_WITH_TIMEOUT(m_server->IsLoggedIn("alice"), 30000);
    }

    void cancelledFirstRunStoresNothingAndDoesNotConnect()
    {
        DialogAnswerer answers;
        answers.Then(DialogAnswerer::Cancel())
            .Then(DialogAnswerer::Press(QMessageBox::Yes))
            .Then(DialogAnswerer::Cancel())
            .Then(DialogAnswerer::Press(QMessageBox::Ok));
        Start();

        // Yes opens the share dialog; cancelled, it shares nothing.
        QCOMPARE(answers.Titles(),
                 QStringList({"Set Username/Password", "Share a folder?", "Add Shared Folder", "In the future"}));
        QCOMPARE(int(d.GetType("shared_folder")->Count()), 0);
        QVERIFY(GetSetting("username").isEmpty());
        QCOMPARE(m_window->windowTitle(), kTitle);
        QCOMPARE(gp_server->GetState(), Server::StateDisconnected);
    }

    void storedSettingsGiveTheStartState()
    {
        // Stored under an alias, as the box once listed them.
        const QString codePage = "latin1";
        QFont storedFont = m_font;
        storedFont.setPointSize(m_font.pointSize() + 3);
        const QString message = "Please share something before you download from me, thank you very much";
        QVERIFY(WriteDataFile({{"username", "bob"},
                               {"password", "pw"},
                               {"first_open_tab", "search"},
                               {"chat_timestamps", "no_timestamps"},
                               {"minimize_to_tray", "no"},
                               {"log_room_chat", "no"},
                               {"use_upnp", "yes"},
                               {"use_old_style_search_results", "true"},
                               {"show_diagnostics", "yes"},
                               {"dont_create_subfolders_for_single_downloads", "yes"},
                               {"dont_split_downloads", "yes"},
                               {"download_folder", "/data/incoming"},
                               {"listening_port", "40111"},
                               {"check_for_empty_shares", "yes"},
                               {"empty_share_message", message},
                               {"accept_userlist_uploads", "yes"},
                               {"max_queued_uploads_per_user_enabled", "yes"},
                               {"max_queued_mb_per_user_enabled", "no"},
                               {"max_queued_uploads_per_user", "250"},
                               {"max_queued_mb_per_user", "123456"},
                               {"user_picture_file", "/pictures/me.png"},
                               {"user_description", "line one\nline two"},
                               {"show_away_status_in_application_icon", "yes"},
                               {"open_groups_on_user_add", "yes"},
                               {"show_event_buttons", "yes"},
                               {"extended_ascii_codepage", codePage},
                               {"color_window_background", "#123456"},
                               {"color_button_text", "not a colour"},
                               {"application_font", storedFont.toString()},
                               {"data_version", "7"}},
                              {{"default", "/sounds/ding.wav"}, {"user_info", "/sounds/info.wav"}}));
        // With UPnP on, an accepted login would go looking for a gateway
        // beyond this machine; a refused one still shows that the stored
        // account is used at once.
        m_server->RefuseLogins("INVALIDPASS");
        DialogAnswerer none;
        Start();
        QVERIFY(none.Titles().isEmpty());

        QCOMPARE(m_window->windowTitle(), kTitle + " [bob]");
        QCOMPARE(Control<QLineEdit>("usernameEdit")->text(), QString("bob"));
        auto triedBob = [this] {
            for (const TestServer::Received& message : m_server->ReceivedMessages(1))
                if (message.body.contains("bob"))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(triedBob(), 30000);

        // A stored value replaces the default written before the load.
        auto* tabs = Control<TabWidget>("tabControl");
        QCOMPARE(tabs->currentIndex(), 3);
        QCOMPARE(Control<QComboBox>("firstOpenTabBox")->currentIndex(), 2);
        QCOMPARE(Control<QComboBox>("chatTimestampsBox")->currentIndex(), 3);
        QVERIFY(!Control<QCheckBox>("minimizeToTrayCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("autoExpandSharesCheckBox")->isChecked());
        QVERIFY(!Control<QCheckBox>("logRoomChatCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("logPrivateChatCheckBox")->isChecked());

        // Flags are on only for exactly "yes".
        QVERIFY(Control<QCheckBox>("uPnPCheckBox")->isChecked());
        QVERIFY(!Control<QCheckBox>("useOldStyleSearchResultsCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("showDiagnosticsCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("dontDownloadSingleFilesIntoSubfolders")->isChecked());
        QVERIFY(Control<QCheckBox>("dontSplitDownloadsCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("emptyShareWarningCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("acceptUserListUploadsCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("maxUploadsPerUserCheckBox")->isChecked());
        QVERIFY(!Control<QCheckBox>("maxMBPerUserCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("showAwayStatusCheckBox")->isChecked());
        QVERIFY(!Control<QCheckBox>("userLevelLoggingCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("openGroupsOnUserAddCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("showEventButtonsCheckBox")->isChecked());

        QCOMPARE(Control<QLineEdit>("downloadFolderEdit")->text(), QString("/data/incoming"));
        QCOMPARE(Control<QLineEdit>("listeningPortEdit")->text(), QString("40111"));
        auto* warning = Control<QLineEdit>("emptyShareWarningEdit");
        QCOMPARE(warning->text(), message);
        QCOMPARE(warning->cursorPosition(), 0);
        QCOMPARE(Control<QSpinBox>("maxUploadsPerUserSpinBox")->value(), 250);
        QCOMPARE(Control<QSpinBox>("maxMBPerUserSpinBox")->value(), 99999);
        QCOMPARE(Control<QLineEdit>("userPictureFilenameEdit")->text(), QString("/pictures/me.png"));
        QCOMPARE(Control<QPlainTextEdit>("userDescriptionEdit")->toPlainText(), QString("line one\nline two"));
        QCOMPARE(Control<QLineEdit>("defaultSoundEdit")->text(), QString("/sounds/ding.wav"));
        QCOMPARE(Control<QLineEdit>("userInfoSoundEdit")->text(), QString("/sounds/info.wav"));
        QCOMPARE(Control<QLineEdit>("privateChatSoundEdit")->text(), QString());
        QVERIFY(d.GetType("event_sound")->HasItem("private_chat"));

        // Appearance: code page, colours (an unusable one left alone), font.
        QCOMPARE(Control<QComboBox>("codePageBox")->currentText(), QString("ISO-8859-1"));
        QCOMPARE(extendedAsciiTranslator->GetCodec(), QTextCodec::codecForName("ISO-8859-1"));
        QCOMPARE(QApplication::palette().color(QPalette::Window).name(), QString("#123456"));
        QCOMPARE(QApplication::palette().color(QPalette::Inactive, QPalette::Window).name(), QString("#123456"));
        QCOMPARE(QApplication::palette().color(QPalette::ButtonText), m_palette.color(QPalette::ButtonText));
        QCOMPARE(QApplication::font().pointSize(), storedFont.pointSize());
        QCOMPARE(GetRuntimeSetting("default_application_font"), m_font.toString());
        QCOMPARE(defaultPalette.color(QPalette::Window), m_palette.color(QPalette::Window));

        QCOMPARE(GetSetting("data_version"), QString("1"));
        QCOMPARE(tabs->count(), 8);
        QCOMPARE(tabs->tabText(7), QString("Diagnostics"));
        QCOMPARE(tabs->widget(7), static_cast<QWidget*>(diagnosticsForm));
        // The search view's received-searches page, and the wish-list
        // searcher the window makes after it.
        QVERIFY(receivedSearchesForm && m_window->isAncestorOf(receivedSearchesForm));
        QVERIFY(wishListSearcher && wishListSearcher->parent() == m_window);
        QVERIFY(diagnosticsForm->AreaText("Configuration Data").contains("Data loaded successfully."));

        // The title follows the user name from then on.
        SetSetting("username", "bobby");
        QCOMPARE(m_window->windowTitle(), kTitle + " [bobby]");
        QCOMPARE(Control<QLineEdit>("usernameEdit")->text(), QString("bobby"));
    }

    void damagedDataFileStartsFromTheDefaults()
    {
        const QString damaged = MainWindow::DataFilePrefix() + ".1000";
        {
            QFile file(damaged);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("QVDF this is not what a data file holds");
        }
        DialogAnswerer answers;
        answers.Then(DialogAnswerer::Press(QMessageBox::Ok))
            .Then(DialogAnswerer::EnterAccount("carol", "pw"))
            .Then(DialogAnswerer::Press(QMessageBox::No))
            .Then(DialogAnswerer::Press(QMessageBox::Ok));
        Start();

        QCOMPARE(answers.Titles(), QStringList({"Error loading configuration data", "Set Username/Password",
                                                "Share a folder?", "In the future"}));
        QCOMPARE(answers.Texts().value(0),
                 QString("Your client configuration data could not be loaded. Starting from scratch..."));
        QVERIFY(QFile::exists(damaged + ".unreadable"));

        // The defaults written before the load are still there.
        QCOMPARE(GetSetting("first_open_tab"), QString("rooms"));
        QCOMPARE(Control<TabWidget>("tabControl")->currentIndex(), 1);
        QCOMPARE(Control<QComboBox>("firstOpenTabBox")->currentIndex(), 1);
        QVERIFY(Control<QCheckBox>("minimizeToTrayCheckBox")->isChecked());
        QVERIFY(Control<QCheckBox>("logRoomChatCheckBox")->isChecked());
        QCOMPARE(GetSetting("color_transfer_queued"), QString("#3366ff"));
        QCOMPARE(GetSetting("data_version"), QString("1"));
        // Every engine was told, as on a first run.
        QVERIFY(d.GetType("excluded_download_extension")->HasItem(".ini"));
        QCOMPARE(GetSetting("listening_port"), QString("2235"));
        QCOMPARE(GetSetting("accept_room_list"), QString("no"));
        QCOMPARE(Control<QLineEdit>("listeningPortEdit")->text(), QString("2235"));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->IsLoggedIn("carol"), 30000);
    }

    void dataFileThatCannotBeOpenedIsLeftAndReported()
    {
        QVERIFY(WriteDataFile({{"username", "erin"}, {"password", "pw"}, {"show_diagnostics", "yes"}}));
        const auto written = DataSaver::DataFiles(MainWindow::DataFilePrefix());
        QCOMPARE(int(written.size()), 1);
        // Newer, on a disk that is not there.
        const QString unopened = MainWindow::DataFilePrefix() + "." + QString::number(written.front().first + 1);
        QVERIFY(QFile::link(m_home->filePath("unmounted/data"), unopened));

        DialogAnswerer answers;
        answers.Then(DialogAnswerer::Press(QMessageBox::Ok));
        Start();
        QCOMPARE(answers.Titles(), QStringList({"Error opening configuration data"}));
        QVERIFY(answers.Texts().value(0).contains(unopened));
        QVERIFY(diagnosticsForm->AreaText("Configuration Data").contains("Could not open " + unopened));
        // The older file was loaded, and the run goes on with it.
        QCOMPARE(GetSetting("username"), QString("erin"));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->IsLoggedIn("erin"), 30000);

        for (int i = 0; i < 3; ++i)
            FireTimer(timerManager->HourTimer());
        Stop();
        QVERIFY(QFileInfo(unopened).isSymLink());
        QCOMPARE(QFileInfo(unopened).symLinkTarget(), m_home->filePath("unmounted/data"));
        QVERIFY(!QFile::exists(unopened + ".unreadable"));
    }

    void aSetAsideFileIsNamedWholeInTheNoticeAndInTheLog()
    {
        // A short home, so that the name fits the widest box the test
        // screen allows.
        QTemporaryDir home(QDir::tempPath() + "/qv-XXXXXX");
        QVERIFY(home.isValid());
        qputenv("HOME", home.path().toUtf8());
        QVERIFY(WriteDataFile({{"username", "gina"}, {"password", "pw"}, {"show_diagnostics", "yes"}}));
        const auto written = DataSaver::DataFiles(MainWindow::DataFilePrefix());
        QCOMPARE(int(written.size()), 1);
        const QString damaged = MainWindow::DataFilePrefix() + "." + QString::number(written.front().first + 30000);
        {
            QFile file(damaged);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("QVDF cut short by a crash");
        }
        // The largest application font the user may choose: a message box
        // breaks a long text at the dots of a file name too.
        QFont large = QApplication::font();
        large.setPointSize(14);
        QApplication::setFont(large);
        Start();

        QMessageBox* notice = nullptr;
        for (QMessageBox* box : m_window->findChildren<QMessageBox*>())
            if (box->windowTitle() == "Damaged configuration data" && box->isVisible())
                notice = box;
        QVERIFY(notice && !notice->isModal());
        const QString name = damaged + ".unreadable";
        auto* label = notice->findChild<QLabel*>("qt_msgbox_label");
        QVERIFY(label->text().contains(name));
        QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(name),
                 qPrintable(QString("%1 wide for a name of %2")
                                .arg(label->width())
                                .arg(label->fontMetrics().horizontalAdvance(name))));
        // The sentences around it still wrap.
        QVERIFY(label->minimumSizeHint().width() <
                label->fontMetrics().horizontalAdvance(
                    "The newest configuration data could not be read and was set aside as:"));
        QCOMPARE(GetSetting("username"), QString("gina"));
        QVERIFY(diagnosticsForm->AreaText("Configuration Data")
                    .contains("Could not read " + damaged + "; kept as " + name));
        // Saved at the end while the home is there.
        Stop();
    }

    void savesOnTheHourOnRequestAndAtExit()
    {
        QVERIFY(WriteDataFile({{"username", "dave"}, {"password", "pw"}}));
        Start();
        const auto before = DataSaver::DataFiles(MainWindow::DataFilePrefix());
        QCOMPARE(int(before.size()), 1);

        SetSetting("save_marker", "on the hour");
        FireTimer(timerManager->HourTimer());
        dataSaver->WaitForSave();
        QVERIFY(NewestDataFile().contains("on the hour"));

        // What the desktop's save request calls.
        SetSetting("save_marker", "on request");
        g_shellHooks.SaveData();
        QByteArray saved = NewestDataFile();
        QVERIFY(saved.contains("on request"));
        // Values nothing holds any more are dropped before each save.
        QVERIFY(!saved.contains("on the hour"));

        d.GetType("global_value")->GetItem("held by nothing");
        FireTimer(timerManager->FiveMinuteTimer());
        QVERIFY(!d.GetType("global_value")->HasItem("held by nothing"));

        SetSetting("save_marker", "at exit");
        Stop();
        QVERIFY(g_showIsOver);
        // Nothing the window made outlives it.
        QVERIFY(!extendedAsciiTranslator);
        QVERIFY(!diagnosticsForm);
        const auto files = DataSaver::DataFiles(MainWindow::DataFilePrefix());
        QVERIFY(NewestDataFile().contains("at exit"));

        // Nothing saves once the window is gone.
        g_shellHooks.SaveData();
        QCOMPARE(DataSaver::DataFiles(MainWindow::DataFilePrefix()).front(), files.front());
    }

    void aChangeToSavedDataIsOnDiskAfterTheNextHalfMinuteTick()
    {
        // Held at the login, so no news from the server changes the store.
        m_server->HoldLogins(true);
        QVERIFY(WriteDataFile({{"username", "hana"}, {"password", "pw"}}));
        Start();
        QCoreApplication::processEvents();
        const auto tickAndWaitFor = [](const QByteArray& text) {
            FireTimer(timerManager);
            return QTest::qWaitFor([&] { return NewestDataFile().contains(text); }, 30000);
        };
        SetSetting("save_marker", "settled");
        QVERIFY(tickAndWaitFor("settled"));
        const QString settled = DataSaver::DataFiles(MainWindow::DataFilePrefix()).front().second;

        // An online state, a setting of this run and a tick with nothing
        // new write nothing: the files written are exactly the settled one,
        // the one with the listed user and the last.
        ItemPtr ivy = d.GetType("user")->GetItem("ivy");
        ivy.NewItem("is_online");
        SetRuntimeSetting("save_probe", "never saved");
        FireTimer(timerManager);
        ivy.NewItem("in_user_list");
        QVERIFY(tickAndWaitFor("ivy"));
        FireTimer(timerManager);
        SetSetting("save_marker", "last");
        QVERIFY(tickAndWaitFor("last"));
        // Older files go once the new one holds its name.
        QTRY_COMPARE_WITH_TIMEOUT(int(DataSaver::DataFiles(MainWindow::DataFilePrefix()).size()), 3, 30000);
        const auto files = DataSaver::DataFiles(MainWindow::DataFilePrefix());
        QCOMPARE(files[2].second, settled);
        QFile listed(files[1].second);
        QVERIFY(listed.open(QIODevice::ReadOnly));
        const QByteArray bytes = listed.readAll();
        QVERIFY(bytes.contains("ivy") && !bytes.contains("last") && !bytes.contains("never saved"));
    }

    void failedSaveIsReportedOnceAndTheRunGoesOn()
    {
        // A home below a plain file: the data file can never be written.
        QFile blocker(m_home->filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("HOME", m_home->filePath("blocker/home").toUtf8());

        DialogAnswerer answers;
        answers.Then(DialogAnswerer::EnterAccount("frank", "pw"))
            .Then(DialogAnswerer::Press(QMessageBox::No))
            .Then(DialogAnswerer::Press(QMessageBox::Ok));
        Start();

        auto reports = [this] {
            int count = 0;
            for (QMessageBox* box : m_window->findChildren<QMessageBox*>())
                if (box->windowTitle() == "Error saving configuration data" && box->isVisible())
                    ++count;
            return count;
        };
        FireTimer(timerManager->HourTimer());
        dataSaver->WaitForSave();
        QCOMPARE(reports(), 1);
        QVERIFY(!QApplication::activeModalWidget());
        FireTimer(timerManager->HourTimer());
        dataSaver->WaitForSave();
        QCOMPARE(reports(), 1);

        // The client is still working: it logs in and the teardown runs
        // through its own failed save.
        QTRY_VERIFY_WITH_TIMEOUT(m_server->IsLoggedIn("frank"), 30000);
        Stop();
        QVERIFY(g_showIsOver);
        QCOMPARE(answers.Titles().size(), 3);
    }

    void theHalfMinuteSaveWritesNothingWhileTheUserIsAskedAtQuit()
    {
        QVERIFY(WriteDataFile({{"username", "hana"}, {"password", "pw"}}));
        Start();
        SetSetting("save_marker", "given up at quit");
        const QByteArray home = qgetenv("HOME");
        const auto before = DataSaver::DataFiles(MainWindow::DataFilePrefix());
        // The save at quit fails: its home lies below a plain file.
        QFile blocker(m_home->filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("HOME", m_home->filePath("blocker/home").toUtf8());

        // While asked, the home can be written again and the tick comes;
        // the user then gives up.
        bool writing = true;
        DialogAnswerer answers;
        answers.Then([&](QWidget* box) {
            qputenv("HOME", home);
            FireTimer(timerManager);
            writing = dataSaver->IsWriting();
            DialogAnswerer::Press(QMessageBox::Discard)(box);
        });
        QVERIFY(!m_window->SaveAtExit([] { return true; }));
        QCOMPARE(answers.Titles(), QStringList{"Error saving configuration data"});
        QVERIFY(!writing);
        Stop();
        // Nothing was written behind the question.
        const auto after = DataSaver::DataFiles(MainWindow::DataFilePrefix());
        QCOMPARE(int(after.size()), int(before.size()));
        QCOMPARE(after.front().second, before.front().second);
    }

    void closingTheWindowEndsTheProgramWhateverDialogsAreOpen()
    {
        QVERIFY(WriteDataFile({{"username", "gina"}, {"password", "pw"}}));
        Start();
        QDialog loose; // a note or a log: a top-level window of its own
        loose.show();
        // The program's loop, here a loop of the test's, ends at the close.
        QEventLoop loop;
        QTimer::singleShot(0, m_window, [this] { m_window->close(); });
        QTimer::singleShot(10000, &loop, [&loop] { loop.exit(1); });
        QCOMPARE(loop.exec(), 0);
        QVERIFY(loose.isVisible());
    }

    void windowGeometryIsRememberedButNotWhileMaximised()
    {
        QVERIFY(WriteDataFile({{"username", "gina"}, {"password", "pw"}}));
        Start();
        // Wider than the pages' controls need, which the window cannot go below.
        const QRect normal(40, 50, 1150, 700);
        m_window->setGeometry(normal);
        QTRY_COMPARE(m_window->geometry(), normal);
        Stop();

        d.Reset();
        g_showIsOver = false;
        Start();
        QTRY_COMPARE(m_window->geometry(), normal);
        m_window->showMaximized();
        QTRY_VERIFY(m_window->isMaximized());
        QTRY_VERIFY(m_window->geometry() != normal);
        Stop();

        d.Reset();
        g_showIsOver = false;
        Start();
        QTRY_COMPARE(m_window->geometry(), normal);
    }
};

QTEST_MAIN(TestMainWindow)

#include "TestMainWindow.moc"
