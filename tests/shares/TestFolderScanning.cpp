#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include "Data.h"
#include "Settings.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "SharesFixture.h"

// The synchronous scans, the start-up walk with its merge, and rescans, on
// real trees in a temporary folder.
class TestFolderScanning : public QObject
{
    Q_OBJECT

    SharesFixture* f = nullptr;

    static ItemPtr Folder(const QString& path) { return d.GetType("shared_file_folder")->HasItem(Value(path)); }
    static ItemPtr Shared(const QString& path) { return d.GetType("shared_folder")->HasItem(Value(path)); }
    static int FileCount() { return int(d.GetType("shared_file")->Count()); }

    static void Resize(const QString& path, int size)
    {
        QFile file(path);
        QVERIFY(file.resize(size));
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

    void addSharedFolderListsWhatItShould()
    {
        const QString root = f->MakeFolder("music");
        f->WriteFile("music/a.mp3", 10);
        f->WriteFile("music/B.MP3", 3);
        f->WriteFile("music/c.Mp3", 1);
        f->WriteFile("music/.mp3", 1);
        f->WriteFile("music/.hidden.txt");
        f->WriteFile("music/.hiddendir/x.txt");
        f->WriteFile("music/sub/deep/f.txt", 5);
        f->MakeFolder("music/empty");
        f->WriteFile(QString::fromUtf8("music/Привет мир.txt"), 2);
        f->WriteFile(QString::fromUtf8("music/音楽.flac"), 2);
        f->WriteFile(QString::fromUtf8("music/Café.ogg"), 2);
        f->WriteFile("outside/o.txt");
        QVERIFY(QFile::link(root + "/a.mp3", root + "/link.mp3"));
        QVERIFY(QFile::link(root + "/sub", root + "/linkdir"));
        QVERIFY(QFile::link(f->Path("outside"), root + "/outside"));
        QVERIFY(QFile::link(root + "/nowhere", root + "/dangling.txt"));

        QSignalSpy mp3(f->manager, &SharedFoldersManager::MP3ScanRequired);
        ItemPtr shared = ShareScanned(f->manager, root);
        QCOMPARE(shared, Shared(root));

        QStringList expected = {root + "/a.mp3",
                                root + "/B.MP3",
                                root + "/c.Mp3",
                                root + "/sub/deep/f.txt",
                                root + QString::fromUtf8("/Привет мир.txt"),
                                root + QString::fromUtf8("/音楽.flac"),
                                root + QString::fromUtf8("/Café.ogg")};
        expected.sort();
        QCOMPARE(SharesFixture::SharedPaths(), expected);
        QCOMPARE(SharesFixture::Values("shared_file_folder"),
                 QStringList({root, root + "/empty", root + "/sub", root + "/sub/deep"}));
        for (const QString& folder : SharesFixture::Values("shared_file_folder"))
            QVERIFY(Folder(folder).IsConnected(shared));
        QCOMPARE(f->manager->GetSharedFileItem(root + "/sub/deep/f.txt")["shared_file_size"].AsInt64(), qint64(5));

        // Only exact ".mp3" or ".MP3" endings go to the audio analysis.
        QStringList requested;
        for (const QList<QVariant>& call : mp3)
            requested << call.at(0).toString();
        requested.sort();
        QCOMPARE(requested, QStringList({root + "/B.MP3", root + "/a.mp3"}));

        // Labels count up; sharing the same path again changes nothing.
        QCOMPARE(shared["shared_folder_id"].AsString(), QString("[1]music"));
        QCOMPARE(GetSetting("shared_folder_counter"), QString("2"));
        const int files = FileCount();
        QCOMPARE(f->manager->AddSharedFolder(root), shared);
        QCOMPARE(GetSetting("shared_folder_counter"), QString("2"));
        QCOMPARE(FileCount(), files);
        QCOMPARE(f->manager->AddSharedFolder(f->Path("outside"))["shared_folder_id"].AsString(), QString("[2]outside"));
        QCOMPARE(GetSetting("shared_folder_counter"), QString("3"));

        // A file already analysed is not sent again.
        mp3.clear();
        f->manager->GetSharedFileItem(root + "/a.mp3").NewItem("is_scanned");
        QVERIFY(f->Rescan());
        QCOMPARE(mp3.size(), 1);
        QCOMPARE(mp3.at(0).at(0).toString(), root + "/B.MP3");
    }

    void sharingAFolderScansItBehindTheEventLoop()
    {
        const QString root = f->MakeFolder("big");
        for (int i = 0; i < 500; ++i)
            f->WriteFile(QString("big/d%1/f%2.txt").arg(i % 10).arg(i), 1);
        QSignalSpy scanned(f->manager, &SharedFoldersManager::SharedFolderScanned);
        ItemPtr shared = f->manager->AddSharedFolder(root);
        // The call returns with the folder shared and its scan under way,
        // before any file is in the store.
        QCOMPARE(shared, Shared(root));
        QCOMPARE(shared["shared_folder_id"].AsString(), QString("[1]big"));
        QVERIFY(f->manager->IsScanningNewFolder(root));
        QCOMPARE(FileCount(), 0);
        QVERIFY(scanned.wait(20000));
        QCOMPARE(scanned.size(), 1);
        QCOMPARE(scanned.at(0).at(0).toString(), root);
        QVERIFY(!f->manager->IsScanningNewFolder(root));
        QCOMPARE(FileCount(), 500);
        QCOMPARE(SharesFixture::Values("shared_file_folder").size(), 11);
        for (const QString& folder : SharesFixture::Values("shared_file_folder"))
            QVERIFY(Folder(folder).IsConnected(shared));
        QVERIFY(!SharesFixture::Tokens(f->manager->GetSharedFileItem(root + "/d3/f3.txt")).isEmpty());

        // Where a rescan would leave it.
        const QStringList paths = SharesFixture::SharedPaths();
        QSignalSpy rescanned(f->manager, &SharedFoldersManager::SharedFilesRescanned);
        f->manager->RescanShares();
        QTRY_COMPARE_WITH_TIMEOUT(rescanned.size(), 1, 20000);
        QCOMPARE(rescanned.at(0).at(0).toInt(), 0);
        QCOMPARE(rescanned.at(0).at(1).toInt(), 0);
        QCOMPARE(SharesFixture::SharedPaths(), paths);
    }

    void rescanCountsAddedAndRemoved()
    {
        const QString root = f->MakeFolder("share");
        f->WriteFile("share/keep.txt", 1);
        f->WriteFile("share/cover.jpg", 1);
        f->WriteFile("share/gone.txt", 1);
        f->WriteFile("share/sub/grow.txt", 5);
        f->WriteFile("share/old/cover.jpg", 1);
        f->WriteFile("share/old/only.txt", 1);
        ShareScanned(f->manager, root);
        QCOMPARE(FileCount(), 6);
        ItemPtr grow = f->manager->GetSharedFileItem(root + "/sub/grow.txt");
        ItemPtr keep = f->manager->GetSharedFileItem(root + "/keep.txt");
        QVERIFY(grow);

        Resize(root + "/sub/grow.txt", 7);
        QVERIFY(QFile::remove(root + "/gone.txt"));
        QVERIFY(QDir(root + "/old").removeRecursively());
        f->WriteFile("share/new.txt");
        f->WriteFile("share/sub/new2.txt");

        QSignalSpy rescanned(f->manager, &SharedFoldersManager::SharedFilesRescanned);
        f->manager->RescanShares();
        QTRY_COMPARE_WITH_TIMEOUT(rescanned.size(), 1, 20000);
        QCOMPARE(rescanned.at(0).at(0).toInt(), 2);
        QCOMPARE(rescanned.at(0).at(1).toInt(), 3);
        QCOMPARE(SharesFixture::SharedPaths(), QStringList({root + "/cover.jpg", root + "/keep.txt", root + "/new.txt",
                                                            root + "/sub/grow.txt", root + "/sub/new2.txt"}));
        // The vanished folder's files are gone from the store, also the one
        // that shares its name with a file still shared.
        QCOMPARE(FileCount(), 5);
        QVERIFY(!Folder(root + "/old"));
        QCOMPARE(f->manager->GetSharedFileItem(root + "/sub/grow.txt"), grow);
        QCOMPARE(grow["shared_file_size"].AsInt64(), qint64(7));
        QCOMPARE(f->manager->GetSharedFileItem(root + "/keep.txt"), keep);

        f->manager->RescanShares();
        QTRY_COMPARE_WITH_TIMEOUT(rescanned.size(), 2, 20000);
        QCOMPARE(rescanned.at(1).at(0).toInt(), 0);
        QCOMPARE(rescanned.at(1).at(1).toInt(), 0);
    }

    void folderVanishingDuringRescan()
    {
        const QString root = f->MakeFolder("v");
        f->WriteFile("v/a/x.mp3");
        f->WriteFile("v/b/y.txt");
        f->WriteFile("v/b/z.txt");
        ShareScanned(f->manager, root);
        QCOMPARE(FileCount(), 3);

        // The listing has seen "b" by the time its files are looked at.
        connect(f->manager, &SharedFoldersManager::MP3ScanRequired, this,
                [&](QString) { QDir(root + "/b").removeRecursively(); });
        QSignalSpy rescanned(f->manager, &SharedFoldersManager::SharedFilesRescanned);
        f->manager->RescanShares();
        QTRY_COMPARE_WITH_TIMEOUT(rescanned.size(), 1, 20000);
        QCOMPARE(rescanned.at(0).at(0).toInt(), 0);
        QCOMPARE(rescanned.at(0).at(1).toInt(), 2);
        QCOMPARE(SharesFixture::SharedPaths(), QStringList({root + "/a/x.mp3"}));
    }

    void startupWalkMerges()
    {
        const QString root = f->MakeFolder("walk");
        f->WriteFile("walk/x.txt", 1);
        f->WriteFile("walk/inner/z.txt", 3);
        f->WriteFile("walk/stale/s.txt", 1);
        f->WriteFile("walk/song.mp3", 1);
        f->WriteFile("walk/fresh.mp3", 1);
        ShareScanned(f->manager, root);
        ShareScanned(f->manager, root + "/inner");
        QCOMPARE(FileCount(), 5);
        ItemPtr x = f->manager->GetSharedFileItem(root + "/x.txt");
        f->manager->GetSharedFileItem(root + "/song.mp3").NewItem("is_scanned");
        // A shared folder that is missing on disk, with what it once held.
        const QString missing = f->MakeFolder("missing");
        f->WriteFile("missing/m.txt");
        f->WriteFile("missing/sub/n.txt");
        ShareScanned(f->manager, missing);
        QVERIFY(QDir(missing).removeRecursively());

        Resize(root + "/x.txt", 4);
        QVERIFY(QDir(root + "/stale").removeRecursively());
        f->WriteFile("walk/inner/new.txt");
        // Tokens come from the scans; drop them to see the merge make them.
        d.GetType("search_token")->GetItems().Remove();

        QSignalSpy mp3(f->manager, &SharedFoldersManager::MP3ScanRequired);
        f->manager->Init();
        QTRY_VERIFY_WITH_TIMEOUT(!Folder(root + "/stale"), 20000);

        QCOMPARE(SharesFixture::SharedPaths(),
                 QStringList({root + "/fresh.mp3", root + "/inner/new.txt", root + "/inner/z.txt", root + "/song.mp3",
                              root + "/x.txt"}));
        QCOMPARE(FileCount(), 5);
        QCOMPARE(f->manager->GetSharedFileItem(root + "/x.txt"), x);
        QCOMPARE(x["shared_file_size"].AsInt64(), qint64(4));
        QVERIFY(!SharesFixture::Tokens(x).isEmpty());
        QCOMPARE(mp3.size(), 1);
        QCOMPARE(mp3.at(0).at(0).toString(), root + "/fresh.mp3");
        // The missing root was seen and lists as empty.
        QVERIFY(Folder(missing));
        QVERIFY(Folder(missing).GetItems("shared_file").empty());
        QVERIFY(!Folder(missing + "/sub"));
        // The marks on folders last only for the merge; those on files stay.
        QVERIFY(d.GetType("shared_file_folder")->GetItems().Connected("is_scanned").empty());
        QVERIFY(f->manager->GetSharedFileItem(root + "/song.mp3").IsConnected("is_scanned"));
    }

    void nestedRootsInBothKindsOfScan()
    {
        const QString root = f->MakeFolder("n");
        f->WriteFile("n/inner/deep/i.txt");
        f->WriteFile("n/top.txt");
        // As loaded from the data file: folders only, nothing scanned yet.
        d.GetType("shared_folder")->NewItem(Value(root));
        d.GetType("shared_folder")->NewItem(Value(root + "/inner"));
        f->manager->Init();
        QTRY_COMPARE_WITH_TIMEOUT(FileCount(), 2, 20000);
        // The walk files the inner tree under the root listed first...
        ItemPtr deep = Folder(root + "/inner/deep");
        QVERIFY(deep.IsConnected(Shared(root)));
        QVERIFY(!deep.IsConnected(Shared(root + "/inner")));
        QCOMPARE(SharesFixture::SharedPaths(), QStringList({root + "/inner/deep/i.txt", root + "/top.txt"}));
        // ...the rescans under every shared folder above it.
        QVERIFY(f->Rescan());
        QVERIFY(deep.IsConnected(Shared(root)));
        QVERIFY(deep.IsConnected(Shared(root + "/inner")));
        QCOMPARE(FileCount(), 2);
    }

    void folderSharedWhileWalkRuns()
    {
        const QString walked = f->MakeFolder("walked");
        f->WriteFile("walked/w.txt");
        f->WriteFile("walked/old/o.txt");
        ShareScanned(f->manager, walked);
        QVERIFY(QDir(walked + "/old").removeRecursively());
        const QString added = f->MakeFolder("added");
        f->WriteFile("added/a.txt");
        f->WriteFile("added/sub/b.txt");
        const QString dropped = f->MakeFolder("dropped");
        f->WriteFile("dropped/d.txt");

        f->manager->Init();
        // Both run before the merge can: it is delivered by the event loop.
        f->manager->AddSharedFolder(added);
        f->manager->AddSharedFolder(dropped).Remove();
        QTRY_VERIFY_WITH_TIMEOUT(!Folder(walked + "/old"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!f->manager->IsScanningNewFolder(added), 20000);

        QCOMPARE(SharesFixture::SharedPaths(),
                 QStringList({added + "/a.txt", added + "/sub/b.txt", walked + "/w.txt"}));
        QVERIFY(Folder(added + "/sub").IsConnected(Shared(added)));
        QVERIFY(f->manager->GetSharedFileItem(added + "/sub/b.txt"));
        QVERIFY(!Folder(dropped));
    }
};

QTEST_GUILESS_MAIN(TestFolderScanning)
#include "TestFolderScanning.moc"
