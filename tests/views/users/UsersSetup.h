#pragma once

// The users page as the main window holds it, in the view fixture, logged
// in as "me" to the loopback test server; shared by the users tests.
#include <QAction>
#include <QIcon>
#include <QTest>
#include <QTreeWidget>
#include <functional>

#include "Data.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "Server.h"
#include "TestMessage.h"
#include "TestServer.h"
#include "ViewFixture.h"
#include "users/UserListForm.h"
#include "users/UserListItemWidget.h"

struct UsersSetup
{
    ViewFixture* fixture = nullptr;
    UserListForm* page = nullptr;

    // loaded: puts what a data file would have held into the store, after
    // the page's Init and before the load is announced.
    void Make(const std::function<void()>& loaded = nullptr)
    {
        fixture = new ViewFixture;
        page = new UserListForm;
        fixture->AddPage(page, "Users");
        page->Init();
        if (loaded)
            loaded();
    }
    bool Start() { return fixture->Start("me"); }
    void Stop()
    {
        delete fixture;
        fixture = nullptr;
        page = nullptr;
    }

    TestServer* Server() const { return fixture->net.server; }
    QTreeWidget* List(const char* name) const { return page->findChild<QTreeWidget*>(name); }
    // Rows are found by the user's name itself, not the text shown for it.
    QTreeWidgetItem* Row(const char* list, const QString& user) const
    {
        for (int i = 0; i < List(list)->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = List(list)->topLevelItem(i);
            if (UserListItemWidget::NameOf(row) == user)
                return row;
        }
        return nullptr;
    }
    // The names of a list, top to bottom.
    QStringList Column(const char* list) const
    {
        QStringList texts;
        for (int i = 0; i < List(list)->topLevelItemCount(); ++i)
            texts << UserListItemWidget::NameOf(List(list)->topLevelItem(i));
        return texts;
    }

    // The first string of each message of a code the client sent, sorted,
    // the own name left out.
    QStringList SentNames(quint32 code) const
    {
        QStringList names = Server()->SentNames(code);
        names.removeAll("me");
        names.sort();
        return names;
    }

    static ItemPtr User(const QString& name) { return d.GetType("user")->GetItem(name); }
    static ItemPtr Group(const QString& name) { return d.GetType("user_list_group")->GetItem(name); }
    // Puts the user on the list, in the groups given.
    static ItemPtr Listed(const QString& name, const QStringList& groups = {})
    {
        ItemPtr listed = User(name).NewItem("in_user_list");
        for (const QString& group : groups)
            listed += Group(group);
        return listed;
    }
    static bool ShowsIcon(QTreeWidgetItem* row, int column, const char* resource)
    {
        const QImage shown = row->icon(column).pixmap(16).toImage();
        return !shown.isNull() && shown == QIcon(resource).pixmap(16).toImage();
    }
};
