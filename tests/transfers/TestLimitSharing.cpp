// An upload limit shared among uploads of which only some move bytes:
// through the real engines, the loopback test server and fake downloaders
// on their file connections.
#include <QElapsedTimer>
#include <QtTest>
#include <memory>

#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "TransferQueueManager.h"
#include "UploadsFixture.h"

namespace {
const int LimitKib = 120;
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
            file->SendRaw(FakeWire().U64(0).Bytes());
            if (name == "erin")
                file->StopReading();
        }
        QVERIFY(files["carol"]->WaitForRaw(4 + 64 * 1024));
        const ItemPtr dave = UploadsFixture::Entry("dave", f->Remote("Limited/dave.bin"));
        QCOMPARE(UploadsFixture::Status(dave), QString("requesting"));

        // A second of the limit for the start to settle, then five measured.
        const auto taken = [&] { return double(files["alice"]->raw.size() + files["bob"]->raw.size()); };
        const double settled = taken() + LimitKib * 1024;
        QVERIFY(QTest::qWaitFor([&] { return taken() >= settled; }, 30000));
        const double from[2] = {double(files["alice"]->raw.size()), double(files["bob"]->raw.size())};
        QElapsedTimer clock;
        clock.start();
        QVERIFY(QTest::qWaitFor([&] { return taken() >= settled + 5 * LimitKib * 1024; }, 30000));
        const double seconds = double(clock.elapsed()) / 1000;
        const double rates[2] = {(files["alice"]->raw.size() - from[0]) / seconds / 1024,
                                 (files["bob"]->raw.size() - from[1]) / seconds / 1024};
        const QString figures = QString("alice %1, bob %2 KiB/s of %3").arg(rates[0]).arg(rates[1]).arg(LimitKib);
        QVERIFY2(rates[0] + rates[1] >= LimitKib * 0.85 && rates[0] + rates[1] <= LimitKib * 1.15, qPrintable(figures));
        QVERIFY2(qMin(rates[0], rates[1]) >= qMax(rates[0], rates[1]) * 0.7, qPrintable(figures));
        for (const QString name : {"carol", "erin"})
            QCOMPARE(UploadsFixture::Status(UploadsFixture::Entry(name, f->Remote("Limited/" + name + ".bin"))),
                     QString("uploading"));
    }
};

QTEST_MAIN(TestLimitSharing)
#include "TestLimitSharing.moc"
