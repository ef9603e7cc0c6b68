// Real clients driven through their windows, on what the window offers
// today: they log in, show their Options pages, answer the first start's
// dialogs, keep what a user changed through a control across a restart, and
// a failed run leaves their logs and pictures behind.
#include <QDir>
#include <QImage>
#include <QTest>

#include "ClientHome.h"
#include "E2eTestCase.h"

class TestDrivenClients : public E2eTestCase
{
    Q_OBJECT

private slots:
    void twoClientsLogInAndShowTheirOptions()
    {
        DrivenClient& alice = Run().AddClient("alice");
        DrivenClient& bob = Run().AddClient("bob");
        QVERIFY(ClientHome::WriteFile(alice.Home() + "/Music/take five.ogg", ClientHome::SampleBytes(4000)));
        alice.Data().ShareFolder(alice.Home() + "/Music");
        STEP(alice.Start());
        STEP(bob.Start());
        STEP(Run().WaitForLogin("alice"));
        STEP(Run().WaitForLogin("bob"));
        STEP(alice.WaitTextContaining("@main", "[alice]"));
        STEP(bob.WaitTextContaining("@main", "[bob]"));

        STEP(alice.Tab("tabControl", "Options"));
        STEP(alice.Tab("optionsTabControl", "Login"));
        STEP(alice.WaitText("tabControl", "Options"));
        STEP(alice.WaitText("usernameEdit", "alice"));
        QStringList pages;
        STEP(alice.Items("optionsTabControl", &pages));
        QCOMPARE(pages,
                 QStringList({"Login", "File Sharing", "UI", "General", "User Info", "Notification Sounds", "Extras"}));
        STEP(alice.Tab("optionsTabControl", "File Sharing"));
        STEP(alice.WaitText("optionsTabControl", "File Sharing"));
        STEP(alice.WaitText("downloadFolderEdit", alice.DownloadFolder()));
        STEP(alice.WaitRow("sharedFoldersList", {alice.Home() + "/Music"}));

        // A menu whose entry is picked inside the menu's own event loop:
        // "Select All", then typing replaces the warning the field holds.
        STEP(alice.Menu("emptyShareWarningEdit"));
        STEP(alice.Pick("Select All"));
        STEP(alice.Type("emptyShareWarningEdit", "please share something"));
        STEP(alice.WaitText("emptyShareWarningEdit", "please share something"));
        STEP(alice.Tab("optionsTabControl", "UI"));
        STEP(alice.Choose("firstOpenTabBox", "Search"));
        STEP(alice.WaitText("firstOpenTabBox", "Search"));

        // bob's window shows bob, not alice: each client is its own process.
        STEP(bob.WaitText("usernameEdit", "bob"));
        const QString picture = Run().Output() + "/bob-options.png";
        STEP(bob.Tab("tabControl", "Options"));
        STEP(bob.Screenshot(picture));
        QVERIFY(QImage(picture).width() >= 600);

        // A step that cannot be done says which client, what and why.
        QString text;
        QVERIFY(!bob.Read("noSuchWidget", &text));
        QVERIFY2(E2eRun::Failure().startsWith("bob: text noSuchWidget: ") &&
                     E2eRun::Failure().contains("no widget matches \"noSuchWidget\""),
                 qPrintable(E2eRun::Failure()));
        QVERIFY(!bob.Read("QLineEdit", &text));
        QVERIFY2(E2eRun::Failure().contains("widgets match \"QLineEdit\""), qPrintable(E2eRun::Failure()));
        STEP(bob.Tab("optionsTabControl", "Login"));
        QVERIFY(!bob.Action("No Such Action"));
        QVERIFY2(E2eRun::Failure().contains("Change Username/Password"), qPrintable(E2eRun::Failure()));
        QVERIFY(!bob.WaitText("usernameEdit", "carol", 300));
        QVERIFY2(E2eRun::Failure().contains("it shows \"bob\""), qPrintable(E2eRun::Failure()));

        // What a failed run leaves: each client's log and window.
        const QString output = Run().Output();
        Run().Finish(true);
        QVERIFY(QImage(output + "/alice.png").width() >= 600);
        QVERIFY(QImage(output + "/bob.png").width() >= 600);
        QVERIFY(ClientHome::ReadFile(output + "/alice.log").contains("driver: listening"));
        QVERIFY(ClientHome::ReadFile(output + "/bob-windows.json").contains("[bob]"));
        QVERIFY(ClientHome::ReadFile(output + "/alice-diagnostics.txt").contains("Loaded"));
        QDir(output).removeRecursively();
    }

    void aFirstStartIsAnsweredThroughItsDialogsAndRemembered()
    {
        DrivenClient& carol = Run().AddClient("carol", false);
        STEP(carol.Start());
        STEP(carol.WaitWindow("Set Username/Password"));
        // As for a user, the main window is out of reach meanwhile.
        QVERIFY(!carol.Tab("tabControl", "Options"));
        QVERIFY2(E2eRun::Failure().contains("the dialog \"Set Username/Password\" blocks its window"),
                 qPrintable(E2eRun::Failure()));
        STEP(carol.Type("@modal/usernameEdit", "carol"));
        STEP(carol.Type("@modal/passwordEdit", "carol-pw"));
        STEP(carol.Click("@modal/buttonBox/text=OK"));
        STEP(carol.WaitWindow("Share a folder?"));
        STEP(carol.Click("@modal/text=No"));
        STEP(carol.WaitWindow("In the future"));
        STEP(carol.Click("@modal/text=OK"));
        STEP(Run().WaitForLogin("carol"));
        STEP(carol.WaitTextContaining("@main", "[carol]"));
        STEP(carol.Quit());
        QVERIFY(!QDir(carol.Home()).entryList({".Quorvane.*"}, QDir::Files | QDir::Hidden).isEmpty());

        // The account is remembered: no dialog asks again.
        STEP(carol.Start());
        STEP(Run().WaitForLogin("carol", 2));
        STEP(carol.WaitText("usernameEdit", "carol"));
        QJsonArray windows;
        STEP(carol.Windows(&windows));
        QCOMPARE(windows.size(), 1);
        QCOMPARE(windows[0].toObject().value("class").toString(), QString("MainWindow"));
    }

    void theAvailabilityChosenOnTheToolbarIsKeptAfterARestart()
    {
        DrivenClient& bob = Run().AddClient("bob");
        STEP(bob.Start());
        STEP(Run().WaitForLogin("bob"));
        STEP(bob.Click("mainToolBar/text=Available"));
        STEP(bob.WaitText("mainToolBar/text=Away", "Away"));
        STEP(bob.Quit());
        STEP(bob.Start());
        STEP(Run().WaitForLogin("bob", 2));
        STEP(bob.WaitText("mainToolBar/text=Away", "Away"));
    }

    void anOptionChangedThroughItsControlIsKeptAfterARestart()
    {
        DrivenClient& bob = Run().AddClient("bob");
        STEP(bob.Start());
        STEP(Run().WaitForLogin("bob"));
        STEP(bob.Tab("tabControl", "Options"));
        STEP(bob.Tab("optionsTabControl", "General"));
        QJsonObject before;
        STEP(bob.State("logPrivateChatCheckBox", &before));
        STEP(bob.Click("logPrivateChatCheckBox"));
        STEP(bob.Tab("optionsTabControl", "File Sharing"));
        STEP(bob.Click("maxUploadsPerUserCheckBox"));
        // Typed as a user types it: the number takes effect as a whole,
        // not each digit raised to the box's minimum on the way.
        STEP(bob.Key("maxUploadsPerUserSpinBox", "Ctrl+A"));
        STEP(bob.Type("maxUploadsPerUserSpinBox", "25"));
        STEP(bob.Key("maxUploadsPerUserSpinBox", "Return"));
        STEP(bob.WaitText("maxUploadsPerUserSpinBox", "25"));
        STEP(bob.Quit());

        STEP(bob.Start());
        STEP(Run().WaitForLogin("bob", 2));
        QJsonObject after;
        STEP(bob.State("logPrivateChatCheckBox", &after));
        QCOMPARE(after.value("checked").toBool(), !before.value("checked").toBool());
        STEP(bob.State("maxUploadsPerUserCheckBox", &after));
        QVERIFY(after.value("checked").toBool());
        STEP(bob.WaitText("maxUploadsPerUserSpinBox", "25"));
    }
};

QTEST_GUILESS_MAIN(TestDrivenClients)

#include "TestDrivenClients.moc"
