// An upload limit shared among uploads of which only some move bytes:
// through the real engines, the loopback test server and fake downloaders
// on their file connections.
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "TransferPace.h"
#include "TransferQueueManager.h"
#include "UploadsFixture.h"

namespace {
const int LimitKib = 120;
// At half the limit a reader gets a chunk every eighth of a second or so: a
// stretch without a byte far longer than that held a stall of one side.
const qint64 LongestStepMs = 500;
// How long each of the two is measured while it moves.
const qint64 MeasuredMs = 5000;
} // namespace

class TestLimitSharing : public QObject
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

    void theUploadsMovingBytesShareTheWholeLimitEvenly()
    {
        // Five uploads: two to readers that take all they get; one whose
        // reader has the whole file and keeps the connection open; one
        // whose reader stopped in the middle; one still negotiating, its
        // request unanswered. The two that move bytes take the limit
        // between them, half each.
        f->engine->SetUploadSlots(5);
        f->engine->SetUploadSpeedLimit(LimitKib);
        f->engine->EnableUploadSpeedLimit(true);
        const QStringList names = {"alice", "bob", "carol", "dave", "erin"};
        for (const QString& name : names) {
            const qint64 size = name == "carol" ? 64 * 1024 : 8 * 1024 * 1024;
            f->WriteFile("Limited/" + name + ".bin", TempTree::Pattern(size, int(name.size())));
        }
        f->Share("Limited");
        QHash<QString, FakePeerLink*> files;
        // From the first offset on, the limit paces every byte of the
        // direction.
        QElapsedTimer clock;
        for (const QString& name : names) {
            FakePeerLink* link = f->OnlinePeer(name);
            QVERIFY(link);
            link->SendMessage(43, FakeWire().Str(f->Remote("Limited/" + name + ".bin")).Bytes());
            TransferRequest request;
            QVERIFY(UploadsFixture::WaitForRequest(link, f->Remote("Limited/" + name + ".bin"), request));
            if (name == "dave")
                continue;
            link->SendMessage(41, FakeWire().U32(request.token).U8(1).Bytes());
            FakePeerLink* file = files[name] = f->WaitForFileLink(name);
            QVERIFY(file && file->WaitForRaw(4));
            if (name == "erin") {
                // What her system holds counts against the limit unseen:
                // kept small, it does not hide a limit overrun.
                file->Socket()->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
                file->StopReading();
            }
            if (!clock.isValid())
                clock.start();
            file->SendRaw(FakeWire().U64(0).Bytes());
        }
        QVERIFY(files["carol"]->WaitForRaw(4 + 64 * 1024));
        const ItemPtr dave = UploadsFixture::Entry("dave", f->Remote("Limited/dave.bin"));
        QCOMPARE(UploadsFixture::Status(dave), QString("requesting"));

        // Where the readers stood, at each change, on the clock.
        const QStringList readers = {"alice", "bob", "carol"};
        QList<TransferPace::Samples> taken = {{}, {}, {}};
        const auto look = [&] {
            for (int i = 0; i < readers.size(); ++i) {
                const qint64 at = files[readers[i]]->raw.size() - 4;
                if (taken[i].isEmpty() || taken[i].last().second != at)
                    taken[i].append({clock.elapsed(), at});
            }
        };
        const auto moving = [&](int i, qint64 fromMs) { return TransferPace(taken[i], fromMs, LongestStepMs); };
        // A second of the limit for the start to settle, then each of the
        // two measured while it moves, however long a stall of either side
        // makes that take.
        const auto both = [&] { return files["alice"]->raw.size() + files["bob"]->raw.size(); };
        const qint64 settled = both() + LimitKib * 1024;
        QVERIFY(QTest::qWaitFor([&] { return look(), both() >= settled; }, 30000));
        const qint64 fromMs = clock.elapsed();
        const auto measured = [&] {
            return moving(0, fromMs).MovingMs() >= MeasuredMs && moving(1, fromMs).MovingMs() >= MeasuredMs;
        };
        const auto ended = [&] { return qMax(taken[0].last().second, taken[1].last().second) >= 8 * 1024 * 1024; };
        QVERIFY(QTest::qWaitFor([&] { return look(), measured() || ended(); }, 60000));
        const double rates[2] = {moving(0, fromMs).KibPerSecond(), moving(1, fromMs).KibPerSecond()};
        const qint64 ahead = TransferPace::MostAhead(taken, LimitKib);
        const QString figures = QString("alice %1, bob %2 KiB/s of %3; %4 bytes ahead of it")
                                    .arg(rates[0])
                                    .arg(rates[1])
                                    .arg(LimitKib)
                                    .arg(ahead);
        // All they moved since the first offset, carol's whole file and
        // what erin's system took among it, stayed within the limit.
        QVERIFY2(ahead <= TransferPace::FirstChunks(4, LimitKib), qPrintable(figures));
        QVERIFY(measured());
        QVERIFY2(rates[0] + rates[1] >= LimitKib * 0.85, qPrintable(figures));
        QVERIFY2(qMin(rates[0], rates[1]) >= LimitKib / 2 * 0.7, qPrintable(figures));
        for (const QString name : {"carol", "erin"})
            QCOMPARE(UploadsFixture::Status(UploadsFixture::Entry(name, f->Remote("Limited/" + name + ".bin"))),
                     QString("uploading"));
    }
};

QTEST_MAIN(TestLimitSharing)
#include "TestLimitSharing.moc"
