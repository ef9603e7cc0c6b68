// The availability and supporter buttons of the context toolbar, against
// the server connection logged in to the loopback test server.
#include <QDesktopServices>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <QWidgetAction>
#include <memory>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "DataSaver.h"
#include "PortForwarderWorker.h"
#include "Server.h"
#include "Settings.h"
#include "ShellHooks.h"
#include "TestMessage.h"
#include "TestServer.h"

namespace {

// Keeps the port forwarder away from any real gateway.
class NoGateway : public PortForwarderWorker
{
protected:
    bool DiscoverGateway(QString&, QString& error) override
    {
        error = "no gateway in tests";
        return false;
    }
};

// Stands in for the desktop's browser.
class Browser : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void Open(const QUrl& url) { opened << url; }
};

QImage Picture(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage();
}

bool Shows(QPushButton* button, const char* resource)
{
    return !button->icon().isNull() && Picture(button->icon()) == Picture(QIcon(resource));
}

} // namespace

class TestToolbarButtons : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DataSaver> m_saver;
    std::unique_ptr<TestServer> m_server;
    Server* m_client = nullptr;
    QMainWindow* m_window = nullptr;
    ActionSetToolBar* m_bar = nullptr;
    QStringList m_appIcons;

    void MakeToolbar()
    {
        m_window = new QMainWindow;
        m_bar = new ActionSetToolBar(m_window);
        m_window->addToolBar(m_bar);
    }

    void StartClient()
    {
        DeclareSettingTypes();
        m_client = new Server(new NoGateway);
        m_client->CreateData();
        MakeToolbar();
        m_bar->Init();
    }

    bool Login()
    {
        SetSetting("username", "alice");
        SetSetting("password", "secret");
        QSignalSpy connected(m_client, &Server::Connected);
        m_client->Connect();
        return connected.wait(30000);
    }

    bool WaitForCount(quint32 code, int n)
    {
        return QTest::qWaitFor([&] { return m_server->Count(code) >= n; }, 30000);
    }

    QPushButton* StatusButton()
    {
        const QList<QAction*> actions = m_bar->actions();
        return actions.isEmpty() ? nullptr : qobject_cast<QPushButton*>(m_bar->widgetForAction(actions.first()));
    }

    QPushButton* SupporterButton()
    {
        const QList<QAction*> actions = m_bar->actions();
        return actions.isEmpty() ? nullptr : qobject_cast<QPushButton*>(m_bar->widgetForAction(actions.last()));
    }

    // Buttons are made anew from the settings at every clear.
    void Rebuild()
    {
        m_bar->Clear();
        m_bar->AddSupportQuorvaneButton();
    }

    quint32 LastStatusSent()
    {
        const auto sent = m_server->ReceivedMessages(28);
        quint32 status = 0;
        if (!sent.isEmpty())
            TestMessage(sent.last().body).ReadU32(status);
        return status;
    }

private slots:
    void init()
    {
        d.Reset();
        m_saver.reset(new DataSaver);
        m_server.reset(new TestServer);
        QVERIFY(m_server->Listen());
        qputenv("QUORVANE_SERVER", QByteArray("127.0.0.1:") + QByteArray::number(m_server->Port()));
        qputenv("QUORVANE_WEB", "http://127.0.0.1:1/");
        m_appIcons.clear();
        g_shellHooks.setApplicationIcon = [this](const QString& icon) { m_appIcons << icon; };
    }

    void cleanup()
    {
        delete m_window;
        m_window = nullptr;
        delete m_client;
        m_client = nullptr;
        m_server.reset();
        m_saver.reset();
        g_shellHooks = ShellHooks();
        d.Reset();
    }

    void supporterButtonIsBlankBeforeTheSettingsExist()
    {
        MakeToolbar();
        QPushButton* supporter = SupporterButton();
        QVERIFY(supporter);
        QVERIFY(supporter->text().isEmpty());
        QVERIFY(supporter->icon().isNull());
        QVERIFY(supporter->toolTip().isEmpty());
    }

    void dayCounts_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("days");
        QTest::newRow("one second") << 1 << 0;
        QTest::newRow("just under half a day") << 43199 << 0;
        QTest::newRow("half a day") << 43200 << 1;
        QTest::newRow("just under a day and a half") << 129599 << 1;
        QTest::newRow("a day and a half") << 129600 << 2;
        QTest::newRow("largest, without overflow") << 2147483647 << 24855;
    }

    void dayCounts()
    {
        QFETCH(int, seconds);
        QFETCH(int, days);
        QCOMPARE(ActionSetToolBar::PrivilegeDaysLeft(seconds), days);
    }

    void newSupporterButtonsShowTheStoredState()
    {
        StartClient();
        SetSetting("is_supporter", "yes");
        SetSetting("privileges_time_left", "0");
        Rebuild();
        QVERIFY(Shows(SupporterButton(), ":/icons/gold_star_icon"));
        QCOMPARE(SupporterButton()->toolTip(), QString("Thank you for supporting Quorvane!"));
        QVERIFY(SupporterButton()->text().isEmpty());

        SetSetting("is_supporter", "no");
        SetSetting("privileges_time_left", "100000");
        Rebuild();
        QCOMPARE(SupporterButton()->text(), QString("1 Days Left"));
        QVERIFY(SupporterButton()->icon().isNull());

        SetSetting("privileges_time_left", "-5");
        Rebuild();
        QCOMPARE(SupporterButton()->text(), QString("Support Quorvane!"));
    }

    void privilegesReplyRefreshesTheButton()
    {
        StartClient();
        m_server->SetPrivileges("alice", 3 * 86400);
        QVERIFY(Login());
        Rebuild();
        QPushButton* supporter = SupporterButton();
        QCOMPARE(supporter->text(), QString("Support Quorvane!"));

        QSignalSpy reply(m_client, &Server::ReceivedOwnPrivilegesStatus);
        m_client->GetOwnPrivilegesStatus();
        QVERIFY(reply.wait(30000));
        QCOMPARE(SupporterButton(), supporter);
        QCOMPARE(supporter->text(), QString("3 Days Left"));
        QVERIFY(Shows(supporter, ":/icons/gold_star_icon"));

        // Running out keeps what the button showed.
        m_server->SetPrivileges("alice", 0);
        m_client->GetOwnPrivilegesStatus();
        QVERIFY(reply.wait(30000));
        QCOMPARE(supporter->text(), QString("3 Days Left"));
        QVERIFY(Shows(supporter, ":/icons/gold_star_icon"));
    }

    void availabilityWhileOffline()
    {
        StartClient();
        RemoveSetting("availability_status");
        Rebuild();
        QCOMPARE(StatusButton()->text(), QString("Away"));
        QVERIFY(Shows(StatusButton(), ":/icons/away_icon"));

        StatusButton()->click();
        QCOMPARE(GetSetting("availability_status"), QString("available"));
        QCOMPARE(StatusButton()->text(), QString("Available"));
        QVERIFY(Shows(StatusButton(), ":/icons/online_icon"));
        QVERIFY(m_appIcons.isEmpty());
    }

    void availabilityWhileLoggedIn()
    {
        StartClient();
        QVERIFY(Login());
        QCOMPARE(GetSetting("availability_status"), QString("available"));
        Rebuild();
        QCOMPARE(StatusButton()->text(), QString("Available"));

        StatusButton()->click();
        QVERIFY(WaitForCount(28, 1));
        QCOMPARE(LastStatusSent(), quint32(1));
        QCOMPARE(GetSetting("availability_status"), QString("away"));
        QCOMPARE(StatusButton()->text(), QString("Away"));
        QVERIFY(m_appIcons.isEmpty());

        StatusButton()->click();
        QVERIFY(WaitForCount(28, 2));
        QCOMPARE(LastStatusSent(), quint32(2));
        QCOMPARE(m_appIcons, QStringList({":/icons/online_icon"}));

        SetSetting("show_away_status_in_application_icon", "yes");
        StatusButton()->click();
        QVERIFY(WaitForCount(28, 3));
        QCOMPARE(m_appIcons, QStringList({":/icons/online_icon", ":/icons/away_icon"}));
    }

    void pressingButtonsKeepsFocusAndSet()
    {
        StartClient();
        m_bar->AddSetAction("alpha", "a1", "One", QString(), false);
        QLineEdit* edit = new QLineEdit(m_window);
        m_window->setCentralWidget(edit);
        m_bar->RegisterWidget(edit, "alpha");
        m_window->show();
        QApplication::setActiveWindow(m_window);
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        edit->setFocus();
        QTRY_VERIFY_WITH_TIMEOUT(edit->hasFocus(), 30000);
        QCOMPARE(m_bar->GetCurrentSet(), QString("alpha"));

        SetSetting("username", "tom & jerry");
        Browser browser;
        QDesktopServices::setUrlHandler("http", &browser, "Open");
        QTest::mouseClick(StatusButton(), Qt::LeftButton);
        QTest::mouseClick(SupporterButton(), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("http");
        QVERIFY(edit->hasFocus());
        QCOMPARE(m_bar->GetCurrentSet(), QString("alpha"));
        QCOMPARE(browser.opened.size(), 1);
        QCOMPARE(browser.opened.first().toString(QUrl::FullyEncoded),
                 QString("http://127.0.0.1:1/qtlogin.php?username=tom%20%26%20jerry"));
    }

    void supporterPageAddress()
    {
        QCOMPARE(ActionSetToolBar::SupporterPageUrl("alice").toString(QUrl::FullyEncoded),
                 QString("http://127.0.0.1:1/qtlogin.php?username=alice"));
        // A name is one query value, whatever it holds.
        QCOMPARE(ActionSetToolBar::SupporterPageUrl("a&b c+d=e#f").toString(QUrl::FullyEncoded),
                 QString("http://127.0.0.1:1/qtlogin.php?username=a%26b%20c%2Bd%3De%23f"));
    }
};

QTEST_MAIN(TestToolbarButtons)
#include "TestToolbarButtons.moc"
