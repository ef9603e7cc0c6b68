// A results page under more replies than one search keeps: the rows of
// the results kept and a plain line saying how many were left out and why;
// a big sharer answering first leaves the page to everyone after; and a
// large reply shown whole, in its one folder, once its parts are in.
#include <QLabel>
#include <QSet>

#include "SearchPageFixture.h"
#include "SearchResultIntake.h"
#include "search/SearchResultListItem.h"

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
        QCOMPARE(
            LeftOut(page)->text(),
            QString(
                "2 results were left out: a search keeps at most 2,000 per user, 10,000 per address and 10 in all."));
        // A reply with nothing left to keep makes no row, and is counted.
        QVERIFY(s.Send("carol", page->Ticket(), Numbered("c", 0, 1234)));
        QTRY_COMPARE_WITH_TIMEOUT(
            LeftOut(page)->text(),
            QString("1,236 results were left out: a search keeps at most 2,000 per user, 10,000 per address "
                    "and 10 in all."),
            30000);
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
        QCOMPARE(
            LeftOut(wish)->text(),
            QString("1 result was left out: a search keeps at most 2,000 per user, 10,000 per address and 10 in all."));
        QCOMPARE(wish->searchResults()->topLevelItemCount(), 2);
        QCOMPARE(FileRows(wish->searchResults()->topLevelItem(1)), 1);
    }

    void aBigSharerAnsweringFirstLeavesThePageToTheOthers()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("live");
        QVERIFY(page && LeftOut(page));
        // 11,200 tapes in replies of 2,800, then a hundred users with 30.
        for (int first = 0; first < 11200; first += 2800)
            QVERIFY(s.Send("harlan", page->Ticket(), Numbered("tapes", first, 2800)));
        QTRY_VERIFY_WITH_TIMEOUT(LeftOut(page)->isVisibleTo(page), 30000);
        for (int i = 0; i < 100; ++i)
            QVERIFY(s.Answer(QString("user%1").arg(i), page->Ticket(), Numbered("u", 0, 30)));
        QTreeWidget* tree = page->searchResults();
        QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 101, 30000);
        int rows = 0;
        for (int i = 0; i < tree->topLevelItemCount(); ++i) {
            const int files = FileRows(tree->topLevelItem(i));
            QCOMPARE(files, tree->topLevelItem(i)->text(0) == "harlan" ? 2000 : 30);
            rows += files;
        }
        QCOMPARE(rows, 5000);
        QVERIFY(LeftOut(page)->isVisibleTo(page));
        QCOMPARE(LeftOut(page)->text(),
                 QString("9,200 results were left out: a search keeps at most 2,000 per user, 10,000 per address "
                         "and 50,000 in all."));
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
