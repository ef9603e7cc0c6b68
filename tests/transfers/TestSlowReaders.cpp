// Uploads to downloaders that read slowly, paced by the engine's download
// limit over 127.0.0.1: they run for a minute or more, so they have an
// executable of their own that runs beside the others.
#include <QFile>
#include <QtTest>

#include "DeliveryMeter.h"
#include "LoopbackTransfer.h"
#include "TransferPace.h"
#include "TransferQueueManager.h"
#include "TransfersFixture.h"
#include "TriggerFile.h"

namespace {
// Either side reports every half second or so, while bytes move and while it
// waits on the other: a longer gap is a stall of that side.
const qint64 LongestGapMs = 2000;
} // namespace

class TestSlowReaders : public QObject
{
    Q_OBJECT

    TransfersFixture f;

private slots:
    void init() { f.Start(); }
    void cleanup() { f.Stop(); }

    void aSlowReaderIsServedToTheEnd()
    {
        // The downloader takes 3 KiB/s for well over a minute, most of it
        // reading what its system took at the start. The upload neither
        // gives up nor sends anything twice, its reports never go back
        // (they repeat while the reader pauses), and its last report is
        // the whole file.
        f.engine->SetDownloadSpeedLimit(3);
        f.engine->EnableDownloadSpeedLimit(true);
        const QByteArray bytes = TransfersFixture::Pattern(220 * 1024, 5);
        QFile source(f.WriteFile("source", bytes));
        QFile target(f.Path("target"));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Append));
        LoopbackTransfer t;
        QVERIFY(t.Run(&source, &target, bytes.size()));
        QVERIFY(t.WaitDone(180000));
        QVERIFY2(t.uploadComplete, qPrintable(t.uploadError));
        QVERIFY2(t.downloadComplete, qPrintable(t.downloadError));
        QCOMPARE(TempTree::ReadAll(target.fileName()), bytes);
        QVERIFY(t.downloadProgress.last().first > 60000);
        QCOMPARE(t.uploadProgress.last().second, qint64(bytes.size()));
        for (int i = 1; i < t.uploadProgress.size(); ++i)
            QVERIFY(t.uploadProgress[i].second >= t.uploadProgress[i - 1].second);
    }

    void uploadFiguresFollowTheReader()
    {
        // At 20 KiB/s, once the buffers have filled, the uploader's figures
        // are what the downloader has taken: its position runs ahead of the
        // downloader's by no more than the downloader's system holds, and
        // its speed stays within a fifth of the rate really read while
        // bytes are still to be taken (after the last, it falls). The
        // downloader's disk stalls once halfway: the speed the uploader
        // shows over the seconds after falls, as it should, so figures
        // whose span held a stall of either side are not held to the rate.
        f.engine->SetDownloadSpeedLimit(20);
        f.engine->EnableDownloadSpeedLimit(true);
        const QByteArray bytes = TransfersFixture::Pattern(1000 * 1024, 6);
        QFile source(f.WriteFile("source", bytes));
        TriggerFile target(f.Path("target"), bytes.size() / 2, TriggerFile::Stall(3000));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Append));
        LoopbackTransfer t;
        QVERIFY(t.Run(&source, &target, bytes.size(), 1));
        QVERIFY(t.WaitDone(120000));
        QVERIFY2(t.uploadComplete, qPrintable(t.uploadError));
        QVERIFY2(t.downloadComplete, qPrintable(t.downloadError));
        QVERIFY(target.Triggered());

        for (const auto& report : t.uploadProgress)
            QVERIFY2(report.first < 12000 ||
                         report.second - TransferPace::At(t.downloadProgress, report.first) <= 256 * 1024,
                     qPrintable(QString("%1 taken at %2 ms").arg(report.second).arg(report.first)));
        const double real = TransferPace(t.downloadProgress, 0, LongestGapMs).KibPerSecond() * 1024;
        int compared = 0, stalled = 0;
        for (int i = 0; i < t.uploadProgress.size(); ++i) {
            const qint64 ms = t.uploadProgress[i].first;
            if (ms < 12000 || t.uploadProgress[i].second == bytes.size())
                continue;
            const qint64 spanMs = DeliveryMeter::WindowMs + LongestGapMs;
            if (TransferPace::LongestGap(t.uploadProgress, ms - spanMs, ms) > LongestGapMs ||
                TransferPace::LongestGap(t.downloadProgress, ms - spanMs, ms) > LongestGapMs) {
                ++stalled;
                continue;
            }
            ++compared;
            const int speed = t.uploadSpeeds[i];
            QVERIFY2(qAbs(speed - real) <= real / 5,
                     qPrintable(QString("%1 B/s at %2 ms, read at %3 B/s").arg(speed).arg(ms).arg(real)));
        }
        QVERIFY(stalled > 0);
        QVERIFY(compared >= 5);
    }
};

QTEST_GUILESS_MAIN(TestSlowReaders)
#include "TestSlowReaders.moc"
