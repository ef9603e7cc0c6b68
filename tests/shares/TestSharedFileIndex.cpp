#include <QSignalSpy>
#include <QtTest>

#include "Data.h"
#include "DataSaver.h"
#include "Server.h"
#include "Settings.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "SharesFixture.h"

// Look-up keys, the lower-case twins, the search-token index, the own
// statistics and the shares' round trip through the data file.
class TestSharedFileIndex : public QObject
{
    Q_OBJECT

    SharesFixture* f = nullptr;

    // A file item made by hand, as a scan would leave it before tokenizing.
    static ItemPtr MakeFile(const QString& folder, const QString& name)
    {
        ItemPtr file = d.GetType("shared_file")->NewItem();
        file += d.GetType("shared_file_folder")->GetItem(Value(folder));
        file += d.GetType("shared_file_name")->GetItem(Value(name));
        return file;
    }

    static QStringList Utf8List(std::initializer_list<const char*> words)
    {
        QStringList list;
        for (const char* w : words)
            list << QString::fromUtf8(w);
        list.sort();
        return list;
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

    void lookUpKeys()
    {
        auto key = &SharedFoldersManager::GetAbsoluteFileName;
        QCOMPARE(key("C:\\Music\\\\Band//Song.MP3"), QString("c:/music/band/song.mp3"));
        QCOMPARE(key("\\\\Server\\Share\\"), QString("/server/share/"));
        QCOMPARE(key("/A/./B/../c"), QString("/a/./b/../c"));
        QCOMPARE(key(QString::fromUtf8("/ÄRGER/Ёлка")), QString::fromUtf8("/ärger/ёлка"));
        QCOMPARE(key(""), QString(""));
    }

    void lookUpsInAnyCaseAndSeparator()
    {
        const QString root = f->MakeFolder("Mixed");
        f->WriteFile("Mixed/Case Dir/Song One.MP3");
        f->WriteFile("Mixed/A/Dup.txt");
        f->WriteFile("Mixed/B/dup.txt");
        f->WriteFile("Mixed/C/Twin.txt", 1);
        f->WriteFile("Mixed/C/twin.txt", 2);
        f->WriteFile("Mixed/back\\slash.txt");
        f->WriteFile(QString::fromUtf8("Mixed/Ёлка/Ärger 音楽.txt"));
        ShareScanned(f->manager, root);

        const QString song = root + "/Case Dir/Song One.MP3";
        ItemPtr file = f->manager->GetSharedFileItem(song);
        QVERIFY(file);
        QCOMPARE(file["shared_file_name"].AsString(), QString("Song One.MP3"));
        QString remote = song;
        remote.replace('/', '\\');
        for (const QString& form : {song.toUpper(), song.toLower(), remote, QString(song).replace("/", "//"),
                                    QString(remote).replace("\\", "\\\\/")})
            QCOMPARE(f->manager->GetSharedFileItem(form), file);
        const QString cyrillic = root + QString::fromUtf8("/ЁЛКА/äRGER 音楽.TXT");
        QVERIFY(f->manager->GetSharedFileItem(cyrillic));

        // Misses create nothing.
        const size_t items = d.ItemCount();
        QVERIFY(!f->manager->GetSharedFileItem(root + "/Song One.MP3"));
        QVERIFY(!f->manager->GetSharedFileItem(root + "/Case Dir/Song Two.MP3"));
        QVERIFY(!f->manager->GetSharedFileItem("Song One.MP3"));
        QCOMPARE(d.ItemCount(), items);

        // Names that differ in case share one twin and stay apart by folder.
        ItemPtr twin = d.GetType("shared_file_lowercase_name")->HasItem("dup.txt");
        QCOMPARE(twin.GetItems("shared_file_name").size(), size_t(2));
        ItemPtr a = f->manager->GetSharedFileItem(root + "/a/DUP.TXT");
        ItemPtr b = f->manager->GetSharedFileItem(root + "/B/Dup.txt");
        QVERIFY(a && b && a != b);
        QCOMPARE(a["shared_file_folder"].AsString(), root + "/A");
        // Two files of one folder that differ only in case are two items,
        // each found by its own spelling; a spelling that fits both finds
        // neither.
        QCOMPARE(d.GetType("shared_file_folder")->HasItem(Value(root + "/C")).GetItems("shared_file").size(),
                 size_t(2));
        QCOMPARE(f->manager->GetSharedFileItem(root + "/C/Twin.txt")["shared_file_size"].AsInt64(), qint64(1));
        QCOMPARE(f->manager->GetSharedFileItem(root + "\\C\\twin.txt")["shared_file_size"].AsInt64(), qint64(2));
        QVERIFY(!f->manager->GetSharedFileItem(root + "/c/TWIN.TXT"));
        // A "\" inside a local name splits the key: such a file never resolves.
        QCOMPARE(SharesFixture::SharedPaths().filter("slash").size(), 1);
        QVERIFY(!f->manager->GetSharedFileItem(root + "/back\\slash.txt"));
    }

    void folderSharedWithTrailingSeparator()
    {
        const QString root = f->MakeFolder("trail");
        f->WriteFile("trail/t.mp3");
        f->WriteFile("trail/sub/u.txt");
        ShareScanned(f->manager, root + "/");
        ItemPtr t = f->manager->GetSharedFileItem(root + "/t.mp3");
        QVERIFY(t);
        t.NewItem("is_scanned");
        QSignalSpy mp3(f->manager, &SharedFoldersManager::MP3ScanRequired);
        QSignalSpy rescanned(f->manager, &SharedFoldersManager::SharedFilesRescanned);
        f->manager->RescanShares();
        QTRY_COMPARE_WITH_TIMEOUT(rescanned.size(), 1, 20000);
        QCOMPARE(rescanned.at(0).at(0).toInt(), 0);
        QCOMPARE(rescanned.at(0).at(1).toInt(), 0);
        QCOMPARE(f->manager->GetSharedFileItem(root + "/t.mp3"), t);
        QCOMPARE(mp3.size(), 0);
    }

    void tokensOfMixedScripts_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("tokens");
        QTest::newRow("words and path words")
            << "/home/user/Music"
            << "Old Band - Hello!.mp3"
            << Utf8List({"home", "user", "music", "old", "band", "-", "hello", "hello!.mp3", "mp3"});
        QTest::newRow("cyrillic") << "/d" << QString::fromUtf8("Привет мир.txt")
                                  << Utf8List({"d", "txt", "привет", "мир.txt"});
        QTest::newRow("cjk") << "/d" << QString::fromUtf8("音楽 Live.mp3")
                             << Utf8List({"d", "live", "mp3", "音楽", "live.mp3"});
        QTest::newRow("latin-1 stays inside")
            << "/d" << QString::fromUtf8("Café Noir.ogg") << Utf8List({"d", "café", "noir", "ogg", "noir.ogg"});
        QTest::newRow("above latin-1 splits")
            << "/d" << QString::fromUtf8("Tōkyō_Ёлка.txt") << Utf8List({"d", "t", "ky", "txt", "tōkyō_ёлка.txt"});
        QTest::newRow("punctuation") << "/d"
                                     << "my_song-01.mp3"
                                     << Utf8List({"d", "my", "song", "01", "mp3", "my_song-01.mp3"});
        QTest::newRow("backslashes") << "C:\\X\\\\y"
                                     << "a b" << Utf8List({"c", "c:", "x", "y", "a", "b"});
    }

    void tokensOfMixedScripts()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QStringList, tokens);
        ItemPtr file = MakeFile(folder, name);
        f->manager->TokenizeSharedFile(file);
        QCOMPARE(SharesFixture::Tokens(file), tokens);
        // A second pass changes nothing.
        const size_t tokenItems = d.GetType("search_token")->Count();
        f->manager->TokenizeSharedFile(file);
        QCOMPARE(SharesFixture::Tokens(file), tokens);
        QCOMPARE(d.GetType("search_token")->Count(), tokenItems);
    }

    void tokensAreSharedAndFollowScans()
    {
        const QString root = f->MakeFolder("tok");
        f->WriteFile(QString::fromUtf8("tok/Ёлка Band/one.mp3"));
        f->WriteFile("tok/two band.txt");
        ShareScanned(f->manager, root);
        ItemPtr band = d.GetType("search_token")->HasItem("band");
        QCOMPARE(band.GetItems("shared_file").size(), size_t(2));
        ItemPtr whole = d.GetType("search_token")->HasItem(Value(QString::fromUtf8("ёлка")));
        QCOMPARE(whole.GetItems("shared_file").size(), size_t(1));
        // Every component of the shared path is a token of every file.
        QCOMPARE(d.GetType("search_token")->HasItem("tok").GetItems("shared_file").size(), size_t(2));

        // A removed file takes its token connections with it; the clean-up
        // then drops tokens that hold no file.
        QVERIFY(QFile::remove(root + "/two band.txt"));
        QVERIFY(f->Rescan());
        QCOMPARE(d.GetType("search_token")->HasItem("band").GetItems("shared_file").size(), size_t(1));
        QVERIFY(!d.GetType("search_token")->HasItem("two"));
    }

    void ownStatisticsOnly()
    {
        SetSetting("upload_speed", "7");
        emit gp_server->ReceivedUserStats("someone", UserStats(100, 1, 2, 3));
        QCOMPARE(GetSetting("upload_speed"), QString("7"));
        emit gp_server->ReceivedUserStats("Me", UserStats(100, 1, 2, 3));
        QCOMPARE(GetSetting("upload_speed"), QString("7"));
        emit gp_server->ReceivedUserStats("me", UserStats(2500, 1, 2, 3));
        QCOMPARE(GetSetting("upload_speed"), QString("2500"));
        emit gp_server->ReceivedUserStats("me", UserStats(3000000000u, 1, 2, 3));
        QCOMPARE(GetSetting("upload_speed"), QString("-1294967296"));
    }

    void dataFileRoundTrip()
    {
        const QString root = f->MakeFolder("Keep");
        f->WriteFile("Keep/a.mp3", 11);
        f->WriteFile("Keep/fresh.mp3", 12);
        f->WriteFile("Keep/sub/b.txt", 13);
        ItemPtr shared = ShareScanned(f->manager, root);
        shared.NewItem("shared_public");
        f->manager->GetSharedFileItem(root + "/a.mp3").NewItem("is_scanned");
        d.GetType("user")->GetItem("bob").NewItem("unshared");
        const QStringList paths = SharesFixture::SharedPaths();
        const QString prefix = f->Path("home/.Quorvane");
        QDir().mkpath(f->Path("home"));
        dataSaver->Save(prefix);

        f->Start();
        QCOMPARE(GetSetting("shared_folder_counter"), QString("1"));
        dataSaver->Load(prefix);
        QCOMPARE(GetSetting("shared_folder_counter"), QString("2"));
        QCOMPARE(SharesFixture::Values("shared_folder"), QStringList({root}));
        shared = d.GetType("shared_folder")->HasItem(Value(root));
        QVERIFY(shared.IsConnected("shared_public"));
        QCOMPARE(shared["shared_folder_id"].AsString(), QString("[1]Keep"));
        QCOMPARE(SharesFixture::SharedPaths(), paths);
        QVERIFY(d.GetType("user")->HasItem("bob").IsConnected("unshared"));

        // The twins were made by the load's item events.
        ItemPtr a = f->manager->GetSharedFileItem(root.toUpper() + "\\A.MP3");
        QVERIFY(a);
        QVERIFY(a.IsConnected("is_scanned"));
        QCOMPARE(a["shared_file_size"].AsInt64(), qint64(11));
        ItemPtr b = f->manager->GetSharedFileItem(root + "/SUB/b.txt");
        QVERIFY(b);
        // The token index is not saved; the start-up merge rebuilds it on
        // the loaded items without making new ones.
        QCOMPARE(d.GetType("search_token")->Count(), size_t(0));
        QSignalSpy mp3(f->manager, &SharedFoldersManager::MP3ScanRequired);
        f->manager->Init();
        QTRY_VERIFY_WITH_TIMEOUT(d.GetType("search_token")->HasItem("keep"), 20000);
        QCOMPARE(SharesFixture::SharedPaths(), paths);
        QCOMPARE(f->manager->GetSharedFileItem(root + "/a.mp3"), a);
        QCOMPARE(f->manager->GetSharedFileItem(root + "/sub/b.txt"), b);
        QCOMPARE(SharesFixture::Tokens(b).filter("keep").size(), 1);
        QCOMPARE(mp3.size(), 1);
        QCOMPARE(mp3.at(0).at(0).toString(), root + "/fresh.mp3");
    }
};

QTEST_GUILESS_MAIN(TestSharedFileIndex)
#include "TestSharedFileIndex.moc"
