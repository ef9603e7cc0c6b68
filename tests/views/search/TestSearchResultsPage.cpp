// A results page: what its rows show, how they group and order, the sort
// once a second, downloads on a double click, the arrival filter, the
// wish-list alert and the "Discard Repeated Results" switch.
#include <QHeaderView>
#include <QMainWindow>
#include <QSignalSpy>
#include <QThread>

#include "EventToolBar.h"
#include "InkMargins.h"
#include "SearchPageFixture.h"
#include "search/SearchResultListItem.h"

namespace {

enum
{
    User,
    Free,
    Speed,
    Folder,
    File,
    Size,
    Attributes
};

QStringList Column(QTreeWidgetItem* parent, int column)
{
    QStringList texts;
    for (int i = 0; i < parent->childCount(); ++i)
        texts << parent->child(i)->text(column);
    return texts;
}

QList<QByteArray> Files(const QString& folder, const QStringList& names)
{
    QList<QByteArray> files;
    for (const QString& name : names)
        files << SearchReplyFile((folder + "\\" + name).toUtf8(), 1);
    return files;
}

// A press long enough after the last one to start a double click of its own.
void DoubleClick(QTreeWidget* tree, QTreeWidgetItem* row)
{
    const QPoint at = tree->visualItemRect(row).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at, QApplication::doubleClickInterval() + 50);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
}

// Each parent's rows in order.
QHash<QTreeWidgetItem*, QList<QTreeWidgetItem*>> Levels(QTreeWidget* tree)
{
    QHash<QTreeWidgetItem*, QList<QTreeWidgetItem*>> levels;
    QList<QTreeWidgetItem*> parents{tree->invisibleRootItem()};
    for (int p = 0; p < parents.size(); ++p) {
        QList<QTreeWidgetItem*>& rows = levels[parents[p]];
        for (int i = 0; i < parents[p]->childCount(); ++i)
            rows << parents[p]->child(i);
        parents += rows;
    }
    return levels;
}

QTreeWidgetItem* ChildWith(QTreeWidgetItem* parent, int column, const QString& text)
{
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(column) == text)
            return parent->child(i);
    return nullptr;
}

} // namespace

class TestSearchResultsPage : public QObject
{
    Q_OBJECT

private slots:
    void rowsShowAndGroupTheReplies()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("cells");
        const unsigned int t = page->Ticket();
        QVERIFY(s.Answer("alice", t,
                         {SearchReplyFile("music\\artist\\song.mp3", 3000000000ull, {{0, 320}, {1, 245}, {2, 1}}),
                          SearchReplyFile("music\\artist\\b.mp3", 1), SearchReplyFile("other\\c.mp3", 1)},
                         1, 1536, 0));
        QVERIFY(s.Answer("bob", t, {SearchReplyFile("music\\artist\\empty.txt", 0)}, 0, 0, 12));
        // A u32 speed above 2^31 still shows.
        QVERIFY(s.Answer("carol", t, Files("x", {"fast.mp3"}), 0, 3221225472u, 2));
        // alice again, with other figures: her row keeps the first ones.
        QVERIFY(s.Answer("alice", t, {SearchReplyFile("music\\artist\\e.mp3", 1)}, 0, 100, 9));

        QTreeWidget* tree = page->searchResults();
        QCOMPARE(Column(tree->invisibleRootItem(), User), QStringList({"alice", "bob", "carol"}));
        QCOMPARE(Column(tree->invisibleRootItem(), Free), QStringList({"Y", "12", "2"}));
        QCOMPARE(Column(tree->invisibleRootItem(), Speed), QStringList({"1.5", "", "3145728.0"}));
        QTreeWidgetItem* alice = tree->topLevelItem(0);
        QCOMPARE(alice->textAlignment(Free), int(Qt::AlignHCenter | Qt::AlignVCenter));
        QCOMPARE(Column(alice, Folder), QStringList({"artist/music", "other"}));
        QCOMPARE(Column(alice->child(0), File), QStringList({"song.mp3", "b.mp3", "e.mp3"}));
        QCOMPARE(alice->child(0)->child(0)->text(Size), QString("3,000,000,000"));
        QCOMPARE(alice->child(0)->child(0)->text(Attributes), QString("320 VBR, 4m5s"));
        // Two users' folders of the same path are two rows.
        QCOMPARE(Column(tree->topLevelItem(1), Folder), QStringList({"artist/music"}));
        QVERIFY(tree->topLevelItem(1)->child(0)->child(0)->text(Size).isEmpty());
        QCOMPARE(page->GetNodeUserNode(alice->child(0)->child(1)), alice);
        QCOMPARE(page->GetNodeUserNode(alice->child(1)), alice);

        // A length without a bitrate stands alone.
        QVERIFY(s.Answer("dave", t, {SearchReplyFile("talk\\speech.mp3", 1, {{1, 240}})}));
        const QList<QTreeWidgetItem*> dave = tree->findItems("dave", Qt::MatchExactly, User);
        QCOMPARE(dave.size(), 1);
        QCOMPARE(dave.first()->child(0)->child(0)->text(Attributes), QString("4m0s"));

        // Figures read at the right of their columns, names at the left.
        QVERIFY(QTest::qWaitForWindowExposed(s.f.window));
        QTreeWidgetItem* song = alice->child(0)->child(0);
        QTreeWidgetItem* small = ChildWith(alice->child(0), File, "b.mp3");
        QVERIFY(small);
        const Margins size = InkMargins(tree, small, Size);
        QVERIFY2(size.left >= 0 && size.right < size.left, qPrintable(QString("%1 %2").arg(size.left).arg(size.right)));
        const Margins speed = InkMargins(tree, alice, Speed);
        QVERIFY(speed.left >= 0 && speed.right < speed.left);
        const Margins file = InkMargins(tree, song, File);
        QVERIFY(file.left >= 0 && file.left < file.right);
    }

    void rowsOrderAsTheTableSaysAndSortingCreatesNothing()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("order");
        const unsigned int t = page->Ticket();
        QVERIFY(s.Answer("twelve", t, Files("f", {"x.mp3"}), 0, 90 * 1024, 12));
        QVERIFY(s.Answer("three", t, Files("f", {"x.mp3"}), 0, 10 * 1024, 3));
        QVERIFY(s.Answer("slowfree", t, Files("f", {"x.mp3"}), 1, 1024, 0));
        QVERIFY(s.Answer("fastfree", t,
                         {SearchReplyFile("f\\b.mp3", 2000000000ull, {{0, 320}}),
                          SearchReplyFile("f\\A.mp3", 3000000000ull, {{0, 128}}),
                          SearchReplyFile("f\\a.mp3", 5, {{0, 192}})},
                         1, 5 * 1024, 0));
        page->Sort();
        QTreeWidget* tree = page->searchResults();
        // Free slots first, fastest first among them; then 3 before 12, by
        // number; inside a folder by name, capitals first.
        QCOMPARE(Column(tree->invisibleRootItem(), User), QStringList({"fastfree", "slowfree", "three", "twelve"}));
        QTreeWidgetItem* folder = tree->topLevelItem(0)->child(0);
        QCOMPARE(Column(folder, File), QStringList({"A.mp3", "a.mp3", "b.mp3"}));

        const int nodes = SearchPageFixture::Count("search_result_node");
        const size_t items = d.ItemCount();
        // Largest first when ascending, 3,000,000,000 above 2,000,000,000.
        page->SetSortingParamters(Size, Qt::AscendingOrder);
        page->Sort();
        QCOMPARE(Column(folder, File), QStringList({"A.mp3", "b.mp3", "a.mp3"}));
        page->SetSortingParamters(Attributes, Qt::DescendingOrder);
        page->Sort();
        QCOMPARE(Column(folder, File), QStringList({"A.mp3", "a.mp3", "b.mp3"}));
        // User and folder rows have no file behind them: equal both ways,
        // and looking for one made no node.
        QTreeWidgetItem* a = tree->topLevelItem(0);
        QTreeWidgetItem* b = tree->topLevelItem(1);
        QVERIFY(!SearchResultListItem::LessThan(Size, *a, *b) && !SearchResultListItem::LessThan(Size, *b, *a));
        QVERIFY(!SearchResultListItem::LessThan(Speed, *a->child(0), *b->child(0)));
        QCOMPARE(SearchPageFixture::Count("search_result_node"), nodes);
        QCOMPARE(d.ItemCount(), items);
    }

    void flatRowsTieByFileNameAndSortByTheClickedColumn()
    {
        SearchPageFixture s;
        SetSetting("use_old_style_search_results", "yes");
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("flat");
        QVERIFY(s.Answer("alice", page->Ticket(), Files("f", {"b.mp3", "a.mp3", "c.mp3"}), 0, 1024, 4));
        QVERIFY(s.Answer("bob", page->Ticket(), Files("z", {"d.mp3"}), 1, 1024, 0));
        QTreeWidget* tree = page->searchResults();
        page->Sort();
        QCOMPARE(Column(tree->invisibleRootItem(), File), QStringList({"d.mp3", "a.mp3", "b.mp3", "c.mp3"}));

        QHeaderView* header = tree->header();
        const QPoint file(header->sectionViewportPosition(File) + 5, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, file);
        const QStringList once = Column(tree->invisibleRootItem(), File);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, file);
        QStringList twice = Column(tree->invisibleRootItem(), File);
        std::reverse(twice.begin(), twice.end());
        QCOMPARE(once, twice);
        QVERIFY(once == QStringList({"a.mp3", "b.mp3", "c.mp3", "d.mp3"}) ||
                twice == QStringList({"a.mp3", "b.mp3", "c.mp3", "d.mp3"}));
    }

    void aPageSortsAsItsRowsCompareOneByOneGroupedAndFlat()
    {
        for (const bool flat : {false, true}) {
            SearchPageFixture s;
            SetSetting("use_old_style_search_results", flat ? "yes" : "no");
            QVERIFY(s.f.Start());
            SearchResultsForm* page = s.Search("ties");
            // Names equal but for case, alike in their first letters, or
            // beyond the basic plane; equal and unequal sizes, bitrates,
            // speeds and queues, free slots and none.
            const QStringList names = {"Track 10.mp3", "track 1.mp3",   "track 2.mp3",         "A.mp3", "a.mp3",
                                       "b.mp3",        "\u00dcber.mp3", "\U0001d11e clef.mp3", "x",     "track 10.MP3"};
            for (int u = 0; u < 12; ++u) {
                QList<QByteArray> files;
                for (int i = 0; i < names.size(); ++i) {
                    const QString folder = u % 3 ? "Music\\Live" : "music\\live 2";
                    QList<QPair<quint32, quint32>> attributes;
                    if (i % 4)
                        attributes << qMakePair(0u, quint32(128 * (i % 3)));
                    // A peer's u64 past what a signed size holds, too.
                    const quint64 size = i == 8 ? ~0ull : quint64(1000 * (i % 3)) + (u % 2 ? 3000000000ull : 0);
                    files << SearchReplyFile((folder + "\\" + names[i]).toUtf8(), size, attributes);
                }
                const QString user = QString(u % 4 ? "User%1" : "user%1").arg(u % 5);
                QVERIFY(
                    s.Answer(user, page->Ticket(), files, quint8(u % 3 == 0), quint32((u % 2) * 1024), quint32(u % 4)));
            }
            QTreeWidget* tree = page->searchResults();
            for (int column = 0; column < SearchResultListItem::ColumnCount; ++column)
                for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
                    // What the tree's own sort makes of the rows compared one
                    // pair at a time.
                    QHash<QTreeWidgetItem*, QList<QTreeWidgetItem*>> expected = Levels(tree);
                    for (QList<QTreeWidgetItem*>& rows : expected)
                        std::stable_sort(rows.begin(), rows.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
                            return order == Qt::AscendingOrder ? SearchResultListItem::LessThan(column, *a, *b)
                                                               : SearchResultListItem::LessThan(column, *b, *a);
                        });
                    page->SetSortingParamters(column, order);
                    page->Sort();
                    QVERIFY2(
                        Levels(tree) == expected,
                        qPrintable(
                            QString("column %1, %2, order %3").arg(column).arg(flat ? "flat" : "grouped").arg(order)));
                }
        }
    }

    // The sort after arrivals sorts only the rows with new rows below them
    // and leaves the page as a whole sort would; after a sort by anyone
    // else, it sorts the whole page.
    void theSortAfterArrivalsLeavesThePageAsAWholeSortWould()
    {
        for (const bool flat : {false, true}) {
            SearchPageFixture s;
            SetSetting("use_old_style_search_results", flat ? "yes" : "no");
            QVERIFY(s.f.Start());
            SearchResultsForm* page = s.Search("order");
            QTreeWidget* tree = page->searchResults();
            auto answer = [&](int u, const QString& folder, const QStringList& names) {
                return s.Answer(QString("user%1").arg(u), page->Ticket(), Files(folder, names), quint8(u % 2),
                                quint32((u * 700) % 3000), quint32(u % 3));
            };
            // The page's whole sort, pair by pair, of the rows as they lie.
            auto whole = [&] {
                QHash<QTreeWidgetItem*, QList<QTreeWidgetItem*>> levels = Levels(tree);
                for (QList<QTreeWidgetItem*>& rows : levels)
                    std::stable_sort(rows.begin(), rows.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
                        return page->SortOrder() == Qt::AscendingOrder
                                   ? SearchResultListItem::LessThan(page->SortColumn(), *a, *b)
                                   : SearchResultListItem::LessThan(page->SortColumn(), *b, *a);
                    });
                return levels;
            };
            auto sortsAsAWhole = [&](const char* when) {
                const QHash<QTreeWidgetItem*, QList<QTreeWidgetItem*>> expected = whole();
                QMetaObject::invokeMethod(page, "SortArrivals");
                return QTest::qWaitFor([&] { return !page->SortJob().IsRunning(); }) && Levels(tree) == expected
                           ? QString()
                           : QString("%1, %2").arg(when, flat ? "flat" : "grouped");
            };
            for (int u = 0; u < 6; ++u)
                QVERIFY(answer(u, u % 2 ? "b\\live" : "a\\studio", {"t 3.mp3", "T 1.mp3", "x.mp3", "t 20.mp3"}));
            QCOMPARE(sortsAsAWhole("first"), QString());
            // Again for two users, into a folder they had and one new; and
            // a new user.
            QVERIFY(answer(2, "a\\studio", {"a.mp3", "z.mp3"}));
            QVERIFY(answer(2, "c\\demo", {"q.mp3", "b.mp3"}));
            QVERIFY(answer(3, "b\\live", {"t 2.mp3"}));
            QVERIFY(answer(7, "a\\studio", {"m.mp3", "c.mp3"}));
            QCOMPARE(sortsAsAWhole("after more"), QString());
            tree->sortItems(File, Qt::AscendingOrder);
            QVERIFY(answer(8, "d", {"e.mp3"}));
            QCOMPARE(sortsAsAWhole("after another sort"), QString());
        }
    }

    void aBurstOfRepliesIsSortedOnceASecondLater_data()
    {
        QTest::addColumn<bool>("held");
        QTest::newRow("together") << false;
        // The loop held up after the first reply for longer than the sort
        // waits, as a loaded machine may hold it: the sort that reply asked
        // for may come before the others are in, and they have one of their
        // own.
        QTest::newRow("held after the first") << true;
    }

    void aBurstOfRepliesIsSortedOnceASecondLater()
    {
        QFETCH(bool, held);
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("burst");
        QTreeWidget* tree = page->searchResults();
        // What the page met, in order, and when each sort came.
        QStringList events;
        QList<qint64> sortedAt;
        QElapsedTimer since;
        QObject watch;
        connect(s.f.net.peer, &PeerMessenger::SearchResults, &watch, [&] {
            events << "reply";
            if (held && events.size() == 1)
                QThread::msleep(2500);
        });
        connect(tree->model(), &QAbstractItemModel::layoutChanged, &watch, [&] {
            events << "sort";
            sortedAt << since.elapsed();
        });
        // A sort only for rows that came since the last one, however the
        // replies fall between sorts: never one per reply, nor one more.
        auto sortsFollowReplies = [&] { return events.value(0) == "reply" && !events.join(' ').contains("sort sort"); };
        auto sortedAfter = [&](int replies) { return events.count("reply") == replies && events.last() == "sort"; };

        // Connected first, so that the replies go out together as a burst.
        for (int i = 0; i < 5; ++i)
            QVERIFY(s.Link(QString("user%1").arg(i)));
        since.start();
        for (int i = 0; i < 5; ++i)
            QVERIFY(s.Answer(QString("user%1").arg(i), page->Ticket(), Files("f", {"x.mp3"}), i % 2, 0, quint32(10 - i),
                             false));
        QTRY_VERIFY2_WITH_TIMEOUT(sortedAfter(5), qPrintable(events.join(' ')), 30000);
        QVERIFY2(sortsFollowReplies(), qPrintable(events.join(' ')));
        QVERIFY2(sortedAt.first() >= 1000, qPrintable(QString::number(sortedAt.first())));
        QCOMPARE(Column(tree->invisibleRootItem(), User), QStringList({"user1", "user3", "user4", "user2", "user0"}));
        // The next burst has a sort of its own, again a second later.
        QVERIFY(s.Link("late"));
        since.restart();
        QVERIFY(s.Answer("late", page->Ticket(), Files("f", {"x.mp3"}), 1, 1024, 0, false));
        QTRY_VERIFY2_WITH_TIMEOUT(sortedAfter(6), qPrintable(events.join(' ')), 30000);
        QVERIFY2(sortsFollowReplies(), qPrintable(events.join(' ')));
        QVERIFY2(sortedAt.last() >= 1000, qPrintable(QString::number(sortedAt.last())));
        QCOMPARE(tree->topLevelItem(0)->text(User), QString("late"));
    }

    // The sort after arrivals and the take-out of rows given back, both due
    // on one turn, change the rows on turns of their own, so that the view
    // lays out between them rather than after both: the take-out on the
    // turn, the sort on the next, and still sorted.
    void theSortAndATakeOutDueTogetherGoOnTurnsOfTheirOwn()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("turns");
        const unsigned int t = page->Ticket();
        QTreeWidget* tree = page->searchResults();
        QSignalSpy arrivalsSorted(tree->model(), &QAbstractItemModel::layoutChanged);
        QVERIFY(s.Answer("busy", t, Files("f", {"x.mp3"}), 0, 1024, 9));
        QVERIFY(s.Answer("gone", t, Files("g", {"y.mp3", "z.mp3"})));
        QVERIFY(s.Answer("free", t, Files("f", {"x.mp3"}), 1, 2048, 0));
        // The replies' own sort over first, so that only the one below is due.
        QTRY_COMPARE_WITH_TIMEOUT(arrivalsSorted.count(), 1, 30000);
        tree->sortItems(User, Qt::AscendingOrder);
        QTreeWidgetItem* gone = tree->findItems("gone", Qt::MatchExactly, User).value(0);
        QVERIFY(gone);
        ItemList given;
        for (int i = 0; i < gone->child(0)->childCount(); ++i)
            given.push_back(page->ResultOf(gone->child(0)->child(i)));

        int turn = 0;
        QTimer turns;
        turns.setInterval(0);
        connect(&turns, &QTimer::timeout, this, [&] { ++turn; });
        int sortedOn = -1;
        int takenOutOn = -1;
        connect(tree->model(), &QAbstractItemModel::layoutChanged, this, [&] { sortedOn = turn; });
        connect(tree->model(), &QAbstractItemModel::rowsRemoved, this, [&] { takenOutOn = turn; });
        turns.start();
        page->RemoveSearchResults(given);
        // The sort's delay ends on the take-out's turn.
        QTimer sortDue;
        sortDue.setSingleShot(true);
        sortDue.setInterval(0);
        connect(&sortDue, &QTimer::timeout, page, [page] { QMetaObject::invokeMethod(page, "SortArrivals"); });
        sortDue.start();
        QTRY_VERIFY(sortedOn >= 0 && takenOutOn >= 0);
        QVERIFY(sortedOn != takenOutOn);
        QCOMPARE(Column(tree->invisibleRootItem(), User), QStringList({"free", "busy"}));
    }

    void aDoubleClickQueuesTheFileAndOnlyAFile()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("giant steps");
        QVERIFY(s.Answer(
            "alice", page->Ticket(),
            {SearchReplyFile("jazz\\trane\\giant steps.mp3", 4000), SearchReplyFile("jazz\\trane\\naima.mp3", 5)}));
        QTreeWidget* tree = page->searchResults();
        QTreeWidgetItem* user = tree->topLevelItem(0);
        QTreeWidgetItem* file = user->child(0)->child(0);
        // A user or folder row only opens or closes.
        DoubleClick(tree, user->child(0));
        QVERIFY(!user->child(0)->isExpanded());
        DoubleClick(tree, user);
        QVERIFY(!user->isExpanded());
        QCOMPARE(SearchPageFixture::Count("download_entry"), 0);

        tree->expandAll();
        DoubleClick(tree, file);
        QCOMPARE(SearchPageFixture::Count("download_entry"), 1);
        ItemPtr entry = d.GetType("download_entry")->First();
        QCOMPARE(entry["user"].AsString() + "|" + entry["remote_folder"].AsString() + "|" +
                     entry["file_name"].AsString(),
                 QString("alice|jazz\\trane|giant steps.mp3"));
        QCOMPARE(entry["file_size"].AsInt64(), qint64(4000));
        QVERIFY(entry.IsConnected("single_download"));
        QCOMPARE(entry["subfolder_save_level"].AsInt(), 0);
        QCOMPARE(entry["search_request_text"].AsString(), QString("giant steps"));
        QVERIFY(!file->icon(File).isNull());
        QVERIFY(user->child(0)->child(1)->icon(File).isNull());
    }

    void aRowsMenuActsOnItsUser()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("naima");
        QVERIFY(s.Answer("alice", page->Ticket(), {SearchReplyFile("jazz\\trane\\naima.mp3", 5)}));
        QTreeWidget* tree = page->searchResults();
        tree->expandAll();
        QTreeWidgetItem* file = tree->topLevelItem(0)->child(0)->child(0);
        const QPoint at = tree->visualItemRect(file).center();
        const QStringList shown =
            ViewFixture::ChooseFromMenu([&] { emit tree->customContextMenuRequested(at); }, "Ignore user");
        QCOMPARE(shown.first(), QString("Download File(s)"));
        QVERIFY(shown.contains("Message user"));
        QVERIFY(d.GetType("user")->GetItem("alice").IsConnected("is_ignored"));
    }

    void theArrivalFilterTestsFolderThenFile()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("filters");
        QTreeWidget* tree = page->searchResults();
        auto hidden = [tree](int user, int folder, int file = -1) {
            QTreeWidgetItem* row = tree->topLevelItem(user);
            row = folder < 0 ? row : row->child(folder);
            return (file < 0 ? row : row->child(file))->isHidden();
        };
        // One word in the folder, the other in the name; a folder without a
        // shown file goes, its user stays for the other.
        page->filterEdit()->setText("trane naima");
        QVERIFY(s.Answer("alice", page->Ticket(),
                         Files("jazz\\trane", {"naima.mp3", "x.mp3"}) + Files("naima", {"y.mp3"})));
        QVERIFY(!hidden(0, 0, 0) && hidden(0, 0, 1) && hidden(0, 1) && !hidden(0, -1));
        // No word across the seam: "ab/x" and "yz" hold "xyz" only glued.
        page->filterEdit()->setText("xyz");
        QVERIFY(s.Answer("bob", page->Ticket(), Files("x\\ab", {"yz.mp3"})));
        QVERIFY(hidden(1, -1));
        // An excluded word in the folder, in any case, hides the user too.
        page->filterEdit()->setText("-live");
        QVERIFY(s.Answer("carol", page->Ticket(), Files("music\\Live at Birdland", {"a.mp3"})));
        QVERIFY(hidden(2, 0) && hidden(2, -1));
        page->filterEdit()->setText("mp3 mfif:2");
        QVERIFY(s.Answer("dave", page->Ticket(), Files("one", {"a.mp3"}) + Files("two", {"b.mp3", "c.mp3"})));
        QVERIFY(hidden(3, 0) && !hidden(3, 1));
        // Attribute conditions read the result behind the row.
        page->filterEdit()->setText("mbr:256");
        QVERIFY(
            s.Answer("erin", page->Ticket(),
                     {SearchReplyFile("f\\low.mp3", 1, {{0, 128}}), SearchReplyFile("f\\high.mp3", 1, {{0, 320}})}));
        QVERIFY(hidden(4, 0, 0) && !hidden(4, 0, 1));
    }

    void theWishListAlertComesOnceAndNotWhileAllIsFiltered()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SetSetting("show_event_buttons", "yes");
        const unsigned int ticket = s.WishListSearch("blue note", "flac");
        auto buttons = [&s] { return s.AlertButtons("blue note"); };
        QVERIFY(s.Answer("alice", ticket, Files("a", {"x.mp3"})));
        QCOMPARE(s.WishTabs()->count(), 1);
        QCOMPARE(buttons(), 0);
        QVERIFY(!s.f.events->IsBlinking());
        QVERIFY(s.Answer("bob", ticket, Files("b", {"y.flac"})));
        QCOMPARE(buttons(), 1);
        QVERIFY(s.f.events->PendingAlertIcons().contains(":/icons/wishlist_icon"));
        QVERIFY(s.Answer("carol", ticket, Files("c", {"z.flac"})));
        QCOMPARE(buttons(), 1);
        // Showing the page clears its events; later replies raise none.
        s.form->findChild<QTabWidget*>("tabWidget")->setCurrentIndex(1);
        QTRY_COMPARE(buttons(), 0);
        s.form->findChild<QTabWidget*>("tabWidget")->setCurrentIndex(0);
        QVERIFY(s.Answer("dave", ticket, Files("d", {"w.flac"})));
        QCOMPARE(buttons(), 0);
    }

    void discardingRepeatedResultsRecordsWhoAnswered()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        QVERIFY(s.Answer("alice", s.WishListSearch("mingus"), Files("a", {"x.mp3"})));
        // bob answers a later ticket of the same tab.
        QVERIFY(s.Answer("bob", s.WishListSearch("mingus"), Files("b", {"y.mp3"})));
        ItemPtr wish = d.GetType("wish_list_item")->HasItem("mingus");
        auto* box = s.WishPage(0)->findChild<QCheckBox*>("discardRepeatedResultsBox");
        QVERIFY(!box->isHidden() && !box->isChecked());

        box->click();
        ItemPtr received = wish["received_results_from_users"];
        QVERIFY(wish.IsConnected("discard_repeated_results"));
        QCOMPARE(received.CountItems("user"), 2);
        // alice's repeat is thrown away by peer messaging; carol is new.
        const unsigned int third = s.WishListSearch("mingus");
        QVERIFY(s.Send("alice", third, Files("a", {"again.mp3"})) && s.Answer("carol", third, Files("c", {"z.mp3"})));
        QCOMPARE(s.WishPage(0)->searchResults()->topLevelItem(0)->child(0)->childCount(), 1);

        box->click();
        QVERIFY(!wish.IsConnected("discard_repeated_results") && !wish["received_results_from_users"]);
        // A change made elsewhere shows on the page.
        wish += d.GetType("discard_repeated_results")->GetGlobalNullItem();
        QVERIFY(box->isChecked());
        wish.Disconnect("discard_repeated_results");
        QVERIFY(!box->isChecked());
        QVERIFY(s.Search("manual")->findChild<QCheckBox*>("discardRepeatedResultsBox")->isHidden());
    }
};

QTEST_MAIN(TestSearchResultsPage)
#include "TestSearchResultsPage.moc"
