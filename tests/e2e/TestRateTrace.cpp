// What an end-to-end test reads of a transfer's rate from the byte counts it
// looks at: the figures must hold whoever stalls, the transfer's ends or the
// looker, and still tell a transfer that breaks its limit or crawls.
#include <QTest>
#include <functional>

#include "RateTrace.h"

namespace {

const qint64 kKib = 1024;
// A chunk a tenth of a second apart at 200 KiB/s, as a limited upload moves.
const qint64 kChunk = 20 * kKib;
const qint64 kStillMs = 500;

// Looks every 20 ms from fromMs to toMs at a count that bytesAt gives.
void LookEvery20Ms(RateTrace& trace, qint64 fromMs, qint64 toMs, const std::function<qint64(qint64)>& bytesAt)
{
    for (qint64 ms = fromMs; ms <= toMs; ms += 20)
        trace.Add(ms, bytesAt(ms), ms);
}

// A chunk every 100 ms from fromMs on, counted from bytes at fromMs.
std::function<qint64(qint64)> Steady(qint64 fromMs, qint64 bytes)
{
    return [=](qint64 ms) { return bytes + (ms - fromMs) / 100 * kChunk; };
}

} // namespace

class TestRateTrace : public QObject
{
    Q_OBJECT

private slots:
    // The ceiling since the start: at 200 KiB/s nothing is above it, a
    // chunk beyond it is seen with its look, and a looker that stalled
    // within a look is given the longest time the look allows.
    void aCeilingCountsFromTheStartOverTheLongestTimeALookAllows()
    {
        RateTrace steady(0, 0);
        LookEvery20Ms(steady, 0, 5000, Steady(0, 0));
        QVERIFY(steady.MostAbove(200 * kKib).bytes <= 0);

        RateTrace ahead(0, 0);
        LookEvery20Ms(ahead, 0, 3000, Steady(0, 0));
        ahead.Add(3020, 600 * kKib + 3 * kChunk, 3020);
        LookEvery20Ms(ahead, 3040, 4000, Steady(3020, 600 * kKib + 3 * kChunk));
        const RateTrace::Excess most = ahead.MostAbove(200 * kKib);
        QCOMPARE(most.at.fromMs, qint64(3020));
        QCOMPARE(most.bytes, 600 * kKib + 3 * kChunk - 200 * kKib * 3020 / 1000);

        // The clock was read, the looker stood two seconds, then it read
        // the count: what arrived by then is within the limit.
        RateTrace lookerStood(0, 0);
        LookEvery20Ms(lookerStood, 0, 1000, Steady(0, 0));
        lookerStood.Add(1020, Steady(0, 0)(3000), 3000);
        QVERIFY(lookerStood.MostAbove(200 * kKib).bytes <= 0);
        // The same count read at once is above it.
        RateTrace readAtOnce(0, 0);
        LookEvery20Ms(readAtOnce, 0, 1000, Steady(0, 0));
        readAtOnce.Add(1020, Steady(0, 0)(3000), 1020);
        QVERIFY(readAtOnce.MostAbove(200 * kKib).bytes > 0);
    }

    // Stand-stills: the wait before the first byte, and a stop of 2.5 s,
    // each as long as the looks around it allow; the pauses between chunks
    // are none; two stand-stills with one move between count their shared
    // looks once.
    void standStillsAreTheLongPausesOnly()
    {
        RateTrace trace(0, 0);
        LookEvery20Ms(trace, 0, 990, [](qint64) { return 0; });
        LookEvery20Ms(trace, 1000, 3000, Steady(1000, kChunk));
        const qint64 stopped = Steady(1000, kChunk)(3000);
        LookEvery20Ms(trace, 3020, 5500, [=](qint64) { return stopped; });
        LookEvery20Ms(trace, 5520, 7000, Steady(5520, stopped + kChunk));
        // 0 to 1000, and 2980 to 5520: the last chunk before the stop came
        // after the look at 2980.
        QCOMPARE(trace.StillMs(kStillMs), qint64(1000 + 2540));
        QCOMPARE(trace.StillMs(10000), qint64(0));

        RateTrace twice(0, 0);
        LookEvery20Ms(twice, 0, 1000, [](qint64) { return 0; });
        LookEvery20Ms(twice, 1020, 2000, [](qint64) { return kChunk; });
        LookEvery20Ms(twice, 2020, 3000, [](qint64) { return 2 * kChunk; });
        // The stretches run 0-1020, 1000-2020 and 2000-3000.
        QCOMPARE(twice.StillMs(kStillMs), qint64(3000));
    }

    // The floor's rate: 200 KiB/s before and after each stop, though the
    // bytes that waited for the reader come at once when it goes on, the
    // looker stalls once, and the trace ends at any look; a transfer that
    // crawls at half the limit shows as half.
    void theSteadyRateLeavesOutStopsAndWhatCameAtOnceAfter()
    {
        RateTrace trace(0, 0);
        LookEvery20Ms(trace, 0, 990, [](qint64) { return 0; });
        LookEvery20Ms(trace, 1000, 4000, Steady(1000, kChunk));
        const qint64 stopped = Steady(1000, kChunk)(4000);
        LookEvery20Ms(trace, 4020, 6500, [=](qint64) { return stopped; });
        // What waited in the buffers, 400 KiB, arrives at once.
        const qint64 after = stopped + 400 * kKib;
        LookEvery20Ms(trace, 6520, 8000, Steady(6520, after));
        // The looker stalls 1.5 s between two looks while it moves on.
        trace.Add(9500, Steady(6520, after)(9500), 9500);
        LookEvery20Ms(trace, 9520, 11020, Steady(6520, after));
        const double rate = trace.SteadyBytesPerSecond(kStillMs);
        QVERIFY2(rate >= 195 * kKib && rate <= 205 * kKib, qPrintable(QString::number(rate / kKib)));
        QVERIFY(trace.JustMoved());
        trace.Add(11040, Steady(6520, after)(11040), 11040);
        QVERIFY(!trace.JustMoved());
        QCOMPARE(trace.Moved(), Steady(6520, after)(11040));

        RateTrace crawling(0, 0);
        LookEvery20Ms(crawling, 0, 6000, [](qint64 ms) { return ms / 200 * kChunk; });
        const double half = crawling.SteadyBytesPerSecond(kStillMs);
        QVERIFY2(half >= 95 * kKib && half <= 105 * kKib, qPrintable(QString::number(half / kKib)));
        // Nothing moved: no rate at all, rather than one from nothing.
        RateTrace none(0, 0);
        LookEvery20Ms(none, 0, 3000, [](qint64) { return 0; });
        QCOMPARE(none.SteadyBytesPerSecond(kStillMs), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestRateTrace)

#include "TestRateTrace.moc"
