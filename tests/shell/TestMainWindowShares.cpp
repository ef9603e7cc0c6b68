// The File Sharing, Login and Extras pages at work: the shared-folder list
// follows the store with each folder's audience, its menu sets permissions
// and unshares, rescans are reported one window each, the port note and
// the port test pages follow the port settings, the empty-share message is
// saved as typed, the excluded extensions are listed and their dialog opens
// once, and a user list is imported from the older client's file.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "DialogAnswerer.h"
#include "MainWindow.h"
#include "MainWindowFixture.h"
#include "Settings.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "StandardDialogAnswers.h"
#include "TabWidget.h"
#include "TempTree.h"
#include "Type.h"
#include "UrlRecorder.h"
#include "shares/AddSharedFolderDialog.h"
#include "shares/SharedFilesRescannedDialog.h"
#include "transfers/ExcludedExtensionsDialog.h"

namespace {

QStringList Row(QTreeWidget* list, int index)
{
    QTreeWidgetItem* row = list->topLevelItem(index);
    return row ? QStringList({row->text(0), row->text(1)}) : QStringList();
}

QByteArray U32(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xff);
    return bytes;
}

} // namespace

class TestMainWindowShares : public QObject
{
    Q_OBJECT

private:
    MainWindowFixture m_app;
    TempTree m_files;

    QTreeWidget* List() { return m_app.Control<QTreeWidget>("sharedFoldersList"); }

    ItemPtr Share(const QString& relative)
    {
        m_files.WriteFile(relative + "/" + relative + ".mp3", QByteArray(100, 'x'));
        return ShareScanned(sharedFoldersManager, m_files.Path(relative));
    }

    // Asks for the list's menu at a point and, while it runs, chooses the
    // entry with the text (or none); the texts of the entries shown, empty
    // when no menu opened.
    QStringList RunMenu(const QPoint& position, const QString& choice)
    {
        QStringList shown;
        QTimer::singleShot(0, this, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu)
                return;
            for (QAction* action : menu->actions())
                shown << action->text();
            for (QAction* action : menu->actions())
                if (action->text() == choice)
                    action->trigger();
            menu->close();
        });
        emit List()->customContextMenuRequested(position);
        QCoreApplication::processEvents();
        return shown;
    }

    QPoint RowPoint(int index) { return List()->visualItemRect(List()->topLevelItem(index)).center(); }

private slots:
    void initTestCase() { QVERIFY(m_app.IsValid()); }

    void init()
    {
        QVERIFY(m_app.Reset());
        m_files.Renew();
    }

    void cleanup() { m_app.Stop(); }

    void theListShowsEachFolderAndWhoMaySeeIt()
    {
        m_app.Start();
        ItemPtr folder = Share("music");
        QCOMPARE(List()->topLevelItemCount(), 1);
        QCOMPARE(Row(List(), 0), QStringList({m_files.Path("music"), ""}));

        Type* groups = d.GetType("user_list_group");
        folder.Connect(groups->GetItem("b"));
        folder.Connect(groups->GetItem("A"));
        QCOMPARE(Row(List(), 0).value(1), QString("A, b"));
        folder.NewItem("shared_userlist");
        QCOMPARE(Row(List(), 0).value(1), QString("User List"));
        folder.NewItem("shared_public");
        QCOMPARE(Row(List(), 0).value(1), QString("Everyone"));
        folder.Disconnect("shared_public");
        folder.Disconnect("shared_userlist");
        QCOMPARE(Row(List(), 0).value(1), QString("A, b"));
        folder.Disconnect(groups->GetItem("A"));
        folder.Disconnect(groups->GetItem("b"));
        QCOMPARE(Row(List(), 0).value(1), QString());

        ItemPtr second = Share("films");
        QCOMPARE(List()->topLevelItemCount(), 2);
        second.Remove();
        QCOMPARE(List()->topLevelItemCount(), 1);
        QCOMPARE(Row(List(), 0).value(0), m_files.Path("music"));
    }

    void theMenuSetsPermissionsAndUnshares()
    {
        m_app.Start();
        Share("music").NewItem("shared_public");
        Share("films");
        auto* tabs = m_app.Control<TabWidget>("tabControl");
        tabs->setCurrentIndex(tabs->count() - 1);
        m_app.Control<TabWidget>("optionsTabControl")->setCurrentIndex(1);
        QTRY_VERIFY(List()->isVisible());

        // Below the rows there is nothing to act on.
        QCOMPARE(RunMenu(QPoint(5, List()->viewport()->height() - 2), "Unshare Folder"), QStringList());
        QCOMPARE(int(d.GetType("shared_folder")->Count()), 2);

        List()->setCurrentItem(List()->topLevelItem(0));
        QCOMPARE(RunMenu(RowPoint(0), "Set Folder Permissions"),
                 QStringList({"Set Folder Permissions", "Unshare Folder"}));
        const QList<AddSharedFolderDialog*> dialogs = m_app.window->findChildren<AddSharedFolderDialog*>();
        QCOMPARE(dialogs.size(), 1);
        QVERIFY(dialogs[0]->isVisible() && !dialogs[0]->isModal());
        QCOMPARE(dialogs[0]->findChild<QLineEdit*>("selectedFolderEdit")->text(), m_files.Path("music"));

        List()->setCurrentItem(List()->topLevelItem(1));
        RunMenu(RowPoint(1), "Unshare Folder");
        QCOMPARE(List()->topLevelItemCount(), 1);
        QVERIFY(!d.GetType("shared_folder")->HasItem(m_files.Path("films")));
        // Its scanned files went with it.
        for (const ItemPtr& folder : d.GetType("shared_file_folder")->GetItems())
            QVERIFY(!folder.AsString().contains("films"));
    }

    void aRowWithoutItsFolderMakesNone()
    {
        m_app.Start();
        // A row the store does not know (as after a failed event).
        auto* stale = new QTreeWidgetItem(List(), QStringList("/nowhere/shared"));
        List()->setCurrentItem(stale);
        m_app.window->OnSetFolderPermissions();
        m_app.window->OnUnshareFolder();
        QCOMPARE(int(d.GetType("shared_folder")->Count()), 0);
        QVERIFY(m_app.window->findChildren<AddSharedFolderDialog*>().isEmpty());
        List()->clearSelection();
        m_app.window->OnUnshareFolder();
        QCOMPARE(List()->topLevelItemCount(), 1);
    }

    void aFolderSharedInOptionsIsScannedBehindTheWindow()
    {
        m_app.Start();
        for (int i = 0; i < 1000; ++i)
            m_files.WriteFile(QString("big/%1/%2.txt").arg(i % 20).arg(i), QByteArray(1, 'x'));
        auto* dialog = new AddSharedFolderDialog(ItemPtr(), m_app.window);
        dialog->findChild<QLineEdit*>("selectedFolderEdit")->setText(m_files.Path("big"));
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        // The row is there at once and says the scan is going on.
        QCOMPARE(Row(List(), 0), QStringList({m_files.Path("big"), "Everyone (scanning...)"}));
        QCOMPARE(int(d.GetType("shared_file")->Count()), 0);
        QTRY_COMPARE_WITH_TIMEOUT(Row(List(), 0).value(1), QString("Everyone"), 30000);
        QCOMPARE(int(d.GetType("shared_file")->Count()), 1000);
    }

    void eachRescanIsReportedInAWindowOfItsOwn()
    {
        m_app.Start();
        Share("music");
        m_files.WriteFile("music/new.mp3", QByteArray(50, 'y'));
        m_app.window->OnToolBarActionTriggered(nullptr, "rescan_shares");
        m_app.window->OnToolBarActionTriggered(nullptr, "rescan_shares");
        // A rescan walks on the scanner thread and reports when merged.
        QTRY_COMPARE_WITH_TIMEOUT(m_app.window->findChildren<SharedFilesRescannedDialog*>().size(), 2, 30000);
        const QList<SharedFilesRescannedDialog*> reports = m_app.window->findChildren<SharedFilesRescannedDialog*>();
        QCOMPARE(reports.size(), 2);
        QStringList texts;
        for (SharedFilesRescannedDialog* report : reports) {
            QCOMPARE(report->windowTitle(), QString("Shared Files Rescanned"));
            QVERIFY(report->isVisible() && !report->isModal());
            texts << report->findChild<QPlainTextEdit*>("plainTextEdit")->toPlainText();
        }
        texts.sort();
        QCOMPARE(texts, QStringList({"0 files added.\n0 files removed.", "1 file added.\n0 files removed."}));

        QPointer<SharedFilesRescannedDialog> first = reports[0];
        first->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
        QTRY_VERIFY(first.isNull());
        QVERIFY(reports[1]->isVisible());
    }

    void thePortNoteFollowsThePorts()
    {
        m_app.Start();
        QVERIFY(m_app.WaitForLogin());
        auto* note = m_app.Control<QLabel>("obfuscatedPortLabel");
        auto* edit = m_app.Control<QLineEdit>("listeningPortEdit");
        QCOMPARE(note->text(), QString("Obfuscated port is %1, if you're manually forwarding\nyour ports be sure to "
                                       "open it as well.")
                                   .arg(GetSetting("obfuscated_listening_port")));

        SetSetting("new_listening_port", "3000");
        QCOMPARE(edit->text(), QString("3000"));
        QCOMPARE(note->text(), QString("Obfuscated port is 3001, if you're manually forwarding\nyour ports be sure "
                                       "to open it as well."));
        // 65535 leaves no port above it.
        SetSetting("new_listening_port", "65535");
        QCOMPARE(edit->text(), QString("65535"));
        QVERIFY(!note->text().contains("65536"));
        QVERIFY(note->text().startsWith("There is no obfuscated port"));
        SetSetting("obfuscated_listening_port", "40112");
        QVERIFY(note->text().startsWith("Obfuscated port is 40112,"));
        SetSetting("obfuscated_listening_port", "0");
        QVERIFY(note->text().startsWith("There is no obfuscated port"));
    }

    void checkingThePortsOpensATestPagePerPort()
    {
        UrlRecorder urls;
        m_app.Start();
        QVERIFY(m_app.WaitForLogin());
        SetSetting("listening_port", "40111");
        SetSetting("obfuscated_listening_port", "40112");
        auto* check = m_app.Control<QPushButton>("checkPortsButton");
        check->click();
        const QString base = m_app.web.BaseUrl();
        QCOMPARE(urls.urls,
                 QList<QUrl>({QUrl(base + "porttest.php?port=40111"), QUrl(base + "porttest.php?port=40112")}));

        urls.urls.clear();
        SetSetting("obfuscated_listening_port", "40111");
        check->click();
        QCOMPARE(urls.urls.size(), 2);

        // Without an obfuscated port only the plain one is tested.
        urls.urls.clear();
        SetSetting("listening_port", "65535");
        SetSetting("obfuscated_listening_port", "0");
        check->click();
        QCOMPARE(urls.urls, QList<QUrl>({QUrl(base + "porttest.php?port=65535")}));
    }

    void theEmptyShareMessageIsSavedAsTyped()
    {
        m_app.Start();
        auto* edit = m_app.Control<QLineEdit>("emptyShareWarningEdit");
        auto* save = m_app.Control<QPushButton>("saveEmptyShareWarningMessageButton");
        edit->clear();
        edit->setFocus();
        QTest::keyClicks(edit, "   ");
        QVERIFY(!save->isEnabled());
        QTest::keyClicks(edit, "share please ");
        QVERIFY(save->isEnabled());
        save->click();
        QCOMPARE(GetSetting("empty_share_message"), QString("   share please "));
        QCOMPARE(edit->cursorPosition(), 0);
        QVERIFY(!save->isEnabled());
        // Text set by the program does not enable the button.
        edit->setText("another");
        QVERIFY(!save->isEnabled());
    }

    void theExcludedExtensionsAreListed()
    {
        DialogAnswerer answers;
        answers.Then(DialogAnswerer::EnterAccount("me", "pw"))
            .Then(DialogAnswerer::Press(QMessageBox::No))
            .Then(DialogAnswerer::Press(QMessageBox::Ok));
        m_app.Start(QMap<QString, QString>());
        auto* edit = m_app.Control<QLineEdit>("excludedExtensionsEdit");
        QCOMPARE(edit->text(), QString(".ini"));
        Type* excluded = d.GetType("excluded_download_extension");
        excluded->GetItem(".tmp");
        QCOMPARE(edit->text(), QString(".ini .tmp"));
        excluded->HasItem(".ini").Remove();
        QCOMPARE(edit->text(), QString(".tmp"));

        // The button beside them opens the one dialog that edits them.
        auto* button = m_app.Control<QPushButton>("editExcludedExtensionsButton");
        button->click();
        button->click();
        const QList<ExcludedExtensionsDialog*> dialogs = m_app.Shown<ExcludedExtensionsDialog>();
        QCOMPARE(dialogs.size(), 1);
        QCOMPARE(dialogs.first()->parentWidget(), static_cast<QWidget*>(m_app.window));
        dialogs.first()->findChild<QLineEdit*>("newExtensionEdit")->setText(".part");
        dialogs.first()->findChild<QPushButton*>("newExtensionButton")->click();
        QCOMPARE(edit->text(), QString(".tmp .part"));
    }

    void aFolderSharedAtTheFirstRunIsSharedWithEveryone()
    {
        const QString music = m_files.MakeFolder("music");
        DialogAnswerer answers;
        answers.Then(DialogAnswerer::EnterAccount("me", "pw"))
            .Then(DialogAnswerer::Press(QMessageBox::Yes))
            .Then([music](QWidget* dialog) {
                dialog->findChild<QLineEdit*>("selectedFolderEdit")->setText(music);
                dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
            })
            .Then(DialogAnswerer::Press(QMessageBox::Ok));
        m_app.Start(QMap<QString, QString>());
        QCOMPARE(answers.Titles(),
                 QStringList({"Set Username/Password", "Share a folder?", "Add Shared Folder", "In the future"}));
        const ItemPtr folder = d.GetType("shared_folder")->HasItem(music);
        QVERIFY(folder);
        QVERIFY(folder.IsConnected("shared_public"));
        QTRY_COMPARE(Row(List(), 0), QStringList({music, "Everyone"}));
        // The dialog went when it closed.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(m_app.window->findChildren<AddSharedFolderDialog*>().isEmpty());
    }

    void aUserListIsImportedFromTheOlderClientsFile()
    {
        StandardDialogAnswers choosers;
        m_app.Start();
        const QString good = m_files.WriteFile("palroll.cfg", U32(2) + U32(5) + "alice" + U32(3) + "bob");
        const QString bad = m_files.WriteFile("other/palroll.cfg", U32(9) + U32(5) + "ali");
        choosers.paths << good << bad;
        const QString title = "Importing user list from original Quorvane client";

        {
            DialogAnswerer answers;
            answers.Then(DialogAnswerer::Press(QMessageBox::Ok)).Then(DialogAnswerer::Press(QMessageBox::Ok));
            m_app.Control<QPushButton>("importUserListButton")->click();
            QCOMPARE(answers.Titles(), QStringList({title, title}));
            QVERIFY(answers.Texts().value(0).startsWith("To import your user list,"));
            QCOMPARE(answers.Texts().value(1), QString("Import successful."));
        }
        QCOMPARE(choosers.asked.value(0).caption, QString("Find User List Configuration File"));
        QCOMPARE(choosers.asked.value(0).filter, QString("palroll.cfg"));
        for (const char* name : {"alice", "bob"})
            QVERIFY(d.GetType("user")->HasItem(name).IsConnected("in_user_list"));
        {
            DialogAnswerer answers;
            answers.Then(DialogAnswerer::Press(QMessageBox::Ok)).Then(DialogAnswerer::Press(QMessageBox::Ok));
            m_app.Control<QPushButton>("importUserListButton")->click();
            QCOMPARE(answers.Texts().value(1), QString("Import could not be completed successfully."));
        }
        {
            // Cancelling the file chooser ends it without a second box.
            DialogAnswerer answers;
            answers.Then(DialogAnswerer::Press(QMessageBox::Ok));
            m_app.Control<QPushButton>("importUserListButton")->click();
            QCOMPARE(answers.Titles(), QStringList({title}));
        }
    }
};

QTEST_MAIN(TestMainWindowShares)

#include "TestMainWindowShares.moc"
