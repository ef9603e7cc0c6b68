// The downloads tree following the engine: stored downloads in queue order
// once loaded (a long queue over several turns), status texts, colours and
// parent states, place in line, online icons, rows going with their
// entries, the Delete key, the double click and clearing finished ones.
#include <QDir>
#include <QIcon>

#include "FakePeerLink.h"
#include "FakeWire.h"
#include "Settings.h"
#include "TestServer.h"
#include "TransfersPageHarness.h"

namespace {

bool SameIcon(const QIcon& icon, const char* resource)
{
    return icon.pixmap(16).toImage() == QIcon(resource).pixmap(16).toImage();
}

} // namespace

class TestDownloadRows : public QObject
{
    Q_OBJECT

private:
    using H = TransfersPageHarness;

private slots:
    void storedDownloadsAppearInQueueOrderOnceLoaded()
    {
        H h;
        h.StoredDownload("bob", "music\\rock", "c.mp3", 3000, 3);
        h.StoredDownload("bob", "music\\rock", "a.mp3", 1000, 1);
        h.StoredDownload("eve", "music\\rock", "e.mp3", 1234567, 4);
        h.StoredDownload("bob", "music\\rock", "b.mp3", 2000, 2);
        // Gone before the load: no row, and nothing breaks.
        h.f->transfers->RemoveDownload(h.StoredDownload("bob", "video", "v.avi", 10, 0));
        QCOMPARE(h.Downloads()->topLevelItemCount(), 0);

        QVERIFY(h.f->Start());
        QTreeWidget* tree = h.Downloads();
        QCOMPARE(H::TopTexts(tree), QStringList({"bob", "eve"}));
        QTreeWidgetItem* rock = H::FolderRow(tree, "bob", "rock/music");
        QCOMPARE(H::Files(rock), QStringList({"a.mp3", "b.mp3", "c.mp3"}));
        QTreeWidgetItem* e = H::FileRow(tree, "eve", "rock/music", "e.mp3");
        QCOMPARE(e->text(7), QString("1,234,567"));
        QCOMPARE(e->text(3), QString("queued"));
        QVERIFY(SameIcon(H::UserRow(tree, "bob")->icon(0), ":/icons/offline_icon"));

        ItemPtr added = h.f->transfers->AddDownload("bob", "d.mp3", "music\\rock", 4000, false, 0);
        QCOMPARE(H::Files(rock), QStringList({"a.mp3", "b.mp3", "c.mp3", "d.mp3"}));
        // Replacing an item the row was made from makes no second row.
        added.Connect(d.GetType("file_size")->GetItem(Value(5000)));
        QCOMPARE(rock->childCount(), 4);
    }

    void aStoredFinishedDownloadShowsAFullBar()
    {
        H h;
        // As the data file brings them back: one finished, one still to come.
        ItemPtr done = h.StoredDownload("bob", "music\\rock", "done.mp3", 3000, 1);
        done.Connect(d.GetType("download_entry_status")->GetItem(Value("complete")));
        h.StoredDownload("bob", "music\\rock", "next.mp3", 5000, 2);
        QVERIFY(h.f->Start());
        QTreeWidget* tree = h.Downloads();
        QTRY_VERIFY(H::FileRow(tree, "bob", "rock/music", "next.mp3"));
        QTreeWidgetItem* doneRow = H::FileRow(tree, "bob", "rock/music", "done.mp3");
        QCOMPARE(doneRow->text(3), QString("complete"));
        const TransferTree::ShownBar bar = h.page->DownloadTree().BarOf(doneRow);
        QVERIFY(bar.shown);
        QCOMPARE(bar.value, 100);
        QCOMPARE(bar.text, QString("3,000 (100.0%)"));
        QVERIFY(!h.page->DownloadTree().BarOf(H::FileRow(tree, "bob", "rock/music", "next.mp3")).shown);
    }

    void aLongStoredQueueIsBuiltInTurnsAndKeepsItsOrder()
    {
        H h;
        const int count = 4500;
        QStringList queueOrder;
        QList<ItemPtr> made;
        for (int i = 0; i < count; ++i) {
            const QString name = QString("f%1.bin").arg(i, 4, 10, QChar('0'));
            made << h.StoredDownload("bob", "x", name, 10, count - i);
            queueOrder.prepend(name);
        }
        emit h.f->transfers->TransfersLoaded();
        QTreeWidgetItem* folder = H::FolderRow(h.Downloads(), "bob", "x");
        const int first = folder->childCount();
        QVERIFY2(first > 0 && first < count, qPrintable(QString::number(first)));
        // Meanwhile the last of the queue goes and a new download comes.
        h.f->transfers->RemoveDownload(made.first());
        queueOrder.removeLast();
        h.f->transfers->AddDownload("bob", "new.bin", "x", 10, false, 0);
        queueOrder << "new.bin";
        QTRY_COMPARE(folder->childCount(), count);
        QCOMPARE(H::Files(folder), queueOrder);
        // The fixture's own load afterwards adds nothing twice.
        QVERIFY(h.f->Start());
        QCOMPARE(d.GetType("download_list_node")->Count(), size_t(count));
        folder->setExpanded(false);
        QCOMPARE(folder->text(3), QString("queued"));
    }

    void statusTextsColoursAndParentStatesFollowTheEngine()
    {
        H h;
        QVERIFY(h.f->Start());
        FakePeerLink* alice = h.f->OnlinePeer("alice");
        QVERIFY(alice);
        const ItemPtr one = h.f->transfers->AddDownload("alice", "one.bin", "share\\x", 1000, false, 0);
        const ItemPtr two = h.f->transfers->AddDownload("alice", "two.bin", "share\\x", 1000, false, 0);
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* folder = H::FolderRow(tree, "alice", "x/share");
        QTreeWidgetItem* oneRow = H::Child(folder, 2, "one.bin");
        QVERIFY(SameIcon(H::UserRow(tree, "alice")->icon(0), ":/icons/online_icon"));

        alice->SendMessage(44, FakeWire().Str("share\\x\\one.bin").U32(7).Bytes());
        QTRY_COMPARE(oneRow->text(8), QString("7"));
        // A denial shows the reason in lower case; any status clears the place.
        alice->SendMessage(50, FakeWire().Str("share\\x\\one.bin").Str("File Not Shared.").Bytes());
        QTRY_COMPARE(oneRow->text(3), QString("file not shared."));
        QCOMPARE(oneRow->text(8), QString());
        QCOMPARE(H::Colour(oneRow), QColor(GetSetting("color_transfer_failed")));
        // An open folder shows no state but takes its colour.
        QCOMPARE(folder->text(3), QString());
        QCOMPARE(H::Colour(folder), QColor(GetSetting("color_transfer_queued")));
        folder->setExpanded(false);
        QCOMPARE(folder->text(3), QString("queued"));
        h.f->transfers->SetDownloadEntryStatus(two, "complete");
        QCOMPARE(folder->text(3), QString("denied"));
        h.f->transfers->SetDownloadEntryStatus(one, "requesting");
        QCOMPARE(H::Colour(oneRow), QColor(GetSetting("color_transfer_other")));
        QCOMPARE(folder->text(3), QString());
        folder->setExpanded(true);
        QCOMPARE(folder->text(3), QString());

        QVERIFY(h.f->net.server->Cut("alice"));
        QTRY_VERIFY(SameIcon(H::UserRow(tree, "alice")->icon(0), ":/icons/offline_icon"));
    }

    void rowsOfAStatusShareOneBrushAndTakeANewOneWhole()
    {
        // A folder download queues hundreds of thousands of rows: their
        // colour must not cost a block a row, nor a block a cell.
        H h;
        QVERIFY(h.f->Start());
        const ItemPtr one = h.f->transfers->AddDownload("bob", "1.bin", "music\\x", 100, false, 0);
        for (const char* name : {"2.bin", "3.bin"})
            h.f->transfers->AddDownload("bob", name, "music\\x", 100, false, 0);
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* folder = H::FolderRow(tree, "bob", "x/music");
        auto brushData = [](const QBrush& brush) { return static_cast<const void*>(&brush.color()); };
        const void* queued = brushData(folder->child(0)->foreground(0));
        for (int row = 0; row < folder->childCount(); ++row)
            for (int column = 0; column < tree->columnCount(); ++column)
                QCOMPARE(brushData(folder->child(row)->foreground(column)), queued);

        QSet<int> changed;
        connect(tree->model(), &QAbstractItemModel::dataChanged, this,
                [&](const QModelIndex& from, const QModelIndex& to) {
                    if (from.sibling(from.row(), 2).data() == QVariant("1.bin"))
                        for (int column = from.column(); column <= to.column(); ++column)
                            changed << column;
                });
        h.f->transfers->SetDownloadEntryStatus(one, "complete");
        QCOMPARE(tree->model()->index(0, 3, tree->model()->index(0, 0, tree->model()->index(0, 0))).data(),
                 QVariant("complete"));
        QVERIFY(changed.contains(3));
        for (int column = 0; column < tree->columnCount(); ++column)
            QCOMPARE(H::Colour(H::Child(folder, 2, "1.bin"), column), QColor(GetSetting("color_transfer_complete")));
    }

    void rowsGoWithTheirEntriesAndParentsWithTheirLastChild()
    {
        H h;
        QVERIFY(h.f->Start());
        const ItemPtr a = h.f->transfers->AddDownload("bob", "a.bin", "music\\a", 1000, false, 0);
        const ItemPtr b1 = h.f->transfers->AddDownload("bob", "b1.bin", "music\\b", 1000, false, 0);
        const ItemPtr b2 = h.f->transfers->AddDownload("bob", "b2.bin", "music\\b", 1000, false, 0);
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* bob = H::UserRow(tree, "bob");
        // With two folders the open user row sums them.
        h.page->OnDownloadProgress(a);
        QVERIFY(tree->itemWidget(bob, 4));
        h.f->transfers->SetDownloadEntryStatus(b1, "downloading");
        h.f->transfers->SetDownloadEntryStatus(b2, "complete");
        H::FolderRow(tree, "bob", "b/music")->setExpanded(false);

        // A user left with one folder loses its bar and time.
        h.f->transfers->RemoveDownload(a);
        QVERIFY(!H::FolderRow(tree, "bob", "a/music"));
        QVERIFY(!tree->itemWidget(bob, 4));
        QCOMPARE(bob->text(5), QString());
        // The states above a removed file stop counting it.
        h.f->transfers->RemoveDownload(b1);
        QTRY_COMPARE(H::FolderRow(tree, "bob", "b/music")->text(3), QString("complete"));
        h.f->transfers->RemoveDownload(b2);
        QCOMPARE(tree->topLevelItemCount(), 0);
        for (const char* type : {"download_list_user_node", "download_list_folder_node", "download_list_node"})
            QCOMPARE(d.GetType(type)->Count(), size_t(0));
    }

    void deleteDoubleClickAndClearingActOnTheRightDownloads()
    {
        H h;
        QVERIFY(h.f->Start());
        for (const char* name : {"1.bin", "2.bin", "3.bin"})
            h.f->transfers->AddDownload("bob", name, "music\\x", 100, false, 0);
        const ItemPtr song = h.f->transfers->AddDownload("eve", "song.mp3", "music\\rock", 100, false, 0);
        const ItemPtr done = h.f->transfers->AddDownload("eve", "done.mp3", "music\\rock", 100, false, 0);
        QTreeWidget* tree = h.Downloads();
        // A user row with rows below it, as a sweep selects them: each
        // download is removed once.
        H::UserRow(tree, "bob")->setSelected(true);
        H::FolderRow(tree, "bob", "x/music")->setSelected(true);
        H::FileRow(tree, "bob", "x/music", "2.bin")->setSelected(true);
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Backspace);
        QCOMPARE(d.GetType("download_entry")->Count(), size_t(5));
        QTest::keyClick(tree, Qt::Key_Delete);
        QCOMPARE(H::TopTexts(tree), QStringList({"eve"}));
        QCOMPARE(d.GetType("download_entry")->Count(), size_t(2));

        // A double click opens where the finished file lies, on file rows only.
        auto doubleClick = [&](QTreeWidgetItem* row) {
            tree->doItemsLayout();
            // Pointing first, as the hand does: a double click right after
            // the last one would count as a third click.
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(row).center());
            QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(row).center());
        };
        doubleClick(H::FolderRow(tree, "eve", "rock/music"));
        H::FolderRow(tree, "eve", "rock/music")->setExpanded(true);
        QCOMPARE(h.f->OpenedUrls(), QList<QUrl>());
        doubleClick(H::FileRow(tree, "eve", "rock/music", "song.mp3"));
        QCOMPARE(h.f->OpenedUrls(),
                 QList<QUrl>{QUrl::fromLocalFile(QDir(h.f->DownloadFolder()).filePath("complete/rock/song.mp3"))});

        h.f->transfers->SetDownloadEntryStatus(done, "complete");
        QAction* clear = h.Action(tree, "Clear Complete");
        QVERIFY(clear);
        clear->trigger();
        QCOMPARE(H::Files(H::FolderRow(tree, "eve", "rock/music")), QStringList({"song.mp3"}));
        // Answered though no set offers it.
        H::FileRow(tree, "eve", "rock/music", "song.mp3")->setSelected(true);
        h.page->OnActionBarTriggered(tree, "dl_add_user");
        QVERIFY(song["user"].IsConnected("in_user_list"));
    }
};

QTEST_MAIN(TestDownloadRows)
#include "TestDownloadRows.moc"
