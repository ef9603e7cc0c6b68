#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "StallProbe.h"

// The heartbeat that measures how long the event loop could not answer.
class TestStallProbe : public QObject
{
    Q_OBJECT

    static void Block(int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
        }
    }

private slots:
    void aBlockedLoopShowsAsAGap()
    {
        // Thresholds far from the blocks, so that a busy machine's own
        // hiccups change nothing.
        StallProbe probe(100);
        QSignalSpy first(&probe, &StallProbe::FirstBeat);
        QSignalSpy stalled(&probe, &StallProbe::Stalled);
        probe.Start();
        // Blocked before its first turn: that time is the first beat's.
        Block(60);
        QTRY_COMPARE(first.size(), 1);
        QVERIFY(probe.FirstBeatMs() >= 60);

        probe.Reset();
        QTimer::singleShot(0, [] { Block(250); });
        // The gap is known at the beat that ends it.
        QTRY_VERIFY_WITH_TIMEOUT(!stalled.isEmpty(), 30000);
        QVERIFY(std::any_of(stalled.begin(), stalled.end(),
                            [](const QList<QVariant>& gap) { return gap.at(0).toDouble() >= 250; }));
        QVERIFY(probe.LongestGapMs() >= 250);
        QVERIFY(probe.StallCount() >= 1);

        // Gaps under the threshold are measured, but are no stall; one that
        // long a busy machine does not make.
        StallProbe patient(10000);
        QSignalSpy none(&patient, &StallProbe::Stalled);
        patient.Start();
        QTRY_VERIFY(patient.BeatCount() > 1);
        const int beats = patient.BeatCount();
        QTimer::singleShot(0, [] { Block(30); });
        QTRY_VERIFY(patient.BeatCount() > beats + 2);
        QVERIFY(patient.LongestGapMs() >= 30);
        QCOMPARE(patient.StallCount(), 0);
        QVERIFY(none.isEmpty());
    }

    void madeOnlyWhenAskedFor()
    {
        qunsetenv("QUORVANE_STALL_PROBE");
        QVERIFY(!StallProbe::FromEnvironment());
        qputenv("QUORVANE_STALL_PROBE", "");
        std::unique_ptr<StallProbe> probe(StallProbe::FromEnvironment());
        QVERIFY(probe);
        QSignalSpy first(probe.get(), &StallProbe::FirstBeat);
        QVERIFY(first.wait(30000));
        qunsetenv("QUORVANE_STALL_PROBE");
    }
};

QTEST_GUILESS_MAIN(TestStallProbe)
#include "TestStallProbe.moc"
