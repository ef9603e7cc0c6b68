// A results page under more replies than one search keeps: the rows of
// the results kept and a plain line saying how many were left out and why;
// a big sharer shown whole while the search has room, giving its newest
// rows up to everyone after once it is full, the page staying as if they
// had never come, in one removal from a user row however many replies
// took its places in a turn; and a large reply shown whole, in its one
// folder, once its parts are in.
#include <QLabel>
#include <QMap>
#include <QSet>

#include "PacedPageHelpers.h"
#include "SearchPageFixture.h"
#include "SearchResultIntake.h"
#include "Settings.h"
#include "search/SearchResultListItem.h"
#include "search/SearchResultPacer.h"

namespace {
QList<QByteArray> Numbered(const QString& folder, int first, int count)
{
    QStringList names;
    for (int i = first; i < first + count; ++i)
        names << QString("%1.mp3").arg(i);
    return SearchPageFixture::Files(folder, names);
}

QLabel* LeftOut(SearchResultsForm* page)
{
    return page->findChild<QLabel*>("leftOutLabel");
}

// A user row's file rows, folder by folder.
int FileRows(QTreeWidgetItem* user)
{
    int files = 0;
    for (int i = 0; i < user->childCount(); ++i)
        files += user->child(i)->childCount();
    return files;
}

QString Why(const QString& limit, const QString& perUser)
{
    return QString("a search keeps at most %1, and once it is full, results past %2 per user or 10,000 per address "
                   "make room for others.")
        .arg(limit, perUser);
}
} // namespace

class TestResultsBound : public QObject
{
    Q_OBJECT

private slots:
    void resultsPastTheBoundAreLeftOutAndThePageSaysHowMany()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        s.f.net.peer->SetSearchResultLimit(10);
        SearchResultsForm* page = s.Search("bound");
        QVERIFY(page && LeftOut(page));
        QVERIFY(s.Answer("alice", page->Ticket(), Numbered("a", 0, 4)));
        QVERIFY(!LeftOut(page)->isVisibleTo(page));

        QVERIFY(s.Answer("bob", page->Ticket(), Numbered("b", 0, 8)));
        QVERIFY(LeftOut(page)->isVisibleTo(page));
        QCOMPARE(LeftOut(page)->text(), "2 results were left out: " + Why("10", "2,000"));
        // A reply with nothing left to keep makes no row, and is counted.
        QVERIFY(s.Send("carol", page->Ticket(), Numbered("c", 0, 1234)));
        QTRY_COMPARE_WITH_TIMEOUT(LeftOut(page)->text(), "1,236 results were left out: " + Why("10", "2,000"), 30000);
        QTreeWidget* tree = page->searchResults();
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(FileRows(tree->topLevelItem(0)), 4);
        QCOMPARE(FileRows(tree->topLevelItem(1)), 6);
        QCOMPARE(SearchPageFixture::Count("search_result"), 10);

        // A wish-list search's page gathers its tickets under one bound.
        const unsigned int first = s.WishListSearch("wish");
        QVERIFY(s.Answer("alice", first, Numbered("w", 0, 9)));
        SearchResultsForm* wish = s.WishPage(0);
        QVERIFY(wish && !LeftOut(wish)->isVisibleTo(wish));
        const unsigned int second = s.WishListSearch("wish");
        QVERIFY(s.Answer("bob", second, Numbered("w", 0, 2)));
        QCOMPARE(s.WishTabs()->count(), 1);
        QCOMPARE(LeftOut(wish)->text(), "1 result was left out: " + Why("10", "2,000"));
        QCOMPARE(wish->searchResults()->topLevelItemCount(), 2);
        QCOMPARE(FileRows(wish->searchResults()->topLevelItem(1)), 1);
    }

    void aBigSharerIsShownWholeWhileTheSearchHasRoom()
    {
        SearchPageFixture s;
        s.ownAddresses = true;
        QVERIFY(s.f.Start());
        // Alone in a search, all 5,000 of one peer's matches.
        SearchResultsForm* alone = s.Search("tapes");
        QVERIFY(alone && LeftOut(alone));
        QVERIFY(s.Answer("harlan", alone->Ticket(), Numbered("tapes", 0, 5000)));
        QTRY_COMPARE_WITH_TIMEOUT(FilesOf(alone, "harlan").size(), 5000, 30000);
        QVERIFY(!LeftOut(alone)->isVisibleTo(alone));

        // 20,000 first, then a hundred users with 30 each: all of them.
        SearchResultsForm* page = s.Search("live");
        QVERIFY(s.Answer("greta", page->Ticket(), Numbered("radio", 0, 20000)));
        for (int i = 0; i < 100; ++i)
            QVERIFY(s.Answer(QString("user%1").arg(i), page->Ticket(), Numbered("u", 0, 30)));
        QTreeWidget* tree = page->searchResults();
        QTRY_COMPARE_WITH_TIMEOUT(FilesOf(page, "greta").size(), 20000, 30000);
        // A page that big adds rows spaced out: the last within a second.
        QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 101, 30000);
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            if (tree->topLevelItem(i)->text(0) != "greta")
                QCOMPARE(FileRows(tree->topLevelItem(i)), 30);
        QCOMPARE(SearchPageFixture::Count("search_result"), 5000 + 23000);
        QVERIFY(!LeftOut(page)->isVisibleTo(page));
    }

    void rowsGivenUpLeaveThePageAsIfTheyHadNeverCome_data()
    {
        QTest::addColumn<bool>("flat");
        QTest::newRow("grouped") << false;
        QTest::newRow("flat") << true;
    }
    void rowsGivenUpLeaveThePageAsIfTheyHadNeverCome()
    {
        QFETCH(bool, flat);
        SearchPageFixture s;
        s.ownAddresses = true;
        QVERIFY(s.f.Start());
        SetSetting("use_old_style_search_results", flat ? "yes" : "no");
        s.f.net.peer->SetSearchResultLimit(200);
        s.f.net.peer->SetSearchResultUserLimit(60);
        SearchResultsForm* page = s.Search("live");
        QVERIFY(page);
        QTreeWidget* tree = page->searchResults();
        // 250 tapes in two folders fill the search.
        QVERIFY(s.Answer("harlan", page->Ticket(), Numbered("tapes a", 0, 150) + Numbered("tapes b", 150, 100)));
        QTRY_COMPARE_WITH_TIMEOUT(FilesOf(page, "harlan").size(), 200, 30000);
        // Files with a 9 filtered out, the rows sorted; a row chosen that
        // stays and one that goes.
        page->filterEdit()->setText("-9");
        QTRY_VERIFY_WITH_TIMEOUT(!page->IsFiltering(), 30000);
        page->SetSortingParamters(SearchResultListItem::FileColumn, Qt::DescendingOrder);
        page->Sort();
        QStringList staying;
        for (QTreeWidgetItem* row : FilesOf(page, "harlan")) {
            const QString name = row->text(SearchResultListItem::FileColumn);
            row->setSelected(name == "0.mp3" || name == "190.mp3");
            if (name == "5.mp3")
                tree->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);
            if (name.section('.', 0, 0).toInt() < 80)
                staying << name;
        }

        // Two users with 60 each take back 120 of harlan's newest.
        for (int i = 0; i < 2; ++i)
            QVERIFY(s.Answer(QString("user%1").arg(i), page->Ticket(), Numbered("u", 0, 60)));
        QTRY_COMPARE_WITH_TIMEOUT(SearchPageFixture::Count("search_result_node"), 200, 30000);
        const QList<QTreeWidgetItem*> after = FilesOf(page, "harlan");
        QCOMPARE(Names(after), staying);
        for (QTreeWidgetItem* row : after)
            QCOMPARE(row->isHidden(), row->text(SearchResultListItem::FileColumn).contains('9'));
        QCOMPARE(Names(tree->selectedItems()), QStringList{"0.mp3"});
        QVERIFY(tree->currentItem());
        QCOMPARE(tree->currentItem()->text(SearchResultListItem::FileColumn), QString("5.mp3"));
        for (int i = 0; i < 2; ++i)
            QCOMPARE(FilesOf(page, QString("user%1").arg(i)).size(), 60);
        QCOMPARE(SearchPageFixture::Count("search_result"), 200);
        QCOMPARE(LeftOut(page)->text(), "170 results were left out: " + Why("200", "60"));
        if (!flat) {
            // The folder left without files went with them.
            QCOMPARE(tree->topLevelItemCount(), 3);
            QCOMPARE(SearchPageFixture::Count("search_results_folder_node"), 3);
            QCOMPARE(FilesOf(page, "harlan").first()->parent()->text(SearchResultListItem::FolderColumn),
                     QString("tapes a"));
        }
    }

    void repliesHandledInOneTurnTakeAUsersRowsOutOnce()
    {
        SearchPageFixture s;
        s.ownAddresses = true;
        QVERIFY(s.f.Start());
        s.f.net.peer->SetSearchResultLimit(200);
        s.f.net.peer->SetSearchResultUserLimit(20);
        auto* intake = s.f.net.peer->findChild<SearchResultIntake*>();
        SearchResultsForm* page = s.Search("live");
        QVERIFY(intake && page);
        QTreeWidget* tree = page->searchResults();
        QVERIFY(s.Answer("harlan", page->Ticket(), Numbered("tapes a", 0, 100) + Numbered("tapes b", 100, 100)));
        QTRY_COMPARE_WITH_TIMEOUT(FilesOf(page, "harlan").size(), 200, 30000);
        QTreeWidgetItem* harlan = tree->topLevelItem(0);
        for (QTreeWidgetItem* row : FilesOf(page, "harlan")) {
            const QString name = row->text(SearchResultListItem::FileColumn);
            row->setSelected(name == "110.mp3");
            if (name == "105.mp3")
                tree->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);
        }
        int removals = 0;
        QObject counting;
        connect(tree->model(), &QAbstractItemModel::rowsRemoved, &counting, [&](const QModelIndex& parent) {
            const QModelIndex user = tree->model()->index(tree->indexOfTopLevelItem(harlan), 0);
            removals += parent == user || parent.parent() == user;
        });

        // Eight replies read at once, each taking ten of harlan's places.
        auto take = [&](const QString& user, int address) {
            TakeReply(intake, page->Ticket(), user, address, "u", 10);
        };
        for (int i = 0; i < 8; ++i)
            take(QString("user%1").arg(i), i + 1);
        // A row whose result went offers no file while it waits to go.
        for (QTreeWidgetItem* row : FilesOf(page, "harlan"))
            emit tree->itemDoubleClicked(row, SearchResultListItem::FileColumn);
        QCOMPARE(SearchPageFixture::Downloads().size(), 120);
        QTRY_COMPARE_WITH_TIMEOUT(FilesOf(page, "harlan").size(), 120, 30000);
        QCOMPARE(removals, 1);
        QCOMPARE(Names(tree->selectedItems()), QStringList{"110.mp3"});
        QVERIFY(tree->currentItem());
        QCOMPARE(tree->currentItem()->text(SearchResultListItem::FileColumn), QString("105.mp3"));

        // Closing the tab with rows still to go.
        take("late", 9);
        emit s.ManualTabs()->tabCloseRequested(s.ManualTabs()->indexOf(page));
        QTRY_VERIFY_WITH_TIMEOUT(!s.form->IsClosingTabs(), 30000);
        QCOMPARE(SearchPageFixture::Count("search_result_node"), 0);
    }

    void namesAtOneHostGiveUpAlikeAndAUserLeftWithNothingLeavesThePage()
    {
        SearchPageFixture s;
        s.ownAddresses = true;
        QVERIFY(s.f.Start());
        s.Bounds(12, 6, 3);
        SearchResultsForm* page = s.Search("live");
        QVERIFY(page);
        // Six names at one host fill the search, three times what the
        // address keeps once it is full.
        for (int i = 0; i < 6; ++i) {
            s.Place(QString("name%1").arg(i), QHostAddress("127.0.0.9"));
            QVERIFY(s.Answer(QString("name%1").arg(i), page->Ticket(), Numbered("n", 0, 2)));
        }
        for (const QString user : {"b", "c", "d"})
            QVERIFY(s.Answer(user, page->Ticket(), Numbered(user, 0, 3)));
        QTreeWidget* tree = page->searchResults();
        QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 6, 30000);
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            QCOMPARE(FileRows(tree->topLevelItem(i)), tree->topLevelItem(i)->text(0).startsWith("name") ? 1 : 3);
        QCOMPARE(SearchPageFixture::Count("search_results_user_node"), 6);
        QCOMPARE(SearchPageFixture::Count("search_results"), 6);
        QCOMPARE(LeftOut(page)->text(), "9 results were left out: a search keeps at most 12, and once it is full, "
                                        "results past 6 per user or 3 per address make room for others.");
    }

    // On a page of many rows, answers that keep coming change the rows at
    // the page's pace, not an answer at a time: while the clock stands
    // still, only the first answer's rows go in; then each step of the
    // clock makes one change, a user row's rows given back or all the
    // rows that came meanwhile, sorted in; and what stays stays as it was.
    void aPacedPageChangesItsRowsAtItsPaceWhileAnswersKeepComing()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        s.Bounds(200, 20, 10000);
        auto* intake = s.f.net.peer->findChild<SearchResultIntake*>();
        qint64 now = 0;
        SearchResultsForm* page = PacedSearch(s, "live", now);
        QVERIFY(intake && page);
        page->TakeOutJob().SetMostSteps(1);
        QTreeWidget* tree = page->searchResults();
        auto change = [&](qint64 by) {
            now += by;
            QMetaObject::invokeMethod(page, "ChangeRowsDue");
        };
        auto answer = [&](const QString& user, int address, const QString& folder) {
            TakeReply(intake, page->Ticket(), user, address, folder, address <= 2 ? 100 : 20);
        };
        // Two big sharers fill the search: the first at once, the other a
        // second later.
        answer("harlan", 1, "tapes");
        answer("greta", 2, "radio");
        QCOMPARE(FilesOf(page, "harlan").size(), 100);
        QCOMPARE(page->WaitingArrivals(), 100);
        change(SearchResultPacer::ArrivalSpacingMs);
        QCOMPARE(FilesOf(page, "greta").size(), 100);
        for (QTreeWidgetItem* row : FilesOf(page, "harlan"))
            row->setSelected(row->text(SearchResultListItem::FileColumn) == "3.mp3");
        for (QTreeWidgetItem* row : FilesOf(page, "greta"))
            if (row->text(SearchResultListItem::FileColumn) == "5.mp3")
                tree->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);

        // Each change of the rows, by the step of the clock it came at.
        int step = 0;
        QMap<int, QStringList> changes;
        QObject counting;
        connect(tree->model(), &QAbstractItemModel::rowsInserted, &counting,
                [&](const QModelIndex& parent) { changes[step] << (parent.isValid() ? "in below" : "in"); });
        connect(tree->model(), &QAbstractItemModel::rowsRemoved, &counting, [&] { changes[step] << "out"; });
        connect(tree->model(), &QAbstractItemModel::layoutChanged, &counting, [&] { changes[step] << "sorted"; });

        // Eight answers a second later, a turn or two apart, each taking
        // 20 places back from the big sharers.
        now += SearchResultPacer::ArrivalSpacingMs;
        for (int i = 0; i < 8; ++i) {
            answer(QString("user%1").arg(i), 3 + i, QString("u%1").arg(i));
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
        }
        QCOMPARE(changes.value(0), QStringList{"in"});
        QCOMPARE(page->WaitingArrivals(), 7 * 20);
        QCOMPARE(FilesOf(page, "harlan").size() + FilesOf(page, "greta").size(), 200);

        // A step a change: the two big sharers' rows out, a user row each;
        // then nothing until a second from the last rows that went in;
        // then those rows, in one go, sorted in.
        for (step = 1; step <= 4 && (page->WaitingArrivals() > 0 || page->WaitingGivenBack() > 0); ++step)
            change(SearchResultPacer::ChangeSpacingMs);
        // A user row's rows out: all of them, and those kept put back.
        const QStringList takeOut{"out", "in below"};
        QCOMPARE(changes.value(1), takeOut);
        QCOMPARE(changes.value(2), takeOut);
        QCOMPARE(changes.value(3), QStringList());
        QVERIFY2(changes.value(4).startsWith("in") && changes.value(4).contains("sorted") &&
                     !changes.value(4).contains("out"),
                 qPrintable(changes.value(4).join(' ')));
        QVERIFY(!page->ChangesWait());

        for (int i = 0; i < 8; ++i)
            QCOMPARE(FilesOf(page, QString("user%1").arg(i)).size(), 20);
        QCOMPARE(FilesOf(page, "harlan").size(), 20);
        QCOMPARE(FilesOf(page, "greta").size(), 20);
        QCOMPARE(tree->topLevelItemCount(), 10);
        QCOMPARE(Names(tree->selectedItems()), QStringList{"3.mp3"});
        QVERIFY(tree->currentItem());
        QCOMPARE(tree->currentItem()->text(SearchResultListItem::FileColumn), QString("5.mp3"));
        QCOMPARE(SearchPageFixture::Count("search_result_node"), 200);

        // Closed with rows waiting to go in: nothing of the page runs on,
        // however the clock moves, and all of it is let go.
        s.Bounds(220, 20, 10000);
        answer("late", 30, "l");
        QCOMPARE(page->WaitingArrivals(), 20);
        emit s.ManualTabs()->tabCloseRequested(s.ManualTabs()->indexOf(page));
        now += 10 * SearchResultPacer::ArrivalSpacingMs;
        QTRY_VERIFY_WITH_TIMEOUT(!s.form->IsClosingTabs(), 30000);
        QCOMPARE(SearchPageFixture::Count("search_result_node"), 0);
        QCOMPARE(SearchPageFixture::Count("search_result"), 0);
    }

    // Rows that waited go into the tree in one go, however many parts the
    // change makes them in: the view hears of them once, and the folder
    // they fill is filtered once. A big sharer's rows too many for one
    // change are sorted in once they are all in, not at every change.
    void rowsThatWaitedGoInTogetherAndAreSortedOnceIn()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        s.Bounds(10000, 10000, 10000);
        auto* intake = s.f.net.peer->findChild<SearchResultIntake*>();
        qint64 now = 0;
        SearchResultsForm* page = PacedSearch(s, "together", now);
        QVERIFY(intake && page);
        TakeReply(intake, page->Ticket(), "harlan", 1, "tapes", 100);
        QCOMPARE(FilesOf(page, "harlan").size(), 100);
        TakeReply(intake, page->Ticket(), "harlan", 1, "more", 900);
        QCOMPARE(page->WaitingArrivals(), 900);

        QTreeWidget* tree = page->searchResults();
        int insertions = 0;
        int sorts = 0;
        QObject counting;
        connect(tree->model(), &QAbstractItemModel::rowsInserted, &counting, [&] { ++insertions; });
        connect(tree->model(), &QAbstractItemModel::layoutChanged, &counting, [&] { ++sorts; });
        auto change = [&](qint64 by) {
            now += by;
            insertions = sorts = 0;
            QMetaObject::invokeMethod(page, "ChangeRowsDue");
        };
        change(SearchResultPacer::ArrivalSpacingMs);
        QCOMPARE(page->WaitingArrivals(), 0);
        QCOMPARE(insertions, 1);
        QVERIFY(sorts > 0);
        QCOMPARE(FilesOf(page, "harlan").size(), 1000);

        // More than one change takes: at 1,500 a change, in over three
        // whatever a turn's slice would hold, sorted at the first (a
        // second on from the last sort) and the last.
        page->SetMostArrivalsPerChange(1500);
        TakeReply(intake, page->Ticket(), "harlan", 1, "later", 4500);
        // The reply reaches the page in parts, over turns.
        QTRY_COMPARE_WITH_TIMEOUT(page->WaitingArrivals(), 4500, 30000);
        QList<int> sorted;
        change(SearchResultPacer::ArrivalSpacingMs);
        sorted << sorts;
        for (int i = 0; i < 4 && page->WaitingArrivals() > 0; ++i) {
            change(SearchResultPacer::LeftoverSpacingMs);
            sorted << sorts;
        }
        QCOMPARE(sorted.size(), 3);
        QCOMPARE(insertions, 1);
        QVERIFY(sorted[0] > 0 && sorted[2] > 0);
        QCOMPARE(sorted[1], 0);
        QCOMPARE(FilesOf(page, "harlan").size(), 5500);
        QVERIFY(!page->ChangesWait());
    }

    void aLargeReplyShowsWholeUnderOneUserAndFolder()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("large");
        QVERIFY(page);
        const int size = 2 * SearchResultIntake::PartSize + 300;
        s.f.net.peer->SetSearchResultUserLimit(size);
        QVERIFY(s.Answer("alice", page->Ticket(), Numbered("music", 0, size)));
        QTreeWidget* tree = page->searchResults();
        QTRY_COMPARE_WITH_TIMEOUT(FileRows(tree->topLevelItem(0)), size, 30000);
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(tree->topLevelItem(0)->childCount(), 1);
        // Every file once, whether the page has sorted them yet or not.
        QTreeWidgetItem* folder = tree->topLevelItem(0)->child(0);
        QSet<QString> names;
        for (int i = 0; i < folder->childCount(); ++i)
            names << folder->child(i)->text(SearchResultListItem::FileColumn);
        QCOMPARE(names.size(), size);
        QVERIFY(names.contains("0.mp3") && names.contains(QString("%1.mp3").arg(size - 1)));
        QVERIFY(!LeftOut(page)->isVisibleTo(page));
    }
};

QTEST_MAIN(TestResultsBound)
#include "TestResultsBound.moc"
