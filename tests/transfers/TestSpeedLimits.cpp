#include <QFile>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>
#include <linux/sockios.h>
#include <memory>
#include <sys/ioctl.h>

#include "AtomicDateTime.h"
#include "Data.h"
#include "DownloadThread.h"
#include "LoopbackTransfer.h"
#include "SendQueue.h"
#include "Settings.h"
#include "SpeedLimit.h"
#include "TransferPace.h"
#include "TransferPacer.h"
#include "TransferQueueManager.h"
#include "TransfersFixture.h"
#include "TriggerFile.h"
#include "UploadThread.h"

namespace {
ItemPtr Entry(const char* entryType, const char* status)
{
    ItemPtr entry = d.GetType(entryType)->NewItem();
    const std::string statusType = std::string(entryType) + "_status";
    entry += d.GetType(statusType)->GetItem(status);
    return entry;
}

// A rate is measured over about three seconds of moving from the second
// second on, however long a stall of either side makes that take.
const qint64 FromMs = 1000;
const qint64 MovingMs = 3200;
// Progress reports come every half second while bytes move: a step between
// two positions much longer than that held a stall.
const qint64 LongestStepMs = 1000;
// A disk that stalls once stands its transfer's thread still this long.
const qint64 StallMs = 2500;

// The bytes a transfer at limitKib has moved halfway through the measured
// span: where a stall lands.
qint64 Halfway(int limitKib)
{
    return qint64(limitKib) * 1024 * (FromMs + MovingMs / 2) / 1000;
}

// Waits until every download has moved for MovingMs after FromMs by its own
// reports, or one has ended; true in the first case.
bool WaitForMoving(const QList<const LoopbackTransfer*>& transfers)
{
    const auto measured = [&] {
        for (const LoopbackTransfer* t : transfers)
            if (TransferPace(t->downloadProgress, FromMs, LongestStepMs).MovingMs() < MovingMs)
                return false;
        return true;
    };
    const auto ended = [&] {
        for (const LoopbackTransfer* t : transfers)
            if (t->DownloadDone())
                return true;
        return false;
    };
    return QTest::qWaitFor([&] { return measured() || ended(); }, 60000) && measured();
}

// Changes during a pacer's sleep: (milliseconds into it, new limit in KiB/s;
// 0 switches the limit off, -1 asks the thread to stop).
using LimitSteps = QList<QPair<int, int>>;

// A pacer's clock that moves only while the pacer sleeps, and makes each
// change once the pacer's time reaches it.
struct ScriptedClock
{
    SpeedLimit& limit;
    LimitSteps steps;
    bool stop = false;
    qint64 nowUs = 0;

    TransferPacer::Clock Clock()
    {
        return {[this] { return nowUs; },
                [this](qint64 us) {
                    for (nowUs += us; !steps.isEmpty() && steps.first().first * qint64(1000) <= nowUs;) {
                        const int kib = steps.takeFirst().second;
                        if (kib < 0)
                            stop = true;
                        else if (kib == 0)
                            limit.Clear();
                        else
                            limit.Set(kib);
                    }
                }};
    }
};
} // namespace

class TestSpeedLimits : public QObject
{
    Q_OBJECT

    TransfersFixture f;

    // An upload thread sending a large file of zeros to a download thread
    // that writes into /dev/null.
    bool StartStream(LoopbackTransfer& t, QFile& source, QFile& sink)
    {
        if (!source.open(QIODevice::ReadOnly) || !sink.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        return t.Run(&source, &sink, source.size());
    }

private slots:
    void init() { f.Start(); }
    void cleanup() { f.Stop(); }

    void limitIsSharedAmongTheTransfersMovingBytes()
    {
        TransferQueueManager& e = *f.engine;
        e.SetDownloadSpeedLimit(100);
        QCOMPARE(GetSetting("download_speed_limit"), QString("100"));
        QCOMPARE(e.DownloadSpeedLimit().PerTransfer(), 0);
        e.EnableDownloadSpeedLimit(true);
        QCOMPARE(GetSetting("download_speed_limit_enabled"), QString("yes"));
        QCOMPARE(e.DownloadSpeedLimit().PerTransfer(), 100);
        QCOMPARE(e.DownloadSpeedLimit().Total(), 100);

        const auto never = [] { return false; };
        TransferPacer a(&e.DownloadSpeedLimit(), never), b(&e.DownloadSpeedLimit(), never),
            c(&e.DownloadSpeedLimit(), never);
        for (TransferPacer* pacer : {&a, &b, &c})
            pacer->Start(100);
        e.DetermineDownloadSpeedLimit();
        QCOMPARE(e.DownloadSpeedLimit().PerTransfer(), 33);
        QCOMPARE(e.GetDownloadSpeed(), 100);
        // The upload side is a state of its own.
        QCOMPARE(e.UploadSpeedLimit().PerTransfer(), 0);

        // One waiting on its peer steps aside, though it still paces at
        // the share it would have; one whose last byte has gone leaves.
        c.PassOn();
        QCOMPARE(e.DownloadSpeedLimit().PerTransfer(), 50);
        QCOMPARE(c.Limit(), 33);
        b.Finish();
        QCOMPARE(e.DownloadSpeedLimit().PerTransfer(), 100);
        QCOMPARE(c.Limit(), 50);
        QVERIFY(a.Pace());
        QVERIFY(c.Pace());
        QCOMPARE(e.DownloadSpeedLimit().PerTransfer(), 50);

        // Uploads still negotiating move nothing and count for nothing; a
        // share below 1 KiB/s is raised to 1, never 0 (no limit).
        e.SetUploadSpeedLimit(2);
        e.EnableUploadSpeedLimit(true);
        for (const char* status : {"requesting", "connecting", "uploading"})
            Entry("upload_entry", status);
        e.DetermineUploadSpeedLimit();
        QCOMPARE(e.UploadSpeedLimit().PerTransfer(), 2);
        TransferPacer u(&e.UploadSpeedLimit(), never), v(&e.UploadSpeedLimit(), never), w(&e.UploadSpeedLimit(), never);
        for (TransferPacer* pacer : {&u, &v, &w})
            pacer->Start(2);
        QCOMPARE(e.UploadSpeedLimit().PerTransfer(), 1);
        QCOMPARE(e.GetUploadSpeed(), 2);
    }

    void offZeroOrNegativeMeansNoLimit()
    {
        TransferQueueManager& e = *f.engine;
        e.SetDownloadSpeedLimit(50);
        e.EnableDownloadSpeedLimit(true);
        QCOMPARE(e.DownloadSpeedLimit().PerTransfer(), 50);
        for (const char* value : {"0", "-5", "nonsense"}) {
            SetSetting("download_speed_limit", value);
            e.DetermineDownloadSpeedLimit();
            QCOMPARE(e.DownloadSpeedLimit().PerTransfer(), 0);
            QCOMPARE(e.GetDownloadSpeed(), 0);
            e.SetDownloadSpeedLimit(50);
            QCOMPARE(e.GetDownloadSpeed(), 50);
        }

        // Off keeps the pool; on again empties it.
        e.DownloadSpeedLimit().AddToPool(5000, e.DownloadSpeedLimit().Generation());
        e.EnableDownloadSpeedLimit(false);
        QCOMPARE(e.GetDownloadSpeed(), 0);
        QCOMPARE(e.DownloadSpeedLimit().Pool(), qint64(5000));
        e.EnableDownloadSpeedLimit(true);
        QCOMPARE(e.DownloadSpeedLimit().Pool(), qint64(0));
    }

    void recomputingRestartsTheMeasurementOfRunningTransfers()
    {
        const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
        auto* runningStart = new AtomicDateTime(old);
        auto* runningBytes = new TransferCounter64(12345);
        auto* queuedStart = new AtomicDateTime(old);
        auto* queuedBytes = new TransferCounter64(777);
        ItemPtr running = Entry("upload_entry", "uploading");
        running += d.GetType("last_speed_measurement_time")->GetItem(Value(runningStart));
        running += d.GetType("bytes_since_last_receipt")->GetItem(Value(runningBytes));
        ItemPtr queued = Entry("upload_entry", "queued");
        queued += d.GetType("last_speed_measurement_time")->GetItem(Value(queuedStart));
        queued += d.GetType("bytes_since_last_receipt")->GetItem(Value(queuedBytes));

        // Without a limit in force nothing is restarted.
        f.engine->DetermineUploadSpeedLimit();
        QCOMPARE(runningStart->Get(), old);

        const QDateTime before = QDateTime::currentDateTime();
        f.engine->SetUploadSpeedLimit(10);
        f.engine->EnableUploadSpeedLimit(true);
        QVERIFY(runningStart->Get() >= before.addMSecs(-1));
        QCOMPARE(runningBytes->load(), qint64(0));
        QCOMPARE(queuedStart->Get(), old);
        QCOMPARE(queuedBytes->load(), qint64(777));
    }

    void pacerSleepsOffWhatItMoved()
    {
        // The exit flag is raised from the start, so Pace() returns false
        // exactly when it had to sleep. A limit of 16 KiB/s, whose pool
        // holds a second of it. The clock moves only by the pacers' sleeps,
        // lest the time a loaded machine takes between two lines add its
        // allowance to the pool.
        SpeedLimit limit;
        limit.Set(16);
        qint64 nowUs = 0;
        const TransferPacer::Clock clock{[&nowUs] { return nowUs; }, [&nowUs](qint64 us) { nowUs += us; }};
        TransferPacer pacer(
            &limit, [] { return true; }, clock);
        pacer.Start(16);
        QVERIFY(pacer.Pace());
        pacer.Moved(8192);
        QVERIFY(!pacer.Pace());

        // Spare bytes in the pool are taken before sleeping, an even part
        // of them by each of the two transfers.
        TransferPacer other(
            &limit, [] { return true; }, clock);
        other.Start(16);
        limit.AddToPool(1000000, limit.Generation());
        QCOMPARE(limit.Pool(), qint64(16 * 1024));
        other.Moved(8192);
        QVERIFY(other.Pace());
        QCOMPARE(limit.Pool(), qint64(8 * 1024));
        QCOMPARE(other.Owed(), qint64(0));
    }

    void bytesMovedWithoutALimitAreNotSleptOff()
    {
        SpeedLimit limit;
        TransferPacer pacer(&limit, [] { return true; });
        pacer.Start(0);
        pacer.Moved(10 * 1024 * 1024);
        QVERIFY(pacer.Pace());
        pacer.Moved(8192);
        limit.Set(1);
        QVERIFY(pacer.Pace());
        QCOMPARE(pacer.Owed(), qint64(0));
        QCOMPARE(pacer.PreviousLimit(), 1);
    }

    // A limit changed while a pacer sleeps off its last chunk holds from
    // the next slice on, counted on what is still owed; a stop ends the
    // sleep as soon.
    void aPacerSleepFollowsTheLimitAsItChanges_data()
    {
        QTest::addColumn<int>("startLimit");
        QTest::addColumn<qint64>("moved");
        QTest::addColumn<LimitSteps>("steps");
        QTest::addColumn<int>("endsAfterMs");
        QTest::addColumn<int>("endsByMs");

        const int slice = TransferPacer::SleepSliceMs;
        // 1000 typed over 20000 a key at a time: 256 KiB owed at 1 KiB/s
        // would be slept off for over four minutes.
        QTest::newRow("typed lower") << 1 << TransferPacer::MaxChunk << LimitSteps{{300, 10}, {600, 100}, {900, 1000}}
                                     << 900 << 900 + slice + 300;
        QTest::newRow("raised") << 1 << TransferPacer::MinChunk << LimitSteps{{1000, 20000}} << 1000
                                << 1000 + slice + 10;
        // 256 KiB at 100 KiB/s is 2.6 s; at most 75 KiB of it is paid when
        // 10 KiB/s is seen, so the rest takes 18 s or more.
        QTest::newRow("lowered") << 100 << TransferPacer::MaxChunk << LimitSteps{{500, 10}} << 18000 << 21500;
        QTest::newRow("switched off") << 1 << TransferPacer::MinChunk << LimitSteps{{1000, 0}} << 1000 << 1000 + slice;
        QTest::newRow("stopped") << 1 << TransferPacer::MinChunk << LimitSteps{{1000, -1}} << 1000 << 1000 + slice;
    }

    void aPacerSleepFollowsTheLimitAsItChanges()
    {
        QFETCH(int, startLimit);
        QFETCH(qint64, moved);
        QFETCH(LimitSteps, steps);
        QFETCH(int, endsAfterMs);
        QFETCH(int, endsByMs);

        SpeedLimit limit;
        limit.Set(20000);
        ScriptedClock clock{limit, steps};
        TransferPacer pacer(
            &limit, [&clock] { return clock.stop; }, clock.Clock());
        pacer.Start(20000);
        QVERIFY(pacer.Pace());
        pacer.Moved(moved);
        limit.Set(startLimit);
        const bool stopped = steps.last().second < 0;
        QCOMPARE(pacer.Pace(), !stopped);
        QVERIFY2(clock.nowUs >= qint64(endsAfterMs) * 1000 && clock.nowUs <= qint64(endsByMs) * 1000,
                 qPrintable(QString("slept %1 ms").arg(clock.nowUs / 1000)));
        QVERIFY(clock.steps.isEmpty());
        QCOMPARE(pacer.PreviousLimit(), stopped ? startLimit : steps.last().second);
    }

    void timeWithoutALimitIsNotSavedForLater()
    {
        // A minute without a limit, then one of 100 KiB/s: the minute's
        // allowance in the pool would let 6,000 KiB through unpaced.
        SpeedLimit limit;
        ScriptedClock clock{limit, {}};
        TransferPacer pacer(
            &limit, [] { return false; }, clock.Clock());
        pacer.Start(0);
        QVERIFY(pacer.Pace());
        clock.nowUs += qint64(60) * 1000 * 1000;
        pacer.Moved(qint64(50) << 20);
        limit.Set(100);
        QVERIFY(pacer.Pace());
        QCOMPARE(limit.Pool(), qint64(0));
        QCOMPARE(clock.nowUs, qint64(60) * 1000 * 1000);
    }

    void aWaitOnThePeerIsPassedOnAndSavesNothingForLater()
    {
        // 8 KiB moved at 100 KiB/s, then half a second waiting on the peer:
        // the share of that time goes to the others at once, less the
        // chunk.
        SpeedLimit limit;
        limit.Set(100);
        ScriptedClock clock{limit, {}};
        TransferPacer pacer(
            &limit, [] { return false; }, clock.Clock());
        pacer.Start(100);
        QVERIFY(pacer.Pace());
        pacer.Moved(8192);
        clock.nowUs += 500 * 1000;
        pacer.PassOn();
        QCOMPARE(limit.Pool(), qint64(51200 - 8192));
        QCOMPARE(pacer.Owed(), qint64(0));

        // A minute blocked on the peer before the next step would be
        // 6,000 KiB let through at once afterwards; the wait earns nothing
        // (the others had the share), and the next chunk is paid from what
        // its start passed on.
        pacer.Moved(8192);
        clock.nowUs += qint64(60) * 1000 * 1000;
        QVERIFY(pacer.Pace());
        QCOMPARE(limit.Pool(), qint64(51200 - 2 * 8192));
        QCOMPARE(clock.nowUs, qint64(60500) * 1000);

        // Switched off, the pool stays as it was and takes no more.
        limit.Clear();
        limit.AddToPool(1000, limit.Generation());
        QCOMPARE(limit.Pool(), qint64(51200 - 2 * 8192));
    }

    void aLimitChangedWhileAPacerWorksOutItsAllowanceStartsFromAnEmptyPool()
    {
        // The user's change lands between a pacer's reading of its share
        // and its adding to the pool, as it may at any moment: what the old
        // limit allowed is not pooled, at a step or as a wait begins.
        SpeedLimit limit;
        limit.Set(100);
        qint64 nowUs = 0;
        int changeTo = 0;
        TransferPacer pacer(&limit, [] { return false; },
                            {[&] {
                                 if (changeTo)
                                     limit.Set(std::exchange(changeTo, 0));
                                 return nowUs;
                             },
                             [&](qint64 us) { nowUs += us; }});
        pacer.Start(100);
        QVERIFY(pacer.Pace());
        nowUs += 500000;
        changeTo = 50;
        QVERIFY(pacer.Pace());
        QCOMPARE(limit.Pool(), qint64(0));
        QVERIFY(pacer.Pace());
        nowUs += 500000;
        changeTo = 25;
        pacer.PassOn();
        QCOMPARE(limit.Pool(), qint64(0));
    }

    void transfersWaitingOnTheirPeersPassTheirShareOnAndQueueLittle()
    {
        // Each direction under a limit of 100 KiB/s, with a peer that stops:
        // a downloader that reads nothing (its system holds 8 KiB) and an
        // uploader that sends 8 KiB and no more. Neither transfer can use
        // its share, and each steps aside as it waits: another transfer of
        // its direction has the whole limit. And the stuck upload has
        // handed its system no more than a fraction of a second of the
        // limit yet to leave: bytes handed over count as moved, and
        // megabytes of them would leave at once when the reader came back.
        f.engine->SetUploadSpeedLimit(100);
        f.engine->EnableUploadSpeedLimit(true);
        f.engine->SetDownloadSpeedLimit(100);
        f.engine->EnableDownloadSpeedLimit(true);
        QFile source(f.SparseFile("source", qint64(64) << 20));
        QVERIFY(source.open(QIODevice::ReadOnly));
        LoopbackTransfer stuckUpload;
        QVERIFY(stuckUpload.Connect());
        // Read here while the socket is still this thread's.
        const int uploader = int(stuckUpload.uploaderSocket->socketDescriptor());
        stuckUpload.downloaderSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        stuckUpload.StartUpload(&source, 5);
        quint32 token = 0;
        QVERIFY(stuckUpload.ReadToken(token));
        stuckUpload.downloaderSocket->setReadBufferSize(1);
        stuckUpload.WriteOffset(0);

        QFile sink(f.Path("sink"));
        QVERIFY(sink.open(QIODevice::WriteOnly | QIODevice::Append));
        LoopbackTransfer stuckDownload;
        QVERIFY(stuckDownload.Connect());
        stuckDownload.StartDownload(&sink, qint64(1) << 20, 0);
        stuckDownload.uploaderSocket->write(QByteArray(8192, 'x'));
        stuckDownload.uploaderSocket->flush();

        // Each has moved bytes, so its pacer has joined the division.
        QTRY_VERIFY_WITH_TIMEOUT(stuckUpload.downloaderSocket->bytesAvailable() > 0, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!stuckDownload.downloadProgress.isEmpty(), 30000);
        for (SpeedLimit* limit : {&f.engine->UploadSpeedLimit(), &f.engine->DownloadSpeedLimit()}) {
            TransferPacer other(limit, [] { return false; });
            other.Start(100);
            QTRY_COMPARE_WITH_TIMEOUT(other.Limit(), 100, 30000);
        }
        int queued = -1;
        QCOMPARE(::ioctl(uploader, SIOCOUTQNSD, &queued), 0);
        const int chunk = 10 * 1024;
        QVERIFY2(queued <= 100 * 1024 * SendQueue::QueueMs / 1000 + chunk, qPrintable(QString::number(queued)));
    }

    void unusedAllowanceGoesToThePool()
    {
        // 10,000 KiB/s for 300 ms is 3,072,000 bytes of allowance, a product
        // (limit * 1024 * ms) far beyond 32 bits.
        SpeedLimit limit;
        limit.Set(10000);
        TransferPacer pacer(&limit, [] { return false; });
        pacer.Start(10000);
        QThread::msleep(300);
        QVERIFY(pacer.Pace());
        QVERIFY2(limit.Pool() >= 3072000, qPrintable(QString::number(limit.Pool())));
        QVERIFY(limit.Pool() < qint64(10000) * 1024 * 60);
    }

    void raisingALimitResumesAnUploadThatSleptAtTheOldOne()
    {
        // At 1 KiB/s the first chunk of 8 KiB is followed by an eight-second
        // sleep; the user goes on typing "1000" and the bytes flow again.
        f.engine->SetUploadSpeedLimit(1);
        f.engine->EnableUploadSpeedLimit(true);
        QFile source(f.SparseFile("source", qint64(64) << 20));
        QVERIFY(source.open(QIODevice::ReadOnly));
        LoopbackTransfer t;
        QVERIFY(t.StartUploadAt(&source, 3, 0));
        qint64 received = 0;
        QTRY_VERIFY_WITH_TIMEOUT((received += t.downloaderSocket->readAll().size()) >= TransferPacer::MinChunk, 30000);
        QCOMPARE(received, TransferPacer::MinChunk);
        for (int limit : {10, 100, 1000})
            f.engine->SetUploadSpeedLimit(limit);
        QTRY_VERIFY_WITH_TIMEOUT((received += t.downloaderSocket->readAll().size()) >= 64 * 1024, 4000);
    }

    void oneTransferHoldsTheLimit_data()
    {
        QTest::addColumn<int>("limit");
        QTest::newRow("200 KiB/s") << 200;
        // Above 8 MiB/s a chunk is due in under a millisecond.
        QTest::newRow("10000 KiB/s") << 10000;
    }

    void oneTransferHoldsTheLimit()
    {
        QFETCH(int, limit);
        f.engine->SetUploadSpeedLimit(limit);
        f.engine->EnableUploadSpeedLimit(true);
        Entry("upload_entry", "uploading");
        f.engine->DetermineUploadSpeedLimit();
        QCOMPARE(f.engine->UploadSpeedLimit().PerTransfer(), limit);

        // The upload's disk stalls once, halfway through the measured span:
        // the transfer stands still meanwhile and moves at the limit again
        // after it.
        TriggerFile source(f.SparseFile("source", qint64(256) << 20), Halfway(limit), TriggerFile::Stall(StallMs));
        QFile sink("/dev/null");
        LoopbackTransfer t;
        QVERIFY(StartStream(t, source, sink));
        const bool measured = WaitForMoving({&t});
        // Never ahead of the limit by more than its first chunk, from the
        // start on: a ceiling that no stall lifts.
        const qint64 ahead = TransferPace::MostAhead({t.downloadProgress}, limit);
        QVERIFY2(ahead <= TransferPace::FirstChunks(1, limit), qPrintable(QString::number(ahead) + " bytes ahead"));
        QVERIFY(measured);
        const double rate = TransferPace(t.downloadProgress, FromMs, LongestStepMs).KibPerSecond();
        QVERIFY2(rate >= limit * 0.9, qPrintable(QString::number(rate) + " KiB/s"));
        QVERIFY(source.Triggered());
    }

    void severalTransfersShareTheLimit()
    {
        f.engine->SetDownloadSpeedLimit(300);
        f.engine->EnableDownloadSpeedLimit(true);

        std::unique_ptr<QFile> sources[3], sinks[3];
        LoopbackTransfer t[3];
        for (int i = 0; i < 3; ++i) {
            sources[i].reset(new QFile(f.SparseFile(QString::number(i), qint64(64) << 20)));
            sinks[i].reset(new QFile("/dev/null"));
            QVERIFY(StartStream(t[i], *sources[i], *sinks[i]));
        }
        const bool measured = WaitForMoving({&t[0], &t[1], &t[2]});
        // Together never ahead of the limit by more than their first chunks.
        const qint64 ahead =
            TransferPace::MostAhead({t[0].downloadProgress, t[1].downloadProgress, t[2].downloadProgress}, 300);
        QVERIFY2(ahead <= TransferPace::FirstChunks(3, 300), qPrintable(QString::number(ahead) + " bytes ahead"));
        QVERIFY(measured);
        double total = 0;
        for (int i = 0; i < 3; ++i) {
            const double rate = TransferPace(t[i].downloadProgress, FromMs, LongestStepMs).KibPerSecond();
            QVERIFY2(rate > 50, qPrintable(QString::number(rate) + " KiB/s"));
            total += rate;
        }
        QVERIFY2(total >= 300 * 0.9, qPrintable(QString::number(total) + " KiB/s"));
    }

    void slowReaderLeavesItsShareToTheOthers()
    {
        f.engine->SetUploadSpeedLimit(300);
        f.engine->EnableUploadSpeedLimit(true);

        std::unique_ptr<QFile> sources[2], sinks[2];
        LoopbackTransfer fast[2];
        for (int i = 0; i < 2; ++i) {
            // The first fast upload's disk stalls once, halfway through the
            // measured span; it keeps its share meanwhile.
            const QString path = f.SparseFile(QString::number(i), qint64(64) << 20);
            sources[i].reset(i == 0 ? new TriggerFile(path, Halfway(150), TriggerFile::Stall(StallMs))
                                    : new QFile(path));
            sinks[i].reset(new QFile("/dev/null"));
            QVERIFY(StartStream(fast[i], *sources[i], *sinks[i]));
        }

        // The third downloader takes 2400 bytes every 100 ms, with small
        // buffers on both ends so that they cannot hide its pace.
        QFile slowSource(f.SparseFile("c", qint64(64) << 20));
        QVERIFY(slowSource.open(QIODevice::ReadOnly));
        LoopbackTransfer slow;
        QVERIFY(slow.Connect());
        slow.downloaderSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        slow.downloaderSocket->setReadBufferSize(4096);
        slow.uploaderSocket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 4096);
        slow.StartUpload(&slowSource, 3);
        quint32 token = 0;
        QVERIFY(slow.ReadToken(token));
        slow.WriteOffset(0);
        // What the slow reader has taken, timed on the fast transfers' clock.
        TransferPace::Samples slowTaken;
        qint64 slowBytes = 0;
        QTimer reader;
        connect(&reader, &QTimer::timeout, this, [&] {
            slowBytes += slow.downloaderSocket->read(2400).size();
            slowTaken.append({fast[0].clock.elapsed(), slowBytes});
        });
        reader.start(100);

        const bool measured = WaitForMoving({&fast[0], &fast[1]});
        reader.stop();
        // Together never ahead of the limit by more than their first chunks.
        const qint64 ahead =
            TransferPace::MostAhead({fast[0].downloadProgress, fast[1].downloadProgress, slowTaken}, 300);
        QVERIFY2(ahead <= TransferPace::FirstChunks(3, 300), qPrintable(QString::number(ahead) + " bytes ahead"));
        QVERIFY(measured);
        const qint64 endMs = slowTaken.last().first;
        const double slowRate =
            double(slowBytes - TransferPace::At(slowTaken, FromMs)) * 1000 / 1024 / double(endMs - FromMs);
        const double fastRates[2] = {TransferPace(fast[0].downloadProgress, FromMs, LongestStepMs).KibPerSecond(),
                                     TransferPace(fast[1].downloadProgress, FromMs, LongestStepMs).KibPerSecond()};
        const QString figures = QString("%1 + %2 + %3 KiB/s").arg(fastRates[0]).arg(fastRates[1]).arg(slowRate);
        QVERIFY2(slowRate < 40, qPrintable(figures));
        // The fast two take the share the slow one leaves (which of them
        // gets it is open).
        QVERIFY2(fastRates[0] + fastRates[1] > 220, qPrintable(figures));
        QVERIFY(static_cast<TriggerFile*>(sources[0].get())->Triggered());
    }
};

QTEST_GUILESS_MAIN(TestSpeedLimits)
#include "TestSpeedLimits.moc"
