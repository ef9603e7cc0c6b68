// The results pages' long work follows the one slice runner's turns: a
// closed tab let go, rows given back taken out, the sort after arrivals,
// the filter and the expand switches, each no more than its steps a turn,
// and none of it left running, nor reading a row, once its tab is gone.
#include <QMap>
#include <QSet>
#include <algorithm>

#include "SearchPageFixture.h"
#include "SliceRunner.h"
#include "SliceTrace.h"
#include "SlicedJob.h"
#include "TurnBudget.h"
#include "search/SearchResultExpandPass.h"
#include "search/SearchResultListItem.h"

namespace {

// A file a folder, numbered from first.
QList<QByteArray> Numbered(const QString& folder, int first, int count)
{
    QList<QByteArray> files;
    for (int i = first; i < first + count; ++i)
        files << SearchReplyFile(QString("%1 %2\\%3.mp3").arg(folder).arg(i).arg(i).toUtf8(), 1000);
    return files;
}

// What a closed tab leaves to let go: rows' nodes, results and replies.
int LeftOfTabs()
{
    int left = 0;
    for (const char* type : {"search_result_node", "search_results_folder_node", "search_results_user_node",
                             "search_result", "search_results"})
        left += SearchPageFixture::Count(type);
    return left;
}

// The user row a change below parent, or of the top-level row first, is in.
QString UserOf(const QAbstractItemModel* model, const QModelIndex& parent, int first)
{
    QModelIndex top = parent.isValid() ? parent : model->index(first, 0);
    while (top.parent().isValid())
        top = top.parent();
    return top.sibling(top.row(), SearchResultListItem::UserColumn).data().toString();
}

QString Text(const QList<int>& steps)
{
    QStringList texts;
    for (int step : steps)
        texts << QString::number(step);
    return texts.join(' ');
}

// No slice over most steps and the work over at least turns turns.
bool Sliced(const QList<int>& steps, int most, int turns)
{
    const bool within = std::all_of(steps.begin(), steps.end(), [most](int s) { return s >= 0 && s <= most; });
    return within && steps.size() >= turns;
}

} // namespace

class TestResultSlices : public QObject
{
    Q_OBJECT

private slots:
    // Each turn of the runner lets go of no more than the slice's rows and
    // results, so a tab of 50,000 never goes in one turn.
    void aClosedTabIsLetGoNoMoreThanItsStepsATurn()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("release");
        for (int u = 0; u < 3; ++u)
            QVERIFY(s.Answer(QString("user%1").arg(u), page->Ticket(), Numbered("f", 0, 60)));
        QTRY_COMPARE(SearchPageFixture::Count("search_result_node"), 180);
        s.form->SetSliceSize(0);
        emit s.ManualTabs()->tabCloseRequested(s.ManualTabs()->indexOf(page));
        QVERIFY(s.form->IsClosingTabs());
        QCOMPARE(s.ManualTabs()->count(), 0);
        const int closed = LeftOfTabs();
        QVERIFY2(closed >= 180 * 3, qPrintable(QString::number(closed)));

        const int most = 16;
        s.form->SetSliceSize(most);
        int turns = 0;
        int worst = 0;
        for (int was = closed; s.form->IsClosingTabs() && turns < 1000; ++turns) {
            QVERIFY(SliceTrace::NextTurn());
            worst = std::max(worst, was - LeftOfTabs());
            was = LeftOfTabs();
        }
        QVERIFY(!s.form->IsClosingTabs());
        QCOMPARE(LeftOfTabs(), 0);
        QVERIFY2(worst > 0 && worst <= most, qPrintable(QString::number(worst)));
        QVERIFY2(turns >= closed / most, qPrintable(QString::number(turns)));
    }

    // Rows given back by four users, the sort after arrivals falling due
    // on the turn of the first take-out: the sort goes next, on a turn of
    // its own, then the rest one user row a turn, never two changes of the
    // rows on one turn; and what stays is as it was, sorted.
    void aSortAndATakeOutNeverShareATurn()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("turns");
        QTreeWidget* tree = page->searchResults();
        const QStringList users{"ann", "bob", "cy", "dee"};
        for (int u = 0; u < users.size(); ++u)
            QVERIFY(s.Answer(users[u], page->Ticket(), Numbered("f", 0, 6), 0, quint32(1024 * (u + 1))));
        QTRY_COMPARE(SearchPageFixture::Count("search_result_node"), 24);
        // The arrivals' own sort over, so that only the one below is due.
        QTRY_VERIFY(!page->SortJob().IsRunning());
        tree->sortItems(SearchResultListItem::UserColumn, Qt::AscendingOrder);
        tree->expandAll();
        // Three folders of each user's six given back.
        ItemList given;
        for (int u = 0; u < tree->topLevelItemCount(); ++u)
            for (int f = 0; f < 3; ++f)
                given.push_back(page->ResultOf(tree->topLevelItem(u)->child(f)->child(0)));

        QMap<quint64, QSet<QString>> takenOut;
        QList<quint64> sorted;
        QObject watch;
        connect(tree->model(), &QAbstractItemModel::rowsAboutToBeRemoved, &watch,
                [&](const QModelIndex& parent, int first) {
                    const bool firstTakeOut = takenOut.isEmpty();
                    takenOut[TurnBudget::Turn()].insert(UserOf(tree->model(), parent, first));
                    if (firstTakeOut)
                        QMetaObject::invokeMethod(page, "SortArrivals");
                });
        connect(tree->model(), &QAbstractItemModel::layoutChanged, &watch, [&] { sorted << TurnBudget::Turn(); });
        page->TakeOutJob().SetMostSteps(1);
        page->RemoveSearchResults(given);
        QVERIFY(takenOut.isEmpty() && page->TakeOutJob().IsRunning());
        for (int turns = 0; (page->TakeOutJob().IsRunning() || page->SortJob().IsRunning()) && turns < 100; ++turns)
            QVERIFY(SliceTrace::NextTurn());
        QVERIFY(!page->TakeOutJob().IsRunning() && !page->SortJob().IsRunning());

        QCOMPARE(sorted.size(), 1);
        QCOMPARE(takenOut.size(), users.size());
        QSet<QString> each;
        for (const QSet<QString>& turn : takenOut) {
            QCOMPARE(turn.size(), 1);
            each += turn;
        }
        QCOMPARE(each.size(), users.size());
        const QList<quint64> turns = takenOut.keys();
        QVERIFY(!takenOut.contains(sorted.first()));
        QVERIFY(sorted.first() > turns.first() && sorted.first() < turns.at(1));
        // Fastest first, each with the three folders it kept, still open.
        QStringList rows;
        for (int u = 0; u < tree->topLevelItemCount(); ++u) {
            QTreeWidgetItem* user = tree->topLevelItem(u);
            QString row = user->text(SearchResultListItem::UserColumn) + ":";
            for (int f = 0; f < user->childCount(); ++f)
                row += QString(" %1%2").arg(user->child(f)->text(SearchResultListItem::FolderColumn),
                                            user->child(f)->isExpanded() ? "" : " closed");
            rows << row;
        }
        QCOMPARE(rows, QStringList({"dee: f 3 f 4 f 5", "cy: f 3 f 4 f 5", "bob: f 3 f 4 f 5", "ann: f 3 f 4 f 5"}));
        QCOMPARE(SearchPageFixture::Count("search_result_node"), 12);
    }

    // The filter and the expand switch each take no more than their rows a
    // turn, over as many turns as that needs.
    void theFilterAndTheSwitchGoTheirRowsATurn()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("rows");
        for (int u = 0; u < 12; ++u)
            QVERIFY(s.Answer(QString("user%1").arg(u), page->Ticket(), Numbered("f", u, 2)));
        QTRY_COMPARE(page->searchResults()->topLevelItemCount(), 12);
        QTRY_VERIFY(!page->SortJob().IsRunning());

        // A user row with its two folders and files weighs five rows: one a
        // turn.
        page->SetFilterSliceRows(3);
        page->filterEdit()->setText("nothing");
        QList<int> steps = SliceTrace::StepsUntilDone(page->FilterJob());
        QCOMPARE(Text(steps), QString("5 5 5 5 5 5 5 5 5 5 5 5"));
        for (int u = 0; u < 12; ++u)
            QVERIFY(page->searchResults()->topLevelItem(u)->isHidden());

        s.form->SetSliceSize(5);
        QVERIFY(s.Trigger(page, "Expand Folders [on]"));
        SearchResultExpandPass* pass = page->findChild<SearchResultExpandPass*>();
        QVERIFY(pass && pass->IsRunning());
        steps = SliceTrace::StepsUntilDone(pass->Job());
        QVERIFY2(Sliced(steps, 5, 24 / 5), qPrintable(Text(steps)));
        QVERIFY(!s.form->IsExpanding(page));
    }

    // A tab closed with every pass of its page under way, rows given back
    // and a sort due, then replies to its search and another's while it is
    // let go: nothing of the page runs on, and what the other page shows
    // stays.
    void aTabClosedMidPassLeavesNothingRunning()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("closed");
        SearchResultsForm* other = s.Search("other");
        for (int u = 0; u < 6; ++u)
            QVERIFY(s.Answer(QString("user%1").arg(u), page->Ticket(), Numbered("f", 0, 4)));
        QTRY_VERIFY(!page->SortJob().IsRunning());
        QTreeWidget* tree = page->searchResults();
        ItemList given;
        for (int u = 0; u < tree->topLevelItemCount(); ++u)
            given.push_back(page->ResultOf(tree->topLevelItem(u)->child(0)->child(0)));
        page->SetFilterSliceRows(0);
        page->filterEdit()->setText("f");
        s.form->SetSliceSize(0);
        QVERIFY(s.Trigger(page, "Expand Folders [on]"));
        QVERIFY(s.Trigger(page, "Expand Users [on]"));
        page->TakeOutJob().SetMostSteps(0);
        page->RemoveSearchResults(given);
        // The second finds the turn's rows changed by the first: it waits.
        QMetaObject::invokeMethod(page, "SortArrivals");
        QMetaObject::invokeMethod(page, "SortArrivals");
        QVERIFY(page->IsFiltering() && s.form->IsExpanding(page));
        QVERIFY(page->TakeOutJob().IsRunning() && page->SortJob().IsRunning());

        const int running = SliceRunner::Get().RunningJobs();
        const unsigned int ticket = page->Ticket();
        emit s.ManualTabs()->tabCloseRequested(s.ManualTabs()->indexOf(page));
        // Filter, take-out, sort and both switches gone; the release come.
        QCOMPARE(SliceRunner::Get().RunningJobs(), running - 5 + 1);
        QVERIFY(s.form->IsClosingTabs());
        s.form->SetSliceSize(7);
        QVERIFY(s.Send("user0", ticket, Numbered("late", 0, 3)));
        QVERIFY(s.Answer("user1", other->Ticket(), Numbered("g", 0, 2)));
        QTRY_VERIFY(!s.form->IsClosingTabs());
        QCOMPARE(SearchPageFixture::Count("search_result"), 2);
        QCOMPARE(SearchPageFixture::Count("search_result_node"), 2);
        QCOMPARE(SearchPageFixture::Count("search_results_widget"), 1);
        QCOMPARE(other->searchResults()->topLevelItemCount(), 1);
    }
};

QTEST_MAIN(TestResultSlices)
#include "TestResultSlices.moc"
