// The figures of an upload as the downloader takes its bytes, on a clock
// the test sets.
#include <QtTest>

#include "DeliveryMeter.h"

using Takes = QList<QPair<qint64, qint64>>;

class TestDeliveryMeter : public QObject
{
    Q_OBJECT

private slots:
    void idleTimeAndSpeedFollowWhatIsTaken()
    {
        DeliveryMeter meter;
        meter.Start(0, 0, 30000);
        // A burst fills the buffers, then nothing is taken for 29 s: one
        // more byte starts the idle time over; a reading that looks back
        // is no delivery.
        QVERIFY(meter.Update(500, 1000000, 2000000));
        QVERIFY(meter.Update(29500, 1000001, 2000000));
        QVERIFY(!meter.Update(30000, 999000, 2000000));
        QCOMPARE(meter.IdleMs(59000), qint64(29500));
        // With nothing left waiting (the sender pacing itself) the peer is
        // not idle, however long the pause.
        QVERIFY(meter.Update(60000, 2000000, 2000000));
        QVERIFY(!meter.Update(120000, 2000000, 2000000));
        QCOMPARE(meter.IdleMs(121000), qint64(1000));
        // Then 20,000 bytes a second, read every 250 ms: once the burst is
        // out of the window the figure is the rate now.
        qint64 delivered = 2000000;
        for (qint64 ms = 120250; ms <= 140000; ms += 250) {
            delivered += 5000;
            meter.Update(ms, delivered, delivered + 100000);
        }
        QVERIFY2(qAbs(meter.BytesPerSecond(140000) - 20000) <= 400,
                 qPrintable(QString::number(meter.BytesPerSecond(140000))));
        QCOMPARE(meter.DrainsIn(140000, 500, 8192, 262144), qint64(10000));
        // Then nothing: the window slides on over the pause (counted from
        // a read's usual quarter second after the last), about half empty
        // after 5 s, empty once the last bytes are a window old.
        QCOMPARE(meter.BytesPerSecond(145000), 100000 * 1000 / 9750);
        QCOMPARE(meter.BytesPerSecond(150250), 0);

        // 20,000 bytes a second in gulps of 80,000 every 4 s: level up to
        // the next gulp, falling once a pause is longer than theirs.
        DeliveryMeter gulps;
        gulps.Start(0, 0, 30000);
        for (qint64 ms = 4000; ms <= 40000; ms += 4000)
            gulps.Update(ms, ms * 20, ms * 20 + 500000);
        QCOMPARE(gulps.BytesPerSecond(43900), 20000);
        QVERIFY(gulps.BytesPerSecond(46000) < 15000);
        QCOMPARE(gulps.BytesPerSecond(50000), 0);
    }

    void aReaderWhoseSystemTakesLargeStepsFarApartShowsItsPaceBetweenThem()
    {
        // 1.6 KiB/s read from what its system took at the start (2.5 MB);
        // the system takes 128 KiB more each time the reader has made that
        // much room, 80 s apart. The uploader looks every half second and
        // the row shows what it reports each second.
        const qint64 step = 128 * 1024;
        const qint64 every = 80000;
        const qint64 pace = step * 1000 / every;
        DeliveryMeter meter;
        meter.Start(0, 0, 30000);
        const qint64 handed = 8 << 20;
        int looks = 0, off = 0;
        qint64 delivered = 0;
        qint64 lastStep = 0;
        for (qint64 ms = 500; ms <= 800000; ms += 500) {
            if (ms == 500)
                delivered = 2500000;
            else if (ms % every == 0)
                delivered += step, lastStep = ms;
            meter.Update(ms, delivered, handed);
            // Once the first fill is out of the window and a step came.
            if (ms % 1000 == 0 && ms > every + 20000) {
                ++looks;
                const int shown = meter.BytesPerSecond(ms);
                off += qAbs(shown - pace) > pace / 10;
            }
        }
        QVERIFY(looks > 600);
        QVERIFY2(off == 0, qPrintable(QString("%1 of %2 looks off %3 B/s").arg(off).arg(looks).arg(pace)));
        QVERIFY(!meter.Stalled(800000));

        // Then it takes nothing more: level until its usual pause is past,
        // falling after it, nothing a window later, as any reader that
        // stops.
        QCOMPARE(meter.BytesPerSecond(lastStep + every), int(pace));
        const int falling = meter.BytesPerSecond(lastStep + every + 5000);
        QVERIFY(falling > 0 && falling < pace);
        QCOMPARE(meter.BytesPerSecond(lastStep + every + DeliveryMeter::WindowMs), 0);
    }

    void aPauseCountsAsAStallOnlyWhenTheReadersPaceCannotExplainIt()
    {
        const qint64 stall = 5000;
        // A reader whose system takes a fill, and then one more when the
        // reader empties it once, has shown no pace: it is taken to read
        // 1 KiB/s, so it may hold the two for a second a KiB.
        DeliveryMeter once;
        once.Start(0, 0, stall);
        once.Update(10, 128 * 1024, 4 << 20);
        once.Update(3000, 256 * 1024, 4 << 20);
        QCOMPARE(once.QuietAllowedMs(), stall + 256000);
        QVERIFY(!once.Stalled(3000 + stall + 255999));
        QVERIFY(once.Stalled(3000 + stall + 256000));

        // A reader taking 10 KiB/s in gulps of 256 KiB: while it reads one
        // its system holds the next, so 25.6 s pass without a byte taken.
        DeliveryMeter gulps;
        gulps.Start(0, 1000, stall);
        qint64 at = 10;
        for (qint64 taken = 256 * 1024; taken <= 1024 * 1024; taken += 256 * 1024, at += 25600)
            gulps.Update(at, 1000 + taken, 64 << 20);
        at -= 25600;
        QVERIFY(!gulps.Stalled(at + 26000));
        QVERIFY(!gulps.Stalled(at + 40000));
        // A reader that stops is still given up, however much it took.
        QVERIFY(gulps.Stalled(at + stall + DeliveryMeter::MaxGraceMs));

        // A steady reader (4 KiB every 2 s for two minutes) that stops is
        // given up within twice the stall time: its last takes are small
        // against all it read.
        DeliveryMeter steady;
        steady.Start(0, 0, stall);
        for (at = 2000; at <= 120000; at += 2000)
            steady.Update(at, at / 2000 * 4096, 1 << 20);
        at -= 2000;
        QVERIFY(!steady.Stalled(at + stall));
        QVERIFY(steady.Stalled(at + 2 * stall));
    }

    // What an uploader saw of a real stream library's reader (asyncio's
    // StreamReader with its default limit, read 1 KiB at a time at a steady
    // pace, over 127.0.0.1): at the start its system and library take all
    // they hold, then each time the library has read its buffer down it
    // takes one gulp of up to 256 KiB, and the system as much again at
    // once. Between the gulps nothing is taken for far longer than the
    // stall time, as long as two minutes at 2 KiB/s.
    void aStreamLibrarysReaderIsServedAndGivenUpOnceItsPaceIsPast_data()
    {
        QTest::addColumn<Takes>("takes");
        QTest::addColumn<qint64>("givenUpWithinMs");
        // (ms, KiB taken in all).
        QTest::newRow("10 KiB/s") << Takes{{0, 639},       {50, 1663},     {300, 1687},    {39560, 2046},
                                           {39770, 2085},  {65190, 2430},  {65390, 2469},  {90790, 2686},
                                           {90990, 2729},  {116360, 2942}, {116610, 2988}, {141960, 3197},
                                           {142160, 3205}, {193180, 3581}, {193380, 3602}, {218780, 3901},
                                           {218980, 3947}, {244360, 4221}, {244610, 4247}, {269950, 4476},
                                           {270200, 4506}, {295570, 4724}}
                                  << qint64(200000);
        QTest::newRow("2 KiB/s") << Takes{{0, 511},       {40, 831},      {300, 878},     {95570, 1006}, {95820, 1009},
                                          {223580, 1343}, {223790, 1375}, {351540, 1599}, {351800, 1633}}
                                 << DeliveryMeter::MaxGraceMs;
        // The system took far more at the start, and takes as much again
        // after each gulp: that much may wait there all along.
        QTest::newRow("2 KiB/s, a large first fill")
            << Takes{{0, 767},       {50, 1791},     {300, 1794},    {127580, 1922}, {127780, 1924},
                     {255550, 2302}, {255800, 2305}, {383550, 2558}, {383800, 2565}, {511550, 2814},
                     {511750, 2824}, {639580, 3070}, {639780, 3083}}
            << DeliveryMeter::MaxGraceMs;
    }

    void aStreamLibrarysReaderIsServedAndGivenUpOnceItsPaceIsPast()
    {
        QFETCH(Takes, takes);
        QFETCH(qint64, givenUpWithinMs);
        const qint64 stall = 5000;
        DeliveryMeter meter;
        meter.Start(0, 0, stall);
        for (const auto& take : takes) {
            QVERIFY2(!meter.Stalled(take.first), qPrintable(QString("given up before %1 ms").arg(take.first)));
            meter.Update(take.first, take.second * 1024, qint64(64) << 20);
        }
        // Then it reads nothing more: it has the time its pace needs for
        // what it may hold, and no more.
        const qint64 last = takes.last().first;
        QVERIFY(!meter.Stalled(last + 130000));
        QVERIFY(meter.Stalled(last + stall + givenUpWithinMs));
    }

    void aFastReaderThatStopsIsGivenUpSoon()
    {
        // 10 MB a second for ten seconds is reading, not a fill its system
        // holds: at most a few MiB of it may still wait there.
        const qint64 stall = 5000;
        DeliveryMeter meter;
        meter.Start(0, 0, stall);
        qint64 at = 0;
        for (qint64 taken = 1000000; taken <= 100000000; taken += 1000000)
            meter.Update(at += 100, taken, qint64(1) << 40);
        QVERIFY(!meter.Stalled(at + stall));
        QVERIFY(meter.Stalled(at + 2 * stall));
    }
};

QTEST_GUILESS_MAIN(TestDeliveryMeter)
#include "TestDeliveryMeter.moc"
