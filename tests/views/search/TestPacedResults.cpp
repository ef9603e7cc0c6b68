// A results page of many rows, which changes its rows at a pace of its own
// while answers keep coming, as its user sees it: rows of many users that
// waited go in together, each user's filtered; a flat page's rows wait, go
// in filtered and sorted, and leave when given back; the rows that waited
// are sorted in as a whole sort would place them, by any column either
// way; their folders open or closed as the Expand Folders switch was last
// set while they waited; rows given back leave on the page's own clock
// with nothing else to wake it; and a user giving rows back while its new
// rows arrive from another address shows just what the search still keeps.
#include <QTreeWidget>
#include <functional>

#include "Data.h"
#include "PacedPageHelpers.h"
#include "PeerNames.h"
#include "SearchPageFixture.h"
#include "SearchResultIntake.h"
#include "ServerNames.h"
#include "Settings.h"
#include "search/SearchResultListItem.h"
#include "search/SearchResultPacer.h"

namespace {

const qint64 kArrivals = SearchResultPacer::ArrivalSpacingMs;
const qint64 kChange = SearchResultPacer::ChangeSpacingMs;

// A page paced from its first row, by a clock the test moves.
struct PacedPage
{
    SearchPageFixture s;
    qint64 now = 0;
    SearchResultIntake* intake = nullptr;
    SearchResultsForm* page = nullptr;

    bool Start(bool flat = false)
    {
        if (!s.f.Start())
            return false;
        SetSetting("use_old_style_search_results", flat ? "yes" : "no");
        intake = s.f.net.peer->findChild<SearchResultIntake*>();
        page = PacedSearch(s, "paced", now);
        return intake && page;
    }
    QTreeWidget* Tree() const { return page->searchResults(); }

    // A reply of the files ("folder\\name", each of a size of its own) read
    // as peer messaging reads one, from the user at 127.3.0.address, with
    // a free slot unless others are queued.
    void Take(const QString& user, int address, const QStringList& paths, quint32 queued = 0)
    {
        PeerMessages::SearchReplyBody body;
        body.token = page->Ticket();
        body.freeSlot = queued == 0;
        body.queued = queued;
        body.speed = quint32(1000 * address);
        for (const QString& path : paths)
            body.files.emplace_back(path.toStdString(), 1000 + qHash(path, 0) % 100000);
        intake->Take({user, QString("127.3.0.%1").arg(address)}, body);
    }

    // The clock moved on, and the page's change then due.
    void Change(qint64 by)
    {
        now += by;
        QMetaObject::invokeMethod(page, "ChangeRowsDue");
    }
};

// The rows depth first in the tree's order, each as its path ("user",
// "user/folder", "user/folder/file"; a flat row "user/folder/file"),
// marked when the filter hides it; or only the rows the user can see.
QStringList Rows(QTreeWidget* tree, bool shownOnly = false)
{
    QStringList rows;
    std::function<void(const QTreeWidgetItem*, const QString&)> walk = [&](const QTreeWidgetItem* parent,
                                                                           const QString& path) {
        for (int i = 0; i < parent->childCount(); ++i) {
            const QTreeWidgetItem* row = parent->child(i);
            if (shownOnly && row->isHidden())
                continue;
            QStringList texts;
            if (!path.isEmpty())
                texts << path;
            for (const int column : {SearchResultListItem::UserColumn, SearchResultListItem::FolderColumn,
                                     SearchResultListItem::FileColumn})
                if (!row->text(column).isEmpty())
                    texts << row->text(column);
            rows << texts.join('/') + (row->isHidden() ? " hidden" : "");
            walk(row, texts.join('/'));
        }
    };
    walk(tree->invisibleRootItem(), QString());
    return rows;
}

QStringList Sorted(QStringList texts)
{
    texts.sort();
    return texts;
}

// A user's results as "folder/file": those the store keeps, and those
// the page shows a row of.
QStringList Kept(const QString& user)
{
    QStringList kept;
    for (const ItemPtr& result : d.GetType(PeerNames::SearchResult)->GetItems())
        if (result[PeerNames::SearchResults][ServerNames::User].AsString() == user)
            kept << result[PeerNames::SearchResultFileFolder].AsString() + "/" +
                        result[PeerNames::SearchResultFileName].AsString();
    return Sorted(kept);
}

QStringList RowsOf(SearchResultsForm* page, const QString& user)
{
    QStringList rows;
    for (const QTreeWidgetItem* row : FilesOf(page, user))
        rows << row->parent()->text(SearchResultListItem::FolderColumn) + "/" +
                    row->text(SearchResultListItem::FileColumn);
    return Sorted(rows);
}

} // namespace

class TestPacedResults : public QObject
{
    Q_OBJECT

private slots:
    // Replies of five users wait, two users' rows all hidden by the filter
    // and the others' in part; they go in at one change, and each user's
    // rows are filtered as a whole page would be.
    void rowsThatWaitedGoInTogetherFilteredForEveryUser()
    {
        PacedPage p;
        QVERIFY(p.Start());
        p.Take("alice", 1, {"x\\1.mp3", "x\\2.mp3"});
        p.page->filterEdit()->setText("-9");
        QTRY_VERIFY_WITH_TIMEOUT(!p.page->IsFiltering(), 30000);
        p.Take("bob", 2, {"keep\\1.mp3", "keep\\9.mp3", "all9\\1.mp3"});
        p.Take("carol", 3, {"c\\9.mp3", "c\\19.mp3"});
        p.Take("dave", 4, {"d9\\1.mp3"});
        p.Take("alice", 1, {"x\\9.mp3", "y\\3.mp3", "y\\39.mp3"});
        p.Take("erin", 5, {"e\\5.mp3"});
        QCOMPARE(p.page->WaitingArrivals(), 10);

        p.Change(kArrivals);
        QCOMPARE(p.page->WaitingArrivals(), 0);
        QCOMPARE(Sorted(Rows(p.Tree(), true)),
                 QStringList({"alice", "alice/x", "alice/x/1.mp3", "alice/x/2.mp3", "alice/y", "alice/y/3.mp3", "bob",
                              "bob/keep", "bob/keep/1.mp3", "erin", "erin/e", "erin/e/5.mp3"}));
        QCOMPARE(p.Tree()->topLevelItemCount(), 5);
    }

    // Given back as peer messaging gives results back, but with no answer
    // coming with them: nothing else wakes the page, whose own timer must
    // take the rows out.
    void rowsGivenBackLeaveOnThePagesOwnClock()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        auto* intake = s.f.net.peer->findChild<SearchResultIntake*>();
        SearchResultsForm* page = s.Search("clock");
        QVERIFY(intake && page);
        page->SetPacedRows(1);
        PeerMessages::SearchReplyBody body;
        body.token = page->Ticket();
        for (const char* path : {"a\\0.mp3", "a\\1.mp3", "a\\2.mp3", "b\\0.mp3", "b\\1.mp3"})
            body.files.emplace_back(path, 1000);
        intake->Take({"harlan", "127.3.0.1"}, body);
        // The sort after the rows went in, first, lest its timer take the
        // rows out too.
        QTRY_VERIFY_WITH_TIMEOUT(!page->ChangesWait(), 30000);

        ItemList gone;
        for (QTreeWidgetItem* row : FilesOf(page, "harlan"))
            if (row->parent()->text(SearchResultListItem::FolderColumn) == "b" ||
                row->text(SearchResultListItem::FileColumn) == "2.mp3")
                gone.push_back(page->ResultOf(row));
        QCOMPARE(int(gone.size()), 3);
        emit s.f.net.peer->GivingUpSearchResults(gone.front()[PeerNames::SearchResults], gone);
        {
            Data::Batch batch(&d);
            for (ItemPtr result : gone)
                result.Remove();
        }
        QCOMPARE(page->WaitingGivenBack(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(!page->ChangesWait(), 30000);
        QCOMPARE(Rows(page->searchResults()), QStringList({"harlan", "harlan/a", "harlan/a/0.mp3", "harlan/a/1.mp3"}));
        QCOMPARE(SearchPageFixture::Count("search_result_node"), 2);
    }

    // Flat rows by file name: those that waited go in sorted among the
    // others and filtered; then two given back leave, while the answer
    // that took their places waits to go in.
    void aFlatPagesRowsWaitGoInFilteredAndSortedAndLeaveWhenGivenBack()
    {
        PacedPage p;
        QVERIFY(p.Start(true));
        p.s.Bounds(10, 3, 10000);
        p.Take("alice", 1, {"a\\0.mp3", "a\\19.mp3", "a\\5.mp3", "a\\7.mp3", "a\\6.mp3"});
        p.page->filterEdit()->setText("-9");
        QTRY_VERIFY_WITH_TIMEOUT(!p.page->IsFiltering(), 30000);
        p.page->SetSortingParamters(SearchResultListItem::FileColumn, Qt::AscendingOrder);
        p.page->Sort();
        p.Take("bob", 2, {"b\\3.mp3", "b\\9.mp3", "b\\1.mp3"});
        p.Take("carol", 3, {"c\\2.mp3", "c\\8.mp3"});
        QCOMPARE(p.page->WaitingArrivals(), 5);
        QCOMPARE(p.Tree()->topLevelItemCount(), 5);

        p.Change(kArrivals);
        QCOMPARE(Rows(p.Tree()), QStringList({"alice/a/0.mp3", "bob/b/1.mp3", "alice/a/19.mp3 hidden", "carol/c/2.mp3",
                                              "bob/b/3.mp3", "alice/a/5.mp3", "alice/a/6.mp3", "alice/a/7.mp3",
                                              "carol/c/8.mp3", "bob/b/9.mp3 hidden"}));

        // dave takes back the two places alice holds past her share.
        p.Take("dave", 4, {"d\\4.mp3", "d\\10.mp3"});
        QCOMPARE(p.page->WaitingGivenBack(), 2);
        for (int changes = 0; changes < 6 && p.page->ChangesWait(); ++changes)
            p.Change(kChange);
        QVERIFY(!p.page->ChangesWait());
        QCOMPARE(Rows(p.Tree()),
                 QStringList({"alice/a/0.mp3", "bob/b/1.mp3", "dave/d/10.mp3", "alice/a/19.mp3 hidden", "carol/c/2.mp3",
                              "bob/b/3.mp3", "dave/d/4.mp3", "alice/a/5.mp3", "carol/c/8.mp3", "bob/b/9.mp3 hidden"}));
        QCOMPARE(SearchPageFixture::Count("search_result_node"), 10);
    }

    // The sort after arrivals sorts only the rows with new rows below them:
    // by whatever column and order the page was last sorted, the page ends
    // as a whole sort leaves it.
    void rowsThatWaitedAreSortedInAsAWholeSortWould_data()
    {
        QTest::addColumn<bool>("flat");
        QTest::addColumn<int>("column");
        QTest::addColumn<Qt::SortOrder>("order");
        for (const bool flat : {false, true})
            for (const int column : {int(SearchResultListItem::FileColumn), int(SearchResultListItem::SizeColumn)})
                for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder})
                    QTest::addRow("%s %s %s", flat ? "flat" : "grouped",
                                  column == SearchResultListItem::FileColumn ? "file" : "size",
                                  order == Qt::AscendingOrder ? "ascending" : "descending")
                        << flat << column << order;
    }
    void rowsThatWaitedAreSortedInAsAWholeSortWould()
    {
        QFETCH(bool, flat);
        QFETCH(int, column);
        QFETCH(Qt::SortOrder, order);
        PacedPage p;
        QVERIFY(p.Start(flat));
        p.Take("alice", 1, {"music\\B.mp3", "music\\a.mp3", "music\\c 10.mp3", "live\\x.mp3"}, 5);
        p.page->SetSortingParamters(column, order);
        p.page->Sort();
        // New rows in a folder that had some, in new folders of a user
        // that had rows, and of new users, some free and some queued.
        p.Take("bob", 2, {"b\\Z.mp3", "b\\y.mp3", "b\\A.mp3"});
        p.Take("alice", 1, {"music\\b2.mp3", "music\\C 2.mp3", "live\\w.mp3", "new\\k.mp3", "new\\K2.mp3"}, 5);
        p.Take("carol", 3, {"c\\m.mp3", "c\\N.mp3"}, 1);
        QCOMPARE(p.page->WaitingArrivals(), 10);

        p.Change(kArrivals);
        QVERIFY(!p.page->ChangesWait());
        const QStringList sortedIn = Rows(p.Tree());
        QCOMPARE(sortedIn.size(), flat ? 14 : 22);
        p.page->Sort();
        QCOMPARE(sortedIn, Rows(p.Tree()));
    }

    // Rows wait while the user turns Expand Folders off, and maybe on and
    // off again: once they are in, every folder row is open or closed as
    // the switch was last set, and every row is there once.
    void foldersThatWaitedOpenAsTheSwitchWasLastSet_data()
    {
        QTest::addColumn<int>("switches");
        QTest::newRow("off") << 1;
        QTest::newRow("off and on") << 2;
        QTest::newRow("off, on and off") << 3;
    }
    void foldersThatWaitedOpenAsTheSwitchWasLastSet()
    {
        QFETCH(int, switches);
        PacedPage p;
        QVERIFY(p.Start());
        p.Take("alice", 1, {"a\\1.mp3", "a\\2.mp3", "b\\1.mp3"});
        p.Take("alice", 1, {"a\\3.mp3", "c\\1.mp3"});
        p.Take("bob", 2, {"d\\1.mp3", "e\\1.mp3"});
        p.Take("carol", 3, {"f\\1.mp3"});
        QCOMPARE(p.page->WaitingArrivals(), 5);
        for (int i = 0; i < switches; ++i)
            QVERIFY(p.s.Trigger(p.page, i % 2 ? "Expand Folders [off]" : "Expand Folders [on]"));
        QTRY_VERIFY_WITH_TIMEOUT(!p.page->IsExpanding(), 30000);

        p.Change(kArrivals);
        QTRY_VERIFY_WITH_TIMEOUT(!p.page->IsExpanding(), 30000);
        QCOMPARE(p.page->WaitingArrivals(), 0);
        QCOMPARE(Sorted(Rows(p.Tree())),
                 QStringList({"alice", "alice/a", "alice/a/1.mp3", "alice/a/2.mp3", "alice/a/3.mp3", "alice/b",
                              "alice/b/1.mp3", "alice/c", "alice/c/1.mp3", "bob", "bob/d", "bob/d/1.mp3", "bob/e",
                              "bob/e/1.mp3", "carol", "carol/f", "carol/f/1.mp3"}));
        const bool open = switches % 2 == 0;
        QStringList folders;
        QStringList expected;
        for (int u = 0; u < p.Tree()->topLevelItemCount(); ++u) {
            QTreeWidgetItem* user = p.Tree()->topLevelItem(u);
            QVERIFY(user->isExpanded());
            for (int f = 0; f < user->childCount(); ++f) {
                const QString folder = user->child(f)->text(SearchResultListItem::FolderColumn);
                folders << folder + (user->child(f)->isExpanded() ? " open" : " closed");
                expected << folder + (open ? " open" : " closed");
            }
        }
        QCOMPARE(folders, expected);
    }

    // harlan's newer reply from his first address given back whole, and
    // of his reply from a second address the rows still waiting, while
    // the rest of it and two answers that took his places wait to go in;
    // they go in before the take-out or after it. His one user row ends
    // with just the results the search keeps of his.
    void aUserShowsWhatTheSearchKeepsOfHimAnsweringFromTwoAddresses_data()
    {
        QTest::addColumn<bool>("inFirst");
        QTest::newRow("rows in, then out") << true;
        QTest::newRow("rows out, then in") << false;
    }
    void aUserShowsWhatTheSearchKeepsOfHimAnsweringFromTwoAddresses()
    {
        QFETCH(bool, inFirst);
        PacedPage p;
        QVERIFY(p.Start());
        p.s.Bounds(18, 5, 10000);
        TakeReply(p.intake, p.page->Ticket(), "harlan", 1, "a", 6);
        TakeReply(p.intake, p.page->Ticket(), "harlan", 1, "z", 4);
        p.Change(kArrivals);
        QCOMPARE(FilesOf(p.page, "harlan").size(), 10);

        // The search full with his rows from another address, bob takes
        // back the four of his newest reply, and carol three of those
        // still waiting.
        TakeReply(p.intake, p.page->Ticket(), "harlan", 2, "b", 8);
        TakeReply(p.intake, p.page->Ticket(), "bob", 4, "u", 4);
        TakeReply(p.intake, p.page->Ticket(), "carol", 5, "c", 3);
        QCOMPARE(Kept("harlan"), QStringList({"a/0.mp3", "a/1.mp3", "a/2.mp3", "a/3.mp3", "a/4.mp3", "a/5.mp3",
                                              "b/0.mp3", "b/1.mp3", "b/2.mp3", "b/3.mp3", "b/4.mp3"}));
        QCOMPARE(p.page->WaitingGivenBack(), 4);
        QCOMPARE(p.page->WaitingArrivals(), 5 + 4 + 3);

        p.Change(inFirst ? kArrivals : kChange);
        p.Change(inFirst ? kChange : kArrivals);
        QVERIFY(!p.page->ChangesWait());
        QCOMPARE(RowsOf(p.page, "harlan"), Kept("harlan"));
        QCOMPARE(p.Tree()->findItems("harlan", Qt::MatchExactly, SearchResultListItem::UserColumn).size(), 1);
        QCOMPARE(FilesOf(p.page, "bob").size(), 4);
        QCOMPARE(FilesOf(p.page, "carol").size(), 3);
        QCOMPARE(SearchPageFixture::Count("search_result_node"), SearchPageFixture::Count("search_result"));
    }
};

QTEST_MAIN(TestPacedResults)
#include "TestPacedResults.moc"
