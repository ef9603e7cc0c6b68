// A limited upload's pacing against a model of the system's send queue on
// a link with a round trip, which loopback cannot have here: the upload
// thread's steps (pace, wait until little waits to leave, hand a chunk) on
// a clock the test moves.
#include <QtTest>
#include <deque>

#include "SendQueue.h"
#include "SpeedLimit.h"
#include "TransferPacer.h"

namespace {
// One connection over a 1 MB/s link: bytes handed to the system leave
// while the peer's window has room and are acknowledged a round trip
// later. The peer's reader takes what arrived at its pace (0: at once);
// what it has not taken narrows the window.
struct Link
{
    qint64 roundTripMs = 0;
    qint64 window = 4 << 20;
    qint64 readPerMs = 0;
    qint64 nowMs = 0, unsent = 0, inFlight = 0, held = 0, acknowledged = 0, mostUnsent = 0;
    std::deque<std::pair<qint64, qint64>> flight; // (ms it left, bytes)

    void AdvanceTo(qint64 ms)
    {
        for (; nowMs < ms; ++nowMs) {
            for (; !flight.empty() && flight.front().first + roundTripMs <= nowMs; flight.pop_front()) {
                acknowledged += flight.front().second;
                held += flight.front().second;
                inFlight -= flight.front().second;
            }
            held -= readPerMs > 0 ? std::min(held, readPerMs) : held;
            const qint64 leaving = std::min({unsent, qint64(1000), std::max<qint64>(0, window - held - inFlight)});
            flight.emplace_back(nowMs, leaving);
            unsent -= leaving;
            inFlight += leaving;
        }
    }

    // Sends at the limit from now until the clock reaches untilMs.
    void Upload(int limitKib, qint64 untilMs)
    {
        SpeedLimit limit;
        limit.Set(limitKib);
        qint64 nowUs = nowMs * 1000;
        TransferPacer pacer(&limit, [] { return false; }, {[&] { return nowUs; }, [&](qint64 us) { nowUs += us; }});
        pacer.Start(limitKib);
        const SendQueue queue([&] {
            AdvanceTo(nowUs / 1000);
            return SendQueue::Reading{unsent + inFlight, unsent};
        });
        const qint64 bytesPerSecond = qint64(limitKib) * 1024;
        while (nowUs < untilMs * 1000) {
            pacer.Pace();
            for (qint64 excess; (excess = queue.Excess(0, bytesPerSecond)) > 0;) {
                pacer.PassOn();
                nowUs += SendQueue::LookMs(excess, bytesPerSecond) * 1000;
            }
            unsent += pacer.ChunkBytes();
            pacer.Moved(pacer.ChunkBytes());
            mostUnsent = std::max(mostUnsent, unsent);
        }
        AdvanceTo(untilMs);
    }
};
} // namespace

class TestSendQueue : public QObject
{
    Q_OBJECT

private slots:
    void aLimitedUploadReachesItsLimitAtAnyRoundTrip_data()
    {
        QTest::addColumn<int>("roundTripMs");
        QTest::newRow("20 ms") << 20;
        QTest::newRow("500 ms") << 500;
        QTest::newRow("1000 ms") << 1000;
    }

    void aLimitedUploadReachesItsLimitAtAnyRoundTrip()
    {
        QFETCH(int, roundTripMs);
        Link link;
        link.roundTripMs = roundTripMs;
        link.Upload(100, 10000);
        const qint64 before = link.acknowledged;
        link.Upload(100, 30000);
        const double ratio = double(link.acknowledged - before) / 20 / (100 * 1024);
        QVERIFY2(ratio >= 0.95 && ratio <= 1.05, qPrintable(QString("%1 of the limit").arg(ratio)));
    }

    void aSlowReaderOnALongLinkLeavesLittleWaitingToLeave()
    {
        // The reader takes 10 KiB/s for a minute: its window closes, and
        // what waits here to leave at once when it speeds up stays within a
        // quarter second of the limit and a chunk, as on a short link.
        Link link;
        link.roundTripMs = 500;
        link.window = 64 * 1024;
        link.readPerMs = 10;
        link.Upload(100, 60000);
        QVERIFY2(link.acknowledged >= 9 * 1024 * 58 && link.acknowledged <= 11 * 1024 * 62,
                 qPrintable(QString::number(link.acknowledged)));
        QVERIFY2(link.mostUnsent <= 100 * 1024 * SendQueue::QueueMs / 1000 + 10 * 1024,
                 qPrintable(QString::number(link.mostUnsent)));
    }
};

QTEST_GUILESS_MAIN(TestSendQueue)
#include "TestSendQueue.moc"
