// What the rows compute, called directly: a parent's state, a file row's
// status text and colour, summed progress and its texts, stale uploads.
#include <QDateTime>
#include <QTest>

#include "Data.h"
#include "Settings.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferStatus.h"
#include "transfers/UploadPruning.h"

namespace {

QString AggregateOf(const QStringList& statuses, const QString& running = "downloading")
{
    TransferStatus::Counts counts;
    for (const QString& status : statuses)
        counts.Add(TransferStatus::KindOf(status, running));
    return TransferStatus::Aggregate(counts, running);
}

} // namespace

class TestTransferFigures : public QObject
{
    Q_OBJECT

private slots:
    void parentRowsShowTheFirstStateThatHolds()
    {
        QCOMPARE(AggregateOf({"downloading", "complete"}), QString("downloading"));
        QCOMPARE(AggregateOf({"queued", "aborted"}), QString("queued"));
        QCOMPARE(AggregateOf({"complete", "denied"}), QString("denied"));
        QCOMPARE(AggregateOf({"aborted", "complete"}), QString("aborted"));
        // All complete, not any; other states only keep it from holding.
        QCOMPARE(AggregateOf({"complete", "complete"}), QString("complete"));
        QCOMPARE(AggregateOf({"complete", "local error"}), QString());
        QCOMPARE(AggregateOf({"complete", "requesting"}), QString());
        QCOMPARE(AggregateOf({}), QString("complete"));
        QCOMPARE(AggregateOf({"uploading", "queued"}, "uploading"), QString("uploading"));
        QCOMPARE(AggregateOf({"downloading"}, "uploading"), QString());
        QCOMPARE(TransferStatus::Shown("denied", "File Not Shared."), QString("file not shared."));
        QCOMPARE(TransferStatus::Shown("Waiting For Offset", "ignored"), QString("waiting for offset"));
    }

    void aDamagedColourNeverPaintsRowsInvisible()
    {
        d.Reset();
        DeclareSettingTypes();
        SetSetting("color_transfer_in_progress", "#0000ff");
        SetSetting("color_transfer_other", "#808080");
        SetSetting("color_transfer_queued", "not a colour");
        QCOMPARE(TransferStatus::Color("connecting"), QColor("#0000ff"));
        QCOMPARE(TransferStatus::Color("requesting"), QColor("#808080"));
        QCOMPARE(TransferStatus::Color("queued"), QColor("#808080"));
        RemoveSetting("color_transfer_other");
        QCOMPARE(TransferStatus::Color("queued"), QColor(Qt::black));
        d.Reset();
    }

    void sumsPercentagesAndTimesStayWithinTheFile()
    {
        TransferFigures::Sums folder;
        folder.Add(TransferStatus::Complete, 0, 1000);
        folder.Add(TransferStatus::Running, 1000, 3000);
        folder.Add(TransferStatus::Other, 500, 7000); // requesting: counts nothing
        QCOMPARE(folder.remaining, qint64(2000));
        QCOMPARE(TransferFigures::ProgressText(folder.done, TransferFigures::Percent(folder.done, folder.total)),
                 QString("2,000 (50.0%)"));
        // A position past the size or below zero.
        TransferFigures::Sums odd;
        odd.Add(TransferStatus::Aborted, 5000, 3000);
        odd.Add(TransferStatus::Queued, -10, 100);
        QCOMPARE(odd.done, qint64(3000));
        QCOMPARE(odd.remaining, qint64(100));
        QCOMPARE(TransferFigures::Percent(5000, 3000), 100.0);
        // A file of size 0 is all there.
        QCOMPARE(TransferFigures::Percent(0, 0), 100.0);
        QCOMPARE(TransferFigures::SecondsLeft(-2000, 3000), qint64(0));
        // Bytes left and nothing moving: no time at all, not "0s" as if
        // finishing now; nothing left reads 0s at any speed.
        QCOMPARE(TransferFigures::EtaText(TransferFigures::SecondsLeft(10000, 0)), QString());
        QCOMPARE(TransferFigures::EtaText(TransferFigures::SecondsLeft(0, 0)), QString("   0s"));
        QCOMPARE(TransferFigures::EtaText(3725), QString("   1h:2m:5s"));
        QCOMPARE(TransferFigures::EtaText(60), QString("   1m:0s"));
        QCOMPARE(TransferFigures::EtaText(90061), QString("   25h:1m:1s"));
        QCOMPARE(TransferFigures::SpeedText(1536), QString("1.5"));
    }

    void uploadsGoOnlyAfterFiveQuietMinutes()
    {
        const QDateTime now = QDateTime::currentDateTime();
        const qint64 ms = now.toMSecsSinceEpoch();
        auto ago = [&](int seconds) { return now.addSecs(-seconds).toString(Qt::TextDate); };
        const qint64 none = UploadPruning::NoTime;
        QVERIFY(!UploadPruning::Stale(false, true, "", ago(299), none, ms));
        QVERIFY(UploadPruning::Stale(false, true, "", ago(300), none, ms));
        // Data received later keeps a running upload; unreadable times
        // are never old.
        QVERIFY(!UploadPruning::Stale(false, true, "", ago(300), ms - 10000, ms));
        QVERIFY(UploadPruning::Stale(false, true, "", "", ms - 400000, ms));
        QVERIFY(!UploadPruning::Stale(false, false, ago(600), "yesterday", none, ms));
        // Queued: the user offline for as long too.
        QVERIFY(!UploadPruning::Stale(true, true, ago(600), ago(300), none, ms));
        QVERIFY(!UploadPruning::Stale(true, false, ago(299), ago(300), none, ms));
        QVERIFY(!UploadPruning::Stale(true, false, "", ago(300), none, ms));
        QVERIFY(UploadPruning::Stale(true, false, ago(600), ago(300), none, ms));
    }
};

QTEST_MAIN(TestTransferFigures)
#include "TestTransferFigures.moc"
