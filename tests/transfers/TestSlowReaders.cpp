// Uploads to downloaders that read slowly, paced by the engine's download
// limit over 127.0.0.1: they run for a minute or more, so they have an
// executable of their own that runs beside the others.
#include <QFile>
#include <QtTest>

#include "LoopbackTransfer.h"
#include "TransferQueueManager.h"
#include "TransfersFixture.h"
#include "UploadThread.h"

namespace {
// The downloader's offset at a time, from its progress reports.
qint64 DownloadedAt(const LoopbackTransfer& t, qint64 ms)
{
    qint64 offset = 0;
    for (const auto& report : t.downloadProgress)
        if (report.first <= ms)
            offset = report.second;
    return offset;
}
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
        // bytes are still to be taken (after the last, it falls).
        f.engine->SetDownloadSpeedLimit(20);
        f.engine->EnableDownloadSpeedLimit(true);
        const QByteArray bytes = TransfersFixture::Pattern(1000 * 1024, 6);
        QFile source(f.WriteFile("source", bytes));
        QFile target(f.Path("target"));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Append));
        LoopbackTransfer t;
        struct Speed
        {
            qint64 ms;
            qint64 taken;
            int bytesPerSecond;
        };
        QList<Speed> speeds;
        QVERIFY(t.Connect());
        t.StartUpload(&source, 1);
        connect(t.upload, &UploadThread::UploadProgress, this, [&](qint64 taken, int bytesPerSecond) {
            speeds.append({t.clock.elapsed(), taken, bytesPerSecond});
        });
        quint32 token = 0;
        QVERIFY(t.ReadToken(token));
        t.WriteOffset(0);
        t.StartDownload(&target, bytes.size(), 0);
        QVERIFY(t.WaitDone(120000));
        QVERIFY2(t.uploadComplete, qPrintable(t.uploadError));
        QVERIFY2(t.downloadComplete, qPrintable(t.downloadError));

        for (const auto& report : t.uploadProgress)
            QVERIFY2(report.first < 12000 || report.second - DownloadedAt(t, report.first) <= 256 * 1024,
                     qPrintable(QString("%1 taken at %2 ms").arg(report.second).arg(report.first)));
        const double real = double(bytes.size()) * 1000 / t.downloadProgress.last().first;
        int compared = 0;
        for (const Speed& speed : speeds) {
            if (speed.ms < 12000 || speed.taken == bytes.size())
                continue;
            ++compared;
            QVERIFY2(qAbs(speed.bytesPerSecond - real) <= real / 5,
                     qPrintable(
                         QString("%1 B/s at %2 ms, read at %3 B/s").arg(speed.bytesPerSecond).arg(speed.ms).arg(real)));
        }
        QVERIFY(compared >= 5);
    }
};

QTEST_GUILESS_MAIN(TestSlowReaders)
#include "TestSlowReaders.moc"
