// Progress of a download that a fake peer sends over a loopback file
// connection, as the rows show it: the file row's bar, time and speed, the
// sums on the folder and user rows, and which row takes the speed as the
// user opens and closes rows; the speed is the one of the last seconds, on
// downloads and uploads alike, and a transfer that stalls tells no time left.
#include <QProgressBar>
#include <QSignalSpy>

#include "DownloadsFixture.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "GeneralFunctions.h"
#include "ShareScan.h"
#include "TransfersPageHarness.h"
#include "UploadsFixture.h"

namespace {

const int Chunk = 8192;

} // namespace

class TestTransferProgress : public QObject
{
    Q_OBJECT

private:
    using H = TransfersPageHarness;

    QProgressBar* Bar(QTreeWidget* tree, QTreeWidgetItem* row)
    {
        return qobject_cast<QProgressBar*>(tree->itemWidget(row, 4));
    }

    // Sends the file a chunk at a time, slowly enough for the transfer to
    // stay running, until the page has seen one more progress report.
    bool FeedUntilReport(FakePeerLink* file, const QByteArray& content, int& sent, QSignalSpy& reports)
    {
        const int before = reports.count();
        QElapsedTimer clock;
        clock.start();
        while (reports.count() == before && clock.elapsed() < 10000 && sent + Chunk < content.size()) {
            file->SendRaw(content.mid(sent, Chunk));
            sent += Chunk;
            QTest::qWait(20);
        }
        return reports.count() > before;
    }

    // Offers the queued file, opens its file link and reads our start
    // offset; null unless every step comes and the offset is 0.
    static FakePeerLink* Accepted(H& h, FakePeerLink* link, quint32 token, const QString& path, qint64 size)
    {
        DownloadsFixture::Offer(link, token, path, size);
        if (!PeerEngineFixture::WaitFor(link, 41, 1))
            return nullptr;
        FakePeerLink* file = DownloadsFixture::OpenFileLink(*h.f, "alice", token);
        return file && DownloadsFixture::ReadOffset(file) == 0 ? file : nullptr;
    }

private slots:
    void rowsShowProgressWhereTheUserLooks()
    {
        H h;
        QVERIFY(h.f->Start());
        FakePeerLink* link = h.f->OnlinePeer("alice");
        QVERIFY(link);
        const QByteArray content = TempTree::Pattern(600 * Chunk, 7);
        const ItemPtr entry = h.f->transfers->AddDownload("alice", "big.bin", "share\\a", content.size(), false, 0);
        // A finished neighbour counts into the folder's sums.
        const ItemPtr done = h.f->transfers->AddDownload("alice", "done.bin", "share\\a", 1000, false, 0);
        h.f->transfers->SetDownloadEntryStatus(done, "complete");

        QVERIFY(PeerEngineFixture::WaitFor(link, 43, 2));
        FakePeerLink* file = Accepted(h, link, 9001, "share\\a\\big.bin", content.size());
        QVERIFY(file);

        QSignalSpy reports(h.f->transfers, &TransferQueueManager::DownloadProgressed);
        int sent = 0;
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* user = H::UserRow(tree, "alice");
        QTreeWidgetItem* folder = H::FolderRow(tree, "alice", "a/share");
        QTreeWidgetItem* row = H::Child(folder, 2, "big.bin");

        // Everything open, one folder: the file row takes the speed, the
        // folder its sums, the user row nothing.
        QVERIFY(FeedUntilReport(file, content, sent, reports));
        QTRY_COMPARE(h.TabTitle(), QString("Transfers [1/0]"));
        QCOMPARE(row->text(3), QString("downloading"));
        // A file row's bar is drawn from its figures, not a widget.
        const TransferTree::ShownBar shown = h.page->DownloadTree().BarOf(row);
        QVERIFY(shown.shown);
        QVERIFY(!Bar(tree, row));
        // The widest figure of a bar is read whole, written bold as the
        // style draws it; so are the speed and the size beside it.
        QFont bold = tree->font();
        bold.setBold(true);
        QVERIFY(QFontMetrics(bold).horizontalAdvance("61,234,567 (100.0%)") + 8 <= tree->columnWidth(4));
        QVERIFY(tree->fontMetrics().horizontalAdvance("1374.4") + 8 <= tree->columnWidth(6));
        QVERIFY(tree->fontMetrics().horizontalAdvance("61,234,567") + 8 <= tree->columnWidth(7));
        const qint64 position = entry["write_position"].AsObject<TransferCounter64>()->load();
        QVERIFY(position > 0);
        QVERIFY2(shown.text.startsWith(CommafyNumber(position) + " ("), qPrintable(shown.text));
        QCOMPARE(shown.value, int(position * 100 / content.size()));
        QVERIFY(row->text(5).startsWith("   "));
        QVERIFY(!row->text(6).isEmpty());
        QVERIFY(Bar(tree, folder));
        QVERIFY2(Bar(tree, folder)->format().startsWith(CommafyNumber(position + 1000) + " ("),
                 qPrintable(Bar(tree, folder)->format()));
        QVERIFY(!Bar(tree, user));
        QCOMPARE(folder->text(6), QString());

        // The folder closed: the speed goes to it, the file keeps its last.
        folder->setExpanded(false);
        QCOMPARE(folder->text(3), QString("downloading"));
        const QString fileSpeed = row->text(6);
        QVERIFY(FeedUntilReport(file, content, sent, reports));
        QVERIFY(!folder->text(6).isEmpty());
        QCOMPARE(row->text(6), fileSpeed);

        // The user closed: the speed and the sums go to the user row.
        user->setExpanded(false);
        QVERIFY(FeedUntilReport(file, content, sent, reports));
        QVERIFY(!user->text(6).isEmpty());
        QVERIFY(Bar(tree, user));
        QVERIFY(!user->text(5).isEmpty());

        // Opening a row clears its figures at once.
        user->setExpanded(true);
        folder->setExpanded(true);
        QVERIFY(!Bar(tree, user));
        QCOMPARE(user->text(3), QString());
        QCOMPARE(user->text(5), QString());
        QCOMPARE(user->text(6), QString());
        QVERIFY(!Bar(tree, folder));

        // A second folder: the open user row sums both.
        h.f->transfers->AddDownload("alice", "other.bin", "share\\b", 5000, false, 0);
        QVERIFY(FeedUntilReport(file, content, sent, reports));
        QVERIFY(Bar(tree, user));
        QVERIFY(Bar(tree, folder));
        QCOMPARE(user->text(6), QString());
        QCOMPARE(folder->text(6), QString());
        QVERIFY(!row->text(6).isEmpty());

        // The rest: the bar ends full.
        file->SendRaw(content.mid(sent));
        QTRY_COMPARE_WITH_TIMEOUT(row->text(3), QString("complete"), 30000);
        QCOMPARE(h.page->DownloadTree().BarOf(row).value, 100);
        QCOMPARE(h.page->DownloadTree().BarOf(row).text, CommafyNumber(content.size()) + " (100.0%)");
        QTRY_COMPARE(h.TabTitle(), QString("Transfers [0/0]"));
    }

    void theSpeedShownIsTheRecentOne()
    {
        // 16 MiB at once, then a piece a quarter second at most (32 KiB/s),
        // then nothing: the row's speed and time left follow the last
        // seconds, not the average since the start, and fall to nothing in
        // the pause.
        H h;
        QVERIFY(h.f->Start());
        FakePeerLink* link = h.f->OnlinePeer("alice");
        QVERIFY(link);
        const int burst = 2048 * Chunk;
        const QByteArray content = TempTree::Pattern(burst + 768 * Chunk, 3);
        h.f->transfers->AddDownload("alice", "big.bin", "share\\a", content.size(), false, 0);
        QVERIFY(PeerEngineFixture::WaitFor(link, 43, 1));
        FakePeerLink* file = Accepted(h, link, 9002, "share\\a\\big.bin", content.size());
        QVERIFY(file);
        QTreeWidgetItem* row = H::FileRow(h.Downloads(), "alice", "a/share", "big.bin");
        QVERIFY(row);
        file->SendRaw(content.left(burst));
        QTRY_VERIFY_WITH_TIMEOUT(file->Socket()->bytesToWrite() == 0, 60000);

        int sent = burst;
        QElapsedTimer since;
        since.start();
        QTimer pace;
        connect(&pace, &QTimer::timeout, this, [&] {
            if (since.elapsed() < 250 || sent + Chunk > content.size())
                return;
            file->SendRaw(content.mid(sent, Chunk));
            sent += Chunk;
            since.restart();
        });
        pace.start(50);
        // The average since the start stays above 250 KiB/s for a minute.
        QTRY_VERIFY2_WITH_TIMEOUT(row->text(6).toDouble() > 0 && row->text(6).toDouble() < 64, qPrintable(row->text(6)),
                                  40000);
        // At least 4 MiB left at under 64 KiB/s: more than a minute.
        QVERIFY2(row->text(5).contains("m:"), qPrintable(row->text(5)));

        pace.stop();
        QTRY_COMPARE_WITH_TIMEOUT(row->text(6), QString("0.0"), 25000);
        // Megabytes left and nothing moving: no time is told, on the file
        // row nor on its folder's sums.
        QCOMPARE(row->text(5), QString());
        QCOMPARE(row->parent()->text(5), QString());
        file->SendRaw(content.mid(sent));
        QTRY_COMPARE_WITH_TIMEOUT(row->text(3), QString("complete"), 60000);
    }

    void aStalledUploadShowsItsSpeedFallingAndNoTimeLeft()
    {
        // A downloader reading through its socket at 50 KiB/s, then reading
        // nothing with most of the file to come. Its stall time is longer
        // than the test: the row is seen while the upload still runs.
        H h;
        QVERIFY(h.f->Start());
        h.f->transfers->SetUploadStallMs(120000);
        const QByteArray content = TempTree::Pattern(600 * Chunk, 5);
        h.f->WriteFile("share/big.bin", content);
        ItemPtr shared = ShareScanned(h.f->shares, h.f->MakeFolder("share"));
        QVERIFY(shared);
        shared.NewItem("shared_public");
        FakePeerLink* link = h.f->OnlinePeer("alice");
        QVERIFY(link);
        const QString requested = h.f->Remote("share/big.bin");
        link->SendMessage(43, FakeWire().Str(requested).Bytes());
        QVERIFY(PeerEngineFixture::WaitFor(link, 40, 1));
        TransferRequest request;
        QVERIFY(request.Read(PeerEngineFixture::Received(link, 40).at(0)));
        link->SendMessage(41, FakeWire().U32(request.token).U8(1).Bytes());
        FakePeerLink* file = h.f->Peer("alice")->WaitForLink();
        QVERIFY(file && file->opening.type == "F" && file->WaitForRaw(4));
        file->StopReading();
        file->Socket()->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 16 * 1024);
        file->SendRaw(FakeWire().U64(0).Bytes());

        const ItemPtr entry = UploadsFixture::Entry("alice", requested);
        const QString folder = ReversePathname(entry["shared_file"]["shared_file_folder"].AsString());
        QTreeWidgetItem* row = H::FileRow(h.Uploads(), "alice", folder, "big.bin");
        QVERIFY(row);
        QElapsedTimer clock;
        clock.start();
        QTimer reader;
        connect(&reader, &QTimer::timeout, this, [&] {
            if (file->raw.size() - 4 <= clock.elapsed() * 50 * 1024 / 1000)
                file->Gulp();
        });
        reader.start(20);
        QTRY_VERIFY_WITH_TIMEOUT(row->text(6).toDouble() > 0 && row->text(5).contains("m:"), 30000);

        reader.stop();
        QTRY_COMPARE_WITH_TIMEOUT(row->text(6), QString("0.0"), 30000);
        QCOMPARE(row->text(3), QString("uploading"));
        QCOMPARE(row->text(5), QString());
        QCOMPARE(row->parent()->text(5), QString());
    }
};

QTEST_MAIN(TestTransferProgress)
#include "TestTransferProgress.moc"
