#include "DelayedInvoker.h"
#include "TimerManager.h"

#include <QtTest>

// Counts the calls of its slots into counters that outlive it.
class Target : public QObject
{
    Q_OBJECT

public:
    explicit Target(int* counts) : m_counts(counts) {}

public slots:
    void Sort() { ++m_counts[0]; }
    void Refresh() { ++m_counts[1]; }

private:
    int* m_counts;
};

// Runs the event loop until a timer of ms started now has fired: every
// timer due before it has fired by then.
bool PassTimersDueWithin(int ms)
{
    bool passed = false;
    QTimer::singleShot(ms, Qt::PreciseTimer, [&passed] { passed = true; });
    return QTest::qWaitFor([&passed] { return passed; }, 30000);
}

class TestTimers : public QObject
{
    Q_OBJECT

private slots:
    void timerManagerRunsThreeRepeatingTimers();
    void invokerCallsOnceAndDropsRequestsWhilePending();
    void invokerSkipsDestroyedTargets();
};

void TestTimers::timerManagerRunsThreeRepeatingTimers()
{
    {
        TimerManager timers;
        QCOMPARE(timerManager, &timers);
        QCOMPARE(timers.HalfMinuteTimer(), static_cast<QTimer*>(&timers));
        const std::pair<QTimer*, int> all[] = {
            {&timers, 30000}, {timers.FiveMinuteTimer(), 300000}, {timers.HourTimer(), 3600000}};
        for (const auto& [timer, interval] : all) {
            QVERIFY(timer->isActive() && !timer->isSingleShot());
            QCOMPARE(timer->interval(), interval);
        }
    }
    QVERIFY(!timerManager);
}

void TestTimers::invokerCallsOnceAndDropsRequestsWhilePending()
{
    DelayedInvoker invoker;
    QCOMPARE(delayedInvoker, &invoker);
    int a[2] = {}, b[2] = {};
    Target targetA(a), targetB(b);

    // The later requests would come due only long after the bounded wait,
    // so the call seen is the first one's.
    invoker.Invoke(&targetA, QStringLiteral("Sort"), 20);
    invoker.Invoke(&targetA, QStringLiteral("Sort()"), 600000);
    invoker.Invoke(&targetA, QStringLiteral("Sort"), 600000);
    invoker.Invoke(&targetA, QStringLiteral("Refresh"), 20);
    invoker.Invoke(&targetB, QStringLiteral("Sort"), 20);
    QCOMPARE(a[0], 0);
    QTRY_VERIFY_WITH_TIMEOUT(a[0] == 1 && a[1] == 1 && b[0] == 1, 30000);
    QVERIFY(PassTimersDueWithin(100));
    QCOMPARE(a[0], 1);
    QCOMPARE(b[1], 0);

    // Once the call has run, a new request is taken again.
    invoker.Invoke(&targetA, QStringLiteral("Sort"), 10);
    QTRY_COMPARE_WITH_TIMEOUT(a[0], 2, 30000);
}

void TestTimers::invokerSkipsDestroyedTargets()
{
    int gone[2] = {}, fresh[2] = {};
    Target* next = nullptr;
    {
        DelayedInvoker invoker;
        auto* target = new Target(gone);
        invoker.Invoke(target, QStringLiteral("Sort"), 10);
        delete target;

        // A new object, likely at the same address, is not mistaken for the
        // destroyed one's pending call.
        next = new Target(fresh);
        invoker.Invoke(next, QStringLiteral("Sort"), 30);
        QTRY_COMPARE_WITH_TIMEOUT(fresh[0], 1, 30000);
        QCOMPARE(gone[0], 0);

        // Nor is anything called once the invoker itself is gone.
        invoker.Invoke(next, QStringLiteral("Refresh"), 10);
    }
    QVERIFY(!delayedInvoker);
    QVERIFY(PassTimersDueWithin(60));
    QCOMPARE(fresh[1], 0);
    delete next;
}

QTEST_GUILESS_MAIN(TestTimers)
#include "TestTimers.moc"
