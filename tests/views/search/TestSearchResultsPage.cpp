// A results page: what its rows show, how they group and order, the sort
// once a second, downloads on a double click, the arrival filter, the
// wish-list alert and the "Discard Repeated Results" switch.
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

#include "EventToolBar.h"
#include "SearchPageFixture.h"
#include "TransferQueueManager.h"
#include "search/SearchResultListItem.h"

namespace {

enum
{
    User = SearchResultListItem::UserColumn,
    Free = SearchResultListItem::FreeColumn,
    Speed = SearchResultListItem::SpeedColumn,
    Folder = SearchResultListItem::FolderColumn,
    File = SearchResultListItem::FileColumn,
    Size = SearchResultListItem::SizeColumn,
    Attributes = SearchResultListItem::AttributesColumn
};

QStringList Texts(QTreeWidgetItem* parent, int column)
{
    QStringList texts;
    for (int i = 0; i < parent->childCount(); ++i)
        texts << parent->child(i)->text(column);
    return texts;
}

QStringList TopTexts(QTreeWidget* tree, int column)
{
    return Texts(tree->invisibleRootItem(), column);
}

QStringList ShownFiles(QTreeWidget* tree)
{
    QStringList shown;
    for (int u = 0; u < tree->topLevelItemCount(); ++u) {
        QTreeWidgetItem* user = tree->topLevelItem(u);
        for (int f = 0; f < user->childCount(); ++f)
            for (int i = 0; i < user->child(f)->childCount(); ++i) {
                QTreeWidgetItem* file = user->child(f)->child(i);
                if (!user->isHidden() && !user->child(f)->isHidden() && !file->isHidden())
                    shown << file->text(File);
            }
    }
    return shown;
}

// A press long enough after the last one to start a double click of its
// own (a double click right after another counts as neither).
void DoubleClick(QTreeWidget* tree, QTreeWidgetItem* row)
{
    const QPoint at = tree->visualItemRect(row).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at, QApplication::doubleClickInterval() + 50);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
}

int EventButtons(EventToolBar* bar, const QString& text)
{
    int count = 0;
    for (QAction* action : bar->actions())
        count += action->text() == text;
    return count;
}

} // namespace

class TestSearchResultsPage : public QObject
{
    Q_OBJECT

private slots:
    void cellsShowTheReplyAsAUserReadsIt();
    void rowsGroupByUserAndFolder();
    void theDefaultOrderPutsFreeSlotsAndShortQueuesFirst();
    void sizeAndAttributesCompareTheFilesAndCreateNothing();
    void flatRowsSortByTheClickedColumn();
    void aBurstOfRepliesIsSortedOnceASecondLater();
    void aDoubleClickQueuesTheFile();
    void theArrivalFilterTestsFolderThenFile();
    void theWishListAlertComesOnceAndNotWhileAllIsFiltered();
    void discardingRepeatedResultsRecordsWhoAnswered();
    void rowItemsGoWithThePage();
};

void TestSearchResultsPage::cellsShowTheReplyAsAUserReadsIt()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SearchResultsForm* page = s.Search("cells");
    QVERIFY(s.Answer("alice", page->Ticket(),
                     {SearchReplyFile("music\\artist\\album\\song.mp3", 3000000000ull, {{0, 320}, {1, 245}, {2, 1}})},
                     1, 1536, 0));
    QVERIFY(s.Answer("bob", page->Ticket(), {SearchReplyFile("empty.txt", 0)}, 0, 0, 12));
    // A u32 speed above 2^31 still shows.
    QVERIFY(s.Answer("carol", page->Ticket(), {SearchReplyFile("x\\fast.mp3", 1)}, 0, 3221225472u, 2));

    QTreeWidget* tree = page->searchResults();
    QTreeWidgetItem* alice = tree->topLevelItem(0);
    QCOMPARE(alice->text(User), QString("alice"));
    QCOMPARE(alice->text(Free), QString("Y"));
    QCOMPARE(alice->textAlignment(Free), int(Qt::AlignHCenter | Qt::AlignVCenter));
    QCOMPARE(alice->text(Speed), QString("1.5"));
    QTreeWidgetItem* folder = alice->child(0);
    QCOMPARE(folder->text(Folder), QString("album/artist/music"));
    QTreeWidgetItem* song = folder->child(0);
    QCOMPARE(song->text(File), QString("song.mp3"));
    QCOMPARE(song->text(Size), QString("3,000,000,000"));
    QCOMPARE(song->text(Attributes), QString("320 VBR, 4m5s"));

    QTreeWidgetItem* bob = tree->topLevelItem(1);
    QCOMPARE(bob->text(Free), QString("12"));
    QVERIFY(bob->text(Speed).isEmpty());
    QCOMPARE(bob->child(0)->text(Folder), QString());
    QVERIFY(bob->child(0)->child(0)->text(Size).isEmpty());
    QCOMPARE(tree->topLevelItem(2)->text(Speed), QString("3145728.0"));
}

void TestSearchResultsPage::rowsGroupByUserAndFolder()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SearchResultsForm* page = s.Search("groups");
    QVERIFY(s.Answer("alice", page->Ticket(),
                     {SearchReplyFile("shared\\a.mp3", 1), SearchReplyFile("shared\\b.mp3", 1),
                      SearchReplyFile("other\\c.mp3", 1)}));
    QVERIFY(s.Answer("bob", page->Ticket(), {SearchReplyFile("shared\\d.mp3", 1)}, 0, 100, 7));
    // alice again, with other figures: the row keeps the first ones.
    QVERIFY(s.Answer("alice", page->Ticket(), {SearchReplyFile("shared\\e.mp3", 1)}, 0, 100, 9));

    QTreeWidget* tree = page->searchResults();
    QCOMPARE(TopTexts(tree, User), QStringList({"alice", "bob"}));
    QTreeWidgetItem* alice = tree->topLevelItem(0);
    QCOMPARE(alice->text(Free), QString("Y"));
    QCOMPARE(Texts(alice, Folder), QStringList({"shared", "other"}));
    QCOMPARE(Texts(alice->child(0), File), QStringList({"a.mp3", "b.mp3", "e.mp3"}));
    // Two users' folders of the same path stay apart.
    QCOMPARE(Texts(tree->topLevelItem(1), Folder), QStringList({"shared"}));
    QCOMPARE(Texts(tree->topLevelItem(1)->child(0), File), QStringList({"d.mp3"}));
    QCOMPARE(page->GetNodeUserNode(alice->child(0)->child(1)), alice);
    QCOMPARE(page->GetNodeUserNode(alice->child(1)), alice);
    QCOMPARE(page->GetNodeUserNode(alice), alice);
}

void TestSearchResultsPage::theDefaultOrderPutsFreeSlotsAndShortQueuesFirst()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SearchResultsForm* page = s.Search("order");
    const unsigned int t = page->Ticket();
    QVERIFY(s.Answer("twelve", t, {SearchReplyFile("f\\x.mp3", 1)}, 0, 90 * 1024, 12));
    QVERIFY(s.Answer("three", t, {SearchReplyFile("f\\x.mp3", 1)}, 0, 10 * 1024, 3));
    QVERIFY(s.Answer("slowfree", t, {SearchReplyFile("f\\x.mp3", 1)}, 1, 1024, 0));
    QVERIFY(s.Answer("fastfree", t,
                     {SearchReplyFile("f\\b.mp3", 1), SearchReplyFile("f\\A.mp3", 1), SearchReplyFile("f\\a.mp3", 1)},
                     1, 5 * 1024, 0));
    page->Sort();
    QTreeWidget* tree = page->searchResults();
    // Free slots first, fastest first among them; then queues, 3 before 12
    // (by number, not by text).
    QCOMPARE(TopTexts(tree, User), QStringList({"fastfree", "slowfree", "three", "twelve"}));
    // Inside a folder by name, capitals first.
    QCOMPARE(Texts(tree->topLevelItem(0)->child(0), File), QStringList({"A.mp3", "a.mp3", "b.mp3"}));

    // Two rows showing "Y" and the same speed compare equal both ways.
    SearchResultListItem y1(static_cast<QTreeWidget*>(nullptr)), y2(static_cast<QTreeWidget*>(nullptr));
    for (SearchResultListItem* row : {&y1, &y2}) {
        row->setText(Free, "Y");
        row->setText(Speed, "2.0");
    }
    QVERIFY(!SearchResultListItem::LessThan(Free, y1, y2) && !SearchResultListItem::LessThan(Free, y2, y1));
    // Under "K/s", rows without a speed (folders, files) compare equal.
    QVERIFY(!SearchResultListItem::LessThan(Speed, *tree->topLevelItem(0)->child(0),
                                            *tree->topLevelItem(1)->child(0)));
}

void TestSearchResultsPage::sizeAndAttributesCompareTheFilesAndCreateNothing()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SearchResultsForm* page = s.Search("sizes");
    QVERIFY(s.Answer("alice", page->Ticket(),
                     {SearchReplyFile("f\\two.mp3", 2000000000ull, {{0, 320}}),
                      SearchReplyFile("f\\three.mp3", 3000000000ull, {{0, 128}}),
                      SearchReplyFile("f\\small.mp3", 5, {{0, 192}})}));
    QVERIFY(s.Answer("bob", page->Ticket(), {SearchReplyFile("g\\h.mp3", 1)}));
    const int nodes = SearchPageFixture::Count("search_result_node");
    const size_t items = d.ItemCount();
    QTreeWidget* tree = page->searchResults();

    page->SetSortingParamters(Size, Qt::AscendingOrder);
    page->Sort();
    QTreeWidgetItem* folder = nullptr;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(User) == "alice")
            folder = tree->topLevelItem(i)->child(0);
    QVERIFY(folder);
    // Largest first when ascending; 3,000,000,000 is past a 32-bit int.
    QCOMPARE(Texts(folder, File), QStringList({"three.mp3", "two.mp3", "small.mp3"}));
    page->SetSortingParamters(Attributes, Qt::AscendingOrder);
    page->Sort();
    QCOMPARE(Texts(folder, File), QStringList({"two.mp3", "small.mp3", "three.mp3"}));
    page->SetSortingParamters(Attributes, Qt::DescendingOrder);
    page->Sort();
    QCOMPARE(Texts(folder, File), QStringList({"three.mp3", "small.mp3", "two.mp3"}));

    // User and folder rows have no file behind them: equal both ways, and
    // looking them up made no node.
    QTreeWidgetItem* a = tree->topLevelItem(0);
    QTreeWidgetItem* b = tree->topLevelItem(1);
    QVERIFY(!SearchResultListItem::LessThan(Size, *a, *b) && !SearchResultListItem::LessThan(Size, *b, *a));
    QCOMPARE(SearchPageFixture::Count("search_result_node"), nodes);
    QCOMPARE(d.ItemCount(), items);
}

void TestSearchResultsPage::flatRowsSortByTheClickedColumn()
{
    SearchPageFixture s(true);
    QVERIFY(s.Start());
    SearchResultsForm* page = s.Search("flat");
    QVERIFY(s.Answer("alice", page->Ticket(),
                     {SearchReplyFile("f\\b.mp3", 1), SearchReplyFile("f\\a.mp3", 1), SearchReplyFile("f\\c.mp3", 1)},
                     0, 1024, 4));
    QVERIFY(s.Answer("bob", page->Ticket(), {SearchReplyFile("z\\d.mp3", 1)}, 1, 1024, 0));
    QTreeWidget* tree = page->searchResults();
    page->Sort();
    // Same user, same "Free": by file name.
    QCOMPARE(TopTexts(tree, File), QStringList({"d.mp3", "a.mp3", "b.mp3", "c.mp3"}));

    QHeaderView* header = tree->header();
    QVERIFY(header->sectionsClickable());
    const QPoint fileHeader(header->sectionViewportPosition(File) + 5, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, fileHeader);
    const QStringList once = TopTexts(tree, File);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, fileHeader);
    QStringList twice = TopTexts(tree, File);
    QCOMPARE(page->SortColumn(), int(File));
    std::reverse(twice.begin(), twice.end());
    QCOMPARE(once, twice);
    QVERIFY(once == QStringList({"a.mp3", "b.mp3", "c.mp3", "d.mp3"}) ||
            once == QStringList({"d.mp3", "c.mp3", "b.mp3", "a.mp3"}));
}

void TestSearchResultsPage::aBurstOfRepliesIsSortedOnceASecondLater()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SearchResultsForm* page = s.Search("burst");
    QTreeWidget* tree = page->searchResults();
    QSignalSpy sorts(tree->model(), &QAbstractItemModel::layoutChanged);
    QElapsedTimer since;
    since.start();
    for (int i = 0; i < 5; ++i)
        QVERIFY(s.Answer(QString("user%1").arg(i), page->Ticket(), {SearchReplyFile("f\\x.mp3", 1)}, i % 2, 0,
                         quint32(10 - i)));
    QCOMPARE(sorts.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(sorts.count(), 1, 5000);
    QVERIFY(since.elapsed() >= 1000);
    QCOMPARE(TopTexts(tree, User), QStringList({"user1", "user3", "user4", "user2", "user0"}));
    // The next burst gets its own sort, again a second later.
    QVERIFY(s.Answer("late", page->Ticket(), {SearchReplyFile("f\\x.mp3", 1)}, 1, 1024, 0));
    QCOMPARE(sorts.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(sorts.count(), 2, 5000);
    QCOMPARE(tree->topLevelItem(0)->text(User), QString("late"));
}

void TestSearchResultsPage::aDoubleClickQueuesTheFile()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SearchResultsForm* page = s.Search("giant steps");
    QVERIFY(s.Answer("alice", page->Ticket(),
                     {SearchReplyFile("music\\trane\\giant steps.mp3", 4000), SearchReplyFile("music\\trane\\naima.mp3", 5)}));
    QTreeWidget* tree = page->searchResults();
    QTreeWidgetItem* user = tree->topLevelItem(0);
    QTreeWidgetItem* folder = user->child(0);
    QTreeWidgetItem* file = folder->child(0);

    // A user or folder row only opens and closes.
    DoubleClick(tree, user);
    QVERIFY(!user->isExpanded());
    QCOMPARE(SearchPageFixture::Count("download_entry"), 0);
    user->setExpanded(true);
    DoubleClick(tree, folder);
    QCOMPARE(SearchPageFixture::Count("download_entry"), 0);
    folder->setExpanded(true);

    QVERIFY(file->icon(File).isNull());
    DoubleClick(tree, file);
    QCOMPARE(SearchPageFixture::Count("download_entry"), 1);
    ItemPtr entry = d.GetType("download_entry")->First();
    QCOMPARE(entry["user"].AsString(), QString("alice"));
    QCOMPARE(entry["file_name"].AsString(), QString("giant steps.mp3"));
    QCOMPARE(entry["remote_folder"].AsString(), QString("music\\trane"));
    QCOMPARE(entry["file_size"].AsInt64(), qint64(4000));
    QVERIFY(entry.IsConnected("single_download"));
    QCOMPARE(entry["subfolder_save_level"].AsInt(), 0);
    QCOMPARE(entry["search_request_text"].AsString(), QString("giant steps"));
    QVERIFY(!file->icon(File).isNull());
    QVERIFY(folder->child(1)->icon(File).isNull());
    // Again: the same download, linked again.
    DoubleClick(tree, file);
    QCOMPARE(SearchPageFixture::Count("download_entry"), 1);
}

void TestSearchResultsPage::theArrivalFilterTestsFolderThenFile()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SearchResultsForm* page = s.Search("filters");
    QTreeWidget* tree = page->searchResults();

    // Two words: one in the folder, the other in the name.
    page->filterEdit()->setText("trane naima");
    QVERIFY(s.Answer("alice", page->Ticket(),
                     {SearchReplyFile("jazz\\trane\\naima.mp3", 1), SearchReplyFile("jazz\\trane\\other.mp3", 1),
                      SearchReplyFile("jazz\\naima\\x.mp3", 1)}));
    QCOMPARE(ShownFiles(tree), QStringList({"naima.mp3"}));
    // A folder without a shown file is hidden, the user kept for the other.
    QVERIFY(tree->topLevelItem(0)->child(1)->isHidden());
    QVERIFY(!tree->topLevelItem(0)->isHidden());

    // No word matches across the seam of folder and file: "ab/x" + "yz"
    // holds "xyz" only when glued.
    page->filterEdit()->setText("xyz");
    QVERIFY(s.Answer("bob", page->Ticket(), {SearchReplyFile("x\\ab\\yz.mp3", 1)}));
    QVERIFY(tree->topLevelItem(1)->isHidden());

    // An excluded word in the folder hides the folder, and the user with it
    // when nothing else of theirs shows.
    page->filterEdit()->setText("-live");
    QVERIFY(s.Answer("carol", page->Ticket(), {SearchReplyFile("music\\Live at Birdland\\a.mp3", 1)}));
    QTreeWidgetItem* carol = tree->topLevelItem(2);
    QVERIFY(carol->child(0)->isHidden());
    QVERIFY(carol->isHidden());

    // Minimum files in a folder.
    page->filterEdit()->setText("mp3 mfif:2");
    QVERIFY(s.Answer("dave", page->Ticket(),
                     {SearchReplyFile("one\\a.mp3", 1), SearchReplyFile("two\\b.mp3", 1),
                      SearchReplyFile("two\\c.mp3", 1)}));
    QTreeWidgetItem* dave = tree->topLevelItem(3);
    QVERIFY(dave->child(0)->isHidden());
    QVERIFY(!dave->child(1)->isHidden());

    // Attributes come from the result behind the row.
    page->filterEdit()->setText("mbr:256");
    QVERIFY(s.Answer("erin", page->Ticket(),
                     {SearchReplyFile("f\\low.mp3", 1, {{0, 128}}), SearchReplyFile("f\\high.mp3", 1, {{0, 320}})}));
    QTreeWidgetItem* erin = tree->topLevelItem(4);
    QVERIFY(erin->child(0)->child(0)->isHidden());
    QVERIFY(!erin->child(0)->child(1)->isHidden());
}

void TestSearchResultsPage::theWishListAlertComesOnceAndNotWhileAllIsFiltered()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SetSetting("show_event_buttons", "yes");
    ItemPtr wish = d.GetType("wish_list_item")->GetItem("blue note");
    wish += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
    wish += d.GetType("wish_list_item_filter_text")->GetItem("flac");
    const unsigned int ticket = s.f->net.client->FileSearch("blue note", "blue note");

    QVERIFY(s.Answer("alice", ticket, {SearchReplyFile("a\\x.mp3", 1)}));
    QCOMPARE(s.WishTabs()->count(), 1);
    QCOMPARE(EventButtons(s.f->events, "blue note"), 0);
    QVERIFY(!s.f->events->IsBlinking());

    QVERIFY(s.Answer("bob", ticket, {SearchReplyFile("b\\y.flac", 1)}));
    QCOMPARE(EventButtons(s.f->events, "blue note"), 1);
    QVERIFY(s.f->events->PendingAlertIcons().contains(":/icons/wishlist_icon"));
    QVERIFY(s.Answer("carol", ticket, {SearchReplyFile("c\\z.flac", 1)}));
    QCOMPARE(EventButtons(s.f->events, "blue note"), 1);

    // Showing the page clears its events; later replies raise none.
    s.form->findChild<QTabWidget*>("tabWidget")->setCurrentIndex(1);
    QTRY_COMPARE(EventButtons(s.f->events, "blue note"), 0);
    s.form->findChild<QTabWidget*>("tabWidget")->setCurrentIndex(0);
    QVERIFY(s.Answer("dave", ticket, {SearchReplyFile("d\\w.flac", 1)}));
    QCOMPARE(EventButtons(s.f->events, "blue note"), 0);
}

void TestSearchResultsPage::discardingRepeatedResultsRecordsWhoAnswered()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    ItemPtr wish = d.GetType("wish_list_item")->GetItem("mingus");
    wish += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
    const unsigned int first = s.f->net.client->FileSearch("mingus", "mingus");
    QVERIFY(s.Answer("alice", first, {SearchReplyFile("a\\x.mp3", 1)}));
    // An answer to a later ticket of the same tab.
    const unsigned int second = s.f->net.client->FileSearch("mingus", "mingus");
    QVERIFY(s.Answer("bob", second, {SearchReplyFile("b\\y.mp3", 1)}));
    auto* page = qobject_cast<SearchResultsForm*>(s.WishTabs()->widget(0));
    auto* box = page->findChild<QCheckBox*>("discardRepeatedResultsBox");
    QVERIFY(!box->isHidden());
    QVERIFY(!box->isChecked());

    box->click();
    QVERIFY(wish.IsConnected("discard_repeated_results"));
    ItemPtr received = wish["received_results_from_users"];
    QVERIFY(received.IsConnected(d.GetType("user")->HasItem("alice")));
    QVERIFY(received.IsConnected(d.GetType("user")->HasItem("bob")));
    // alice's repeat is thrown away by peer messaging; carol is new.
    const unsigned int third = s.f->net.client->FileSearch("mingus", "mingus");
    QVERIFY(s.Send("alice", third, {SearchReplyFile("a\\again.mp3", 1)}));
    QVERIFY(s.Answer("carol", third, {SearchReplyFile("c\\z.mp3", 1)}));
    QCOMPARE(page->searchResults()->topLevelItemCount(), 3);
    QCOMPARE(page->searchResults()->topLevelItem(0)->child(0)->childCount(), 1);

    box->click();
    QVERIFY(!wish.IsConnected("discard_repeated_results"));
    QVERIFY(!wish["received_results_from_users"]);
    // A change made elsewhere shows on the page.
    wish += d.GetType("discard_repeated_results")->GetGlobalNullItem();
    QVERIFY(box->isChecked());
    wish.Disconnect("discard_repeated_results");
    QVERIFY(!box->isChecked());

    // A manual page has no such switch.
    QVERIFY(s.Search("manual")->findChild<QCheckBox*>("discardRepeatedResultsBox")->isHidden());
}

void TestSearchResultsPage::rowItemsGoWithThePage()
{
    SearchPageFixture s;
    QVERIFY(s.Start());
    SearchResultsForm* page = s.Search("nodes");
    QVERIFY(s.Answer("alice", page->Ticket(), {SearchReplyFile("a\\b.mp3", 1), SearchReplyFile("c\\d.mp3", 1)}));
    QVERIFY(SearchPageFixture::Count("search_result_node") == 2);
    const RowMirror::Key key = page->Rows().KeyOf(page->searchResults()->topLevelItem(0));
    QVERIFY(key);
    s.form->OnTabCloseRequested(0);
    for (const char* type : {"search_results_user_node", "search_results_folder_node", "search_result_node"})
        QVERIFY2(SearchPageFixture::Count(type) == 0, type);

    // A new page's rows may be made at the old rows' addresses; each finds
    // only its own node.
    page = s.Search("nodes again");
    QVERIFY(s.Answer("bob", page->Ticket(), {SearchReplyFile("e\\f.mp3", 1)}));
    QTreeWidgetItem* file = page->searchResults()->topLevelItem(0)->child(0)->child(0);
    QCOMPARE(page->ResultOf(file)["search_result_file_name"].AsString(), QString("f.mp3"));
    QCOMPARE(SearchPageFixture::Count("search_result_node"), 1);
}

QTEST_MAIN(TestSearchResultsPage)
#include "TestSearchResultsPage.moc"
