// The Options controls at work: every switch, choice and number writes its
// setting when the user changes it and only then; the two upload limit
// fields take no less than their settings keep; the diagnostics page, UPnP
// and the code page act at once; sounds, picture, description, fonts, colours and
// the search history do what their buttons say.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTest>
#include <QTextCodec>
#include <QTreeWidget>

#include "Data.h"
#include "DataHandler.h"
#include "DiagnosticsForm.h"
#include "EventToolBar.h"
#include "ExtendedAsciiTranslator.h"
#include "MainWindow.h"
#include "MainWindowFixture.h"
#include "Settings.h"
#include "StandardDialogAnswers.h"
#include "TabWidget.h"
#include "TextFit.h"
#include "TransferQueueManager.h"
#include "Type.h"
#include "settings/ColorSelectionDialog.h"

namespace {

// Every value connected to a key from now on, oldest first.
class SettingWrites : public DataHandler
{
public:
    explicit SettingWrites(const QString& key)
    {
        auto record = [this, key](ConnectionInfo& c) {
            if (c.item1.AsString() == key)
                values << c.item2.AsString();
        };
        d.GetType("global")->AddConnectedHandler(new FunctionHandler<ConnectionInfo&>(this, record));
    }
    QStringList values;
};

int ValueCount(const char* key)
{
    return GetSettingItem(key).CountItems("global_value");
}

} // namespace

class TestMainWindowOptions : public QObject
{
    Q_OBJECT

private:
    MainWindowFixture m_app;

    bool StartLoggedIn(QMap<QString, QString> settings = MainWindowFixture::Account())
    {
        return m_app.Start(settings) && m_app.WaitForLogin();
    }

private slots:
    void initTestCase() { QVERIFY(m_app.IsValid()); }
    void init() { QVERIFY(m_app.Reset()); }
    void cleanup() { m_app.Stop(); }

    void everySwitchWritesYesThenNo()
    {
        QVERIFY(StartLoggedIn());
        const struct
        {
            const char* box;
            const char* key;
        } switches[] = {{"maxUploadsPerUserCheckBox", "max_queued_uploads_per_user_enabled"},
                        {"maxMBPerUserCheckBox", "max_queued_mb_per_user_enabled"},
                        {"acceptUserListUploadsCheckBox", "accept_userlist_uploads"},
                        {"emptyShareWarningCheckBox", "check_for_empty_shares"},
                        {"dontDownloadSingleFilesIntoSubfolders", "dont_create_subfolders_for_single_downloads"},
                        {"dontSplitDownloadsCheckBox", "dont_split_downloads"},
                        {"useOldStyleSearchResultsCheckBox", "use_old_style_search_results"},
                        {"autoExpandSharesCheckBox", "expand_new_shares"},
                        {"showAwayStatusCheckBox", "show_away_status_in_application_icon"},
                        {"openGroupsOnUserAddCheckBox", "open_groups_on_user_add"},
                        {"showEventButtonsCheckBox", "show_event_buttons"},
                        {"logRoomChatCheckBox", "log_room_chat"},
                        {"logPrivateChatCheckBox", "log_private_chat"},
                        {"userLevelLoggingCheckBox", "user_level_logging"},
                        {"minimizeToTrayCheckBox", "minimize_to_tray"},
                        {"showDiagnosticsCheckBox", "show_diagnostics"},
                        {"uPnPCheckBox", "use_upnp"}};
        for (const auto& s : switches) {
            auto* box = m_app.Control<QCheckBox>(s.box);
            QVERIFY2(box, s.box);
            const bool wasOn = box->isChecked();
            box->click();
            QCOMPARE(GetSetting(s.key), QString(wasOn ? "no" : "yes"));
            box->click();
            QCOMPARE(GetSetting(s.key), QString(wasOn ? "yes" : "no"));
            QVERIFY2(ValueCount(s.key) == 1, s.key);
        }
    }

    void fillingTheControlsAtStartWritesNothing()
    {
        QVERIFY(StartLoggedIn({{"username", "me"},
                               {"password", "pw"},
                               {"chat_timestamps", "per_message_long"},
                               {"first_open_tab", "users"},
                               {"use_upnp", "yes"},
                               {"accept_userlist_uploads", "yes"},
                               {"max_queued_uploads_per_user", "250"},
                               {"max_queued_mb_per_user", "700"},
                               {"user_description", "  line one\nline two  "}}));
        QCOMPARE(GetSetting("chat_timestamps"), QString("per_message_long"));
        QCOMPARE(m_app.Control<QComboBox>("chatTimestampsBox")->currentIndex(), 2);
        QCOMPARE(GetSetting("first_open_tab"), QString("users"));
        QCOMPARE(GetSetting("use_upnp"), QString("yes"));
        QCOMPARE(GetSetting("accept_userlist_uploads"), QString("yes"));
        QCOMPARE(GetSetting("max_queued_uploads_per_user"), QString("250"));
        QCOMPARE(GetSetting("max_queued_mb_per_user"), QString("700"));
        QCOMPARE(GetSetting("user_description"), QString("  line one\nline two  "));
        // Switches nobody stored stay without a value rather than "no".
        for (const char* key : {"use_old_style_search_results", "user_level_logging", "open_groups_on_user_add",
                                "show_event_buttons", "dont_split_downloads", "show_diagnostics"})
            QVERIFY2(ValueCount(key) == 0, key);
    }

    void theUploadLimitFieldsTakeWhatTheSettingsKeep()
    {
        // Stored below their least, the limits are raised by the load.
        QMap<QString, QString> settings = MainWindowFixture::Account();
        settings.insert("max_queued_uploads_per_user", "0");
        settings.insert("max_queued_mb_per_user", "1");
        QVERIFY(StartLoggedIn(settings));
        const QList<QPair<const char*, const char*>> fields = {
            {"maxUploadsPerUserSpinBox", "max_queued_uploads_per_user"},
            {"maxMBPerUserSpinBox", "max_queued_mb_per_user"}};
        for (const auto& [name, key] : fields) {
            auto* box = m_app.Control<QSpinBox>(name);
            const int least = box->minimum();
            QCOMPARE(GetSetting(key), QString::number(least));
            QCOMPARE(box->value(), least);
            // Every value the field takes is stored as it is.
            SettingWrites writes(key);
            box->setValue(least + 1);
            box->setValue(least);
            box->setValue(least - 1);
            QCOMPARE(box->value(), least);
            QCOMPARE(writes.values, QStringList({QString::number(least + 1), QString::number(least)}));
        }
    }

    void theChoicesWriteTheirWords()
    {
        QVERIFY(StartLoggedIn());
        auto* firstTab = m_app.Control<QComboBox>("firstOpenTabBox");
        const QStringList tabs = {"transfers", "rooms", "search", "users"};
        for (int i : {0, 2, 3, 1}) {
            firstTab->setCurrentIndex(i);
            QCOMPARE(GetSetting("first_open_tab"), tabs[i]);
        }
        auto* stamps = m_app.Control<QComboBox>("chatTimestampsBox");
        const QStringList words = {"activity_based", "per_message_short", "per_message_long", "no_timestamps"};
        for (int i : {3, 1, 2, 0}) {
            stamps->setCurrentIndex(i);
            QCOMPARE(GetSetting("chat_timestamps"), words[i]);
        }
        // No entry of the box: the last word.
        m_app.window->OnFirstOpenTabBoxIndexChanged(-1);
        QCOMPARE(GetSetting("first_open_tab"), QString("users"));
        m_app.window->OnChatTimestampsBoxIndexChanged(9);
        QCOMPARE(GetSetting("chat_timestamps"), QString("no_timestamps"));

        auto* codePages = m_app.Control<QComboBox>("codePageBox");
        QVERIFY(codePages->count() > 2);
        codePages->setCurrentIndex(2);
        QCOMPARE(GetSetting("extended_ascii_codepage"), codePages->itemText(2));
        QCOMPARE(extendedAsciiTranslator->GetCodec(), QTextCodec::codecForName(codePages->itemText(2).toLatin1()));
        codePages->setCurrentIndex(0);
        QCOMPARE(ValueCount("extended_ascii_codepage"), 1);
        QCOMPARE(GetSetting("extended_ascii_codepage"), QString());
        QVERIFY(!extendedAsciiTranslator->GetCodec());
    }

    void theDiagnosticsPageComesAndGoesWithItsSwitch()
    {
        QVERIFY(StartLoggedIn());
        auto* tabs = m_app.Control<TabWidget>("tabControl");
        auto* box = m_app.Control<QCheckBox>("showDiagnosticsCheckBox");
        QCOMPARE(tabs->count(), 7);
        box->click();
        QCOMPARE(tabs->count(), 8);
        QCOMPARE(tabs->tabText(7), QString("Diagnostics"));
        QCOMPARE(tabs->widget(7), static_cast<QWidget*>(diagnosticsForm));

        // Wherever the page has gone, unchecking takes it away.
        tabs->tabBar()->moveTab(7, 2);
        box->click();
        QCOMPARE(tabs->count(), 7);
        QCOMPARE(tabs->indexOf(diagnosticsForm), -1);
        QCOMPARE(tabs->tabText(6), QString("Options"));
    }

    void upnpLooksForTheGatewayAtStartAndWhenSwitchedOn()
    {
        QVERIFY(
            StartLoggedIn({{"username", "me"}, {"password", "pw"}, {"use_upnp", "yes"}, {"show_diagnostics", "yes"}}));
        const QString line = "Looking for the Internet gateway";
        QCOMPARE(diagnosticsForm->AreaText("Port Forwarding").count(line), 1);
        auto* box = m_app.Control<QCheckBox>("uPnPCheckBox");
        box->click();
        QCOMPARE(GetSetting("use_upnp"), QString("no"));
        QCOMPARE(diagnosticsForm->AreaText("Port Forwarding").count(line), 1);
        box->click();
        QCOMPARE(diagnosticsForm->AreaText("Port Forwarding").count(line), 2);
    }

    void eachSoundRowChoosesAndClearsItsKindsFile()
    {
        StandardDialogAnswers choosers;
        QVERIFY(StartLoggedIn());
        const struct
        {
            const char* kind;
            const char* edit;
            const char* select;
            const char* clear;
        } rows[] = {
            {"default", "defaultSoundEdit", "defaultSoundSelectFileButton", "defaultSoundClearButton"},
            {"private_chat", "privateChatSoundEdit", "privateChatSoundSelectFileButton", "privateChatSoundClearButton"},
            {"room_chat", "roomChatSoundEdit", "roomChatSoundSelectFileButton", "roomChatSoundClearButton"},
            {"wishlist", "wishlistResultsSoundEdit", "wishlistResultsSoundSelectFileButton",
             "wishlistResultsSoundClearButton"},
            {"browse", "shareBrowseSoundEdit", "shareBrowseSoundSelectFileButton", "shareBrowseSoundClearButton"},
            {"download", "downloadAlertSoundEdit", "downloadAlertSoundSelectFileButton",
             "downloadAlertSoundClearButton"},
            {"user_online", "userOnlineAlertSoundEdit", "userOnlineAlertSoundSelectFileButton",
             "userOnlineAlertSoundClearButton"},
            {"user_info", "userInfoSoundEdit", "userInfoSoundSelectFileButton", "userInfoSoundClearButton"}};
        for (const auto& row : rows) {
            const QString file = QString("/sounds/%1.wav").arg(row.kind);
            choosers.paths << file;
            m_app.Control<QPushButton>(row.select)->click();
            QCOMPARE(m_app.Control<QLineEdit>(row.edit)->text(), file);
            QCOMPARE(eventToolBar->SoundFileForKind(row.kind), file);
        }
        QCOMPARE(choosers.asked.size(), 8);
        QCOMPARE(choosers.asked[0].caption, QString("Select Wave File"));
        QCOMPARE(choosers.asked[0].filter, QString("Wave Files (*.wav)"));

        // Without its own file a kind plays the default one.
        for (const auto& row : rows) {
            m_app.Control<QPushButton>(row.clear)->click();
            QVERIFY(m_app.Control<QLineEdit>(row.edit)->text().isEmpty());
            QVERIFY(!d.GetType("event_sound")->HasItem(row.kind).IsConnected("event_sound_file"));
            if (QString(row.kind) != "default")
                QCOMPARE(eventToolBar->SoundFileForKind(row.kind), QString());
        }

        // A cancelled chooser changes nothing.
        m_app.Control<QPushButton>("roomChatSoundSelectFileButton")->click();
        QVERIFY(m_app.Control<QLineEdit>("roomChatSoundEdit")->text().isEmpty());
    }

    void everyOptionsPageShowsWholeAtALargeFont()
    {
        QFont large = QApplication::font();
        large.setPointSize(14);
        QMap<QString, QString> settings = MainWindowFixture::Account();
        settings["application_font"] = large.toString();
        QVERIFY(m_app.Start(settings));
        QCOMPARE(QApplication::font().pointSize(), 14);

        auto* options = m_app.Control<QTabWidget>("optionsTabControl");
        auto* tabs = m_app.Control<QTabWidget>("tabControl");
        for (int i = 0; i < tabs->count(); ++i) {
            if (tabs->widget(i)->isAncestorOf(options))
                tabs->setCurrentIndex(i);
        }
        for (int i = 0; i < options->count(); ++i) {
            QWidget* page = options->widget(i);
            options->setCurrentWidget(page);
            QTRY_VERIFY_WITH_TIMEOUT(page->isVisible(), 30000);
            const QStringList clipped = TextFit::Clipped(page);
            QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("; ")));
            const QStringList overlapping = TextFit::Overlapping(page);
            QVERIFY2(overlapping.isEmpty(), qPrintable(overlapping.join("; ")));
        }

        const QStringList port = TextFit::ClippedEdit(m_app.Control<QLineEdit>("listeningPortEdit"));
        QVERIFY2(port.isEmpty(), qPrintable(port.join("; ")));

        // The sound rows line up: every file box starts where the first does.
        for (const char* edit :
             {"privateChatSoundEdit", "roomChatSoundEdit", "wishlistResultsSoundEdit", "shareBrowseSoundEdit",
              "downloadAlertSoundEdit", "userOnlineAlertSoundEdit", "userInfoSoundEdit"})
            QCOMPARE(m_app.Control<QLineEdit>(edit)->mapTo(m_app.window, QPoint()).x(),
                     m_app.Control<QLineEdit>("defaultSoundEdit")->mapTo(m_app.window, QPoint()).x());
    }

    void kindsShareOneFileAndEachHoldsOne()
    {
        StandardDialogAnswers choosers;
        QVERIFY(StartLoggedIn());
        choosers.paths << "/sounds/first.wav"
                       << "/sounds/bell.wav"
                       << "/sounds/bell.wav";
        m_app.window->OnSelectRoomChatSoundFile();
        m_app.window->OnSelectRoomChatSoundFile();
        m_app.window->OnSelectPrivateChatSoundFile();
        Type* files = d.GetType("event_sound_file");
        const ItemPtr bell = files->HasItem("/sounds/bell.wav");
        QVERIFY(bell);
        QCOMPARE(bell.CountItems("event_sound"), 2);
        QCOMPARE(d.GetType("event_sound")->HasItem("room_chat").CountItems("event_sound_file"), 1);
        QVERIFY(!files->HasItem("/sounds/first.wav").IsConnected("event_sound"));

        m_app.window->OnClearPrivateChatSoundFile();
        QCOMPARE(eventToolBar->SoundFileForKind("room_chat"), QString("/sounds/bell.wav"));
        QVERIFY(files->HasItem("/sounds/bell.wav"));
        d.RemoveDisconnectedItems();
        QVERIFY(!files->HasItem("/sounds/first.wav"));
        QCOMPARE(eventToolBar->SoundFileForKind("room_chat"), QString("/sounds/bell.wav"));
    }

    void thePictureAndTheDescription()
    {
        StandardDialogAnswers choosers;
        QVERIFY(StartLoggedIn({{"username", "me"}, {"password", "pw"}, {"user_picture_file", "/pictures/old.png"}}));
        auto* pictureEdit = m_app.Control<QLineEdit>("userPictureFilenameEdit");
        m_app.Control<QPushButton>("selectPictureButton")->click();
        QCOMPARE(choosers.asked.value(0).caption, QString("Select Picture"));
        QCOMPARE(choosers.asked.value(0).filter, QString());
        QCOMPARE(GetSetting("user_picture_file"), QString("/pictures/old.png"));
        choosers.paths << "/pictures/me.png";
        m_app.Control<QPushButton>("selectPictureButton")->click();
        QCOMPARE(GetSetting("user_picture_file"), QString("/pictures/me.png"));
        QCOMPARE(pictureEdit->text(), QString("/pictures/me.png"));
        m_app.Control<QPushButton>("clearPictureButton")->click();
        QCOMPARE(ValueCount("user_picture_file"), 0);
        QVERIFY(pictureEdit->text().isEmpty());

        SettingWrites writes("user_description");
        auto* description = m_app.Control<QPlainTextEdit>("userDescriptionEdit");
        description->setFocus();
        QTest::keyClicks(description, "Hi!");
        QCOMPARE(writes.values, QStringList({"H", "Hi", "Hi!"}));
        QCOMPARE(GetSetting("user_description"), QString("Hi!"));
    }

    void fontsAreChosenStoredAndReset()
    {
        StandardDialogAnswers choosers;
        const QFont start = QApplication::font();
        QFont stored = start;
        stored.setPointSize(start.pointSize() + 4);
        QVERIFY(StartLoggedIn({{"username", "me"}, {"password", "pw"}, {"application_font", stored.toString()}}));

        // The chooser opens on the stored font; cancelled, it keeps it.
        m_app.Control<QPushButton>("selectApplicationFontButton")->click();
        QCOMPARE(choosers.fontsShown.value(0).toString(), stored.toString());
        QVERIFY(!choosers.asked.value(0).parent);
        QCOMPARE(GetSetting("application_font"), stored.toString());

        QFont chosen = start;
        chosen.setPointSize(start.pointSize() + 7);
        chosen.setItalic(true);
        choosers.fonts << chosen;
        m_app.Control<QPushButton>("selectApplicationFontButton")->click();
        QCOMPARE(GetSetting("application_font"), chosen.toString());
        QCOMPARE(QApplication::font().toString(), chosen.toString());

        SettingWrites writes("application_font");
        m_app.Control<QPushButton>("defaultFontButton")->click();
        m_app.Control<QPushButton>("defaultFontButton")->click();
        QCOMPARE(GetSetting("application_font"), start.toString());
        QCOMPARE(QApplication::font().toString(), start.toString());
        QCOMPARE(writes.values, QStringList({start.toString()}));
    }

    void savedColoursRepaintTheTransferRows()
    {
        StandardDialogAnswers choosers;
        QVERIFY(StartLoggedIn());
        QVERIFY(transferQueueManager->AddDownload("bob", "song.flac", "C:\\music", 5000, false, 0));
        auto* downloads = m_app.Control<QTreeWidget>("downloadsList");
        QTRY_VERIFY(downloads->topLevelItemCount() == 1);
        QTreeWidgetItem* file = downloads->topLevelItem(0)->child(0)->child(0);
        QVERIFY(file);
        const QColor before = file->foreground(0).color();

        // Each click opens one more dialog, beside the window.
        m_app.Control<QPushButton>("selectColorsButton")->click();
        m_app.Control<QPushButton>("selectColorsButton")->click();
        const QList<ColorSelectionDialog*> dialogs = m_app.window->findChildren<ColorSelectionDialog*>();
        QCOMPARE(dialogs.size(), 2);
        QVERIFY(dialogs[0]->isVisible() && !dialogs[0]->isModal());

        // Every transfer state gets a colour of its own that no row had.
        const QStringList buttons = {"transferQueuedButton", "transferInProgressButton", "transferCompleteButton",
                                     "transferFailedButton", "transferOtherButton"};
        for (int i = 0; i < buttons.size(); ++i) {
            choosers.colors << QColor(10 + i, 20, 30);
            dialogs[0]->findChild<QPushButton*>(buttons[i])->click();
        }
        dialogs[0]->findChild<QPushButton*>("saveColorsButton")->click();
        const QColor after = file->foreground(0).color();
        QVERIFY(after != before);
        QCOMPARE(after.green(), 20);
        QCOMPARE(after.blue(), 30);
    }

    void theSearchHistoryIsClearedEvenBeforeTheSearchPageHasOne()
    {
        QVERIFY(StartLoggedIn());
        auto* clear = m_app.Control<QPushButton>("clearSearchHistoryButton");
        if (!d.HasType("search_record")) {
            clear->click();
            QVERIFY(!d.HasType("search_record"));
            d.NewType("search_record", 0, false, true);
        }
        Type* records = d.GetType("search_record");
        for (const char* text : {"jazz", "blues", "folk"})
            records->GetItem(Value(text));
        clear->click();
        QCOMPARE(int(records->Count()), 0);
        clear->click();
        QCOMPARE(int(records->Count()), 0);
    }
};

QTEST_MAIN(TestMainWindowOptions)

#include "TestMainWindowOptions.moc"
