#pragma once

// The Search page in a window with the engines around it, logged in to the
// loopback test server, with fake peers that answer its searches the way
// other clients do: peer message 9 over a message connection.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHash>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <QWidgetAction>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "PeerMessenger.h"
#include "SearchReply.h"
#include "Server.h"
#include "Settings.h"
#include "TabWidget.h"
#include "ViewFixture.h"
#include "search/SearchForm.h"
#include "search/SearchResultsForm.h"

class SearchPageFixture
{
public:
    // Flat rows when asked, as the Options switch sets them.
    explicit SearchPageFixture(bool flatRows = false)
        : f(new ViewFixture)
    {
        if (flatRows)
            SetSetting("use_old_style_search_results", "yes");
        form = new SearchForm;
        f->AddPage(form, "Search");
        form->Init();
        QObject::connect(f->net.peer, &PeerMessenger::SearchResults, [this](ItemPtr) { ++delivered; });
    }
    ~SearchPageFixture() { delete f; }
    SearchPageFixture(const SearchPageFixture&) = delete;
    SearchPageFixture& operator=(const SearchPageFixture&) = delete;

    bool Start() { return f->Start(); }

    QComboBox* SearchEdit() const { return form->findChild<QComboBox*>("searchEdit"); }
    QComboBox* Targets() const { return form->findChild<QComboBox*>("searchTargetBox"); }
    TabWidget* ManualTabs() const { return form->findChild<TabWidget*>("searchTabControl"); }
    TabWidget* WishTabs() const { return form->findChild<TabWidget*>("wishListTabControl"); }

    QStringList History() const
    {
        QStringList texts;
        for (int i = 0; i < SearchEdit()->count(); ++i)
            texts << SearchEdit()->itemText(i);
        return texts;
    }

    // Types the text, picks the target and presses Return; the tab the
    // search opened, or null when none was opened.
    SearchResultsForm* Search(const QString& text, const QString& target = "All")
    {
        const int before = ManualTabs()->count();
        Targets()->setCurrentIndex(Targets()->findText(target));
        SearchEdit()->lineEdit()->setText(text);
        QTest::keyClick(SearchEdit()->lineEdit(), Qt::Key_Return);
        if (ManualTabs()->count() == before)
            return nullptr;
        return qobject_cast<SearchResultsForm*>(ManualTabs()->widget(ManualTabs()->count() - 1));
    }

    // A fake peer with a message connection to us, made once per name.
    FakePeerLink* Link(const QString& name)
    {
        if (!m_links.contains(name))
            m_links.insert(name, f->LinkedPeer(name));
        return m_links.value(name);
    }

    // Sends a reply without waiting (for replies that peer messaging drops).
    bool Send(const QString& user, quint32 ticket, const QList<QByteArray>& files, quint8 freeSlot = 1,
              quint32 speed = 5000, quint32 queued = 3)
    {
        FakePeerLink* link = Link(user);
        if (!link)
            return false;
        link->SendMessage(9, CompressedSearchReply(user, ticket, files, freeSlot, speed, queued));
        return true;
    }

    // Sends a reply and waits until peer messaging has handed it on.
    bool Answer(const QString& user, quint32 ticket, const QList<QByteArray>& files, quint8 freeSlot = 1,
                quint32 speed = 5000, quint32 queued = 3)
    {
        const int before = delivered;
        if (!Send(user, ticket, files, freeSlot, speed, queued))
            return false;
        QElapsedTimer waited;
        waited.start();
        while (delivered == before && waited.elapsed() < 5000)
            QTest::qWait(5);
        return delivered > before;
    }

    // The peer waits for the search the server passes on to it and answers
    // it with its ticket.
    bool AnswerNextSearch(const QString& user, const QList<QByteArray>& files, quint8 freeSlot = 1,
                          quint32 speed = 5000, quint32 queued = 3)
    {
        if (!Link(user))
            return false;
        FakePeer* peer = f->Peer(user);
        const int next = m_answered.value(user);
        if (!peer->WaitForSearchRequests(next + 1))
            return false;
        m_answered[user] = next + 1;
        return Answer(user, peer->searchRequests.at(next).ticket, files, freeSlot, speed, queued);
    }

    // The texts of the set the toolbar shows for the page, visible actions
    // only; the page's tree takes the focus first.
    QStringList ToolbarTexts(SearchResultsForm* page)
    {
        if (!ShowSet(page))
            return {"(the toolbar does not show the page's set)"};
        QStringList texts;
        for (QAction* action : f->toolbar->actions())
            if (!qobject_cast<QWidgetAction*>(action) && !action->text().isEmpty() && action->isVisible())
                texts << action->text();
        return texts;
    }

    // Presses the toolbar action of that text for the page.
    bool Trigger(SearchResultsForm* page, const QString& text)
    {
        if (!ShowSet(page))
            return false;
        for (QAction* action : f->toolbar->actions())
            if (action->text() == text && !qobject_cast<QWidgetAction*>(action)) {
                action->trigger();
                return true;
            }
        return false;
    }

    static int Count(const char* type) { return int(d.GetType(type)->Count()); }

    ViewFixture* f;
    SearchForm* form = nullptr;
    int delivered = 0;

private:
    bool ShowSet(SearchResultsForm* page)
    {
        page->searchResults()->setFocus();
        QElapsedTimer waited;
        waited.start();
        while (f->toolbar->GetCurrentWidget() != page && waited.elapsed() < 2000)
            QTest::qWait(5);
        return f->toolbar->GetCurrentWidget() == page;
    }

    QHash<QString, FakePeerLink*> m_links;
    QHash<QString, int> m_answered;
};
