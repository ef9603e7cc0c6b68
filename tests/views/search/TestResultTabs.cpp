// Result tabs: which tab a reply reaches, wish-list tabs, related searches,
// filters a new tab starts with, and every toolbar action of a tab.
#include <QHeaderView>
#include <QTest>

#include "SearchPageFixture.h"
#include "search/SearchResultListItem.h"
#include "Server.h"
#include "TestServer.h"

namespace {

QList<QByteArray> Files(const QString& folder, const QStringList& names)
{
    QList<QByteArray> files;
    for (const QString& name : names)
        files << SearchReplyFile((folder + "\\" + name).toUtf8(), 1000);
    return files;
}

QStringList TopTexts(QTreeWidget* tree, int column)
{
    QStringList texts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        texts << tree->topLevelItem(i)->text(column);
    return texts;
}

// A wish-list search as the searcher sends it: enabled, and its ticket.
unsigned int SendWishListSearch(SearchPageFixture& s, const QString& text)
{
    ItemPtr wish = d.GetType("wish_list_item")->GetItem(text);
    wish += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
    return s.f->net.client->FileSearch(text, text);
}

} // namespace

class TestResultTabs : public QObject
{
    Q_OBJECT

private slots:
    void repliesReachTheTabOfTheirSearch();
    void repliesReachTheTabOfTheirSearchInFlatRows();
    void aWishListSearchKeepsOneTabThatTakesNoFocus();
    void stoppedAndDisabledSearchesShowNothingMore();
    void aNewTabStartsWithItsWishListFilterOrTheDefault();
    void relatedSearchesListAndRunAgain();
    void expandActionsToggleTheRowsAndTheirTexts();
    void orderActionsSortAndMoveTheMark();
    void wishListStopAndReenterActionsUseTheCurrentTab();
};

void TestResultTabs::repliesReachTheTabOfTheirSearch()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    for (const char* peer : {"alice", "bob", "carol"})
        QVERIFY(s.Link(peer));
    SearchResultsForm* miles = s.Search("miles");
    SearchResultsForm* monk = s.Search("monk");
    QCOMPARE(s.ManualTabs()->count(), 2);
    QVERIFY(s.AnswerNextSearch("alice", Files("jazz\\miles", {"so what.mp3", "freddie.mp3"})));
    QVERIFY(s.AnswerNextSearch("bob", Files("bob\\miles", {"blue.mp3"})));
    QVERIFY(s.AnswerNextSearch("alice", Files("jazz\\monk", {"round midnight.mp3"})));
    QVERIFY(s.AnswerNextSearch("carol", Files("carol", {"nardis.mp3"})));
    QVERIFY(s.AnswerNextSearch("bob", Files("monk", {"misterioso.mp3"})));

    // Each peer answers its searches in the order it heard them.
    QTreeWidget* tree = miles->searchResults();
    QCOMPARE(TopTexts(tree, 0), QStringList({"alice", "bob", "carol"}));
    QCOMPARE(tree->topLevelItem(0)->child(0)->text(SearchResultListItem::FolderColumn), QString("miles/jazz"));
    QCOMPARE(tree->topLevelItem(0)->child(0)->childCount(), 2);
    QCOMPARE(tree->topLevelItem(2)->child(0)->child(0)->text(SearchResultListItem::FileColumn),
             QString("nardis.mp3"));
    QCOMPARE(TopTexts(monk->searchResults(), 0), QStringList({"alice", "bob"}));
    QCOMPARE(monk->searchResults()->topLevelItem(1)->child(0)->child(0)->text(SearchResultListItem::FileColumn),
             QString("misterioso.mp3"));
}

void TestResultTabs::repliesReachTheTabOfTheirSearchInFlatRows()
{
    SearchPageFixture s(true);
    QVERIFY(s.Start());
    QVERIFY(s.Link("alice") && s.Link("bob"));
    SearchResultsForm* page = s.Search("trane");
    QVERIFY(page->HasFlatRows());
    QVERIFY(s.AnswerNextSearch("alice", Files("a\\b", {"one.mp3", "two.mp3"})));
    QVERIFY(s.AnswerNextSearch("bob", Files("c", {"three.mp3"})));
    QTreeWidget* tree = page->searchResults();
    QCOMPARE(TopTexts(tree, 0), QStringList({"alice", "alice", "bob"}));
    QCOMPARE(TopTexts(tree, SearchResultListItem::FileColumn), QStringList({"one.mp3", "two.mp3", "three.mp3"}));
    QCOMPARE(TopTexts(tree, SearchResultListItem::FolderColumn), QStringList({"b/a", "b/a", "c"}));
    QCOMPARE(tree->topLevelItem(0)->childCount(), 0);
    QCOMPARE(SearchPageFixture::Count("search_results_user_node"), 0);
    QCOMPARE(SearchPageFixture::Count("search_result_node"), 3);
}

void TestResultTabs::aWishListSearchKeepsOneTabThatTakesNoFocus()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    QVERIFY(s.Link("alice") && s.Link("bob"));
    SearchResultsForm* manual = s.Search("ascension");
    const unsigned int first = SendWishListSearch(s, "love & peace");
    QVERIFY(s.Answer("alice", first, Files("a", {"love.mp3"})));
    QCOMPARE(s.WishTabs()->count(), 1);
    auto* wish = qobject_cast<SearchResultsForm*>(s.WishTabs()->widget(0));
    QVERIFY(wish && wish->IsWishListPage());
    // The user stays where they were.
    QCOMPARE(s.ManualTabs()->currentWidget(), manual);
    QVERIFY(!wish->isVisible());
    // "&" shows as typed, not as a shortcut mark.
    QCOMPARE(s.WishTabs()->tabText(0), QString("love && peace"));

    QVERIFY(s.Answer("bob", first, Files("b", {"peace.mp3"})));
    const unsigned int second = SendWishListSearch(s, "love & peace");
    QVERIFY(s.Answer("alice", second, Files("a", {"again.mp3"})));
    QCOMPARE(s.WishTabs()->count(), 1);
    QCOMPARE(s.WishTabs()->tabText(0), QString("love && peace"));
    QTreeWidget* tree = wish->searchResults();
    QCOMPARE(TopTexts(tree, 0), QStringList({"alice", "bob"}));
    // The same user's second answer joins its row and its folder.
    QCOMPARE(tree->topLevelItem(0)->childCount(), 1);
    QCOMPARE(tree->topLevelItem(0)->child(0)->childCount(), 2);
    QCOMPARE(s.ManualTabs()->count(), 1);
}

void TestResultTabs::stoppedAndDisabledSearchesShowNothingMore()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SearchResultsForm* stopped = s.Search("stopped");
    QVERIFY(s.Answer("alice", stopped->Ticket(), Files("a", {"one.mp3"})));
    QVERIFY(s.Trigger(stopped, "Stop Search"));
    QVERIFY(s.ToolbarTexts(stopped).contains("Search Stopped"));

    // A wish-list search disabled before its first answer opens no tab.
    const unsigned int disabled = SendWishListSearch(s, "disabled");
    d.GetType("wish_list_item")->HasItem("disabled").Disconnect("wish_list_item_enabled");
    // One removed altogether neither.
    const unsigned int removed = SendWishListSearch(s, "removed");
    d.GetType("wish_list_item")->HasItem("removed").Remove();

    SearchResultsForm* open = s.Search("open");
    for (unsigned int ticket : {stopped->Ticket(), disabled, removed})
        QVERIFY(s.Send("alice", ticket, Files("b", {"late.mp3"})));
    QVERIFY(s.Answer("alice", open->Ticket(), Files("c", {"on time.mp3"})));
    QCOMPARE(stopped->searchResults()->topLevelItem(0)->child(0)->childCount(), 1);
    QCOMPARE(s.WishTabs()->count(), 0);
    QCOMPARE(SearchPageFixture::Count("search_results"), 2);
}

void TestResultTabs::aNewTabStartsWithItsWishListFilterOrTheDefault()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SetSetting("default_search_filter", "flac");
    ItemPtr wish = d.GetType("wish_list_item")->GetItem("own filter");
    wish += d.GetType("wish_list_item_filter_text")->GetItem("mp3 -live");
    const unsigned int ticket = SendWishListSearch(s, "own filter");
    // Hidden by its own filter, shown by the default: the wish-list filter
    // is the one applied on arrival.
    QVERIFY(s.Answer("alice", ticket, Files("x live", {"a.mp3"}) + Files("x", {"b.mp3"})));
    auto* wishPage = qobject_cast<SearchResultsForm*>(s.WishTabs()->widget(0));
    QCOMPARE(wishPage->filterEdit()->text(), QString("mp3 -live"));
    QTreeWidgetItem* user = wishPage->searchResults()->topLevelItem(0);
    QCOMPARE(user->childCount(), 2);
    QVERIFY(user->child(0)->isHidden());
    QVERIFY(!user->child(1)->isHidden());

    SearchResultsForm* manual = s.Search("anything");
    QCOMPARE(manual->filterEdit()->text(), QString("flac"));
    RemoveSetting("default_search_filter");
    QVERIFY(s.Search("unfiltered")->filterEdit()->text().isEmpty());
}

void TestResultTabs::relatedSearchesListAndRunAgain()
{
    SearchPageFixture s;
    s.f->net.server->SetCorrelations("coltrane", {{"a love supreme", 3}, {"giant steps", 9}, {"ballads", 5}});
    QVERIFY(s.Start());
    SearchResultsForm* other = s.Search("unrelated");
    SearchResultsForm* page = s.Search("coltrane");
    QTreeWidget* related = page->CorrelationsWidget();
    QTRY_COMPARE(related->topLevelItemCount(), 3);
    QCOMPARE(TopTexts(related, 0), QStringList({"giant steps", "ballads", "a love supreme"}));
    QVERIFY(!related->isHidden());
    // Another text's answer leaves a page alone; none means no list.
    QVERIFY(other->CorrelationsWidget()->isHidden());
    QCOMPARE(other->CorrelationsWidget()->topLevelItemCount(), 0);

    const QStringList history = s.History();
    const QRect second = related->visualItemRect(related->topLevelItem(1));
    QTest::mouseClick(related->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(s.SearchEdit()->lineEdit()->text(), QString("ballads"));
    s.f->net.server->ClearReceived();
    QTest::mouseDClick(related->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(s.ManualTabs()->count(), 3);
    auto* rerun = qobject_cast<SearchResultsForm*>(s.ManualTabs()->widget(2));
    QCOMPARE(rerun->SearchText(), QString("ballads"));
    QVERIFY(s.SearchEdit()->lineEdit()->text().isEmpty());
    QCOMPARE(s.History(), history);
    QTRY_COMPARE(s.f->net.server->Count(26), 1);
    QTRY_COMPARE(s.f->net.server->Count(153), 1);
}

void TestResultTabs::expandActionsToggleTheRowsAndTheirTexts()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SearchResultsForm* page = s.Search("expand");
    QVERIFY(s.Answer("alice", page->Ticket(), Files("a", {"1.mp3"}) + Files("b", {"2.mp3"})));
    QVERIFY(s.Answer("bob", page->Ticket(), Files("c", {"3.mp3"})));
    QTreeWidget* tree = page->searchResults();
    QCOMPARE(s.ToolbarTexts(page), QStringList({"Order by Available [on]", "Order by Fastest", "Expand Folders [on]",
                                                "Expand Users [on]", "Add to Wishlist", "Re-enter Search",
                                                "Stop Search"}));
    auto folders = [tree] {
        QList<bool> open;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            for (int f = 0; f < tree->topLevelItem(i)->childCount(); ++f)
                open << tree->topLevelItem(i)->child(f)->isExpanded();
        return open;
    };
    QCOMPARE(folders(), QList<bool>({true, true, true}));

    QVERIFY(s.Trigger(page, "Expand Folders [on]"));
    QCOMPARE(folders(), QList<bool>({false, false, false}));
    QVERIFY(s.ToolbarTexts(page).contains("Expand Folders [off]"));
    QVERIFY(tree->topLevelItem(0)->isExpanded());
    // While off, new rows arrive closed.
    QVERIFY(s.Answer("carol", page->Ticket(), Files("d", {"4.mp3"})));
    QCOMPARE(folders(), QList<bool>({false, false, false, false}));
    QVERIFY(s.Trigger(page, "Expand Folders [off]"));
    QCOMPARE(folders(), QList<bool>({true, true, true, true}));
    QVERIFY(s.ToolbarTexts(page).contains("Expand Folders [on]"));

    QVERIFY(s.Trigger(page, "Expand Users [on]"));
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        QVERIFY(!tree->topLevelItem(i)->isExpanded());
    QVERIFY(s.ToolbarTexts(page).contains("Expand Users [off]"));
    QVERIFY(s.Trigger(page, "Expand Users [off]"));
    QVERIFY(tree->topLevelItem(2)->isExpanded());
}

void TestResultTabs::orderActionsSortAndMoveTheMark()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SearchResultsForm* page = s.Search("order");
    // alice: slot free, slow; bob: queue 3, fast; carol: queue 12, fastest.
    QVERIFY(s.Answer("alice", page->Ticket(), Files("a", {"1.mp3"}), 1, 1024, 0));
    QVERIFY(s.Answer("bob", page->Ticket(), Files("b", {"2.mp3"}), 0, 50 * 1024, 3));
    QVERIFY(s.Answer("carol", page->Ticket(), Files("c", {"3.mp3"}), 0, 90 * 1024, 12));
    QTreeWidget* tree = page->searchResults();

    QVERIFY(s.Trigger(page, "Order by Fastest"));
    QCOMPARE(TopTexts(tree, 0), QStringList({"carol", "bob", "alice"}));
    QCOMPARE(page->SortColumn(), int(SearchResultListItem::SpeedColumn));
    QCOMPARE(tree->header()->sortIndicatorSection(), int(SearchResultListItem::SpeedColumn));
    QCOMPARE(tree->header()->sortIndicatorOrder(), Qt::DescendingOrder);
    QStringList texts = s.ToolbarTexts(page);
    QVERIFY(texts.contains("Order by Available") && texts.contains("Order by Fastest [on]"));

    QVERIFY(s.Trigger(page, "Order by Available"));
    QCOMPARE(TopTexts(tree, 0), QStringList({"alice", "bob", "carol"}));
    texts = s.ToolbarTexts(page);
    QVERIFY(texts.contains("Order by Available [on]") && texts.contains("Order by Fastest"));
}

void TestResultTabs::wishListStopAndReenterActionsUseTheCurrentTab()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SearchResultsForm* page = s.Search("kind of blue");

    QVERIFY(s.Trigger(page, "Add to Wishlist"));
    ItemPtr wish = d.GetType("wish_list_item")->HasItem("kind of blue");
    QVERIFY(wish);
    QVERIFY(wish.IsConnected("wish_list_item_enabled"));
    // Already there: nothing changes, not even a disabled search's state.
    wish.Disconnect("wish_list_item_enabled");
    QVERIFY(s.Trigger(page, "Add to Wishlist"));
    QVERIFY(!wish.IsConnected("wish_list_item_enabled"));
    QCOMPARE(SearchPageFixture::Count("wish_list_item"), 1);

    QVERIFY(s.Trigger(page, "Re-enter Search"));
    QCOMPARE(s.SearchEdit()->lineEdit()->text(), QString("kind of blue"));
    QTRY_VERIFY(s.SearchEdit()->hasFocus());

    QVERIFY(s.Trigger(page, "Stop Search"));
    QVERIFY(page->Request().IsConnected("search_stopped"));
    QVERIFY(s.ToolbarTexts(page).contains("Search Stopped"));

    // A wish-list tab: "Stop Search" hidden, and the action removes the
    // wish-list search.
    const unsigned int ticket = SendWishListSearch(s, "bitches brew");
    QVERIFY(s.Answer("alice", ticket, Files("a", {"1.mp3"})));
    auto* wishPage = qobject_cast<SearchResultsForm*>(s.WishTabs()->widget(0));
    s.form->findChild<QTabWidget*>("tabWidget")->setCurrentIndex(1);
    QTRY_VERIFY(wishPage->isVisible());
    QCOMPARE(s.ToolbarTexts(wishPage), QStringList({"Order by Available [on]", "Order by Fastest",
                                                    "Expand Folders [on]", "Expand Users [on]",
                                                    "Remove from Wish List", "Re-enter Search"}));
    QVERIFY(s.Trigger(wishPage, "Remove from Wish List"));
    QVERIFY(!d.GetType("wish_list_item")->HasItem("bitches brew"));
}

QTEST_MAIN(TestResultTabs)
#include "TestResultTabs.moc"
