// Uploads to downloaders that read slowly through ordinary buffered reads:
// every so often they take at once all their socket holds, or what a
// stream library's buffer has room for, and read nothing until they have
// used that up. Through the real engines and fake downloaders, or readers
// that are programs of their own (stream_reader.py); they run for a minute
// or two, so they have an executable of their own.
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QProcess>
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

    void readersThatReadThroughAStreamLibraryAtTenAndTwoKibPerSecondAreServedToTheEnd()
    {
        // The library takes a few hundred KiB whenever its buffer runs low
        // and then nothing for half a minute at 10 KiB/s, two minutes at 2.
        // A stall time far shorter than the real one makes each pause the
        // longer against it, and the run shorter.
        f->engine->SetUploadStallMs(StallMs);
        f->engine->SetUploadSlots(2);
        const QList<QPair<QString, int>> readers = {{"ten", 10}, {"two", 2}};
        QByteArray contents[2] = {TempTree::Pattern(1024 * 1024, 7), TempTree::Pattern(200 * 1024, 8)};
        for (int i = 0; i < 2; ++i)
            f->WriteFile("Readers/" + readers[i].first, contents[i]);
        f->Share("Readers");
        FakePeer* asker = f->net.AddPeer("asker");
        QVERIFY(asker);
        QProcess programs[2];
        QByteArray outputs[2];
        FakePeerLink* links[2] = {};
        for (int i = 0; i < 2; ++i) {
            const QString& name = readers[i].first;
            const int rate = readers[i].second * 1024;
            programs[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
            programs[i].start(QV_PYTHON, {QV_STREAM_READER, QString::number(rate), QString::number(contents[i].size()),
                                          QString::number(contents[i].size() / rate * 2 + 60)});
            QVERIFY(QTest::qWaitFor([&] { return (outputs[i] += programs[i].readAll()).contains('\n'); }, 30000));
            QVERIFY(outputs[i].startsWith("port "));
            const quint16 port = quint16(outputs[i].mid(5, outputs[i].indexOf('\n') - 5).toUInt());
            // The peer announces the reader's port, and another peer sees
            // that the server has it.
            QVERIFY(links[i] = f->OnlinePeer(name));
            f->Peer(name)->SendToServer(2, FakeWire().U32(port).U32(0).Bytes());
            asker->AskAddress(name);
            QVERIFY(QTest::qWaitFor([&] { return asker->listeningPorts.value(name) == port; }, 30000));
            links[i]->SendMessage(43, FakeWire().Str(f->Remote("Readers/" + name)).Bytes());
            TransferRequest request;
            QVERIFY(UploadsFixture::WaitForRequest(links[i], f->Remote("Readers/" + name), request));
            links[i]->SendMessage(41, FakeWire().U32(request.token).U8(1).Bytes());
        }

        // Each reader closes once it has the file; the upload ends then.
        const auto status = [&](int i) {
            return UploadsFixture::Status(
                UploadsFixture::Entry(readers[i].first, f->Remote("Readers/" + readers[i].first)));
        };
        const auto ended = [&](int i) {
            outputs[i] += programs[i].readAll();
            return programs[i].state() == QProcess::NotRunning && status(i) != "uploading";
        };
        QVERIFY(QTest::qWaitFor([&] { return ended(0) && ended(1); }, 300000));
        for (int i = 0; i < 2; ++i) {
            const QByteArray sha1 = QCryptographicHash::hash(contents[i], QCryptographicHash::Sha1).toHex();
            QCOMPARE(outputs[i].split('\n').value(1), "got " + QByteArray::number(contents[i].size()) + " " + sha1);
            QCOMPARE(status(i), QString("complete"));
            QVERIFY(UploadsFixture::Received(links[i], 46).isEmpty());
        }
    }
};

QTEST_MAIN(TestGulpingDownloaders)
#include "TestGulpingDownloaders.moc"
