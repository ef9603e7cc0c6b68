// A slice stops at its count of steps, counted by their weight, and one
// heedless of the budget goes on to the end; in a turn whose budget message
// handling has spent, a slice still takes its floor, so that small work
// ends in one go, then stops at its next look; the next turn starts anew.
// With a fixed count of steps a slice ends there whatever the budget says.
#include <QtTest>

#include "TurnBudget.h"
#include "TurnSlice.h"

namespace {

int Taken(TurnSlice slice, int bound = 1000000)
{
    int steps = 0;
    while (steps < bound && slice.Take())
        ++steps;
    return steps;
}

// As a burst of messages read in this turn does.
void SpendTurn()
{
    while (!TurnBudget::Exhausted())
        TurnBudget::Spend();
}

} // namespace

class TestTurnSlice : public QObject
{
    Q_OBJECT

private slots:
    // The budget is what these cases are about: the tests' fixed slices
    // would hide it.
    void initTestCase() { TurnSlice::SetFixedSteps(0); }

    void aSliceStopsAtItsStepsByTheirWeight()
    {
        QCOMPARE(Taken(TurnSlice::Whole(3)), 3);
        QCOMPARE(Taken(TurnSlice::Whole(0)), 0);
        TurnSlice weighed = TurnSlice::Whole(5);
        weighed.Step(4);
        QVERIFY(weighed.More());
        weighed.Step(4);
        QVERIFY(!weighed.More());
        SpendTurn();
        QCOMPARE(Taken(TurnSlice::Whole(), 100000), 100000);
    }

    void aSpentTurnLeavesASliceItsFloor()
    {
        SpendTurn();
        QCOMPARE(Taken(TurnSlice(300)), 300);
        QCOMPARE(Taken(TurnSlice(1)), TurnSlice::StepsPerLook);
        QCOMPARE(Taken(TurnSlice(300, 7)), 7);
        TurnSlice heavy(300);
        heavy.Step(1000);
        QVERIFY(!heavy.More());

        // The turn ends with what was posted in it.
        QCoreApplication::sendPostedEvents();
        QCOMPARE(Taken(TurnSlice(1), TurnSlice::StepsPerLook + 1), TurnSlice::StepsPerLook + 1);
    }

    void fixedStepsEndASliceWhateverTheBudget()
    {
        TurnSlice::SetFixedSteps(200);
        // A fresh turn's budget, which 100,000 steps would not spend in a
        // fast build, and a spent one alike: the first look past the count.
        QCoreApplication::sendPostedEvents();
        QCOMPARE(Taken(TurnSlice(1)), 4 * TurnSlice::StepsPerLook);
        SpendTurn();
        QCOMPARE(Taken(TurnSlice(1)), 4 * TurnSlice::StepsPerLook);
        // The floor and the most still hold.
        QCOMPARE(Taken(TurnSlice(1000)), 1000);
        QCOMPARE(Taken(TurnSlice(1, 50)), 50);
        TurnSlice::SetFixedSteps(0);
        QCOMPARE(Taken(TurnSlice(1)), TurnSlice::StepsPerLook);
    }
};

QTEST_GUILESS_MAIN(TestTurnSlice)
#include "TestTurnSlice.moc"
