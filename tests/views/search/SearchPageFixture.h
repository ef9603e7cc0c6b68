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
#include <QTimer>
#include <QTreeWidget>
#include <QWidgetAction>
#include <functional>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "EventToolBar.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "PeerMessenger.h"
#include "SearchReply.h"
#include "Server.h"
#include "Settings.h"
#include "TabWidget.h"
#include "ViewFixture.h"
#include "common/PeerText.h"
#include "search/SearchForm.h"
#include "search/SearchResultsForm.h"

class SearchPageFixture
{
public:
    SearchPageFixture()
    {
        form = new SearchForm;
        f.AddPage(form, "Search");
        form->Init();
        QObject::connect(f.net.peer, &PeerMessenger::SearchResults, [this](ItemPtr) { ++delivered; });
    }

    QComboBox* SearchEdit() const { return form->findChild<QComboBox*>("searchEdit"); }
    QComboBox* Targets() const { return form->findChild<QComboBox*>("searchTargetBox"); }
    TabWidget* ManualTabs() const { return form->findChild<TabWidget*>("searchTabControl"); }
    TabWidget* WishTabs() const { return form->findChild<TabWidget*>("wishListTabControl"); }
    SearchResultsForm* WishPage(int i) const { return qobject_cast<SearchResultsForm*>(WishTabs()->widget(i)); }
    QTreeWidget* WishList() const { return form->findChild<QTreeWidget*>("wishList"); }
    // The queued downloads, oldest first, as "user:remote folder\\file",
    // with " single" when queued as a single download.
    static QStringList Downloads()
    {
        QStringList texts;
        for (const ItemPtr& entry : d.GetType("download_entry")->GetItems().SortNumericBy("download_order", true))
            texts << entry["user"].AsString() + ":" + entry["remote_folder"].AsString() + "\\" +
                         entry["file_name"].AsString() + (entry.IsConnected("single_download") ? " single" : "");
        return texts;
    }
    // A reply's files in one folder, of 1,000 bytes each.
    static QList<QByteArray> Files(const QString& folder, const QStringList& names)
    {
        QList<QByteArray> files;
        for (const QString& name : names)
            files << SearchReplyFile((folder + "\\" + name).toUtf8(), 1000);
        return files;
    }
    // Right-clicks the row (null: below the rows) and chooses the entry of
    // that text; the entries the menu showed.
    static QStringList MenuAt(QTreeWidget* tree, QTreeWidgetItem* row, const QString& choice = QString())
    {
        const QPoint at = row ? tree->visualItemRect(row).center() : QPoint(5, tree->viewport()->height() - 5);
        return ViewFixture::ChooseFromMenu([&] { emit tree->customContextMenuRequested(at); }, choice);
    }
    static QStringList Entries(QComboBox* box)
    {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
        return texts;
    }

    // Types the text, picks the target and presses Return; the tab the
    // search opened, or null.
    SearchResultsForm* Search(const QString& text, const QString& target = "All")
    {
        const int before = ManualTabs()->count();
        Targets()->setCurrentIndex(Targets()->findText(target));
        SearchEdit()->lineEdit()->setText(text);
        QTest::keyClick(SearchEdit()->lineEdit(), Qt::Key_Return);
        return ManualTabs()->count() == before ? nullptr
                                               : qobject_cast<SearchResultsForm*>(ManualTabs()->widget(before));
    }

    // A wish-list search as the searcher sends it: enabled, with its own
    // filter when given, and its ticket.
    unsigned int WishListSearch(const QString& text, const QString& filter = QString())
    {
        ItemPtr wish = d.GetType("wish_list_item")->GetItem(text);
        wish += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
        if (!filter.isEmpty())
            wish += d.GetType("wish_list_item_filter_text")->GetItem(filter);
        return f.net.client->FileSearch(text, text);
    }
    // The event toolbar's buttons for a wish-list search's alert.
    int AlertButtons(const QString& text) const
    {
        int count = 0;
        for (QAction* action : f.events->actions())
            count += action->text() == PeerText::Title(text);
        return count;
    }

    // A fake peer with a message connection to us, made once per name:
    // from the address it was placed at, else from 127.0.0.1, or with
    // ownAddresses from a loopback address of its own.
    FakePeerLink* Link(const QString& name)
    {
        if (!m_links.contains(name)) {
            const int n = m_links.size();
            const QHostAddress own(QString("127.2.%1.%2").arg(n / 200).arg(n % 200 + 1));
            m_links.insert(name, f.LinkedPeer(name, m_places.value(name, ownAddresses ? own : QHostAddress())));
        }
        return m_links.value(name);
    }
    void Place(const QString& name, const QHostAddress& address) { m_places.insert(name, address); }

    // Sends a reply; when wait, until peer messaging has handed it on.
    bool Answer(const QString& user, quint32 ticket, const QList<QByteArray>& files, quint8 freeSlot = 1,
                quint32 speed = 5000, quint32 queued = 3, bool wait = true)
    {
        const int before = delivered;
        FakePeerLink* link = Link(user);
        if (!link)
            return false;
        link->SendMessage(9, CompressedSearchReply(user, ticket, files, freeSlot, speed, queued));
        return !wait || QTest::qWaitFor([&] { return delivered > before; }, FakePeerLink::DefaultWaitMs);
    }
    // A reply that peer messaging is expected to drop.
    bool Send(const QString& user, quint32 ticket, const QList<QByteArray>& files)
    {
        return Answer(user, ticket, files, 1, 5000, 3, false);
    }

    // The peer answers the next search the server passed on to it.
    bool AnswerNextSearch(const QString& user, const QList<QByteArray>& files)
    {
        FakePeer* peer = Link(user) ? f.Peer(user) : nullptr;
        const int next = m_answered.value(user);
        if (!peer || !peer->WaitForSearchRequests(next + 1))
            return false;
        m_answered[user] = next + 1;
        return Answer(user, peer->searchRequests.at(next).ticket, files);
    }

    // The visible texts of the page's toolbar set, once its tree has the
    // focus; or presses the action of that text.
    QStringList ToolbarTexts(SearchResultsForm* page)
    {
        QStringList texts;
        for (QAction* action : Actions(page))
            if (action->isVisible())
                texts << action->text();
        return texts;
    }
    bool Trigger(SearchResultsForm* page, const QString& text)
    {
        for (QAction* action : Actions(page))
            if (action->text() == text) {
                action->trigger();
                return true;
            }
        return false;
    }

    static int Count(const char* type) { return int(d.GetType(type)->Count()); }

    // The bounds of what one search keeps: in all, of a user and of an
    // address once it is full.
    void Bounds(int limit, int perUser, int perAddress)
    {
        f.net.peer->SetSearchResultLimit(limit);
        f.net.peer->SetSearchResultUserLimit(perUser);
        f.net.peer->SetSearchResultAddressLimit(perAddress);
    }

    // Lets work held back in slices go on for two turns of the event loop,
    // in each of which a zero timer fires once: one or two slices. allow
    // lets the slices run (true) or holds them again (false).
    static bool TwoTurns(const std::function<void(bool)>& allow)
    {
        int turns = 0;
        QTimer timer;
        timer.setInterval(0);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (++turns < 2)
                return;
            allow(false);
            timer.stop();
        });
        allow(true);
        timer.start();
        return QTest::qWaitFor([&] { return turns >= 2; }, FakePeerLink::DefaultWaitMs);
    }

    ViewFixture f;
    SearchForm* form = nullptr;
    int delivered = 0;
    bool ownAddresses = false;

private:
    QList<QAction*> Actions(SearchResultsForm* page)
    {
        page->searchResults()->setFocus();
        (void)QTest::qWaitFor([&] { return f.toolbar->GetCurrentWidget() == page; }, FakePeerLink::DefaultWaitMs);
        QList<QAction*> actions;
        for (QAction* action : f.toolbar->actions())
            if (f.toolbar->GetCurrentWidget() == page && !qobject_cast<QWidgetAction*>(action) &&
                !action->text().isEmpty())
                actions << action;
        return actions;
    }

    QHash<QString, FakePeerLink*> m_links;
    QHash<QString, QHostAddress> m_places;
    QHash<QString, int> m_answered;
};
