// The figures of an upload as the downloader takes its bytes, on a clock
// the test sets.
#include <QtTest>

#include "DeliveryMeter.h"

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

    void aPauseCountsAsAStallOnlyWhenTheReadersPaceCannotExplainIt()
    {
        const qint64 stall = 5000;
        // A reader whose system takes a fill, and then one more when the
        // reader empties it once, has shown no pace: the stall time alone.
        DeliveryMeter once;
        once.Start(0, 0, stall);
        once.Update(10, 128 * 1024, 4 << 20);
        once.Update(3000, 256 * 1024, 4 << 20);
        QCOMPARE(once.QuietAllowedMs(8000), stall);
        QVERIFY(!once.Stalled(7999));
        QVERIFY(once.Stalled(8000));

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
};

QTEST_GUILESS_MAIN(TestDeliveryMeter)
#include "TestDeliveryMeter.moc"
