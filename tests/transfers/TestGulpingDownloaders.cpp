// Uploads to a downloader that reads slowly through ordinary buffered
// reads: every so often it takes at once all its socket holds, and reads
// nothing until it has used that up. Through the real engines and a fake
// downloader; they run for half a minute, so they have an executable of
// their own.
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "TransferQueueManager.h"
#include "UploadsFixture.h"

namespace {
// A short stall time keeps the run short; the gulps are timed against it.
const qint64 StallMs = 8000;
const qint64 Pace = 10 * 1024;
} // namespace

class TestGulpingDownloaders : public QObject
{
    Q_OBJECT

    std::unique_ptr<UploadsFixture> f;

private slots:
    void init()
    {
        f.reset(new UploadsFixture);
        QVERIFY(f->Start());
    }
    void cleanup() { f.reset(); }

    void aReaderTakingLargeGulpsAtTenKibPerSecondIsServedToTheEnd()
    {
        // Its system's buffer first holds a few seconds of its pace, then,
        // as a system tunes it after large reads, 13 to 26 seconds: each
        // gulp is then followed by a pause longer than the stall time in
        // which nothing leaves the uploader.
        f->engine->SetUploadStallMs(StallMs);
        const QByteArray content = TempTree::Pattern(420 * 1024, 3);
        f->WriteFile("Slow/long take.bin", content);
        f->Share("Slow");
        FakePeerLink* link = f->OnlinePeer("alice");
        QVERIFY(link);
        const QString requested = f->Remote("Slow/long take.bin");
        link->SendMessage(43, FakeWire().Str(requested).Bytes());
        QVERIFY(UploadsFixture::WaitFor(link, 40, 1));
        TransferRequest request;
        QVERIFY(request.Read(UploadsFixture::Received(link, 40).at(0)));
        link->SendMessage(41, FakeWire().U32(request.token).U8(1).Bytes());
        FakePeerLink* file = f->WaitForFileLink("alice");
        QVERIFY(file && file->WaitForRaw(4));
        file->StopReading();
        file->Socket()->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 * 1024);
        file->SendRaw(FakeWire().U64(0).Bytes());

        const ItemPtr entry = UploadsFixture::Entry("alice", requested);
        QElapsedTimer clock;
        clock.start();
        int gulps = 0;
        qint64 longestPause = 0;
        qint64 lastGulpMs = 0;
        const auto taken = [&] { return qint64(file->raw.size()) - 4; };
        while (taken() < content.size() && UploadsFixture::Status(entry) == "uploading" && clock.elapsed() < 120000) {
            if (taken() <= clock.elapsed() * Pace / 1000) {
                const qint64 before = taken();
                file->Gulp();
                if (taken() > before) {
                    longestPause = std::max(longestPause, clock.elapsed() - lastGulpMs);
                    lastGulpMs = clock.elapsed();
                    if (++gulps == 4)
                        file->Socket()->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 128 * 1024);
                }
            }
            QTest::qWait(20);
        }
        QCOMPARE(UploadsFixture::Status(entry), QString("uploading"));
        QVERIFY(file->raw.mid(4) == content);
        // The pauses were what they were meant to be: longer than the
        // stall time, so the uploader saw nothing leave for that long.
        QVERIFY2(longestPause > StallMs, qPrintable(QString::number(longestPause)));
        file->Close();
        QTRY_COMPARE_WITH_TIMEOUT(UploadsFixture::Status(entry), QString("complete"), 30000);
        QVERIFY(UploadsFixture::Received(link, 46).isEmpty());
    }
};

QTEST_MAIN(TestGulpingDownloaders)
#include "TestGulpingDownloaders.moc"
