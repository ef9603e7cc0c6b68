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
        meter.Start(0, 0);
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
        // Then nothing: the window slides on over the pause, half empty
        // after 5 s, empty once the last bytes are a window old.
        QCOMPARE(meter.BytesPerSecond(145000), 10000);
        QCOMPARE(meter.BytesPerSecond(150250), 0);
    }
};

QTEST_GUILESS_MAIN(TestDeliveryMeter)
#include "TestDeliveryMeter.moc"
