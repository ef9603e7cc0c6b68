#pragma once

// The rooms page as the main window holds it, with the private chats page
// beside it, in the view fixture, logged in as "me" to the loopback test
// server; shared by the rooms tests.
#include <QAction>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>
#include <functional>

#include "Data.h"
#include "Server.h"
#include "TabWidget.h"
#include "TestMessage.h"
#include "TestServer.h"
#include "ViewFixture.h"
#include "rooms/ChatsForm.h"
#include "rooms/RoomForm.h"
#include "rooms/RoomsForm.h"

struct RoomsSetup
{
    ViewFixture* fixture = nullptr;
    RoomsForm* rooms = nullptr;
    ChatsForm* chats = nullptr;

    // loaded: puts what a data file would have held into the store, before
    // the page's Init.
    void Make(const std::function<void()>& loaded = nullptr)
    {
        fixture = new ViewFixture;
        if (loaded)
            loaded();
        rooms = new RoomsForm;
        fixture->AddPage(rooms, "Rooms");
        chats = new ChatsForm;
        fixture->AddPage(chats, "Chat");
        rooms->Init();
        chats->Init();
    }
    bool Start() { return fixture->Start("me"); }
    // The server cuts the connection; the next half-minute tick logs in
    // again.
    bool Reconnect()
    {
        QSignalSpy lost(fixture->net.client, &Server::Disconnected);
        Server()->Cut("me");
        if (!lost.wait(30000))
            return false;
        QSignalSpy back(fixture->net.client, &Server::Connected);
        fixture->Tick();
        return back.wait(30000);
    }
    void Stop()
    {
        delete fixture;
        fixture = nullptr;
        rooms = nullptr;
        chats = nullptr;
    }

    TestServer* Server() const { return fixture->net.server; }
    QTreeWidget* List() const { return rooms->findChild<QTreeWidget*>("roomList"); }
    QTabWidget* Tabs() const { return rooms->findChild<QTabWidget*>("roomsTabControl"); }
    QTreeWidgetItem* Row(const QString& room) const
    {
        const QList<QTreeWidgetItem*> rows = List()->findItems(room, Qt::MatchExactly, 0);
        return rows.isEmpty() ? nullptr : rows.first();
    }
    QStringList RowNames() const
    {
        QStringList names;
        for (int i = 0; i < List()->topLevelItemCount(); ++i)
            names << List()->topLevelItem(i)->text(0);
        return names;
    }
    ItemPtr RoomItem(const QString& room) const { return d.GetType("room")->GetItem(room); }

    QTabWidget* ChatTabs() const { return chats->findChild<QTabWidget*>("chatTabControl"); }

    // A room page's user list: its names in the order shown, and a user's
    // row.
    static QTreeWidget* Users(RoomForm* page) { return page->findChild<QTreeWidget*>("userList"); }
    static QStringList UserNames(RoomForm* page)
    {
        QStringList names;
        for (int i = 0; i < Users(page)->topLevelItemCount(); ++i)
            names << Users(page)->topLevelItem(i)->text(2);
        return names;
    }
    static QTreeWidgetItem* UserRow(RoomForm* page, const QString& user)
    {
        const QList<QTreeWidgetItem*> rows = Users(page)->findItems(user, Qt::MatchExactly, 2);
        return rows.isEmpty() ? nullptr : rows.first();
    }

    static QLineEdit* Edit(RoomForm* page) { return page->findChild<QLineEdit*>("chatEdit"); }
    static QTextBrowser* View(RoomForm* page) { return page->findChild<QTextBrowser*>("chatView"); }
    // The view's lines as read, without the isolates around each name and
    // message (tests of their own look at those).
    static QStringList Lines(RoomForm* page) { return Unisolated(View(page)->toPlainText()).split('\n'); }
    static QString Unisolated(QString text) { return text.remove(QChar(0x2068)).remove(QChar(0x2069)); }

    // The server's join, as if the user had asked for it; the page once it
    // is open, or null.
    RoomForm* Enter(const QString& room)
    {
        fixture->net.client->EnterRoom(room, false);
        (void)QTest::qWaitFor([&] { return rooms->FindRoomForm(room) != nullptr; }, FakePeerLink::DefaultWaitMs);
        return rooms->FindRoomForm(room);
    }

    // Focuses the widget and triggers the context toolbar's action of that
    // text; false when the toolbar does not show it.
    bool Trigger(QWidget* focus, const QString& text)
    {
        if (!fixture->Focus(focus))
            return false;
        QAction* action = fixture->ToolbarAction(text);
        if (!action)
            return false;
        action->trigger();
        return true;
    }

    // The messages of a code the client sent, each body's first string.
    QStringList SentNames(quint32 code) const { return Server()->SentNames(code); }
};
