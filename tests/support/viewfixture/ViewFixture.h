#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

#include "PeerEngineFixture.h"

class ActionSetToolBar;
class QAction;
class QWidget;
class DelayedInvoker;
class EventToolBar;
class QMainWindow;
class SharedFoldersManager;
class SizeManager;
class TabWidget;
class TransferQueueManager;
class UrlRecorder;

// What a page meets in the program, made in the main window's order: the
// client's server connection (logged in to the loopback test server by
// Start) and peer messaging among fake peers, the delayed invoker, the
// shared folders, the size memory and the transfer engine; and around the
// page a window with the context toolbar, the event toolbar (its sounds
// recorded, not played) and a tab control to put pages in. Addresses handed
// to the desktop are recorded, and the half-minute tick comes only when the
// test calls Tick; the views' clock moves only when the test calls Advance.
// The settings and item types that the main window writes and declares for
// the views are there as it leaves them.
//
// A test makes its page, adds it with AddPage, calls the page's Init, puts
// any "stored" items into the store, then calls Start, which tells every
// registered handler that data was loaded and logs in. Pages die with the
// window, after the engines, as in the program.
class ViewFixture : public PeerEngineFixture
{
public:
    ViewFixture();
    ~ViewFixture();
    ViewFixture(const ViewFixture&) = delete;
    ViewFixture& operator=(const ViewFixture&) = delete;

    // Points "download_folder" below the temporary folder, tells every data
    // handler that data was loaded (and, for a first run, that there was
    // none), listens and logs in as the user. True once all of it is done.
    bool Start(const QString& user = "me", bool firstRun = false);

    // Puts a page into the window's tab control and shows the window.
    void AddPage(QWidget* page, const QString& title);

    // The half-minute tick, without waiting for it.
    void Tick();
    // Moves on the clock that the views read (ViewClock) and peer messaging
    // reads; it starts at a fixed time and moves only by this.
    void Advance(qint64 milliseconds);

    // Gives the widget the keyboard focus, the window made active first, so
    // that the context toolbar shows the widget's set and publishes its
    // keys; false when the focus does not arrive in time.
    bool Focus(QWidget* widget);
    // The context toolbar's action that shows this text now, or null.
    QAction* ToolbarAction(const QString& text) const;
    // Runs the menu that open() shows: calls meanwhile() while it is open
    // (its own event loop running), then chooses the entry of that text, if
    // any, as a user would, inside the menu's loop. Returns the texts of the
    // menu's entries, none when no menu opened.
    static QStringList ChooseFromMenu(const std::function<void()>& open, const QString& choice = QString(),
                                      const std::function<void()>& meanwhile = nullptr);

    // The sound files the event toolbar would have played, oldest first.
    QStringList sounds;
    // Every address handed to the desktop (files, folders, web pages).
    QList<QUrl> OpenedUrls() const;

    QString DownloadFolder() const { return Path("dl"); }

    QMainWindow* window = nullptr;
    TabWidget* tabs = nullptr;
    ActionSetToolBar* toolbar = nullptr;
    EventToolBar* events = nullptr;
    DelayedInvoker* invoker = nullptr;
    SharedFoldersManager* shares = nullptr;
    SizeManager* sizes = nullptr;
    TransferQueueManager* transfers = nullptr;

private:
    UrlRecorder* m_urls = nullptr;
};
