#include <QFile>
#include <QTcpSocket>
#include <QtTest>

#include "DownloadThread.h"
#include "LoopbackTransfer.h"
#include "Settings.h"
#include "TransferQueueManager.h"
#include "TransfersFixture.h"
#include "TriggerFile.h"
#include "UploadThread.h"

namespace {
const qint64 MultiChunkSize = 3 * 8192 + 100;

// A socket that claims to hold bytes but was never opened, so every read
// fails the way a broken connection's would.
class UnreadableSocket : public QTcpSocket
{
public:
    qint64 bytesAvailable() const override { return 1; }
};
} // namespace

class TestTransferThreads : public QObject
{
    Q_OBJECT

    TransfersFixture f;

private slots:
    void init() { f.Start(); }
    void cleanup() { f.Stop(); }

    void resumesAtEveryOffset_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("present");
        QTest::addColumn<qint64>("stallMs");
        for (qint64 present : {qint64(0), qint64(1), qint64(8191), qint64(8192), MultiChunkSize - 1})
            QTest::addRow("%lld", present) << MultiChunkSize << present << qint64(0);
        // The uploader's disk stalls halfway for longer than the half
        // second between reports: the downloader reports again while it
        // waits, however fast the build.
        QTest::newRow("6 MiB") << qint64(6 * 1024 * 1024 + 5) << qint64(0) << qint64(2500);
    }

    void resumesAtEveryOffset()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, present);
        QFETCH(qint64, stallMs);
        const QByteArray bytes = TransfersFixture::Pattern(size);
        TriggerFile source(f.WriteFile("source", bytes), size / 2, TriggerFile::Stall(stallMs));
        QFile target(f.WriteFile("partial", bytes.left(int(present))));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Append));

        LoopbackTransfer t;
        QVERIFY(t.Run(&source, &target, size));
        QVERIFY(t.WaitDone(60000));
        QVERIFY2(t.downloadComplete, qPrintable(t.downloadError));
        QVERIFY2(t.uploadComplete, qPrintable(t.uploadError));
        QCOMPARE(TempTree::ReadAll(target.fileName()), bytes);
        QVERIFY(!target.isOpen());
        QVERIFY(source.isOpen());
        // Reports never go back; they repeat while a side waits on the
        // other, which a stall of either makes it do.
        for (const auto* reports : {&t.downloadProgress, &t.uploadProgress}) {
            for (int i = 1; i < reports->size(); ++i)
                QVERIFY(reports->at(i).second >= reports->at(i - 1).second);
            QCOMPARE(reports->last().second, size);
        }
        // Both sockets are back on the event-loop thread, the downloader's closed.
        QCOMPARE(t.downloaderSocket->thread(), thread());
        QCOMPARE(t.uploaderSocket->thread(), thread());
        QCOMPARE(t.downloaderSocket->state(), QAbstractSocket::UnconnectedState);
    }

    void completeAndEmptyFilesMoveNoBytes()
    {
        // The partial file is whole already: the download ends at once,
        // without a progress report, and closes the connection; the upload
        // sends only the token.
        const QByteArray bytes = TransfersFixture::Pattern(20000);
        QFile source(f.WriteFile("source", bytes));
        QFile target(f.WriteFile("target", bytes));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Append));
        LoopbackTransfer t;
        QVERIFY(t.Run(&source, &target, bytes.size()));
        QVERIFY(t.WaitDone(60000));
        QVERIFY(t.downloadComplete);
        QVERIFY(t.uploadComplete);
        QVERIFY(t.downloadProgress.isEmpty());
        QVERIFY(t.uploadProgress.isEmpty());
        QCOMPARE(t.downloaderSocket->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(TempTree::ReadAll(target.fileName()), bytes);

        QFile empty(f.WriteFile("empty", QByteArray()));
        QFile emptyTarget(f.Path("empty target"));
        QVERIFY(empty.open(QIODevice::ReadOnly));
        QVERIFY(emptyTarget.open(QIODevice::WriteOnly | QIODevice::Append));
        LoopbackTransfer e;
        QVERIFY(e.Run(&empty, &emptyTarget, 0));
        QVERIFY(e.WaitDone(60000));
        QVERIFY(e.downloadComplete && e.uploadComplete);
        QVERIFY(QFileInfo::exists(emptyTarget.fileName()));
        QCOMPARE(QFileInfo(emptyTarget.fileName()).size(), qint64(0));
    }

    void offsetOutsideTheFileSendsNothing_data()
    {
        QTest::addColumn<qint64>("offset");
        QTest::newRow("negative") << qint64(-1);
        QTest::newRow("at the end") << qint64(5000);
        QTest::newRow("beyond") << qint64(5001);
        QTest::newRow("far beyond") << (qint64(1) << 40);
    }

    void offsetOutsideTheFileSendsNothing()
    {
        QFETCH(qint64, offset);
        QFile source(f.WriteFile("source", TransfersFixture::Pattern(5000)));
        QVERIFY(source.open(QIODevice::ReadOnly));
        LoopbackTransfer t;
        QVERIFY(t.Connect());
        t.StartUpload(&source, 77);
        quint32 token = 0;
        QVERIFY(t.ReadToken(token));
        QCOMPARE(token, quint32(77));
        t.WriteOffset(offset);
        QVERIFY(t.WaitDone(60000));
        QVERIFY(t.uploadComplete);
        QVERIFY(t.uploadProgress.isEmpty());
        t.downloaderSocket->waitForReadyRead(200);
        QCOMPARE(t.downloaderSocket->bytesAvailable(), qint64(0));
    }

    void partialFileLargerThanExpectedIsLeftAlone()
    {
        // Appending can never turn a partial file longer than the expected
        // size into the file; the download fails and leaves it as it is.
        const QByteArray bytes = TransfersFixture::Pattern(9000);
        QFile target(f.WriteFile("target", bytes));
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Append));
        LoopbackTransfer t;
        QVERIFY(t.Connect());
        t.uploaderSocket->write(TransfersFixture::Pattern(4000));
        t.uploaderSocket->flush();
        t.StartDownload(&target, 8000, 9000);
        QVERIFY(t.WaitDone(60000));
        QVERIFY(!t.downloadComplete);
        QCOMPARE(t.downloadError,
                 QString("Partial file of 9000 bytes is larger than the expected size of 8000 bytes."));
        QCOMPARE(TempTree::ReadAll(target.fileName()), bytes);
        QVERIFY(t.downloadProgress.isEmpty());
    }

    void peerClosingMidDownloadFails()
    {
        QFile target(f.Path("target"));
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Append));
        LoopbackTransfer t;
        QVERIFY(t.Connect());
        t.StartDownload(&target, 50000, 0);
        // Ten thousand bytes, then the uploader goes away.
        t.uploaderSocket->write(TransfersFixture::Pattern(10000));
        t.uploaderSocket->flush();
        t.uploaderSocket->disconnectFromHost();
        QVERIFY(t.WaitDone(60000));
        QVERIFY(t.downloadError.startsWith("Waiting for data to read failed. Error string: "));
        QVERIFY(t.downloadError.size() > int(strlen("Waiting for data to read failed. Error string: ")));
        // Whole chunks only: the incomplete second chunk was never written.
        QCOMPARE(QFileInfo(target.fileName()).size(), qint64(8192));
        QCOMPARE(t.downloaderSocket->thread(), thread());
    }

    void socketReadFailuresEndBothDirections()
    {
        QFile target(f.Path("target"));
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Append));
        auto* broken = new UnreadableSocket;
        DownloadThread download(broken, &target, 100, 0);
        QString downloadError;
        connect(&download, &DownloadThread::DownloadError, this, [&](QString e) { downloadError = e; });
        broken->moveToThread(&download);
        download.start();
        QVERIFY(download.wait(30000));
        QTRY_VERIFY_WITH_TIMEOUT(!downloadError.isEmpty(), 30000);
        QVERIFY2(downloadError.startsWith("Socket read failed. Error string: "), qPrintable(downloadError));
        QCOMPARE(broken->thread(), thread());
        delete broken;

        QFile source(f.WriteFile("source", TransfersFixture::Pattern(100)));
        QVERIFY(source.open(QIODevice::ReadOnly));
        broken = new UnreadableSocket;
        UploadThread upload(broken, &source, 1);
        QString uploadError;
        connect(&upload, &UploadThread::UploadError, this, [&](QString e) { uploadError = e; });
        broken->moveToThread(&upload);
        upload.start();
        QVERIFY(upload.wait(30000));
        QTRY_VERIFY_WITH_TIMEOUT(!uploadError.isEmpty(), 30000);
        QVERIFY2(uploadError.startsWith("Socket read failed. Error string: "), qPrintable(uploadError));
        delete broken;
    }

    void fileFailuresOfTheDownloader()
    {
        const QByteArray bytes = TransfersFixture::Pattern(100);
        QFile source(f.WriteFile("source", bytes));
        QVERIFY(source.open(QIODevice::ReadOnly));
        // A target the download may not write.
        QFile readOnly(f.WriteFile("read only", QByteArray()));
        QVERIFY(readOnly.open(QIODevice::ReadOnly));
        LoopbackTransfer t;
        QVERIFY(t.Run(&source, &readOnly, bytes.size()));
        QTRY_VERIFY_WITH_TIMEOUT(t.DownloadDone(), 30000);
        QVERIFY2(t.downloadError.startsWith("Writing to file failed. Error string: "), qPrintable(t.downloadError));

        // A full disk shows only when the buffered bytes are flushed; it
        // must not pass for a finished download.
        if (!QFileInfo::exists("/dev/full"))
            return;
        QFile source2(f.WriteFile("source2", bytes));
        QVERIFY(source2.open(QIODevice::ReadOnly));
        QFile full("/dev/full");
        QVERIFY(full.open(QIODevice::WriteOnly | QIODevice::Append));
        LoopbackTransfer u;
        QVERIFY(u.StartUploadAt(&source2, 5, 0));
        u.StartDownload(&full, bytes.size(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(u.DownloadDone(), 30000);
        QVERIFY(!u.downloadComplete);
        QVERIFY2(u.downloadError.startsWith("Writing to file failed. Error string: "), qPrintable(u.downloadError));
    }

    void fileFailuresOfTheUploader()
    {
        const QString path = f.WriteFile("source", TransfersFixture::Pattern(1000));
        // Known by name but never opened: its size is known, seeking fails.
        QFile closed(path);
        LoopbackTransfer t;
        QVERIFY(t.StartUploadAt(&closed, 9, 100));
        QVERIFY(t.WaitDone(60000));
        QVERIFY2(t.uploadError.startsWith("Seeking to starting offset 100 failed. Error string: "),
                 qPrintable(t.uploadError));

        // Open, but not for reading.
        QFile writeOnly(path);
        QVERIFY(writeOnly.open(QIODevice::WriteOnly | QIODevice::Append));
        LoopbackTransfer u;
        QVERIFY(u.StartUploadAt(&writeOnly, 9, 0));
        QVERIFY(u.WaitDone(60000));
        QVERIFY2(u.uploadError.startsWith("Reading from file failed. Error string: "), qPrintable(u.uploadError));
        QCOMPARE(QFileInfo(path).size(), qint64(1000));
    }

    void connectionFailuresOfTheUploader()
    {
        // Five of the eight offset bytes, then the downloader leaves.
        QFile source(f.WriteFile("source", TransfersFixture::Pattern(1000)));
        QVERIFY(source.open(QIODevice::ReadOnly));
        LoopbackTransfer t;
        QVERIFY(t.Connect());
        t.StartUpload(&source, 3);
        quint32 token = 0;
        QVERIFY(t.ReadToken(token));
        t.downloaderSocket->write("\0\0\0\0\0", 5);
        t.downloaderSocket->flush();
        t.downloaderSocket->disconnectFromHost();
        QVERIFY(t.WaitDone(60000));
        QVERIFY2(t.uploadError.startsWith("Waiting for initialization data to read failed. Error string: "),
                 qPrintable(t.uploadError));

        // The downloader asks for the file and then drops the connection.
        QFile big(f.SparseFile("big", qint64(512) << 20));
        QVERIFY(big.open(QIODevice::ReadOnly));
        LoopbackTransfer u;
        QVERIFY(u.StartUploadAt(&big, 3, 0));
        u.downloaderSocket->abort();
        QVERIFY(u.WaitDone(60000));
        QVERIFY2(u.uploadError.startsWith("Writing to socket failed. Error string: "), qPrintable(u.uploadError));
    }

    void stalledDownloadersTimeOut()
    {
        // One downloader never reads; the other reads everything but never
        // closes the connection. Neither has shown a pace, so each may hold
        // what it took for a second a KiB beyond the stall time (shortened
        // here): the never-reading one's buffers are kept small, and both
        // run side by side.
        const qint64 stallMs = 5000;
        QFile big(f.SparseFile("big", qint64(256) << 20));
        QVERIFY(big.open(QIODevice::ReadOnly));
        LoopbackTransfer stalled;
        QVERIFY(stalled.Connect());
        stalled.downloaderSocket->setReadBufferSize(8192);
        stalled.downloaderSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        stalled.StartUpload(&big, 1, stallMs);
        quint32 token = 0;
        QVERIFY(stalled.ReadToken(token));
        stalled.WriteOffset(0);

        const QByteArray bytes = TransfersFixture::Pattern(30000);
        QFile source(f.WriteFile("source", bytes));
        QVERIFY(source.open(QIODevice::ReadOnly));
        LoopbackTransfer lingering;
        QVERIFY(lingering.StartUploadAt(&source, 2, 0, stallMs));
        QByteArray received;
        QElapsedTimer waited;
        waited.start();
        while (received.size() < bytes.size() && waited.elapsed() < 30000) {
            lingering.downloaderSocket->waitForReadyRead(100);
            received += lingering.downloaderSocket->readAll();
        }
        QCOMPARE(received, bytes);

        QVERIFY(stalled.WaitDone(60000));
        QVERIFY(lingering.WaitDone(60000));
        QVERIFY2(stalled.uploadError.startsWith("Waiting for bytes to be written to socket failed. Error string: "),
                 qPrintable(stalled.uploadError));
        QVERIFY(!lingering.uploadComplete);
        QCOMPARE(lingering.uploadError, QString());
        QCOMPARE(lingering.uploadProgress.last().second, qint64(bytes.size()));
    }

    void stopLandsWhileBytesWait()
    {
        // An endless stream, tens of megabytes of it waiting in the
        // downloader's socket when the stop comes: the download ends without
        // working through them. The stop comes as the download writes its
        // first chunk, so that it lands in the loop whatever the test's own
        // thread does meanwhile.
        QFile source(f.SparseFile("endless", qint64(4) << 30));
        QVERIFY(source.open(QIODevice::ReadOnly));
        // Outlives the transfer, whose threads may still write to it.
        LoopbackTransfer* stopped = nullptr;
        TriggerFile sink("/dev/null", 1, [&stopped] { stopped->download->SignalExit(); });
        QVERIFY(sink.open(QIODevice::WriteOnly | QIODevice::Append));
        LoopbackTransfer t;
        stopped = &t;
        QVERIFY(t.StartUploadAt(&source, 1, 0));
        const qint64 buffered = qint64(64) << 20;
        QElapsedTimer waited;
        waited.start();
        while (t.downloaderSocket->bytesAvailable() < buffered && waited.elapsed() < 20000)
            t.downloaderSocket->waitForReadyRead(100);
        QVERIFY(t.downloaderSocket->bytesAvailable() >= buffered);

        t.StartDownload(&sink, source.size(), 0);
        QVERIFY(t.download->wait(30000));
        QVERIFY(sink.Triggered());
        QTRY_COMPARE_WITH_TIMEOUT(t.downloadError, QString("Exit requested."), 30000);
        QVERIFY(t.downloaderSocket->bytesAvailable() > buffered / 2);

        // The uploader, its connection full, stops as well.
        t.upload->SignalExit();
        QVERIFY(t.upload->wait(30000));
        QTRY_COMPARE_WITH_TIMEOUT(t.uploadError, QString("Exit requested."), 30000);
    }

    void stopWhilePaced()
    {
        // At 1 KiB/s a chunk is eight seconds of sleep; a stop still lands
        // within about a second, on either side.
        f.engine->SetUploadSpeedLimit(1);
        f.engine->EnableUploadSpeedLimit(true);
        f.engine->SetDownloadSpeedLimit(1);
        f.engine->EnableDownloadSpeedLimit(true);
        QCOMPARE(f.engine->UploadSpeedLimit().PerTransfer(), 1);

        const QByteArray bytes = TransfersFixture::Pattern(200000);
        QFile source(f.WriteFile("source", bytes));
        QVERIFY(source.open(QIODevice::ReadOnly));
        LoopbackTransfer up;
        QVERIFY(up.Connect());
        up.StartUpload(&source, 1);
        quint32 token = 0;
        QVERIFY(up.ReadToken(token));
        up.WriteOffset(0);
        QTRY_VERIFY_WITH_TIMEOUT(up.downloaderSocket->bytesAvailable() > 0, 30000);

        // The download side is paced; a raw uploader keeps it fed.
        QFile target(f.Path("target"));
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Append));
        LoopbackTransfer down;
        QVERIFY(down.Connect());
        down.uploaderSocket->write(bytes);
        down.uploaderSocket->flush();
        down.StartDownload(&target, bytes.size(), 0);
        QTest::qWait(500);

        // Well before the eight seconds a chunk's sleep would take.
        up.upload->SignalExit();
        down.download->SignalExit();
        QVERIFY(up.upload->wait(6000));
        QVERIFY(down.download->wait(6000));
        QTRY_COMPARE_WITH_TIMEOUT(up.uploadError, QString("Exit requested."), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(down.downloadError, QString("Exit requested."), 30000);
    }
};

QTEST_GUILESS_MAIN(TestTransferThreads)
#include "TestTransferThreads.moc"
