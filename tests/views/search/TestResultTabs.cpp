// Result tabs: which tab a reply reaches, wish-list tabs, related searches,
// the filter a new tab starts with, and the toolbar actions of a tab.
#include <QHeaderView>

#include "SearchPageFixture.h"
#include "TestServer.h"
#include "TurnCounter.h"
#include "search/SearchResultListItem.h"

namespace {

QList<QByteArray> Files(const QString& folder, const QStringList& names)
{
    QList<QByteArray> files;
    for (const QString& name : names)
        files << SearchReplyFile((folder + "\\" + name).toUtf8(), 1000);
    return files;
}

QStringList Column(QTreeWidgetItem* parent, int column)
{
    QStringList texts;
    for (int i = 0; i < parent->childCount(); ++i)
        texts << parent->child(i)->text(column);
    return texts;
}

QStringList Users(SearchResultsForm* page)
{
    return Column(page->searchResults()->invisibleRootItem(), SearchResultListItem::UserColumn);
}

} // namespace

class TestResultTabs : public QObject
{
    Q_OBJECT

private slots:
    void repliesReachTheTabOfTheirSearch()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start() && s.Link("alice") && s.Link("bob"));
        SearchResultsForm* miles = s.Search("miles");
        // The row layout is fixed when a page is made.
        SetSetting("use_old_style_search_results", "yes");
        SearchResultsForm* flat = s.Search("monk");
        QVERIFY(!miles->HasFlatRows() && flat->HasFlatRows());
        // Each peer answers its searches in the order it heard them.
        QVERIFY(s.AnswerNextSearch("alice", Files("jazz\\miles", {"so what.mp3", "freddie.mp3"})));
        QVERIFY(s.AnswerNextSearch("bob", Files("bob", {"blue.mp3"})));
        QVERIFY(s.AnswerNextSearch("alice", Files("jazz\\monk", {"midnight.mp3", "misterioso.mp3"})));
        QVERIFY(s.AnswerNextSearch("bob", Files("monk", {"epistrophy.mp3"})));

        // The five-minute clean-up keeps what open tabs show.
        d.RemoveDisconnectedItems();
        QCOMPARE(Users(miles), QStringList({"alice", "bob"}));
        QTreeWidgetItem* folder = miles->searchResults()->topLevelItem(0)->child(0);
        QCOMPARE(folder->text(SearchResultListItem::FolderColumn), QString("miles/jazz"));
        QCOMPARE(Column(folder, SearchResultListItem::FileColumn), QStringList({"so what.mp3", "freddie.mp3"}));
        QCOMPARE(Users(flat), QStringList({"alice", "alice", "bob"}));
        QCOMPARE(Column(flat->searchResults()->invisibleRootItem(), SearchResultListItem::FolderColumn),
                 QStringList({"monk/jazz", "monk/jazz", "monk"}));
        QCOMPARE(SearchPageFixture::Count("search_results_user_node"), 2);
        QCOMPARE(SearchPageFixture::Count("search_result_node"), 6);
    }

    void aWishListSearchKeepsOneTabThatTakesNoFocus()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* manual = s.Search("ascension");
        const unsigned int first = s.WishListSearch("love & peace");
        QVERIFY(s.Answer("alice", first, Files("a", {"love.mp3"})));
        QCOMPARE(s.WishTabs()->count(), 1);
        SearchResultsForm* wish = s.WishPage(0);
        QVERIFY(wish->IsWishListPage());
        QCOMPARE(s.ManualTabs()->currentWidget(), manual);
        QVERIFY(!wish->isVisible());
        // A lone "&" would be taken for a shortcut mark and vanish.
        QCOMPARE(s.WishTabs()->tabText(0), QString("love && peace"));

        QVERIFY(s.Answer("bob", first, Files("b", {"peace.mp3"})));
        const unsigned int second = s.WishListSearch("love & peace");
        QVERIFY(s.Answer("alice", second, Files("a", {"again.mp3"})));
        QCOMPARE(s.WishTabs()->count(), 1);
        QCOMPARE(s.ManualTabs()->count(), 1);
        QCOMPARE(Users(wish), QStringList({"alice", "bob"}));
        // The same user's second answer joins its row and folder.
        QCOMPARE(wish->searchResults()->topLevelItem(0)->child(0)->childCount(), 2);
    }

    // Figures as large as they come are read whole, titles with their sort
    // mark too, whatever the font.
    void figuresAndTitlesFitTheirColumns()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        const unsigned int ticket = s.WishListSearch("giant steps");
        const QList<QPair<quint32, quint32>> mp3 = {{0, 320}, {2, 0}, {1, 388}};
        QVERIFY(
            s.Answer("rafael", ticket, {SearchReplyFile("D:\\Mixes\\giant steps.mp3", 88012345, mp3)}, 12, 1830000));
        QTreeWidget* tree = s.WishPage(0)->searchResults();
        tree->expandAll();
        QTreeWidgetItem* user = tree->topLevelItem(0);
        QTreeWidgetItem* file = user->child(0)->child(0);
        const QFontMetrics metrics(tree->font());
        // A cell keeps a few pixels of margin on each side; a title shares
        // its room with the sort mark.
        auto check = [&](const QString& text, int column, int room) {
            QVERIFY2(metrics.horizontalAdvance(text) + room <= tree->columnWidth(column),
                     qPrintable(QString("\"%1\" in %2 pixels").arg(text).arg(tree->columnWidth(column))));
        };
        check(user->text(SearchResultListItem::SpeedColumn), SearchResultListItem::SpeedColumn, 8);
        check(file->text(SearchResultListItem::SizeColumn), SearchResultListItem::SizeColumn, 8);
        check(file->text(SearchResultListItem::AttributesColumn), SearchResultListItem::AttributesColumn, 8);
        for (int column : {SearchResultListItem::FreeColumn, SearchResultListItem::SpeedColumn})
            check(tree->headerItem()->text(column), column, 32);
        QCOMPARE(file->text(SearchResultListItem::SizeColumn), QString("88,012,345"));
    }

    void stoppedDisabledAndRemovedSearchesShowNothingMore()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* stopped = s.Search("stopped");
        QVERIFY(s.Answer("alice", stopped->Ticket(), Files("a", {"one.mp3"})));
        QVERIFY(s.Trigger(stopped, "Stop Search"));
        QVERIFY(stopped->Request().IsConnected("search_stopped"));
        QVERIFY(s.ToolbarTexts(stopped).contains("Search Stopped"));
        const unsigned int disabled = s.WishListSearch("disabled");
        d.GetType("wish_list_item")->HasItem("disabled").Disconnect("wish_list_item_enabled");
        const unsigned int removed = s.WishListSearch("removed");
        d.GetType("wish_list_item")->HasItem("removed").Remove();

        SearchResultsForm* open = s.Search("open");
        for (unsigned int ticket : {stopped->Ticket(), disabled, removed})
            QVERIFY(s.Send("alice", ticket, Files("b", {"late.mp3"})));
        QVERIFY(s.Answer("alice", open->Ticket(), Files("c", {"on time.mp3"})));
        QCOMPARE(stopped->searchResults()->topLevelItem(0)->child(0)->childCount(), 1);
        // Answers no tab will show leave the store at once.
        QCOMPARE(s.WishTabs()->count(), 0);
        QCOMPARE(SearchPageFixture::Count("search_results"), 2);
        QCOMPARE(SearchPageFixture::Count("search_result"), 2);
    }

    void aNewTabStartsWithItsWishListFilterOrTheDefault()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SetSetting("default_search_filter", "flac");
        const unsigned int ticket = s.WishListSearch("own", "-live");
        // The wish-list filter is the one applied on arrival.
        QVERIFY(s.Answer("alice", ticket, Files("x live", {"a.mp3"}) + Files("x", {"b.mp3"})));
        QCOMPARE(s.WishPage(0)->filterEdit()->text(), QString("-live"));
        QTreeWidgetItem* user = s.WishPage(0)->searchResults()->topLevelItem(0);
        QVERIFY(user->child(0)->isHidden() && !user->child(1)->isHidden());
        QCOMPARE(s.Search("anything")->filterEdit()->text(), QString("flac"));
        RemoveSetting("default_search_filter");
        QVERIFY(s.Search("unfiltered")->filterEdit()->text().isEmpty());
    }

    void relatedSearchesListAndRunAgain()
    {
        SearchPageFixture s;
        s.f.net.server->SetCorrelations("coltrane", {{"a love supreme", 3}, {"giant steps", 9}, {"ballads", 5}});
        QVERIFY(s.f.Start());
        SearchResultsForm* other = s.Search("unrelated");
        SearchResultsForm* page = s.Search("coltrane");
        QTreeWidget* related = page->CorrelationsWidget();
        QTRY_COMPARE(Column(related->invisibleRootItem(), 0),
                     QStringList({"giant steps", "ballads", "a love supreme"}));
        QVERIFY(!related->isHidden());
        // Another text's answer leaves a page alone; none means no list.
        QVERIFY(other->CorrelationsWidget()->isHidden());
        QCOMPARE(other->CorrelationsWidget()->topLevelItemCount(), 0);

        const QStringList history = s.Entries(s.SearchEdit());
        const QPoint second = related->visualItemRect(related->topLevelItem(1)).center();
        QTest::mouseClick(related->viewport(), Qt::LeftButton, {}, second);
        QCOMPARE(s.SearchEdit()->lineEdit()->text(), QString("ballads"));
        s.f.net.server->ClearReceived();
        QTest::mouseDClick(related->viewport(), Qt::LeftButton, {}, second);
        QCOMPARE(s.ManualTabs()->count(), 3);
        QCOMPARE(qobject_cast<SearchResultsForm*>(s.ManualTabs()->widget(2))->SearchText(), QString("ballads"));
        QVERIFY(s.SearchEdit()->lineEdit()->text().isEmpty());
        QCOMPARE(s.Entries(s.SearchEdit()), history);
        QTRY_COMPARE(s.f.net.server->Count(26), 1);
        QTRY_COMPARE(s.f.net.server->Count(153), 1);
    }

    void expandAndOrderActions()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("actions");
        QTreeWidget* tree = page->searchResults();
        // alice: free slot, slow; bob: queue 3; carol: queue 12, fastest.
        QVERIFY(s.Answer("alice", page->Ticket(), Files("a", {"1.mp3"}) + Files("b", {"2.mp3"}), 1, 1024, 0));
        QVERIFY(s.Answer("bob", page->Ticket(), Files("c", {"3.mp3"}), 0, 50 * 1024, 3));
        QVERIFY(s.Answer("carol", page->Ticket(), Files("d", {"4.mp3"}), 0, 90 * 1024, 12));
        QCOMPARE(s.ToolbarTexts(page),
                 QStringList({"Order by Available [on]", "Order by Fastest", "Expand Folders [on]", "Expand Users [on]",
                              "Add to Wishlist", "Re-enter Search", "Stop Search"}));
        auto expanded = [tree](bool folders) {
            QVector<bool> open;
            for (int i = 0; i < tree->topLevelItemCount(); ++i) {
                QTreeWidgetItem* user = tree->topLevelItem(i);
                if (!folders)
                    open << user->isExpanded();
                for (int f = 0; folders && f < user->childCount(); ++f)
                    open << user->child(f)->isExpanded();
            }
            return open;
        };
        QVERIFY(s.Trigger(page, "Expand Folders [on]"));
        QCOMPARE(expanded(true), QVector<bool>({false, false, false, false}));
        QCOMPARE(expanded(false), QVector<bool>({true, true, true}));
        QVERIFY(s.ToolbarTexts(page).contains("Expand Folders [off]"));
        // While off, a new folder arrives closed.
        QVERIFY(s.Answer("dave", page->Ticket(), Files("e", {"5.mp3"})));
        QCOMPARE(expanded(true), QVector<bool>(5, false));
        QVERIFY(s.Trigger(page, "Expand Folders [off]"));
        QCOMPARE(expanded(true), QVector<bool>(5, true));
        QVERIFY(s.Trigger(page, "Expand Users [on]"));
        QCOMPARE(expanded(false), QVector<bool>(4, false));
        QVERIFY(s.ToolbarTexts(page).contains("Expand Users [off]"));

        QVERIFY(s.Trigger(page, "Order by Fastest"));
        QCOMPARE(Users(page), QStringList({"carol", "bob", "dave", "alice"}));
        QCOMPARE(tree->header()->sortIndicatorSection(), int(SearchResultListItem::SpeedColumn));
        QCOMPARE(s.ToolbarTexts(page).mid(0, 2), QStringList({"Order by Available", "Order by Fastest [on]"}));
        QVERIFY(s.Trigger(page, "Order by Available"));
        QCOMPARE(Users(page), QStringList({"dave", "alice", "bob", "carol"}));
        QCOMPARE(s.ToolbarTexts(page).mid(0, 2), QStringList({"Order by Available [on]", "Order by Fastest"}));
    }

    // The expand switches go over a page a slice a turn (here a row a
    // turn, or held back). Switched again before a pass ends, with replies
    // and sorts between its slices, every row ends as switched last.
    void expandSwitchesEndAsSwitchedLast()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("slices");
        QTreeWidget* tree = page->searchResults();
        // alice has a free slot and is slowest; the others queue, dave fastest.
        const QStringList users{"alice", "bob", "carol", "dave"};
        for (int i = 0; i < users.size(); ++i)
            QVERIFY(s.Answer(users[i], page->Ticket(), Files("a", {"1.mp3"}) + Files("b", {"2.mp3"}), i == 0,
                             (i + 1) * 1024));
        // Open and closed folder rows, or user rows.
        auto open = [tree](bool folders) {
            QPair<int, int> counts;
            for (int u = 0; u < tree->topLevelItemCount(); ++u) {
                QTreeWidgetItem* user = tree->topLevelItem(u);
                for (int f = 0; f < (folders ? user->childCount() : 1); ++f)
                    ++((folders ? user->child(f) : user)->isExpanded() ? counts.first : counts.second);
            }
            return counts;
        };
        QVERIFY(s.Trigger(page, "Order by Available [on]"));
        QCOMPARE(Users(page), QStringList({"alice", "dave", "carol", "bob"}));
        s.form->SetSliceSize(1);
        QVERIFY(s.Trigger(page, "Expand Folders [on]"));
        QVERIFY(s.form->IsExpanding(page));
        QCOMPARE(open(true), qMakePair(7, 1));
        // Sorted with alice's row done: the pass looks again from the top.
        QVERIFY(s.Trigger(page, "Order by Fastest"));
        QTRY_VERIFY(!s.form->IsExpanding(page));
        QCOMPARE(open(true), qMakePair(0, 8));
        QVERIFY(s.Trigger(page, "Expand Folders [off]"));
        QVERIFY(s.Trigger(page, "Expand Folders [on]"));
        QVERIFY(s.Trigger(page, "Expand Folders [off]"));
        QTRY_VERIFY(!s.form->IsExpanding(page));
        QCOMPARE(open(true), qMakePair(8, 0));

        s.form->SetSliceSize(0);
        QVERIFY(s.Trigger(page, "Expand Folders [on]"));
        QVERIFY(s.Trigger(page, "Expand Users [on]"));
        // A new user and a new folder of an old one, while both passes wait.
        QVERIFY(s.Answer("erin", page->Ticket(), Files("e", {"5.mp3"})));
        QVERIFY(s.Answer("alice", page->Ticket(), Files("c", {"3.mp3"})));
        QCOMPARE(open(true), qMakePair(8, 2));
        QVERIFY(s.form->IsExpanding(page));
        s.form->SetSliceSize(1);
        QTRY_VERIFY(!s.form->IsExpanding(page));
        QCOMPARE(open(true), qMakePair(0, 10));
        QCOMPARE(open(false), qMakePair(0, 5));

        QVERIFY(s.Trigger(page, "Expand Folders [off]"));
        QVERIFY(s.Trigger(page, "Expand Users [off]"));
        QTRY_VERIFY(!s.form->IsExpanding(page));
        QCOMPARE(open(true), qMakePair(10, 0));
        QCOMPARE(open(false), qMakePair(5, 0));
    }

    // A full search takes places back while the switch goes over the page
    // a folder row a slice, a reply between every turn or two: a big sharer
    // gives up folders, three at once first, then names of one host behind
    // where the pass is leave the page. The pass follows the rows, neither
    // starting again nor passing over one, so it ends within as many turns
    // as the page has folders, one opened a turn, the big sharer's folders
    // left open too. Switched back with the page sorted before every turn,
    // it passes over the rows it did and ends as soon.
    void expandSwitchFollowsRowsGivenBackAndSorts()
    {
        SearchPageFixture s;
        s.ownAddresses = true;
        QVERIFY(s.f.Start());
        s.Bounds(30, 10, 6);
        SearchResultsForm* page = s.Search("full");
        QTreeWidget* tree = page->searchResults();
        // A file a folder.
        auto numbered = [](const QString& folder, int first, int count) {
            QList<QByteArray> files;
            for (int i = first; i < first + count; ++i)
                files += Files(QString("%1 %2").arg(folder).arg(i), {QString("%1.mp3").arg(i)});
            return files;
        };
        // Eight names at one host, two past what it keeps once the search is
        // full, and a big sharer eight past what its address keeps.
        for (int i = 0; i < 8; ++i) {
            s.Place(QString("name%1").arg(i), QHostAddress("127.0.0.9"));
            QVERIFY(s.Answer(QString("name%1").arg(i), page->Ticket(), numbered("n", i, 1)));
        }
        QVERIFY(s.Answer("big", page->Ticket(), numbered("big", 0, 14)));
        QVERIFY(s.Answer("bob", page->Ticket(), numbered("b", 0, 2)));
        QVERIFY(s.Answer("carol", page->Ticket(), numbered("c", 0, 2)));
        QVERIFY(s.Answer("dave", page->Ticket(), numbered("d", 0, 4)));
        QTRY_COMPARE(tree->topLevelItemCount(), 12);
        auto folders = [tree](bool open) {
            int count = 0;
            for (int u = 0; u < tree->topLevelItemCount(); ++u)
                for (int f = 0; f < tree->topLevelItem(u)->childCount(); ++f)
                    count += tree->topLevelItem(u)->child(f)->isExpanded() == open;
            return count;
        };
        QVERIFY(s.Trigger(page, "Expand Folders [on]"));
        QCOMPARE(folders(false), 30);

        // The folders the slices open, by the turn they open in.
        TurnCounter opened;
        bool slicing = false;
        connect(tree, &QTreeWidget::itemExpanded, this, [&](QTreeWidgetItem* row) {
            if (slicing && row->parent())
                opened.Count();
        });
        // One or two slices of a folder row.
        auto slices = [&] {
            return s.TwoTurns([&](bool allow) {
                s.form->SetSliceSize(allow ? 1 : 0);
                slicing = allow;
            });
        };
        s.form->SetSliceSize(0);
        QVERIFY(s.Trigger(page, "Expand Folders [off]"));
        int turns = 0;
        for (int reply = 0; (s.form->IsExpanding(page) || reply < 8) && turns <= 30; ++turns) {
            // The names done first, as the page lists them: ten places
            // taken back, the big sharer's as the most over first.
            if (turns >= 8 && reply < 8) {
                const int files = reply == 0 ? 3 : 1;
                QVERIFY(s.Answer(QString("user%1").arg(reply++), page->Ticket(), numbered("u", turns, files)));
            }
            QVERIFY(slices());
        }
        QVERIFY(!s.form->IsExpanding(page));
        QCOMPARE(tree->topLevelItemCount(), 12 - 2 + 8);
        QCOMPARE(folders(false), 0);
        QTreeWidgetItem* big = tree->findItems("big", Qt::MatchExactly, SearchResultListItem::UserColumn).value(0);
        QVERIFY(big);
        QCOMPARE(big->childCount(), 6);
        QCOMPARE(opened.MostInOneTurn(), 1);

        s.form->SetSliceSize(0);
        QVERIFY(s.Trigger(page, "Expand Folders [on]"));
        const int open = folders(true);
        for (turns = 0; s.form->IsExpanding(page) && turns <= open; ++turns) {
            page->Sort();
            QVERIFY(slices());
        }
        QVERIFY(!s.form->IsExpanding(page));
        QCOMPARE(folders(true), 0);
    }

    void wishListAndReenterActions()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("kind of blue");
        QVERIFY(s.Trigger(page, "Add to Wishlist"));
        ItemPtr wish = d.GetType("wish_list_item")->HasItem("kind of blue");
        QVERIFY(wish.IsConnected("wish_list_item_enabled"));
        // The action says what the next press does, and does that.
        QVERIFY(!s.ToolbarTexts(page).contains("Add to Wishlist"));
        QVERIFY(s.Trigger(page, "Remove from Wish List"));
        QVERIFY(!d.GetType("wish_list_item")->HasItem("kind of blue"));
        QVERIFY(s.ToolbarTexts(page).contains("Add to Wishlist"));
        QVERIFY(s.Trigger(page, "Add to Wishlist"));
        QVERIFY(d.GetType("wish_list_item")->HasItem("kind of blue"));
        // A tab opened for a listed search offers to remove it.
        SearchResultsForm* listed = s.Search("kind of blue");
        QVERIFY(s.ToolbarTexts(listed).contains("Remove from Wish List"));
        s.ManualTabs()->setCurrentWidget(page);

        QVERIFY(s.Trigger(page, "Re-enter Search"));
        QCOMPARE(s.SearchEdit()->lineEdit()->text(), QString("kind of blue"));
        QTRY_VERIFY(s.SearchEdit()->hasFocus());

        // A wish-list tab: no "Stop Search", and the action removes the search.
        QVERIFY(s.Answer("alice", s.WishListSearch("bitches brew"), Files("a", {"1.mp3"})));
        s.form->findChild<QTabWidget*>("tabWidget")->setCurrentIndex(1);
        QCOMPARE(s.ToolbarTexts(s.WishPage(0)),
                 QStringList({"Order by Available [on]", "Order by Fastest", "Expand Folders [on]", "Expand Users [on]",
                              "Remove from Wish List", "Re-enter Search"}));
        QVERIFY(s.Trigger(s.WishPage(0), "Remove from Wish List"));
        QVERIFY(!d.GetType("wish_list_item")->HasItem("bitches brew"));
        // Its tab stays, and now offers to add the search again.
        QVERIFY(s.ToolbarTexts(s.WishPage(0)).contains("Add to Wishlist"));
        QVERIFY(!s.ToolbarTexts(s.WishPage(0)).contains("Remove from Wish List"));
        QVERIFY(s.Trigger(s.WishPage(0), "Add to Wishlist"));
        QVERIFY(d.GetType("wish_list_item")->HasItem("bitches brew"));
        QVERIFY(s.ToolbarTexts(s.WishPage(0)).contains("Remove from Wish List"));
    }
};

QTEST_MAIN(TestResultTabs)
#include "TestResultTabs.moc"
