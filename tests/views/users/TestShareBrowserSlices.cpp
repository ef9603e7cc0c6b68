// The share browser's long work done a slice per turn of the event loop,
// here cut into a few steps a slice as on the slowest machine: the filter,
// a folder's files listed, Save To File and Download Folder, each whole
// whatever the user does meanwhile.
#include <QDir>
#include <QHeaderView>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>

#include "BrowseSetup.h"
#include "SliceTrace.h"
#include "SlicedJob.h"
#include "TransferQueueManager.h"

namespace {

int MarkedRows(QTreeWidget* list)
{
    return int(BrowseSetup::Rows(list).filter(QRegularExpression("^\\*")).size());
}

// Each slice within the steps, none missed or doubled, the work over at
// least that many turns and in all at least that many steps.
bool Sliced(const QList<int>& steps, int most, int turns, int total)
{
    int sum = 0;
    for (int step : steps) {
        if (step < 0 || step > most)
            return false;
        sum += step;
    }
    return steps.size() >= turns && sum >= total;
}

QString Text(const QList<int>& steps)
{
    QStringList texts;
    for (int step : steps)
        texts << QString::number(step);
    return texts.join(' ');
}

// The texts of the message boxes the form shows.
QStringList Messages(QWidget* form)
{
    QStringList texts;
    for (const QMessageBox* box : form->findChildren<QMessageBox*>())
        texts << box->text();
    return texts;
}

} // namespace

class TestShareBrowserSlices : public QObject
{
    Q_OBJECT

private slots:
    void aFilterTypedAgainBeforeTheLastIsAppliedShowsWhatTheLastMatches()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        ShareForm* form = s.Browse("ann", Music());
        QVERIFY(form);
        QTreeWidget* tree = form->folderTree();
        tree->setCurrentItem(BrowseSetup::Node(tree, "jazz"));
        QCOMPARE(BrowseSetup::Rows(form->fileList()).size(), 3);

        // A folder or a file a turn: the text is applied over many turns.
        form->SetSliceSteps(1);
        form->filterEdit()->setText("-jazz");
        QTreeWidgetItem* jazz = BrowseSetup::Node(tree, "jazz");
        for (int turn = 0; !jazz->isHidden() && turn < 1000; ++turn)
            QCoreApplication::processEvents();
        QVERIFY(jazz->isHidden() && form->Tree().IsFiltering());
        // Typed on: what the last text matches, nothing of the ones before.
        form->filterEdit()->setText("mp3");
        form->filterEdit()->setText("mp3 -notes");
        QTRY_VERIFY(!form->Tree().IsWorking());
        QCOMPARE(BrowseSetup::Nodes(tree), QStringList({"music", " jazz", "  coltrane", " rock", "[x]", "Podcasts"}));
        QCOMPARE(BrowseSetup::Rows(form->fileList()),
                 QStringList({"a.mp3|1,234,567|320 CBR, 4m5s", "b.mp3|4,000,000|128 VBR"}));

        // A key a turn, each before the last was applied.
        int turns = 0;
        for (const char* text : {"i", "is", "isv", "isvb", "isvbr"}) {
            form->filterEdit()->setText(text);
            QVERIFY(form->Tree().IsFiltering());
            QCoreApplication::processEvents();
            ++turns;
        }
        for (; form->Tree().IsWorking() && turns < 10000; ++turns)
            QCoreApplication::processEvents();
        QVERIFY2(turns > 10, qPrintable(QString::number(turns)));
        QCOMPARE(BrowseSetup::Nodes(tree),
                 QStringList({"music", " jazz", "  [coltrane]", " [rock]", "[x]", "[Podcasts]"}));
        QCOMPARE(BrowseSetup::Rows(form->fileList()), QStringList({"b.mp3|4,000,000|128 VBR"}));
        QCOMPARE(BrowseSetup::Count("user_share_file_node"), 1);
    }

    void eachPassTakesItsStepsATurnAndNoMore()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        const int most = 25;
        // 1,200 folders of a file each made into items, then into nodes
        // (four passes over the folders), a slice a turn.
        FileInfoMap flat;
        for (int n = 0; n < 1200; ++n)
            flat["flat\\" + std::to_string(n)].insert(FileInfo("f.bin", n));
        ShareForm* form = s.page->OpenShareBrowse("ann");
        form->SetSliceSteps(most);
        s.page->BuildJob().SetMostSteps(most);
        s.page->OnUserShare("ann", std::make_shared<FileInfoMap>(flat), AttributeTranslationTable());
        QList<int> steps = SliceTrace::StepsUntilDone(s.page->BuildJob());
        QVERIFY2(Sliced(steps, most, 2400 / most, 2400), qPrintable(Text(steps)));
        QVERIFY(form->IsFilling());
        QCOMPARE(form->folderTree()->topLevelItemCount(), 0);
        steps = SliceTrace::StepsUntilDone(form->ShowJob());
        QVERIFY2(Sliced(steps, most, 4800 / most, 4800), qPrintable(Text(steps)));
        QVERIFY(form->ShowsShare());
        QCOMPARE(form->Tree().FolderCount(), 1200);

        form = s.Show("cy", BigFolders(3));
        QVERIFY(form);
        form->SetSliceSteps(most);
        form->SetQueueSliceMs(1000000);
        QTreeWidget* tree = form->folderTree();
        const ShareFolderTree& shown = form->Tree();
        // A folder's 1,000 rows made, then put in order, then into the list
        // in one go.
        tree->setCurrentItem(BrowseSetup::Node(tree, "f0"));
        steps = SliceTrace::StepsUntilDone(shown.ListJob());
        QVERIFY2(Sliced(steps, most, 1000 / most, 1000), qPrintable(Text(steps)));
        QCOMPARE(form->fileList()->topLevelItemCount(), 1000);
        // The next folder's, while the rows before go.
        tree->setCurrentItem(BrowseSetup::Node(tree, "f1"));
        steps = SliceTrace::StepsUntilDone(shown.DiscardJob());
        QVERIFY2(Sliced(steps, most, 1000 / most, 1000), qPrintable(Text(steps)));
        QTRY_VERIFY(!shown.IsWorking());
        QCOMPARE(form->fileList()->topLevelItemCount(), 1000);
        // Every file of every folder read by a filter none passes.
        form->filterEdit()->setText("nothing");
        steps = SliceTrace::StepsUntilDone(shown.FilterJob());
        QVERIFY2(Sliced(steps, most, 3000 / most, 3000), qPrintable(Text(steps)));
        QCOMPARE(BrowseSetup::Nodes(tree), QStringList({"[f0]", "[f1]", "[f2]"}));
        form->filterEdit()->clear();
        QTRY_VERIFY(!shown.IsWorking());
        // A folder's files read in name order, then queued as they are read.
        form->DownloadFolder(shown.FolderOf(BrowseSetup::Node(tree, "f2")), false);
        steps = SliceTrace::StepsUntilDone(form->DownloadJob());
        QVERIFY2(Sliced(steps, most, 1000 / most, 1000), qPrintable(Text(steps)));
        QCOMPARE(Downloads().size(), 1000);
        // Every folder and file written.
        const QString file = s.f.Path("all.xml");
        QVERIFY(form->ExportToFile(file));
        steps = SliceTrace::StepsUntilDone(form->ExportJob());
        QVERIFY2(Sliced(steps, most, 3000 / most, 3000), qPrintable(Text(steps)));
        QCOMPARE(ReadExport(file).filter(QRegularExpression("^  file name=")).size(), 3000);
    }

    void aLargeFolderIsListedInTheListsOrderWhateverHappensMeanwhile()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        // Names in no order and sizes repeating, so that both the order
        // and the order among equal rows show.
        FileInfoMap list;
        for (int n = 0; n < 3000; ++n)
            list["big"].insert(FileInfo("track " + std::to_string(n * 7919 % 3000) + ".bin", 1000 * (n % 7)));
        list["small"].insert(FileInfo("one.bin", 1));
        list["small"].insert(FileInfo("two.bin", 2));
        ShareForm* form = s.Show("cy", list);
        QVERIFY(form);
        QTreeWidget* tree = form->folderTree();
        QTreeWidget* files = form->fileList();
        form->SetSliceSteps(100);
        files->sortItems(1, Qt::DescendingOrder);

        // The rows come into the list together, once all are made.
        tree->setCurrentItem(BrowseSetup::Node(tree, "big"));
        QVERIFY(form->Tree().IsListing());
        QCOMPARE(files->topLevelItemCount(), 0);
        // Another folder chosen meanwhile, then this one again.
        tree->setCurrentItem(BrowseSetup::Node(tree, "small"));
        QTRY_VERIFY(!form->Tree().IsListing());
        QCOMPARE(BrowseSetup::Rows(files), QStringList({"two.bin|2|", "one.bin|1|"}));
        tree->setCurrentItem(BrowseSetup::Node(tree, "big"));
        QTRY_VERIFY(!form->Tree().IsWorking());
        QCOMPARE(files->topLevelItemCount(), 3000);
        QCOMPARE(BrowseSetup::Count("user_share_file_node"), 3000);
        // Where the list's own sort puts them: sorting again moves none.
        const QStringList bySize = BrowseSetup::Rows(files);
        QVERIFY(bySize.first().endsWith("|6,000|") && bySize.last().endsWith("||"));
        files->model()->sort(1, Qt::DescendingOrder);
        QCOMPARE(BrowseSetup::Rows(files), bySize);

        // The header clicked while the rows are made: in its order.
        tree->setCurrentItem(BrowseSetup::Node(tree, "small"));
        tree->setCurrentItem(BrowseSetup::Node(tree, "big"));
        QVERIFY(form->Tree().IsListing());
        files->header()->setSortIndicator(0, Qt::AscendingOrder);
        QTRY_VERIFY(!form->Tree().IsWorking());
        const QStringList byName = BrowseSetup::Rows(files);
        QCOMPARE(byName.size(), 3000);
        QCOMPARE(byName.first(), QString("track 0.bin||"));
        files->model()->sort(0, Qt::AscendingOrder);
        QCOMPARE(BrowseSetup::Rows(files), byName);
        QVERIFY(files->isSortingEnabled() && files->header()->isSortIndicatorShown());
        QCOMPARE(files->header()->sortIndicatorSection(), 0);
        QCOMPARE(BrowseSetup::Count("user_share_file_node"), 3000);
    }

    void aLongListLetGoWhileTheStoreIsSweptLeavesNothing()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        ShareForm* form = s.Show("cy", BigFolders(2));
        QVERIFY(form);
        QTreeWidget* tree = form->folderTree();
        tree->setCurrentItem(BrowseSetup::Node(tree, "f0"));
        QTRY_VERIFY(!form->Tree().IsWorking());
        QCOMPARE(BrowseSetup::Count("user_share_file_node"), 1000);

        // The tab closed: its rows go a few a turn, the share meanwhile,
        // and then the store is swept of what nothing holds, the rows'
        // nodes among it; none is removed twice, and the browser goes.
        form->SetSliceSteps(10);
        QPointer<ShareForm> closed(form);
        s.page->OnTabCloseRequested(0);
        for (int turn = 0; BrowseSetup::Count("user_share_file") > 0 && turn < 1000; ++turn)
            QCoreApplication::processEvents();
        QCOMPARE(BrowseSetup::Count("user_share_file"), 0);
        QVERIFY(closed && BrowseSetup::Count("user_share_file_node") > 0);
        d.RemoveDisconnectedItems();
        QCOMPARE(BrowseSetup::Count("user_share_file_node") + BrowseSetup::Count("user_share_folder_node"), 0);
        QTRY_VERIFY(!closed);
    }

    void anExportIsWrittenWholeOrNotAtAll()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        ShareForm* form = s.Show("cy", BigFolders(3));
        QVERIFY(form);
        form->SetSliceSteps(50);
        const QDir folder(s.f.Path("exports"));
        QVERIFY(folder.mkpath("."));
        const QString first = folder.filePath("first.xml");

        // No file of that name until it is whole; a second save meanwhile,
        // and the first file saved again, come after it, each whole.
        QVERIFY(form->ExportToFile(first));
        QVERIFY(form->IsExporting());
        QVERIFY(!QFile::exists(first));
        QVERIFY(form->ExportToFile(folder.filePath("second.xml")));
        QVERIFY(form->ExportToFile(first));
        QTRY_VERIFY_WITH_TIMEOUT(!form->IsExporting(), 30000);
        QCOMPARE(folder.entryList(QDir::Files), QStringList({"first.xml", "second.xml"}));
        for (const char* name : {"first.xml", "second.xml"}) {
            const QStringList lines = ReadExport(folder.filePath(name));
            QCOMPARE(lines.filter(QRegularExpression("^  file name=n\\d+\\.bin size=")).size(), 3000);
            QCOMPARE(lines.filter("error").size(), 0);
        }
        QVERIFY(Messages(form).isEmpty());

        // The folder gone while the file is written, and one that never
        // was: said, and no file.
        QVERIFY(folder.mkpath("gone"));
        QVERIFY(form->ExportToFile(folder.filePath("gone/x.xml")));
        QVERIFY(QDir(folder.filePath("gone")).removeRecursively());
        QTRY_VERIFY_WITH_TIMEOUT(!form->IsExporting(), 30000);
        QVERIFY(!form->ExportToFile(folder.filePath("missing/x.xml")));
        const QStringList told = Messages(form);
        QCOMPARE(told.size(), 2);
        for (const char* path : {"gone/x.xml", "missing/x.xml"})
            QVERIFY2(
                told.filter("The share could not be saved to " + QDir::toNativeSeparators(folder.filePath(path)) + ": ")
                        .size() == 1,
                qPrintable(told.join('\n')));

        // The tab closed during a save: nothing of it is left.
        QVERIFY(form->ExportToFile(folder.filePath("third.xml")));
        QPointer<ShareForm> closed(form);
        s.page->OnTabCloseRequested(0);
        QTRY_VERIFY(!closed);
        QCOMPARE(folder.entryList(QDir::Files), QStringList({"first.xml", "second.xml"}));
    }

    void aFolderIsQueuedWholeWhileTheListChangesOrTheTabCloses()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        FileInfoMap list = BigFolders(3);
        for (int n = 0; n < 10; ++n)
            list["big\\f0\\sub"].insert(FileInfo("s" + std::to_string(n) + ".bin", n));
        ShareForm* form = s.Show("cy", list);
        QVERIFY(form);
        QTreeWidget* tree = form->folderTree();
        QTreeWidget* files = form->fileList();
        form->SetSliceSteps(20);
        form->SetQueueSliceMs(0);
        auto folderOf = [&](const char* name) { return form->Tree().FolderOf(BrowseSetup::Node(tree, name)); };

        // The listed rows are marked as their files are read.
        tree->setCurrentItem(BrowseSetup::Node(tree, "f1"));
        QTRY_VERIFY(!form->Tree().IsWorking());
        form->DownloadFolder(folderOf("f1"), false);
        QVERIFY(form->IsQueueingFolders() && MarkedRows(files) < 1000);
        QTRY_VERIFY_WITH_TIMEOUT(!form->IsQueueingFolders(), 60000);
        QCOMPARE(MarkedRows(files), 1000);
        QStringList queued = Downloads();
        QCOMPARE(queued.size(), 1000);
        QCOMPARE(queued.first(), QString("cy:big\\f1\\n0.bin 0"));
        QVERIFY(std::is_sorted(queued.begin(), queued.end()));

        // The list replaced meanwhile: every file of the folder and of the
        // one below it once, the one below under one more name.
        form->DownloadFolder(folderOf("f0"), false);
        tree->setCurrentItem(BrowseSetup::Node(tree, "f2"));
        QTRY_VERIFY_WITH_TIMEOUT(!form->IsQueueingFolders(), 60000);
        queued = Downloads().mid(1000);
        QCOMPARE(queued.size(), 1010);
        QCOMPARE(QSet<QString>(queued.begin(), queued.end()).size(), 1010);
        QCOMPARE(queued[999], QString("cy:big\\f0\\n999.bin 0"));
        QCOMPARE(queued.last(), QString("cy:big\\f0\\sub\\s9.bin 1"));
        QCOMPARE(MarkedRows(files), 0);

        // The tab closed while a folder is read: nothing more is queued.
        form->DownloadFolder(folderOf("f2"), false);
        QPointer<ShareForm> closed(form);
        s.page->OnTabCloseRequested(0);
        const int left = Downloads().size();
        QVERIFY(left < 3010);
        QTRY_VERIFY(!closed);
        for (int turn = 0; turn < 20; ++turn)
            QCoreApplication::processEvents();
        QCOMPARE(Downloads().size(), left);
    }
};

QTEST_MAIN(TestShareBrowserSlices)
#include "TestShareBrowserSlices.moc"
