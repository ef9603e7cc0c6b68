#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include "Data.h"
#include "FixedSlices.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "SharesFixture.h"
#include "SliceTrace.h"
#include "SlicedJob.h"

// The walks' merges go on a slice at a time while the event loop turns:
// what they leave must be what a scan leaves, whatever happens between the
// slices.
class TestShareMerges : public QObject
{
    Q_OBJECT

    SharesFixture* f = nullptr;

    // Enough files that merging them takes many slices even in a fast build.
    QString MakeLargeTree(const QString& relative, int folders, int files)
    {
        const QString root = f->MakeFolder(relative);
        for (int a = 0; a < folders; ++a)
            for (int b = 0; b < files; ++b)
                f->WriteFile(QString("%1/Album %2/%3 Track %4.ogg").arg(relative).arg(a).arg(b).arg(a * files + b),
                             b % 7);
        return root;
    }

    // Each file's path with its size and tokens, sorted.
    static QStringList Index()
    {
        QStringList lines;
        for (const ItemPtr& file : d.GetType("shared_file")->GetItems())
            lines << file["shared_file_folder"].AsString() + "/" + file["shared_file_name"].AsString() + " " +
                         file["shared_file_size"].AsString() + " " + SharesFixture::Tokens(file).join(',');
        lines.sort();
        return lines;
    }

    // Runs the event loop until the merges are done; false if they never are.
    static bool WaitUntilMerged(SharedFoldersManager* manager)
    {
        return QTest::qWaitFor([&] { return !manager->IsMerging(); }, 60000);
    }

private slots:
    void init()
    {
        f = new SharesFixture;
        f->Start();
    }

    void cleanup()
    {
        delete f;
        f = nullptr;
    }

    void largeStartUpMergeLetsTheLoopTurnAndEndsAsAScan()
    {
        const QString root = MakeLargeTree("large", 40, 100);
        QVERIFY(ShareScanned(f->manager, root));
        QCOMPARE(int(d.GetType("shared_file")->Count()), 4000);
        // What a scan makes of the tree as the merge will find it.
        const QString gone = root + "/Album 3/0 Track 300.ogg";
        const QString grown = root + "/Album 5/1 Track 501.ogg";
        QStringList expected;
        for (const QString& line : Index())
            if (!line.startsWith(gone + " "))
                expected << (line.startsWith(grown + " ") ? line.section(' ', 0, -3) + " 99 " + line.section(' ', -1)
                                                          : line);

        // As the data file leaves it: files without the tokens nobody saves.
        d.GetType("search_token")->GetItems().Remove();
        QVERIFY(QFile::remove(gone));
        QFile file(grown);
        QVERIFY(file.resize(99));

        // Slices of 256 steps, as a slow machine's turns end them, whatever
        // QV_SLICE_STEPS says; the merge's own slices are counted, not loop
        // turns, which the walk makes anyway however the merge goes.
        const FixedSlices slices(256);
        const SlicedJob& pass = f->manager->MergePass();
        f->manager->Init();
        QVERIFY(f->manager->IsMerging());
        QVERIFY(WaitUntilMerged(f->manager));
        QVERIFY2(pass.Slices() > 1, qPrintable(QString("%1 slices").arg(pass.Slices())));
        QCOMPARE(Index(), expected);
    }

    void rescanWhileTheStartUpMergeRunsComesAfterIt()
    {
        const QString root = MakeLargeTree("both", 20, 100);
        d.GetType("shared_folder")->NewItem(Value(root));
        QSignalSpy rescanned(f->manager, &SharedFoldersManager::SharedFilesRescanned);
        f->manager->Init();
        f->manager->RescanShares();
        QVERIFY(f->manager->IsMerging());
        QVERIFY(WaitUntilMerged(f->manager));
        // The start-up merge made every file; the rescan found each again.
        QCOMPARE(rescanned.size(), 1);
        QCOMPARE(rescanned.at(0).at(0).toInt(), 0);
        QCOMPARE(rescanned.at(0).at(1).toInt(), 0);
        QCOMPARE(int(d.GetType("shared_file")->Count()), 2000);
    }

    void aMergeTakesItsStepsATurnAndLeavesAFolderUnsharedMidwayAlone()
    {
        const QString first = MakeLargeTree("first", 6, 50);
        const QString second = MakeLargeTree("second", 2, 20);
        d.GetType("shared_folder")->NewItem(Value(first));
        d.GetType("shared_folder")->NewItem(Value(second));
        SlicedJob& pass = f->manager->MergePass();
        // Held until the walk is in, so that every slice is seen.
        pass.SetMostSteps(0);
        f->manager->Init();
        QVERIFY(QTest::qWaitFor([&] { return pass.IsRunning(); }, 30000));
        QCOMPARE(d.GetType("shared_file")->Count(), size_t(0));

        pass.SetMostSteps(40);
        QVERIFY(SliceTrace::NextTurn());
        QVERIFY(SliceTrace::NextTurn());
        QCOMPARE(pass.LastSliceSteps(), 40);
        const size_t merged = d.GetType("shared_file")->Count();
        QVERIFY2(merged > 40 && merged <= 80, qPrintable(QString::number(merged)));
        // The first root goes between two slices, its folders half merged.
        d.GetType("shared_folder")->HasItem(Value(first)).Remove();
        const QList<int> steps = SliceTrace::StepsUntilDone(pass);
        QVERIFY(!f->manager->IsMerging());
        // The second root's 40 files and its folders' ends take at least two
        // more turns, each one slice of no more than its steps.
        QVERIFY2(steps.size() >= 3, qPrintable(QString::number(steps.size())));
        for (int step : steps)
            QVERIFY2(step >= 0 && step <= 40, qPrintable(QString::number(step)));

        for (int a = 0; a < 2; ++a)
            for (int b = 0; b < 20; ++b)
                QVERIFY(f->manager->GetSharedFileItem(
                    QString("%1/Album %2/%3 Track %4.ogg").arg(second).arg(a).arg(b).arg(a * 20 + b)));
        QVERIFY(!d.GetType("shared_folder")->HasItem(Value(first)));
        for (const ItemPtr& folder : d.GetType("shared_file_folder")->GetItems())
            QVERIFY2(!folder.AsString().startsWith(first) || folder.GetItems("shared_folder").empty(),
                     qPrintable(folder.AsString()));
    }

    void folderUnsharedDuringItsMergeStaysUnshared()
    {
        const QString root = MakeLargeTree("gone", 40, 100);
        const QString other = f->MakeFolder("other");
        f->WriteFile("other/kept.txt", 3);
        d.GetType("shared_folder")->NewItem(Value(root));
        d.GetType("shared_folder")->NewItem(Value(other));
        SlicedJob& pass = f->manager->MergePass();
        pass.SetMostSteps(0);
        f->manager->Init();
        QVERIFY(QTest::qWaitFor([&] { return pass.IsRunning(); }, 30000));
        // After one slice of the 4,000 files, as a user's unshare between
        // two turns.
        pass.SetMostSteps(100);
        QVERIFY(SliceTrace::NextTurn());
        QVERIFY(d.GetType("shared_file")->Count() > 0);
        QVERIFY(f->manager->IsMerging());
        d.GetType("shared_folder")->HasItem(Value(root)).Remove();
        QVERIFY(WaitUntilMerged(f->manager));

        QVERIFY(!d.GetType("shared_folder")->HasItem(Value(root)));
        QVERIFY(f->manager->GetSharedFileItem(other + "/kept.txt"));
        for (const ItemPtr& folder : d.GetType("shared_file_folder")->GetItems())
            QVERIFY2(!folder.AsString().startsWith(root) || folder.GetItems("shared_folder").empty(),
                     qPrintable(folder.AsString()));
    }
};

QTEST_GUILESS_MAIN(TestShareMerges)
#include "TestShareMerges.moc"
