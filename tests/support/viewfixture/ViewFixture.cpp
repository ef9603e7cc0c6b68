#include "ViewFixture.h"

#include <QApplication>
#include <QMainWindow>
#include <QSignalSpy>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "DataSaver.h"
#include "DelayedInvoker.h"
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
    g_showIsOver = false;
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
    if (net.peer->ListeningPort() != port)
        return false;
    QSignalSpy connected(net.client, &Server::Connected);
    net.client->Connect();
    return connected.wait(5000);
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

QList<QUrl> ViewFixture::OpenedUrls() const
{
    return m_urls->urls;
}
