// The downloads tree following the engine: stored downloads in queue order
// once the engine has loaded them, new ones as they come, status texts and
// colours, the states of collapsed parents, place in line, online icons,
// rows going with their entries, the Delete key, the double click and
// clearing finished downloads.
#include <QDir>
#include <QIcon>
#include <QProgressBar>

#include "DownloadsFixture.h"
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
        // Stored out of queue order, one of them gone before the load.
        h.StoredDownload("bob", "music\\rock", "c.mp3", 3000, 3);
        h.StoredDownload("bob", "music\\rock", "a.mp3", 1000, 1);
        h.StoredDownload("eve", "music\\rock", "e.mp3", 1234567, 4);
        h.StoredDownload("bob", "music\\rock", "b.mp3", 2000, 2);
        const ItemPtr gone = h.StoredDownload("bob", "video", "v.avi", 10, 0);
        h.f->transfers->RemoveDownload(gone);
        QCOMPARE(h.Downloads()->topLevelItemCount(), 0);

        QVERIFY(h.f->Start());
        QTreeWidget* tree = h.Downloads();
        QCOMPARE(H::TopTexts(tree), QStringList({"bob", "eve"}));
        // Two users with a folder of the same path get a folder row each.
        QTreeWidgetItem* rock = H::FolderRow(tree, "bob", "rock/music");
        QVERIFY(rock);
        QVERIFY(H::FolderRow(tree, "eve", "rock/music"));
        QCOMPARE(H::Files(rock), QStringList({"a.mp3", "b.mp3", "c.mp3"}));
        QTreeWidgetItem* e = H::FileRow(tree, "eve", "rock/music", "e.mp3");
        QCOMPARE(e->text(7), QString("1,234,567"));
        QCOMPARE(e->text(3), QString("queued"));
        QCOMPARE(H::Colour(e), QColor(GetSetting("color_transfer_queued")));
        QCOMPARE(H::Colour(rock), QColor(GetSetting("color_transfer_queued")));
        QVERIFY(SameIcon(H::UserRow(tree, "bob")->icon(0), ":/icons/offline_icon"));

        // A new download goes below the rows of its user and folder.
        ItemPtr added = h.f->transfers->AddDownload("bob", "d.mp3", "music\\rock", 4000, false, 0);
        QCOMPARE(H::Files(rock), QStringList({"a.mp3", "b.mp3", "c.mp3", "d.mp3"}));
        // Replacing one of the items the row was made from makes no second row.
        added.Connect(d.GetType("file_size")->GetItem(Value(5000)));
        QCOMPARE(rock->childCount(), 4);
        QCOMPARE(d.GetType("download_list_node")->Count(), size_t(5));
    }

    void aLongStoredQueueIsBuiltInTurnsAndKeepsItsOrder()
    {
        H h;
        // Made in one order, queued in the reverse one.
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
        QCOMPARE(H::Files(folder), queueOrder.mid(0, first));

        // Meanwhile the last of the queue goes and a new download comes.
        h.f->transfers->RemoveDownload(made.first());
        queueOrder.removeLast();
        h.f->transfers->AddDownload("bob", "new.bin", "x", 10, false, 0);
        queueOrder << "new.bin";
        QTRY_COMPARE(folder->childCount(), count);
        QCOMPARE(H::Files(folder), queueOrder);
        QCOMPARE(d.GetType("download_list_node")->Count(), size_t(count));
        // The load the fixture reports afterwards adds nothing twice.
        QVERIFY(h.f->Start());
        QCOMPARE(folder->childCount(), count);
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
        QVERIFY(PeerEngineFixture::WaitFor(alice, 43, 2));
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* folder = H::FolderRow(tree, "alice", "x/share");
        QTreeWidgetItem* oneRow = H::Child(folder, 2, "one.bin");
        QTreeWidgetItem* twoRow = H::Child(folder, 2, "two.bin");
        QVERIFY(SameIcon(H::UserRow(tree, "alice")->icon(0), ":/icons/online_icon"));

        // The uploader's place in line, until the status moves on.
        alice->SendMessage(44, FakeWire().Str("share\\x\\one.bin").U32(7).Bytes());
        QTRY_COMPARE(oneRow->text(8), QString("7"));

        // A denial shows the uploader's reason, in lower case.
        alice->SendMessage(50, FakeWire().Str("share\\x\\one.bin").Str("File Not Shared.").Bytes());
        QTRY_COMPARE(oneRow->text(3), QString("file not shared."));
        QCOMPARE(oneRow->text(8), QString());
        QCOMPARE(H::Colour(oneRow), QColor(GetSetting("color_transfer_failed")));
        // An open folder shows no state but takes the colour of it.
        QCOMPARE(folder->text(3), QString());
        QCOMPARE(H::Colour(folder), QColor(GetSetting("color_transfer_queued")));
        folder->setExpanded(false);
        QCOMPARE(folder->text(3), QString("queued"));

        h.f->transfers->SetDownloadEntryStatus(two, "complete");
        QCOMPARE(twoRow->text(3), QString("complete"));
        QCOMPARE(folder->text(3), QString("denied"));
        QCOMPARE(H::Colour(folder), QColor(GetSetting("color_transfer_failed")));
        h.f->transfers->SetDownloadEntryStatus(one, "requesting");
        QCOMPARE(H::Colour(oneRow), QColor(GetSetting("color_transfer_other")));
        QCOMPARE(folder->text(3), QString());
        h.f->transfers->SetDownloadEntryStatus(one, "complete");
        QCOMPARE(folder->text(3), QString("complete"));
        QCOMPARE(H::Colour(H::UserRow(tree, "alice")), QColor(GetSetting("color_transfer_complete")));
        // Opening the folder clears its state again.
        folder->setExpanded(true);
        QCOMPARE(folder->text(3), QString());

        // Online and offline follow the server's word.
        QVERIFY(h.f->net.server->Cut("alice"));
        QTRY_VERIFY(SameIcon(H::UserRow(tree, "alice")->icon(0), ":/icons/offline_icon"));
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
        // Two folders: the open user row sums them on a report.
        h.page->OnDownloadProgress(a);
        QVERIFY(h.Downloads()->itemWidget(bob, 4));
        QVERIFY(!bob->text(5).isEmpty());

        h.f->transfers->SetDownloadEntryStatus(b1, "downloading");
        h.f->transfers->SetDownloadEntryStatus(b2, "complete");
        H::FolderRow(tree, "bob", "b/music")->setExpanded(false);
        QCOMPARE(H::FolderRow(tree, "bob", "b/music")->text(3), QString("downloading"));

        // The last file of a folder takes the folder along; a user left
        // with one folder loses its bar and time.
        h.f->transfers->RemoveDownload(a);
        QVERIFY(!H::FolderRow(tree, "bob", "a/music"));
        QCOMPARE(bob->childCount(), 1);
        QVERIFY(!h.Downloads()->itemWidget(bob, 4));
        QCOMPARE(bob->text(5), QString());

        // The states above a removed file stop counting it.
        h.f->transfers->RemoveDownload(b1);
        QTRY_COMPARE(H::FolderRow(tree, "bob", "b/music")->text(3), QString("complete"));

        h.f->transfers->RemoveDownload(b2);
        QCOMPARE(tree->topLevelItemCount(), 0);
        for (const char* type : {"download_list_user_node", "download_list_folder_node", "download_list_node"})
            QCOMPARE(d.GetType(type)->Count(), size_t(0));
    }

    void deleteRemovesEverySelectedDownloadOnce()
    {
        H h;
        QVERIFY(h.f->Start());
        for (const char* name : {"1.bin", "2.bin", "3.bin"})
            h.f->transfers->AddDownload("bob", name, "music\\x", 100, false, 0);
        h.f->transfers->AddDownload("bob", "4.bin", "music\\y", 100, false, 0);
        h.f->transfers->AddDownload("eve", "5.bin", "music\\x", 100, false, 0);
        QTreeWidget* tree = h.Downloads();
        // The user row and rows below it, as a user's sweep selects them.
        H::UserRow(tree, "bob")->setSelected(true);
        H::FolderRow(tree, "bob", "x/music")->setSelected(true);
        H::FileRow(tree, "bob", "x/music", "2.bin")->setSelected(true);
        tree->setFocus();
        // Other keys do nothing.
        QTest::keyClick(tree, Qt::Key_Backspace);
        QCOMPARE(d.GetType("download_entry")->Count(), size_t(5));
        QTest::keyClick(tree, Qt::Key_Delete);

        QCOMPARE(d.GetType("download_entry")->Count(), size_t(1));
        QCOMPARE(H::TopTexts(tree), QStringList({"eve"}));
        QVERIFY(H::FileRow(tree, "eve", "x/music", "5.bin"));
    }

    void doubleClickOpensWhereTheFinishedFileLies()
    {
        H h;
        QVERIFY(h.f->Start());
        h.f->transfers->AddDownload("bob", "song.mp3", "music\\rock", 100, false, 0);
        QTreeWidget* tree = h.Downloads();
        auto doubleClick = [&](QTreeWidgetItem* row) {
            tree->scrollToItem(row);
            tree->doItemsLayout();
            // Pointing at the row first, as the hand does: a double click
            // that follows the last one too closely would count as a third.
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(row).center());
            QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(row).center());
        };
        doubleClick(H::UserRow(tree, "bob"));
        H::UserRow(tree, "bob")->setExpanded(true);
        doubleClick(H::FolderRow(tree, "bob", "rock/music"));
        H::FolderRow(tree, "bob", "rock/music")->setExpanded(true);
        QCOMPARE(h.f->OpenedUrls(), QList<QUrl>());

        // Also while it is still queued: where it will be.
        doubleClick(H::FileRow(tree, "bob", "rock/music", "song.mp3"));
        QCOMPARE(h.f->OpenedUrls(),
                 QList<QUrl>{QUrl::fromLocalFile(QDir(h.f->DownloadFolder()).filePath("complete/rock/song.mp3"))});
    }

    void finishedDownloadsAreClearedAndUsersAdded()
    {
        H h;
        QVERIFY(h.f->Start());
        const ItemPtr a = h.f->transfers->AddDownload("bob", "a.bin", "x", 100, false, 0);
        const ItemPtr b = h.f->transfers->AddDownload("bob", "b.bin", "x", 100, false, 0);
        const ItemPtr c = h.f->transfers->AddDownload("eve", "c.bin", "x", 100, false, 0);
        h.f->transfers->SetDownloadEntryStatus(a, "complete");
        h.f->transfers->SetDownloadEntryStatus(c, "complete");
        QAction* clear = h.Action(h.Downloads(), "Clear Complete");
        QVERIFY(clear);
        clear->trigger();
        QCOMPARE(d.GetType("download_entry")->Count(), size_t(1));
        QVERIFY(!b.IsRemoved());
        QCOMPARE(H::TopTexts(h.Downloads()), QStringList({"bob"}));

        // Answered though no set offers it.
        H::FileRow(h.Downloads(), "bob", "x", "b.bin")->setSelected(true);
        h.page->OnActionBarTriggered(h.Downloads(), "dl_add_user");
        QVERIFY(d.GetType("user")->HasItem("bob").IsConnected("in_user_list"));
        QVERIFY(!d.GetType("user")->HasItem("eve").IsConnected("in_user_list"));
    }
};

QTEST_MAIN(TestDownloadRows)
#include "TestDownloadRows.moc"
