// The figures of an upload as the downloader takes its bytes, on a clock
// the test sets.
#include <QtTest>

#include "DeliveryMeter.h"

class TestDeliveryMeter : public QObject
{
    Q_OBJECT

private slots:
    void aTrickleKeepsTheUploadAlive()
    {
        DeliveryMeter meter;
        meter.Start(1000, 500);
        QCOMPARE(meter.Delivered(), qint64(500));
        // Nothing taken for 29 s, then one byte: the idle time starts over.
        QCOMPARE(meter.IdleMs(30000), qint64(29000));
        QVERIFY(meter.Update(30000, 501, 600));
        QCOMPARE(meter.IdleMs(59000), qint64(29000));
        // A reading that looks back, or stands still, is no delivery.
        QVERIFY(!meter.Update(59000, 500, 600));
        QVERIFY(!meter.Update(59500, 501, 600));
        QCOMPARE(meter.Delivered(), qint64(501));
        QCOMPARE(meter.IdleMs(60000), qint64(30000));
        // With nothing left waiting (the sender pacing itself) the peer
        // is not idle, however long the pause.
        QVERIFY(meter.Update(61000, 600, 600));
        QVERIFY(!meter.Update(120000, 600, 600));
        QCOMPARE(meter.IdleMs(121000), qint64(1000));
    }

    void speedIsTakenOverTheLastWindow()
    {
        DeliveryMeter meter;
        meter.Start(0, 0);
        QCOMPARE(meter.BytesPerSecond(0), 0);
        // A burst fills the buffers: 1 MB in the first half second.
        QVERIFY(meter.Update(500, 1000000, 2000000));
        // Then 20,000 bytes a second for a minute, read every 250 ms.
        qint64 delivered = 1000000;
        for (qint64 ms = 750; ms <= 60500; ms += 250) {
            delivered += 5000;
            meter.Update(ms, delivered, delivered + 100000);
        }
        // The burst is long out of the window; the figure is the rate now.
        QVERIFY2(qAbs(meter.BytesPerSecond(60500) - 20000) <= 20000 / 50,
                 qPrintable(QString::number(meter.BytesPerSecond(60500))));
        // A chunk is what drains in the time asked, within its bounds.
        QCOMPARE(meter.DrainsIn(60500, 500, 8192, 262144), qint64(10000));
        QCOMPARE(meter.DrainsIn(60500, 100, 8192, 262144), qint64(8192));
        QCOMPARE(meter.DrainsIn(60500, 60000, 8192, 262144), qint64(262144));
        // Before a second has passed nothing is known: the largest chunk.
        // A transfer that ends within the first sample still has a speed.
        DeliveryMeter fresh;
        fresh.Start(0, 0);
        fresh.Update(40, 10, 20);
        fresh.Update(100, 20, 20);
        QCOMPARE(fresh.DrainsIn(900, 500, 8192, 262144), qint64(262144));
        QCOMPARE(fresh.BytesPerSecond(100), 200);
    }
};

QTEST_GUILESS_MAIN(TestDeliveryMeter)
#include "TestDeliveryMeter.moc"
