// The main window's answers to the server and to its own toolbar: the
// connect action's text and the application icon follow the connection,
// refusals are told in one box that never blocks the server's slot, a
// login elsewhere is told on top of everything, administrators' messages
// gather in one window and new versions open one of their own, and the
// actions of the Options pages and of a focused user do what they say.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTextEdit>
#include <QWidgetAction>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "DialogAnswerer.h"
#include "MainWindow.h"
#include "MainWindowFixture.h"
#include "NewVersionDialog.h"
#include "Server.h"
#include "Settings.h"
#include "StandardDialogAnswers.h"
#include "TabWidget.h"
#include "TestMessage.h"
#include "TimerManager.h"
#include "Type.h"
#include "common/PeerText.h"
#include "settings/AdminMessageDialog.h"
#include "settings/ChangeListeningPortDialog.h"
#include "settings/ChangeUsernamePasswordDialog.h"
#include "shares/AddSharedFolderDialog.h"
#include "users/ShareForm.h"

namespace {

bool SameIcon(const QIcon& icon, const char* resource)
{
    return icon.pixmap(16, 16).toImage() == QIcon(resource).pixmap(16, 16).toImage();
}

// The actions of the set the context toolbar shows now.
QList<QAction*> SetActions()
{
    QList<QAction*> found;
    for (QAction* action : actionBar->actions()) {
        if (!qobject_cast<QWidgetAction*>(action) && !action->text().isEmpty() && action->isVisible())
            found << action;
    }
    return found;
}

QAction* ShownAction(const QString& text)
{
    for (QAction* action : SetActions())
        if (action->text() == text)
            return action;
    return nullptr;
}

void FireHalfMinute()
{
    QMetaObject::invokeMethod(timerManager->HalfMinuteTimer(), "timeout");
}

} // namespace

class TestMainWindowReactions : public QObject
{
    Q_OBJECT

private:
    MainWindowFixture m_app;

    // Shows the Login page of the Options, whose actions include the
    // connect action, and returns that action.
    QAction* ConnectAction()
    {
        auto* tabs = m_app.Control<TabWidget>("tabControl");
        tabs->setCurrentIndex(tabs->count() - 1);
        m_app.Control<TabWidget>("optionsTabControl")->setCurrentIndex(0);
        m_app.window->activateWindow();
        QLineEdit* edit = m_app.Control<QLineEdit>("usernameEdit");
        edit->setFocus();
        if (!QTest::qWaitFor([&] { return edit->hasFocus(); }, 30000))
            return nullptr;
        return SetActions().value(0);
    }

    int LoginAttempts() const { return m_app.server.Count(1); }

private slots:
    void initTestCase() { QVERIFY(m_app.IsValid()); }
    void init() { QVERIFY(m_app.Reset()); }
    void cleanup() { m_app.Stop(); }

    void theConnectActionAndTheIconFollowTheConnection()
    {
        m_app.Start();
        QVERIFY(SameIcon(QApplication::windowIcon(), ":/icons/offline_icon"));
        QVERIFY(m_app.WaitForLogin());
        QAction* action = ConnectAction();
        QVERIFY(action);
        QCOMPARE(action->text(), QString("Disconnect"));
        QVERIFY(SameIcon(QApplication::windowIcon(), ":/icons/online_icon"));
        QVERIFY(SameIcon(m_app.window->windowIcon(), ":/icons/online_icon"));
        // The login asks for the user's own privileges.
        QTRY_COMPARE(m_app.server.Count(92), 1);

        // Away shows only when the user wants it shown; the option picks
        // the icon again both ways.
        SetSetting("availability_status", "away");
        auto* away = m_app.Control<QCheckBox>("showAwayStatusCheckBox");
        away->click();
        QCOMPARE(GetSetting("show_away_status_in_application_icon"), QString("yes"));
        QVERIFY(SameIcon(QApplication::windowIcon(), ":/icons/away_icon"));
        away->click();
        QVERIFY(SameIcon(QApplication::windowIcon(), ":/icons/online_icon"));

        action->trigger();
        QCOMPARE(action->text(), QString("Connect"));
        QVERIFY(SameIcon(QApplication::windowIcon(), ":/icons/offline_icon"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_app.server.IsLoggedIn("me"), 30000);

        // While the server keeps the login waiting, the action says so.
        m_app.server.HoldLogins(true);
        action->trigger();
        QCOMPARE(action->text(), QString("Connecting..."));
        QTRY_COMPARE_WITH_TIMEOUT(LoginAttempts(), 2, 30000);
        m_app.server.HoldLogins(false);
        QTRY_COMPARE_WITH_TIMEOUT(action->text(), QString("Disconnect"), 30000);
        QVERIFY(SameIcon(QApplication::windowIcon(), ":/icons/online_icon"));
    }

    void aRefusalIsToldInOneBoxThatComesBackAtEveryRetry()
    {
        m_app.server.RefuseLogins("INVALIDPASS");
        m_app.Start();
        QTRY_COMPARE_WITH_TIMEOUT(m_app.Boxes("Login Failure: Wrong Password").size(), 1, 30000);
        QMessageBox* box = m_app.Boxes("Login Failure: Wrong Password").first();
        QCOMPARE(box->text(), QString("Login failed. The password you supplied does not match your username. Please "
                                      "change your login settings in the Options tab and try reconnecting."));
        QCOMPARE(box->parentWidget(), static_cast<QWidget*>(m_app.window));
        QVERIFY(!box->isModal());
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(ConnectAction()->text(), QString("Connect"));
        // A failed attempt leaves the icon as it was.
        QVERIFY(SameIcon(QApplication::windowIcon(), ":/icons/offline_icon"));

        // Retries while the box is open bring the same box back.
        QSignalSpy failed(gp_server, &Server::ConnectionFailed);
        FireHalfMinute();
        QVERIFY(failed.wait(30000));
        QCOMPARE(m_app.Shown<QMessageBox>().size(), 1);
        m_app.server.RefuseLogins("INVALIDUSERNAME");
        FireHalfMinute();
        QVERIFY(failed.wait(30000));
        QCOMPARE(m_app.Shown<QMessageBox>().size(), 1);
        QCOMPARE(box->windowTitle(), QString("Login Failure: Username is Invalid"));
        QVERIFY(box->text().startsWith("Login failed. The username you supplied is invalid."));

        // Closed, it comes back at the next refusal.
        box->close();
        FireHalfMinute();
        QVERIFY(failed.wait(30000));
        QCOMPARE(m_app.Boxes("Login Failure: Username is Invalid").size(), 1);

        // Any other reason is not told while the server retries by itself.
        m_app.Boxes("Login Failure: Username is Invalid").first()->close();
        m_app.server.RefuseLogins("BANNED");
        FireHalfMinute();
        QVERIFY(failed.wait(30000));
        QCOMPARE(failed.last().value(0).toString(), QString("BANNED"));
        QVERIFY(m_app.Shown<QMessageBox>().isEmpty());
        QCOMPARE(ConnectAction()->text(), QString("Connect"));
    }

    void aConnectionLostBeforeAnyLoginIsTold()
    {
        m_app.Start();
        QVERIFY(m_app.WaitForLogin());
        // Disconnecting by hand ends the retries, so the next failure is
        // told whatever its reason.
        gp_server->Disconnect();
        // Nothing listens on a port just given up.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QByteArray deadServer = "127.0.0.1:" + QByteArray::number(probe.serverPort());
        probe.close();
        const QByteArray realServer = qgetenv("QUORVANE_SERVER");
        qputenv("QUORVANE_SERVER", deadServer);
        QSignalSpy failed(gp_server, &Server::ConnectionFailed);
        gp_server->Connect();
        const bool told = failed.wait(30000);
        qputenv("QUORVANE_SERVER", realServer);
        QVERIFY(told);
        QCOMPARE(m_app.Boxes("Login Failure").size(), 1);
        QCOMPARE(m_app.Boxes("Login Failure").first()->text(),
                 QString("Login failed. Reported failure reason: socket error. Please change your login settings in "
                         "the Options tab and try reconnecting."));
    }

    void aLoginElsewhereIsToldOnTopAndEndsTheRetries()
    {
        m_app.Start();
        QVERIFY(m_app.WaitForLogin());
        QVERIFY(m_app.server.Send("me", 41, QByteArray()));
        QTRY_COMPARE_WITH_TIMEOUT(m_app.Boxes("Logged In Elsewhere").size(), 1, 30000);
        QMessageBox* box = m_app.Boxes("Logged In Elsewhere").first();
        QCOMPARE(box->text(), QString("Your Quorvane account was used to log in elsewhere."));
        QVERIFY(!box->parentWidget());
        QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(box->windowModality(), Qt::ApplicationModal);
        QVERIFY(box->button(QMessageBox::Ok));

        const int attempts = LoginAttempts();
        FireHalfMinute();
        QCoreApplication::processEvents();
        QVERIFY(!gp_server->IsAbruptlyDisconnected());
        QCOMPARE(LoginAttempts(), attempts);

        // The box goes with the window, since nothing else owns it.
        QPointer<QMessageBox> guard = box;
        delete m_app.window;
        m_app.window = nullptr;
        QVERIFY(guard.isNull());
    }

    void adminMessagesGatherInOneWindowAndNewVersionsOpenTheirOwn()
    {
        m_app.web.SetResponse("/qtversion.txt", 200, "20990101\nhttp://downloads.example/\nQuorvaneQt-2099\nFaster\n");
        m_app.Start();
        QVERIFY(m_app.WaitForLogin());
        m_app.server.SendAdminMessage("Maintenance at noon");
        QTRY_COMPARE_WITH_TIMEOUT(m_app.window->findChildren<AdminMessageDialog*>().size(), 1, 30000);
        AdminMessageDialog* dialog = m_app.window->findChildren<AdminMessageDialog*>().first();
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QVERIFY(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!QApplication::activeModalWidget());
        QTextEdit* text = dialog->findChild<QTextEdit*>("textEdit");
        QCOMPARE(text->toPlainText(), QString("Maintenance at noon"));

        // The next is listed below it, each with its own time.
        m_app.server.SendAdminMessage("Back <b>soon</b>");
        QTRY_VERIFY_WITH_TIMEOUT(text->toPlainText().endsWith("Back soon"), 30000);
        QStringList lines = text->toPlainText().split('\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].startsWith("Sent ") && lines[2].startsWith("Sent "));
        QCOMPARE(lines[1], QString("Maintenance at noon"));

        // A burst of long ones in one read: still that window, holding the
        // newest few, each whole, and saying how many it left out.
        const int burst = 1000;
        QByteArray frames;
        for (int i = 0; i < burst; ++i)
            frames += TestMessage::Frame(66, TestMessage().Str(QString("news %1 ").arg(i) + QString(3000, 'x')).Body());
        QVERIFY(m_app.server.SendRaw("me", frames));
        QTRY_VERIFY_WITH_TIMEOUT(text->toPlainText().contains(QString("news %1 ").arg(burst - 1)), 30000);
        QCOMPARE(m_app.window->findChildren<AdminMessageDialog*>(), QList<AdminMessageDialog*>{dialog});
        const int kept = AdminMessageDialog::KeptMessages;
        lines = text->toPlainText().split('\n');
        QCOMPARE(lines.first(), QString("%1 older messages not shown.").arg(2 + burst - kept));
        QCOMPARE(lines.filter(QRegularExpression("^Sent ")).size(), kept);
        QVERIFY(lines[2].startsWith(QString("news %1 x").arg(burst - kept)));
        QCOMPARE(lines.last().remove(QChar(0x200b)), QString("news %1 ").arg(burst - 1) + QString(3000, 'x'));
        QVERIFY(text->document()->characterCount() < kept * (3009 + 100));

        QTRY_COMPARE_WITH_TIMEOUT(m_app.window->findChildren<NewVersionDialog*>().size(), 1, 30000);
        NewVersionDialog* offer = m_app.window->findChildren<NewVersionDialog*>().first();
        QVERIFY(offer->isVisible());
        QVERIFY(offer->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(offer->DownloadLink(), QString("http://downloads.example/QuorvaneQt-2099"));
    }

    void theOptionsPagesActionsDoWhatTheySay()
    {
        StandardDialogAnswers choosers;
        m_app.Start();
        QVERIFY(m_app.WaitForLogin());
        const QString folder = GetSetting("download_folder");

        // A cancelled folder chooser changes nothing.
        m_app.window->OnToolBarActionTriggered(nullptr, "set_download_folder");
        QCOMPARE(choosers.asked.size(), 1);
        QCOMPARE(choosers.asked[0].kind, QString("folder"));
        QCOMPARE(choosers.asked[0].caption, QString("Set Download Folder"));
        QCOMPARE(choosers.asked[0].parent, static_cast<QWidget*>(m_app.window));
        QCOMPARE(GetSetting("download_folder"), folder);
        choosers.paths << "/data/incoming";
        m_app.window->OnToolBarActionTriggered(nullptr, "set_download_folder");
        QCOMPARE(GetSetting("download_folder"), QString("/data/incoming"));
        QCOMPARE(m_app.Control<QLineEdit>("downloadFolderEdit")->text(), QString("/data/incoming"));

        // Dialogs open beside the window, without waiting, one per request.
        m_app.window->OnToolBarActionTriggered(nullptr, "share_folder");
        m_app.window->OnToolBarActionTriggered(nullptr, "share_folder");
        m_app.window->OnToolBarActionTriggered(nullptr, "set_listening_port");
        QCOMPARE(m_app.window->findChildren<AddSharedFolderDialog*>().size(), 2);
        QCOMPARE(m_app.window->findChildren<ChangeListeningPortDialog*>().size(), 1);
        QVERIFY(!QApplication::activeModalWidget());

        // The account cannot change while logged in; once out, it can.
        {
            DialogAnswerer answers;
            answers.Then(DialogAnswerer::Press(QMessageBox::Ok));
            m_app.window->OnToolBarActionTriggered(nullptr, "set_user_pass");
            QCOMPARE(answers.Titles(), QStringList({"Cannot change username while online"}));
            QCOMPARE(answers.Texts().value(0),
                     QString("You must be disconnected from the Quorvane server to change your username."));
        }
        QVERIFY(m_app.window->findChildren<ChangeUsernamePasswordDialog*>().isEmpty());
        m_app.window->OnToolBarActionTriggered(nullptr, "connect_disconnect");
        QVERIFY(!gp_server->IsConnected());
        m_app.window->OnToolBarActionTriggered(nullptr, "set_user_pass");
        QCOMPARE(m_app.window->findChildren<ChangeUsernamePasswordDialog*>().size(), 1);
        QVERIFY(m_app.window->findChildren<ChangeUsernamePasswordDialog*>().first()->isVisible());
    }

    void theUserActionsTakeTheFocusedViewsUser()
    {
        m_app.Start();
        QVERIFY(m_app.WaitForLogin());
        // A view that lists users publishes the selected one as "user".
        auto* tabs = m_app.Control<TabWidget>("tabControl");
        QWidget* view = new QLineEdit(tabs->widget(tabs->currentIndex()));
        view->show();
        actionBar->RegisterWidget(view, "user");
        actionBar->AddWidgetKey(view, "user", "alice");
        m_app.window->activateWindow();
        view->setFocus();
        QTRY_VERIFY(view->hasFocus());
        QVERIFY(ShownAction("Add User"));

        ShownAction("Add User")->trigger();
        QVERIFY(d.GetType("user")->HasItem("alice").IsConnected("in_user_list"));

        // Browsing opens the user's share browser, which starts by asking
        // the server where the user is.
        m_app.server.ClearReceived();
        ShownAction("Browse User's Files")->trigger();
        ShareForm* browser = ShareForm::Of(d.GetType("user")->HasItem("alice"));
        QVERIFY(browser);
        QTRY_VERIFY(browser->isVisible());
        tabs->setCurrentWidget(view->parentWidget());
        auto askedForAlice = [this] {
            for (const TestServer::Received& message : m_app.server.ReceivedMessages(3))
                if (message.body.contains("alice"))
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(askedForAlice(), 30000);

        m_app.window->activateWindow();
        view->setFocus();
        QTRY_VERIFY(ShownAction("Message User"));
        ShownAction("Message User")->trigger();
        auto* chats = m_app.Control<QTabWidget>("chatTabControl");
        QCOMPARE(chats->tabText(chats->currentIndex()), PeerText::Title("alice"));
        QCOMPARE(tabs->currentWidget(), m_app.Control<QWidget>("chatTab"));
    }

    void aPrivateMessageOpensItsChatWithoutTakingTheWindow()
    {
        m_app.Start();
        QVERIFY(m_app.WaitForLogin());
        auto* tabs = m_app.Control<TabWidget>("tabControl");
        QWidget* shown = tabs->currentWidget();
        m_app.server.Send("me", 22, TestMessage().U32(0).Str("bob").Str("are you there?").U8(1).Body());
        auto* chats = m_app.Control<QTabWidget>("chatTabControl");
        QTRY_COMPARE(chats->count(), 1);
        QCOMPARE(chats->tabText(0), PeerText::Title("bob"));
        const QString said = chats->widget(0)->findChild<QTextEdit*>("chatView")->toPlainText();
        QVERIFY(said.contains(PeerText::Isolated("bob") + "] " + PeerText::Isolated("are you there?")));
        QCOMPARE(tabs->currentWidget(), shown);
    }
};

QTEST_MAIN(TestMainWindowReactions)

#include "TestMainWindowReactions.moc"
