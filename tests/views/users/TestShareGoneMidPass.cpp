// A share removed from the store while a pass over it runs a slice per
// turn (the tree made, filtered, a folder listed or sorted, Download
// Folder, Save To File): the pass stops before its next slice and lets its
// rows go, the turns after touch nothing of the share, and the page goes on
// browsing. Run under AddressSanitizer, a pass that read on would stop the
// test with a report.
#include <QDir>
#include <QPointer>

#include "BrowseSetup.h"
#include "SharedFoldersManager.h"
#include "SliceTrace.h"
#include "SlicedJob.h"
#include "TransferQueueManager.h"
#include "users/UploadForm.h"

namespace {

// Three folders of 1,000 files, the first with a subfolder of ten.
FileInfoMap Folders()
{
    FileInfoMap list = BigFolders(3);
    for (int n = 0; n < 10; ++n)
        list["big\\f0\\sub"].insert(FileInfo("s" + std::to_string(n) + ".bin", n));
    return list;
}

// Turns the event loop until done says so, at most a bound of turns.
template <class Done>
bool TurnUntil(Done done, int turns = 100000)
{
    for (int turn = 0; turn < turns && !done(); ++turn)
        QCoreApplication::processEvents();
    return done();
}

bool Idle(ShareBrowser* form)
{
    auto* share = qobject_cast<ShareForm*>(form);
    return !form->Tree().IsWorking() && !form->IsFilling() &&
           !(share && (share->IsQueueingFolders() || share->IsExporting()));
}

} // namespace

class TestShareGoneMidPass : public QObject
{
    Q_OBJECT

private:
    // Once the share went: the pass ends within a few turns with nothing
    // of the share held, no row or node of it left, and the page shows
    // another user's share as ever.
    static void CheckLetGo(BrowseSetup& s, ShareBrowser* form)
    {
        QVERIFY(TurnUntil([&] { return Idle(form); }));
        for (int turn = 0; turn < 20; ++turn)
            QCoreApplication::processEvents();
        QCOMPARE(form->folderTree()->topLevelItemCount(), 0);
        QCOMPARE(form->fileList()->topLevelItemCount(), 0);
        QCOMPARE(BrowseSetup::Count("user_share_folder_node"), 0);
        QCOMPARE(BrowseSetup::Count("user_share_file_node"), 0);
        QCOMPARE(BrowseSetup::Count("user_share_file"), 0);

        ShareForm* next = s.Browse("dee", Music());
        QVERIFY(next);
        QTreeWidget* tree = next->folderTree();
        tree->setCurrentItem(BrowseSetup::Node(tree, "jazz"));
        next->filterEdit()->setText("mp3 -notes");
        QVERIFY(TurnUntil([&] { return !next->Tree().IsWorking(); }));
        QCOMPARE(BrowseSetup::Rows(next->fileList()),
                 QStringList({"a.mp3|1,234,567|320 CBR, 4m5s", "b.mp3|4,000,000|128 VBR"}));
    }

private slots:
    void aBrowsedShareRemovedMidPassStopsItAndLetsItsRowsGo_data()
    {
        QTest::addColumn<QString>("pass");
        for (const char* pass : {"build", "filter", "file list", "sort", "download folder", "save to file"})
            QTest::newRow(pass) << QString(pass);
    }

    void aBrowsedShareRemovedMidPassStopsItAndLetsItsRowsGo()
    {
        QFETCH(QString, pass);
        BrowseSetup s;
        QVERIFY(s.f.Start());
        ShareForm* form = nullptr;
        const QDir exports(s.f.Path("exports"));
        QVERIFY(exports.mkpath("."));
        int queued = 0;

        if (pass == "build") {
            // Folders each in the one before, many more than a slice
            // places.
            FileInfoMap list;
            std::string path = "deep";
            for (int i = 0; i < 3000; ++i, path += "\\d")
                list[path].insert(FileInfo("f.bin", i));
            form = s.page->OpenShareBrowse("cy");
            form->SetSliceSteps(100);
            s.page->OnUserShare("cy", std::make_shared<FileInfoMap>(list), AttributeTranslationTable());
            QVERIFY(TurnUntil([&] { return form->IsFilling() && form->Tree().BuiltShare() > 0.3; }));
        } else {
            form = s.Show("cy", Folders());
            QVERIFY(form);
            QTreeWidget* tree = form->folderTree();
            form->SetSliceSteps(50);
            form->SetQueueSliceMs(0);
            if (pass == "filter") {
                // A folder listed too, to be listed again once filtered.
                tree->setCurrentItem(BrowseSetup::Node(tree, "f1"));
                QVERIFY(TurnUntil([&] { return !form->Tree().IsWorking(); }));
                form->filterEdit()->setText("n5");
                QCoreApplication::processEvents();
                QVERIFY(form->Tree().IsFiltering());
            } else if (pass == "file list") {
                tree->setCurrentItem(BrowseSetup::Node(tree, "f2"));
                QCoreApplication::processEvents();
                QVERIFY(form->Tree().IsListing() && BrowseSetup::Count("user_share_file_node") < 1000);
            } else if (pass == "sort") {
                // Every row made, not yet put in the list.
                tree->setCurrentItem(BrowseSetup::Node(tree, "f2"));
                QVERIFY(TurnUntil([&] { return BrowseSetup::Count("user_share_file_node") == 1000; }));
                QVERIFY(form->Tree().IsListing() && form->fileList()->topLevelItemCount() == 0);
            } else if (pass == "download folder") {
                form->DownloadFolder(form->Tree().FolderOf(BrowseSetup::Node(tree, "f0")), false);
                QCoreApplication::processEvents();
                QVERIFY(form->IsQueueingFolders());
            } else if (pass == "save to file") {
                QVERIFY(form->ExportToFile(exports.filePath("cy.xml")));
                QCoreApplication::processEvents();
                QVERIFY(form->IsExporting());
            }
        }
        queued = Downloads().size();
        const SlicedJob& job = pass == "build"             ? form->ShowJob()
                               : pass == "filter"          ? form->Tree().FilterJob()
                               : pass == "download folder" ? form->DownloadJob()
                               : pass == "save to file"    ? form->ExportJob()
                                                           : form->Tree().ListJob();
        QVERIFY(job.IsRunning());

        // Stopped before its next slice, and no slice after.
        QPointer<ShareForm> kept(form);
        s.f.shares->RemoveUserShare("cy");
        QVERIFY(!job.IsRunning());
        const int slices = job.Slices();
        CheckLetGo(s, form);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(kept);
        QCOMPARE(job.Slices(), slices);
        QVERIFY(!form->Share());
        // Nothing more queued, and no export left, whole or not.
        QCOMPARE(Downloads().size(), queued);
        QCOMPARE(exports.entryList(QDir::Files), QStringList());
    }

    void anUploadBrowsersShareRemovedMidPassStopsItToo()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        for (const QString pass : {"filter", "file list"}) {
            FileInfoMap list = Folders();
            AttributeTranslationTable table;
            ItemPtr share = SharesForm::CreateUserShareData(list, table);
            auto* form = new UploadForm("ann " + pass, s.page);
            form->SetShare(share);
            form->SetSliceSteps(50);
            QTreeWidget* tree = form->folderTree();
            if (pass == "filter")
                form->filterEdit()->setText("n5");
            else
                tree->setCurrentItem(BrowseSetup::Node(tree, "f1"));
            const SlicedJob& job = pass == "filter" ? form->Tree().FilterJob() : form->Tree().ListJob();
            QVERIFY(SliceTrace::NextTurn());
            QVERIFY(job.IsRunning() && job.Slices() > 1);

            // What the engine does to a share it drops: the share goes, and
            // with it whatever nothing else holds.
            share.Remove();
            QVERIFY(!job.IsRunning());
            const int slices = job.Slices();
            d.RemoveDisconnectedItems();
            QVERIFY(TurnUntil([&] { return Idle(form); }));
            QCOMPARE(job.Slices(), slices);
            QCOMPARE(tree->topLevelItemCount(), 0);
            QCOMPARE(form->fileList()->topLevelItemCount(), 0);
            QCOMPARE(BrowseSetup::Count("user_share_folder_node") + BrowseSetup::Count("user_share_file_node"), 0);
            QCOMPARE(BrowseSetup::Count("user_share_file"), 0);
            delete form;
        }
    }
};

QTEST_MAIN(TestShareGoneMidPass)
#include "TestShareGoneMidPass.moc"
