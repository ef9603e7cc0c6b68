// What the transfer rows compute from their entries, called directly: the
// state a parent row shows, the status text and colour of a row, the summed
// progress with its texts, and when an upload is stale enough to prune.
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

QString Text(const QDateTime& time)
{
    return time.toString(Qt::TextDate);
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
        QCOMPARE(AggregateOf({"complete", "complete"}), QString("complete"));
        QCOMPARE(AggregateOf({"complete", "denied"}), QString("denied"));
        QCOMPARE(AggregateOf({"aborted", "complete"}), QString("aborted"));
        QCOMPARE(AggregateOf({"denied", "aborted", "queued"}), QString("queued"));
        // All complete, not any: a folder still waiting for one file is
        // not done, and states without a rule of their own only keep it
        // from being complete.
        QCOMPARE(AggregateOf({"complete", "local error"}), QString());
        QCOMPARE(AggregateOf({"complete", "requesting", "connecting"}), QString());
        QCOMPARE(AggregateOf({}), QString("complete"));
        // Each tree has its own running word; the other one is just a state.
        QCOMPARE(AggregateOf({"uploading", "queued"}, "uploading"), QString("uploading"));
        QCOMPARE(AggregateOf({"downloading", "complete"}, "uploading"), QString());
    }

    void fileRowsShowTheirStateOrTheDenialInLowerCase()
    {
        QCOMPARE(TransferStatus::Shown("denied", "File Not Shared."), QString("file not shared."));
        QCOMPARE(TransferStatus::Shown("Waiting For Offset", "ignored"), QString("waiting for offset"));
        QCOMPARE(TransferStatus::Shown("denied", ""), QString());
    }

    void statusColoursComeFromTheSettingsAndNeverVanish()
    {
        d.Reset();
        DeclareSettingTypes();
        SetSetting("color_transfer_complete", "#006400");
        SetSetting("color_transfer_in_progress", "#0000ff");
        SetSetting("color_transfer_queued", "#3366ff");
        SetSetting("color_transfer_failed", "#ff0a47");
        SetSetting("color_transfer_other", "#000000");

        QCOMPARE(TransferStatus::Color("complete"), QColor("#006400"));
        QCOMPARE(TransferStatus::Color("connecting"), QColor("#0000ff"));
        QCOMPARE(TransferStatus::Color("uploading"), QColor("#0000ff"));
        QCOMPARE(TransferStatus::Color("queued"), QColor("#3366ff"));
        QCOMPARE(TransferStatus::Color("local error"), QColor("#ff0a47"));
        QCOMPARE(TransferStatus::Color("requesting"), QColor("#000000"));
        QCOMPARE(TransferStatus::Color("waiting for offset"), QColor("#000000"));
        QCOMPARE(TransferStatus::Color(""), QColor("#000000"));

        // A damaged name would paint rows transparent: the "other" colour
        // stands in, and black when that is damaged too.
        SetSetting("color_transfer_other", "#808080");
        SetSetting("color_transfer_queued", "not a colour");
        QCOMPARE(TransferStatus::Color("queued"), QColor("#808080"));
        RemoveSetting("color_transfer_other");
        QCOMPARE(TransferStatus::Color("queued"), QColor(Qt::black));
        d.Reset();
    }

    void sumsCountOnlyTransfersThatMoveOrMoved()
    {
        TransferFigures::Sums folder;
        folder.Add(TransferStatus::Complete, 0, 1000);
        folder.Add(TransferStatus::Running, 1000, 3000);
        folder.Add(TransferStatus::Other, 500, 7000); // requesting: neither done nor total
        QCOMPARE(folder.done, qint64(2000));
        QCOMPARE(folder.remaining, qint64(2000));
        QCOMPARE(folder.total, qint64(4000));
        QCOMPARE(TransferFigures::ProgressText(folder.done, TransferFigures::Percent(folder.done, folder.total)),
                 QString("2,000 (50.0%)"));

        // A position past the size or below zero stays within the file.
        TransferFigures::Sums odd;
        odd.Add(TransferStatus::Aborted, 5000, 3000);
        odd.Add(TransferStatus::Queued, -10, 100);
        QCOMPARE(odd.done, qint64(3000));
        QCOMPARE(odd.remaining, qint64(100));
        QCOMPARE(odd.total, qint64(3100));
    }

    void percentagesStayBetweenNothingAndAll()
    {
        QCOMPARE(TransferFigures::Percent(125, 1000), 12.5);
        QCOMPARE(TransferFigures::Percent(0, 0), 100.0);
        QCOMPARE(TransferFigures::Percent(5000, 3000), 100.0);
        QCOMPARE(TransferFigures::Percent(-1, 3000), 0.0);
        QCOMPARE(TransferFigures::ProgressText(1234567, 41.24), QString("1,234,567 (41.2%)"));
        QCOMPARE(TransferFigures::ProgressText(0, 100.0), QString(" (100.0%)"));
    }

    void timesAndSpeedsReadAsTheColumnsShowThem()
    {
        QCOMPARE(TransferFigures::EtaText(3725), QString("   1h:2m:5s"));
        QCOMPARE(TransferFigures::EtaText(60), QString("   1m:0s"));
        QCOMPARE(TransferFigures::EtaText(59), QString("   59s"));
        QCOMPARE(TransferFigures::EtaText(90061), QString("   25h:1m:1s"));
        QCOMPARE(TransferFigures::EtaText(-5), QString("   0s"));
        QCOMPARE(TransferFigures::SecondsLeft(10000, 0), qint64(0));
        QCOMPARE(TransferFigures::SecondsLeft(10000, 3000), qint64(3));
        QCOMPARE(TransferFigures::SecondsLeft(-2000, 3000), qint64(0));
        QCOMPARE(TransferFigures::SpeedText(1536), QString("1.5"));
        QCOMPARE(TransferFigures::SpeedText(0), QString("0.0"));
    }

    void uploadsGoOnlyAfterFiveQuietMinutes()
    {
        const QDateTime now = QDateTime::currentDateTime();
        const qint64 nowMs = now.toMSecsSinceEpoch();
        const QString recent = Text(now.addSecs(-299));
        const QString old = Text(now.addSecs(-300));
        const QString gone = Text(now.addSecs(-600));

        // Finished uploads: by their last status change.
        QVERIFY(!UploadPruning::Stale(false, true, "", recent, UploadPruning::NoTime, nowMs));
        QVERIFY(UploadPruning::Stale(false, true, "", old, UploadPruning::NoTime, nowMs));
        // A later receipt of data keeps a running upload.
        QVERIFY(!UploadPruning::Stale(false, true, "", old, nowMs - 10000, nowMs));
        QVERIFY(UploadPruning::Stale(false, true, "", "", nowMs - 400000, nowMs));
        // No time, or none that can be read, is never old enough.
        QVERIFY(!UploadPruning::Stale(false, false, gone, "", UploadPruning::NoTime, nowMs));
        QVERIFY(!UploadPruning::Stale(false, false, gone, "yesterday-ish", UploadPruning::NoTime, nowMs));

        // Queued uploads also need their user offline for as long.
        QVERIFY(!UploadPruning::Stale(true, true, gone, old, UploadPruning::NoTime, nowMs));
        QVERIFY(!UploadPruning::Stale(true, false, recent, old, UploadPruning::NoTime, nowMs));
        QVERIFY(!UploadPruning::Stale(true, false, "", old, UploadPruning::NoTime, nowMs));
        QVERIFY(!UploadPruning::Stale(true, false, gone, recent, UploadPruning::NoTime, nowMs));
        QVERIFY(UploadPruning::Stale(true, false, gone, old, UploadPruning::NoTime, nowMs));
        QVERIFY(UploadPruning::UserGoneLongEnough(false, gone, nowMs));
        QVERIFY(!UploadPruning::UserGoneLongEnough(true, gone, nowMs));
        QVERIFY(!UploadPruning::UserGoneLongEnough(false, "garbage", nowMs));
    }
};

QTEST_MAIN(TestTransferFigures)
#include "TestTransferFigures.moc"
