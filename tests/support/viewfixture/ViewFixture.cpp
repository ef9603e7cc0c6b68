#include "ViewFixture.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWidgetAction>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "DataSaver.h"
#include "DelayedInvoker.h"
#include "DiagnosticsForm.h"
#include "EventToolBar.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "ShellHooks.h"
#include "SizeManager.h"
#include "TabWidget.h"
#include "TransferQueueManager.h"
#include "UrlRecorder.h"
#include "common/ViewClock.h"
#include "users/UserWindows.h"

ViewFixture::ViewFixture()
{
    g_showIsOver = false;
    m_urls = new UrlRecorder;

    window = new QMainWindow;
    toolbar = new ActionSetToolBar(window);
    window->addToolBar(Qt::TopToolBarArea, toolbar);
    tabs = new TabWidget(window);
    window->setCentralWidget(tabs);
    toolbar->Init();

    // In the order the main window makes them.
    invoker = new DelayedInvoker;
    shares = new SharedFoldersManager;
    sizes = new SizeManager;
    transfers = new TransferQueueManager;

    events = new EventToolBar(window);
    events->SetSoundPlayer([this](const QString& file) { sounds << file; });
    window->addToolBarBreak(Qt::TopToolBarArea);
    window->addToolBar(Qt::TopToolBarArea, events);
    window->resize(1000, 700);

    ViewClock::Set([this] { return net.now; });

    // What the main window declares for the views and writes at every start.
    Type* user = d.GetType("user");
    user->RelateToType(d.NewType("user_note", 1, false, true), many, one, false);
    user->RelateToType(d.NewType("user_chat_widget", 0, false, true), one, one, false);
    Type* chatLogForm = d.NewType("chat_log_form", 0, false, true);
    chatLogForm->RelateToType(d.GetType("room"), one, one, false);
    chatLogForm->RelateToType(user, one, one, false);
    net.diagnostics->RegisterLoggableItemType("user");
    toolbar->AddSetAction("chat_log", "clear_chat_log", "Clear Log", ":/icons/empty_note_icon", false);
    toolbar->AddSetAction("chat_log", "open_log_folder", "Open Log Folder", ":/icons/browse_icon", false);
    toolbar->AddSetAction("user_chat", "user_chat_log", "Chat Log", ":/icons/note_icon", false);
    SetSetting("log_room_chat", "yes");
    SetSetting("log_private_chat", "yes");
    SetSetting("chat_timestamps", "activity_based");
    SetSetting("color_chat_username", "#0033ff");
    SetSetting("color_chat_timestamp", "#0066ff");
    SetSetting("color_chat_status", "#339933");
}

ViewFixture::~ViewFixture()
{
    // As the main window goes: every engine first, the pages after them.
    // Running transfers end as the user's removal ends them, which frees
    // their threads, files and sockets.
    for (const ItemPtr& entry : d.GetType("download_entry")->GetItems())
        transfers->RemoveDownload(entry);
    for (const ItemPtr& entry : d.GetType("upload_entry")->GetItems())
        transfers->RemoveUpload(entry);
    g_showIsOver = true;
    net.client->Disconnect();
    delete transfers;
    transferQueueManager = nullptr;
    delete shares;
    delete invoker;
    delete net.peer;
    net.peer = nullptr;
    delete net.client;
    net.client = nullptr;
    delete window;
    actionBar = nullptr;
    eventToolBar = nullptr;
    delete sizes;
    delete m_urls;
    g_shellHooks = ShellHooks();
    g_userWindows = UserWindows();
    g_showIsOver = false;
    ViewClock::Set(nullptr);
}

bool ViewFixture::Start(const QString& user, bool firstRun)
{
    const quint16 port = PeerFixture::FreePortPair();
    if (!IsValid() || !port)
        return false;
    SetSetting("download_folder", DownloadFolder());
    SetSetting("new_listening_port", QString::number(port));
    SetSetting("username", user);
    SetSetting("password", "secret");
    net.saver->NotifyLoaded(firstRun);
    if (net.peer->ListeningPort() != port && !net.ListenOnFreePair())
        return false;
    QSignalSpy connected(net.client, &Server::Connected);
    net.client->Connect();
    return connected.wait(30000);
}

void ViewFixture::AddPage(QWidget* page, const QString& title)
{
    tabs->addTab(page, title);
    window->show();
}

void ViewFixture::Tick()
{
    net.Tick();
}

void ViewFixture::Advance(qint64 milliseconds)
{
    net.Advance(milliseconds);
}

bool ViewFixture::Focus(QWidget* widget)
{
    QApplication::setActiveWindow(window);
    if (!QTest::qWaitForWindowActive(window, FakePeerLink::DefaultWaitMs))
        return false;
    widget->setFocus(Qt::OtherFocusReason);
    return QTest::qWaitFor([widget] { return widget->hasFocus(); }, FakePeerLink::DefaultWaitMs);
}

QAction* ViewFixture::ToolbarAction(const QString& text) const
{
    for (QAction* action : toolbar->actions()) {
        if (!qobject_cast<QWidgetAction*>(action) && action->isVisible() && action->text() == text)
            return action;
    }
    return nullptr;
}

QList<QUrl> ViewFixture::OpenedUrls() const
{
    return m_urls->urls;
}

QStringList ViewFixture::ChooseFromMenu(const std::function<void()>& open, const QString& choice,
                                        const std::function<void()>& meanwhile)
{
    QStringList shown;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        poll.stop();
        if (meanwhile)
            meanwhile();
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions()) {
            shown << action->text();
            if (!choice.isEmpty() && action->text() == choice)
                chosen = action;
        }
        menu->close();
        if (chosen)
            chosen->trigger();
    });
    poll.start();
    open();
    return shown;
}
