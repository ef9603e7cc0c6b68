// Work spread over turns joins the one runner: a first slice at once, then
// one a turn until done, several jobs sharing each turn; a job stops before
// its next slice when what it walks leaves the store, and one held or
// destroyed runs no more.
#include <QtTest>
#include <memory>

#include "Data.h"
#include "SliceRunner.h"
#include "SlicedJob.h"
#include "TurnSlice.h"

namespace {

// Counts up to a total, a step at a time.
struct Counter
{
    int done = 0;
    int total = 0;
    bool Work(TurnSlice& slice)
    {
        while (done < total && slice.Take())
            ++done;
        return done == total;
    }
};

// Lets the event loop turn until the job ends, or a bound of turns.
bool TurnUntilIdle(const SlicedJob& job, int turns = 100000)
{
    for (int i = 0; i < turns && job.IsRunning(); ++i)
        QCoreApplication::processEvents();
    return !job.IsRunning();
}

// Lets the event loop turn until the runner has run one more turn.
void OneTurn()
{
    const quint64 turn = SliceRunner::Get().Turns();
    for (int i = 0; i < 100000 && SliceRunner::Get().Turns() == turn; ++i)
        QCoreApplication::processEvents();
    QCOMPARE(SliceRunner::Get().Turns(), turn + 1);
}

} // namespace

class TestSlicedJob : public QObject
{
    Q_OBJECT

private slots:
    void init() { d.Reset(); }

    void workSpansTurnsASliceATurnAndEnds()
    {
        Counter counter{0, 10};
        SlicedJob job(1, [&](TurnSlice& slice) { return counter.Work(slice); });
        job.SetMostSteps(3);
        const quint64 before = SliceRunner::Get().Turns();
        job.Start();
        // The first slice is the caller's.
        QCOMPARE(counter.done, 3);
        QCOMPARE(job.Slices(), 1);
        QVERIFY(job.IsRunning());
        QVERIFY(TurnUntilIdle(job));
        QCOMPARE(counter.done, 10);
        QCOMPARE(job.Slices(), 4);
        QCOMPARE(job.LastSliceSteps(), 1);
        QCOMPARE(SliceRunner::Get().Turns() - before, quint64(3));
        QCOMPARE(SliceRunner::Get().RunningJobs(), 0);

        // Small work ends in the caller's turn.
        Counter small{0, 5};
        SlicedJob quick(16, [&](TurnSlice& slice) { return small.Work(slice); });
        quick.Start();
        QVERIFY(!quick.IsRunning());
        QCOMPARE(small.done, 5);
    }

    void jobsShareEachTurnAndOneGoneOrHeldRunsNoMore()
    {
        Counter a{0, 100}, b{0, 100};
        auto first = std::make_unique<SlicedJob>(1, [&](TurnSlice& slice) { return a.Work(slice); });
        SlicedJob second(1, [&](TurnSlice& slice) { return b.Work(slice); });
        first->SetMostSteps(2);
        second.SetMostSteps(5);
        first->StartNextTurn();
        second.StartNextTurn();
        QCOMPARE(a.done + b.done, 0);
        OneTurn();
        OneTurn();
        QCOMPARE(second.Slices(), 2);
        QCOMPARE(first->Slices(), 2);
        QCOMPARE(a.done, 4);
        QCOMPARE(b.done, 10);

        // Held, a job takes no step however many turns pass, and the
        // runner stops turning for it alone.
        second.SetMostSteps(0);
        OneTurn();
        OneTurn();
        QCOMPARE(a.done, 8);
        QCOMPARE(b.done, 10);
        first.reset();
        const quint64 turns = SliceRunner::Get().Turns();
        for (int i = 0; i < 100; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(SliceRunner::Get().Turns(), turns);
        QVERIFY(second.IsRunning());
        second.SetMostSteps(50);
        QVERIFY(TurnUntilIdle(second));
        QCOMPARE(b.done, 100);
        QCOMPARE(a.done, 8);
    }

    void aJobEndingItsOwnerInItsSliceIsNotTouchedAgain()
    {
        Counter other{0, 6};
        SlicedJob bystander(1, [&](TurnSlice& slice) { return other.Work(slice); });
        bystander.SetMostSteps(1);
        std::unique_ptr<SlicedJob> owner;
        int slices = 0;
        owner = std::make_unique<SlicedJob>(1, [&](TurnSlice&) {
            if (++slices == 2)
                owner.reset();
            return false;
        });
        owner->Start();
        bystander.Start();
        QVERIFY(TurnUntilIdle(bystander));
        QCOMPARE(slices, 2);
        QVERIFY(!owner);
        QCOMPARE(other.done, 6);
    }

    void aJobStopsBeforeItsNextSliceWhenWhatItWalksGoes()
    {
        Type* share = d.NewType("share", 0, false, true);
        Counter counter{0, 100};
        int gone = 0;
        SlicedJob job(1, [&](TurnSlice& slice) { return counter.Work(slice); });
        job.SetMostSteps(10);
        ItemPtr walked = share->GetItem("walked");
        ItemPtr other = share->GetItem("other");
        job.Start();
        job.Over(walked, [&] { ++gone; });
        OneTurn();
        OneTurn();
        QCOMPARE(job.Slices(), 3);
        QCOMPARE(counter.done, 30);

        other.Remove();
        QVERIFY(job.IsRunning());
        walked.Remove();
        QVERIFY(!job.IsRunning());
        QCOMPARE(gone, 1);
        Counter elsewhere{0, 2};
        SlicedJob bystander(1, [&](TurnSlice& slice) { return elsewhere.Work(slice); });
        bystander.SetMostSteps(1);
        bystander.StartNextTurn();
        OneTurn();
        OneTurn();
        QCOMPARE(elsewhere.done, 2);
        QCOMPARE(counter.done, 30);

        // Once stopped, the job watches nothing: an item made anew under
        // the same name and removed leaves it alone.
        job.Start();
        share->GetItem("walked").Remove();
        QVERIFY(job.IsRunning());
        QCOMPARE(gone, 1);
        QVERIFY(TurnUntilIdle(job));
        QCOMPARE(counter.done, 100);
    }
};

QTEST_GUILESS_MAIN(TestSlicedJob)
#include "TestSlicedJob.moc"
