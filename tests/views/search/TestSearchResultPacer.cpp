// When a page of many rows changes them: arrivals at once only after a
// quiet spell, else at most once a second; take-outs in between, never in
// the same change; every change spaced from the end of the last; a big
// burst of arrivals drained first and sooner; a clock gone back never
// holds rows up.
#include <QtTest>

#include "search/SearchResultPacer.h"

namespace {

using Pacer = SearchResultPacer;

const qint64 kChange = Pacer::ChangeSpacingMs;
const qint64 kArrivals = Pacer::ArrivalSpacingMs;

QString Text(Pacer::Change change)
{
    return change.arrivals ? (change.takeOut ? "both" : "arrivals") : (change.takeOut ? "take-out" : "none");
}

Pacer::Change Arrivals()
{
    Pacer::Change change;
    change.arrivals = true;
    return change;
}

Pacer::Change TakeOut()
{
    Pacer::Change change;
    change.takeOut = true;
    return change;
}

} // namespace

class TestSearchResultPacer : public QObject
{
    Q_OBJECT

private slots:
    void arrivalsGoInAtOnceOnlyAfterAQuietSpell()
    {
        Pacer pacer;
        QVERIFY(pacer.AtOnce(0));
        QCOMPARE(pacer.NextAt(), qint64(-1));
        // In at once, owed a sort: the next rows wait a second from it.
        pacer.Made(Arrivals(), 0, false);
        pacer.SortOwed();
        QVERIFY(!pacer.AtOnce(kArrivals + 1));
        QCOMPARE(Text(pacer.Due(kArrivals - 1)), QString("none"));
        QCOMPARE(pacer.NextAt(), kArrivals);
        QCOMPARE(Text(pacer.Due(kArrivals)), QString("arrivals"));
        pacer.Sorted(kArrivals);
        pacer.Made(Arrivals(), kArrivals + 20, false);
        QVERIFY(!pacer.Waits());
        QCOMPARE(pacer.NextAt(), qint64(-1));
        // Quiet for a second since the last went in: at once again.
        QVERIFY(!pacer.AtOnce(2 * kArrivals));
        QVERIFY(pacer.AtOnce(2 * kArrivals + 20));
    }

    void takeOutsComeBetweenArrivalsNeverWithThem()
    {
        Pacer pacer;
        pacer.Made(Arrivals(), 0, false);
        pacer.SortOwed();
        pacer.GivenBackWaits();
        // A change's spacing counts from its end.
        QCOMPARE(Text(pacer.Due(kChange - 1)), QString("none"));
        QCOMPARE(pacer.NextAt(), kChange);
        QCOMPARE(Text(pacer.Due(kChange)), QString("take-out"));
        pacer.Made(TakeOut(), kChange + 50, true);
        QCOMPARE(pacer.NextAt(), 2 * kChange + 50);
        QCOMPARE(Text(pacer.Due(2 * kChange + 49)), QString("none"));
        // Due together: the arrivals, and the take-out a spacing after.
        QCOMPARE(Text(pacer.Due(kArrivals)), QString("arrivals"));
        pacer.Sorted(kArrivals);
        pacer.Made(Arrivals(), kArrivals, true);
        QCOMPARE(Text(pacer.Due(kArrivals + kChange)), QString("take-out"));
        pacer.Made(TakeOut(), kArrivals + kChange, false);
        QVERIFY(!pacer.Waits());
        QCOMPARE(Text(pacer.Due(5 * kArrivals)), QString("none"));
    }

    void arrivalsLeftOverGoOnSoonerAndFirst()
    {
        Pacer pacer;
        pacer.RowsWait();
        pacer.GivenBackWaits();
        QCOMPARE(Text(pacer.Due(0)), QString("arrivals"));
        pacer.Made(Arrivals(), 10, true, true);
        QCOMPARE(pacer.NextAt(), 10 + Pacer::LeftoverSpacingMs);
        QCOMPARE(Text(pacer.Due(9 + Pacer::LeftoverSpacingMs)), QString("none"));
        QCOMPARE(Text(pacer.Due(10 + kChange)), QString("arrivals"));
        // The last of them in: back to the usual pace.
        pacer.Made(Arrivals(), 20 + kChange, true, false);
        QCOMPARE(Text(pacer.Due(20 + kChange + Pacer::LeftoverSpacingMs)), QString("none"));
        QCOMPARE(Text(pacer.Due(20 + 2 * kChange)), QString("take-out"));
    }

    void aClockGoneBackHoldsNothingUp()
    {
        Pacer pacer;
        pacer.Made(Arrivals(), 100000, false);
        pacer.SortOwed();
        pacer.GivenBackWaits();
        QCOMPARE(Text(pacer.Due(500)), QString("arrivals"));
        pacer.Made(Arrivals(), 500, true);
        pacer.RowsWait();
        QVERIFY(!pacer.AtOnce(600));
        QCOMPARE(Text(pacer.Due(400)), QString("arrivals"));
        // The rows went: nothing is left to do.
        pacer.Clear();
        QVERIFY(!pacer.Waits());
        QCOMPARE(Text(pacer.Due(400)), QString("none"));
    }
};

QTEST_GUILESS_MAIN(TestSearchResultPacer)
#include "TestSearchResultPacer.moc"
