// The downloads tree with many downloads at once, as users cause them: a
// folder's worth arriving in one go, every row selected and deleted, states
// changing under large users; and what a row keeps when its transfer stops.
// The rows must end as they would one download at a time.
#include <QHeaderView>
#include <QImage>
#include <QProgressBar>
#include <QSignalSpy>

#include "DownloadsFixture.h"
#include "FakePeerLink.h"
#include "GeneralFunctions.h"
#include "InkMargins.h"
#include "SliceTrace.h"
#include "SlicedJob.h"
#include "TransfersPageHarness.h"
#include "TurnCounter.h"
#include "transfers/TransferTreeWidget.h"

namespace {

// The texts of a row's status, time and speed columns.
QStringList Figures(QTreeWidgetItem* row)
{
    return {row->text(3), row->text(5), row->text(6)};
}

// Every selected cell of a view, by its model index.
QSet<QModelIndex> SelectedCells(QTreeWidget* tree)
{
    const QModelIndexList cells = tree->selectionModel()->selectedIndexes();
    return QSet<QModelIndex>(cells.begin(), cells.end());
}

// Live counters as a running download's worker publishes them.
void MakeRunning(TransferQueueManager* engine, ItemPtr entry, qint64 position, qint32 speed)
{
    engine->SetDownloadEntryStatus(entry, "downloading");
    entry.Connect(d.GetType("write_position")->GetItem(Value(new TransferCounter64(position))));
    entry.Connect(d.GetType("bytes_per_second")->GetItem(Value(new TransferCounter32(speed))));
}

} // namespace

class TestLargeQueues : public QObject
{
    Q_OBJECT

private:
    using H = TransfersPageHarness;

private slots:
    void parentStatesFollowEveryChangeBelowThem()
    {
        H h;
        QVERIFY(h.f->Start());
        TransferQueueManager* engine = h.f->transfers;
        // A folder download of a large share, as the browse menu queues it.
        QList<ItemPtr> many;
        for (int i = 0; i < 3000; ++i)
            many << engine->AddDownload("bob", QString("%1.mp3").arg(i, 4, 10, QChar('0')).toStdString(),
                                        i < 2000 ? "share\\big" : "share\\small", 1000, false, 0);
        const ItemPtr lone = engine->AddDownload("eve", "lone.mp3", "music", 1000, false, 0);
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* bob = H::UserRow(tree, "bob");
        QTreeWidgetItem* big = H::FolderRow(tree, "bob", "big/share");
        QTreeWidgetItem* small = H::FolderRow(tree, "bob", "small/share");
        QCOMPARE(H::Files(big).size(), 2000);
        QCOMPARE(H::Files(big).first(), QString("0000.mp3"));
        QCOMPARE(H::Files(small).last(), QString("2999.mp3"));
        for (QTreeWidgetItem* row : {bob, big, small})
            row->setExpanded(false);
        QCOMPARE(bob->text(3), QString("queued"));

        for (int i = 0; i < 2000; ++i)
            engine->SetDownloadEntryStatus(many[i], "complete");
        QCOMPARE(big->text(3), QString("complete"));
        QCOMPARE(bob->text(3), QString("queued"));
        engine->SetDownloadEntryStatus(many[2500], "denied");
        for (int i = 2000; i < 3000; ++i)
            if (i != 2500)
                engine->SetDownloadEntryStatus(many[i], "complete");
        QCOMPARE(small->text(3), QString("denied"));
        QCOMPARE(bob->text(3), QString("denied"));
        QCOMPARE(H::Colour(bob), QColor(GetSetting("color_transfer_failed")));
        engine->SetDownloadEntryStatus(many[7], "aborted");
        QCOMPARE(big->text(3), QString("aborted"));

        // Gone entries stop counting; another user's rows are untouched.
        engine->RemoveDownload(many[2500]);
        engine->RemoveDownload(many[7]);
        QTRY_COMPARE(bob->text(3), QString("complete"));
        QCOMPARE(small->text(3), QString("complete"));
        QCOMPARE(big->text(3), QString("complete"));
        QCOMPARE(H::TopTexts(tree), QStringList({"bob", "eve"}));
        QCOMPARE(H::UserRow(tree, "eve")->text(3), QString());
        engine->SetDownloadEntryStatus(lone, "complete");
        H::UserRow(tree, "eve")->setExpanded(false);
        QCOMPARE(H::UserRow(tree, "eve")->text(3), QString("complete"));
    }

    void everyRowSelectedAndDeletedGoesAtOnce()
    {
        H h;
        QVERIFY(h.f->Start());
        for (int u = 0; u < 4; ++u)
            for (int i = 0; i < 500; ++i)
                h.f->transfers->AddDownload(QString("user%1").arg(u), QString("%1.bin").arg(i).toStdString(),
                                            i % 2 ? "share\\odd" : "share\\even", 100, false, 0);
        QTreeWidget* tree = h.Downloads();
        QCOMPARE(tree->topLevelItemCount(), 4);

        // One user's rows: the others keep theirs, in their order, and the
        // current row stays where it was.
        QTreeWidgetItem* kept = H::UserRow(tree, "user0");
        tree->setCurrentItem(kept);
        tree->clearSelection();
        H::UserRow(tree, "user1")->setSelected(true);
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Delete);
        // A slice a turn, as the turn's budget allows.
        QTRY_COMPARE(d.GetType("download_entry")->Count(), size_t(1500));
        QCOMPARE(H::TopTexts(tree), QStringList({"user0", "user2", "user3"}));
        QCOMPARE(tree->currentItem(), kept);
        QCOMPARE(H::Files(H::FolderRow(tree, "user2", "odd/share")).size(), 250);

        tree->selectAll();
        QTest::keyClick(tree, Qt::Key_Delete);
        QTRY_COMPARE(d.GetType("download_entry")->Count(), size_t(0));
        QCOMPARE(tree->topLevelItemCount(), 0);
        QVERIFY(!tree->currentItem());
        for (const char* type : {"download_list_user_node", "download_list_folder_node", "download_list_node"})
            QCOMPARE(d.GetType(type)->Count(), size_t(0));
        QTRY_COMPARE(h.TabTitle(), QString("Transfers [0/0]"));

        // Rows made afterwards at the addresses of the gone ones count anew.
        const ItemPtr again = h.f->transfers->AddDownload("user0", "new.bin", "share\\even", 100, false, 0);
        QTreeWidgetItem* user = H::UserRow(tree, "user0");
        user->setExpanded(false);
        QCOMPARE(user->text(3), QString("queued"));
        h.f->transfers->SetDownloadEntryStatus(again, "complete");
        QCOMPARE(user->text(3), QString("complete"));
    }

    void selectAllSelectsTheShownRowsAsThePlainTreeDoesInOneChange()
    {
        H h;
        QVERIFY(h.f->Start());
        for (const char* user : {"alice", "bob", "carol"})
            for (const char* folder : {"share\\a", "share\\b", "share\\c"})
                for (int i = 0; i < 30; ++i)
                    h.f->transfers->AddDownload(user, QString("%1.bin").arg(i).toStdString(), folder, 100, false, 0);
        QTreeWidget* tree = h.Downloads();
        // Rows the view does not show are not selected: those below a
        // closed folder and a closed user, and a hidden row, which splits
        // its folder's rows in two runs.
        H::FolderRow(tree, "bob", "b/share")->setExpanded(false);
        H::UserRow(tree, "carol")->setExpanded(false);
        H::FileRow(tree, "alice", "a/share", "7.bin")->setHidden(true);
        QTreeWidgetItem* current = H::FileRow(tree, "bob", "c/share", "3.bin");
        tree->setCurrentItem(current);
        tree->QTreeView::selectAll();
        const QSet<QModelIndex> plain = SelectedCells(tree);
        QCOMPARE(plain.size(), 9 * (3 + 6 + 6 * 30 - 30 - 1));
        tree->clearSelection();

        // The key as the user presses it.
        int cellsHanded = 0;
        QObject scope;
        QObject::connect(tree->selectionModel(), &QItemSelectionModel::selectionChanged, &scope,
                         [&](const QItemSelection& selected, const QItemSelection&) {
                             for (const QItemSelectionRange& range : selected)
                                 cellsHanded += range.width() * range.height();
                         });
        QSignalSpy changed(tree, &QTreeWidget::itemSelectionChanged);
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(SelectedCells(tree), plain);
        QCOMPARE(tree->currentItem(), current);
        QCOMPARE(changed.count(), 1);
        // Not a cell of it handed one by one to the tree's own sync.
        QCOMPARE(cellsHanded, 0);
        QCOMPARE(tree->selectionModel()->selectedRows().size(), plain.size() / 9);

        // Delete reads it: each selected user stands for all of its
        // downloads, shown or not.
        QTest::keyClick(tree, Qt::Key_Delete);
        QTRY_COMPARE(d.GetType("download_entry")->Count(), size_t(0));
        QCOMPARE(tree->topLevelItemCount(), 0);

        // The uploads tree is one of them too.
        QVERIFY(qobject_cast<TransferTreeWidget*>(h.Uploads()));
    }

    void aRemovalTakesRowsFromTheBackASliceATurn()
    {
        H h;
        QVERIFY(h.f->Start());
        TransferQueueManager* engine = h.f->transfers;
        QList<ItemPtr> kept;
        for (int i = 0; i < 600; ++i)
            engine->AddDownload("bob", QString("%1.bin").arg(i).toStdString(), "share\\big", 100, false, 0);
        for (int i = 0; i < 20; ++i)
            kept << engine->AddDownload("bob", QString("%1.bin").arg(i).toStdString(), "share\\small", 100, false, 0);
        QList<ItemPtr> chosen;
        for (int i = 0; i < 20; ++i) {
            const ItemPtr entry =
                engine->AddDownload("eve", QString("%1.bin").arg(i).toStdString(), "music", 100, false, 0);
            (i % 3 ? kept : chosen) << entry;
        }
        QTreeWidget* tree = h.Downloads();
        tree->clearSelection();
        H::FolderRow(tree, "bob", "big/share")->setSelected(true);
        for (const ItemPtr& entry : chosen)
            H::FileRow(tree, "eve", "music", entry["file_name"].AsString())->setSelected(true);

        // Each row of the large folder leaves the view from its end.
        int fromTheBack = 0, fromElsewhere = 0;
        QObject scope;
        QObject::connect(tree->model(), &QAbstractItemModel::rowsAboutToBeRemoved, &scope,
                         [&](const QModelIndex& parent, int first, int last) {
                             if (parent.data().isNull() && parent.sibling(parent.row(), 1).data() == "big/share")
                                 (first == last && last == tree->model()->rowCount(parent) - 1 ? fromTheBack
                                                                                               : fromElsewhere)++;
                         });
        TurnCounter perTurn;
        Type* entries = d.GetType("download_entry");
        DataHandler watch;
        entries->AddItemRemovedHandler(new FunctionHandler<ItemPtr>(&watch, [&](ItemPtr) { perTurn.Count(); }));
        h.page->SweepJob().SetMostSteps(50);
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Delete);
        const QList<int> steps = SliceTrace::StepsUntilDone(h.page->SweepJob());
        QVERIFY2(!steps.contains(-1), qPrintable(QString::number(steps.size())));
        QVERIFY2(steps.size() >= 12, qPrintable(QString::number(steps.size())));
        QVERIFY2(perTurn.MostInOneTurn() <= 50, qPrintable(QString::number(perTurn.MostInOneTurn())));
        QVERIFY(perTurn.TurnsWithAny() >= 12);

        // Exactly the chosen went.
        QCOMPARE(int(entries->Count()), kept.size());
        for (const ItemPtr& entry : kept)
            QVERIFY(!entry.IsRemoved());
        QVERIFY(!H::FolderRow(tree, "bob", "big/share"));
        QCOMPARE(H::Files(H::FolderRow(tree, "eve", "music")).size(), 13);
        QCOMPARE(fromTheBack, 600);
        QCOMPARE(fromElsewhere, 0);
    }

    void aStoppedTransferKeepsNoTimeOrSpeed()
    {
        H h;
        QVERIFY(h.f->Start());
        TransferQueueManager* engine = h.f->transfers;
        const ItemPtr denied = engine->AddDownload("bob", "a.bin", "share\\x", 10000000, false, 0);
        const ItemPtr finished = engine->AddDownload("bob", "b.bin", "share\\x", 10000000, false, 0);
        const ItemPtr waiting = engine->AddDownload("bob", "c.bin", "share\\y", 10000000, false, 0);
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* bob = H::UserRow(tree, "bob");
        QTreeWidgetItem* folder = H::FolderRow(tree, "bob", "x/share");
        QTreeWidgetItem* deniedRow = H::Child(folder, 2, "a.bin");
        QTreeWidgetItem* finishedRow = H::Child(folder, 2, "b.bin");
        MakeRunning(engine, denied, 1000000, 100000);
        MakeRunning(engine, finished, 2000000, 200000);
        h.page->OnDownloadProgress(denied);
        h.page->OnDownloadProgress(finished);
        QVERIFY(!deniedRow->text(5).isEmpty() && !deniedRow->text(6).isEmpty());
        // The closed folder takes the speed and sums of both.
        folder->setExpanded(false);
        h.page->OnDownloadProgress(finished);
        QVERIFY(!folder->text(5).isEmpty() && !folder->text(6).isEmpty());

        engine->SetDownloadEntryStatus(denied, "denied");
        QCOMPARE(deniedRow->text(5), QString());
        QCOMPARE(deniedRow->text(6), QString());
        // The other still runs: its figures and the folder's stay.
        QVERIFY(!finishedRow->text(5).isEmpty());
        QVERIFY(!folder->text(6).isEmpty());
        engine->SetDownloadEntryStatus(finished, "complete");
        QCOMPARE(Figures(finishedRow), QStringList({"complete", "", ""}));
        QCOMPARE(Figures(folder), QStringList({"denied", "", ""}));
        QCOMPARE(bob->text(5), QString());
        QCOMPARE(bob->text(6), QString());
        QCOMPARE(H::FileRow(tree, "bob", "y/share", "c.bin")->text(3), QString("queued"));
        QCOMPARE(waiting["download_entry_status"].AsString(), QString("queued"));
    }

    void aReportWalksNoEntriesHoweverManyAreQueued()
    {
        H h;
        QVERIFY(h.f->Start());
        TransferQueueManager* engine = h.f->transfers;
        QList<ItemPtr> many;
        for (int i = 0; i < 1000; ++i)
            many << engine->AddDownload("bob", QString("%1.bin").arg(i).toStdString(), "share\\big", 1000, false, 0);
        engine->AddDownload("bob", "other.bin", "share\\other", 1000, false, 0);
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* bob = H::UserRow(tree, "bob");
        QTreeWidgetItem* big = H::FolderRow(tree, "bob", "big/share");
        for (int i = 0; i < 10; ++i)
            engine->SetDownloadEntryStatus(many[i], "complete");
        MakeRunning(engine, many[10], 500, 100);

        const quint64 before = h.page->DownloadTree().EntriesVisited();
        for (int report = 0; report < 20; ++report)
            h.page->OnDownloadProgress(many[10]);
        QCOMPARE(h.page->DownloadTree().EntriesVisited(), before);
        // The sums are those of every entry below the rows all the same.
        const QString folderBar = h.page->DownloadTree().BarOf(big).text;
        QVERIFY2(folderBar.startsWith(CommafyNumber(10 * 1000 + 500) + " ("), qPrintable(folderBar));
        const QString userBar = h.page->DownloadTree().BarOf(bob).text;
        QVERIFY2(userBar.startsWith(CommafyNumber(10 * 1000 + 500) + " (1.0%)"), qPrintable(userBar));
        engine->SetDownloadEntryStatus(many[10], "complete");
        h.page->OnDownloadProgress(many[10]);
        QVERIFY(h.page->DownloadTree().BarOf(big).text.startsWith(CommafyNumber(11 * 1000) + " ("));
    }

    void aStatusChangeRecoloursEachRowInOneChange()
    {
        // The colour of a parent row flips with every small file: a change
        // per cell makes the view measure the top row again at each.
        H h;
        QVERIFY(h.f->Start());
        const ItemPtr entry = h.f->transfers->AddDownload("bob", "a.bin", "share\\x", 1000, false, 0);
        h.f->transfers->AddDownload("bob", "b.bin", "share\\x", 1000, false, 0);
        QTreeWidget* tree = h.Downloads();
        QSignalSpy changes(tree->model(), &QAbstractItemModel::dataChanged);
        h.f->transfers->SetDownloadEntryStatus(entry, "downloading");
        // The file row's colour, status and place; each parent's colour.
        QVERIFY2(changes.count() <= 5, qPrintable(QString::number(changes.count())));
        // A change of more than one cell repaints the whole view.
        for (const QList<QVariant>& change : changes)
            QCOMPARE(change[0].toModelIndex(), change[1].toModelIndex());
        QCOMPARE(H::Colour(H::UserRow(tree, "bob"), 4), QColor(GetSetting("color_transfer_in_progress")));
        QCOMPARE(H::Colour(H::FileRow(tree, "bob", "x/share", "a.bin"), 8),
                 QColor(GetSetting("color_transfer_in_progress")));
    }

    void finishedFilesLeaveNoWidgetsInTheView()
    {
        // Every widget in the view is moved at every layout, and a new one
        // lays out every row: a folder of small files must not leave one
        // per file.
        H h;
        QVERIFY(h.f->Start());
        FakePeerLink* link = h.f->OnlinePeer("alice");
        QVERIFY(link);
        const int files = 6;
        for (int i = 0; i < files; ++i) {
            const QString name = QString("%1.bin").arg(i);
            const QByteArray content = TempTree::Pattern(1000 + i, quint32(i));
            const ItemPtr entry =
                h.f->transfers->AddDownload("alice", name.toStdString(), "share\\small", content.size(), false, 0);
            DownloadsFixture::Offer(link, 500 + quint32(i), "share\\small\\" + name, content.size());
            QVERIFY(PeerEngineFixture::WaitFor(link, 41, i + 1));
            FakePeerLink* file = DownloadsFixture::OpenFileLink(*h.f, "alice", 500 + quint32(i));
            QVERIFY(file);
            QCOMPARE(DownloadsFixture::ReadOffset(file), qint64(0));
            file->SendRaw(content);
            QTRY_COMPARE(entry["download_entry_status"].AsString(), QString("complete"));
        }
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* folder = H::FolderRow(tree, "alice", "small/share");
        QCOMPARE(folder->childCount(), files);
        for (int i = 0; i < files; ++i) {
            const TransferTree::ShownBar bar = h.page->DownloadTree().BarOf(folder->child(i));
            QCOMPARE(bar.value, 100);
            QCOMPARE(bar.text, CommafyNumber(1000 + i) + " (100.0%)");
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(tree->viewport()->findChildren<QProgressBar*>().size() <= 2);
    }

    void figuresLineUpAtTheRight()
    {
        H h;
        QVERIFY(h.f->Start());
        h.f->transfers->AddDownload("bob", "a.bin", "share\\x", 7, false, 0);
        QTreeWidget* tree = h.Downloads();
        QTreeWidgetItem* row = H::FileRow(tree, "bob", "x/share", "a.bin");
        QVERIFY(QTest::qWaitForWindowExposed(h.f->window));
        // The size's one digit sits at the right of its column; the file
        // name stays at the left of its own.
        const Margins size = InkMargins(tree, row, 7);
        QVERIFY(size.left >= 0);
        QVERIFY2(size.right < size.left, qPrintable(QString("%1 %2").arg(size.left).arg(size.right)));
        const Margins name = InkMargins(tree, row, 2);
        QVERIFY(name.left >= 0 && name.left < name.right);
    }
};

QTEST_MAIN(TestLargeQueues)
#include "TestLargeQueues.moc"
