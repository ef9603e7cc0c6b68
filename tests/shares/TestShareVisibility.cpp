#include <QtTest>

#include "Data.h"
#include "GeneralFunctions.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "SharesFixture.h"

// Who may see which shared folder and file, the withdrawal by address, the
// removal of a browsed share, display texts, and paths from other users
// that must never reach beyond the shares.
class TestShareVisibility : public QObject
{
    Q_OBJECT

    SharesFixture* f = nullptr;

    static ItemPtr User(const QString& name) { return d.GetType("user")->GetItem(Value(name)); }
    static ItemPtr Group(const QString& name) { return d.GetType("user_list_group")->GetItem(Value(name)); }

    // The folder names a user may see, sorted.
    QStringList Visible(const QString& user)
    {
        QStringList names;
        for (const ItemPtr& folder : f->manager->GetUserSharedFolders(user))
            names << QFileInfo(folder.AsString()).fileName();
        names.sort();
        return names;
    }

    // The file names a user may see, sorted.
    QStringList VisibleFiles(const QString& user)
    {
        QStringList names;
        for (const ItemPtr& file : d.GetType("shared_file")->GetItems())
            if (f->manager->IsFileSharedWithUser(file, user))
                names << file["shared_file_name"].AsString();
        names.sort();
        return names;
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

    void foldersAndFilesByAudience()
    {
        for (const char* name : {"public", "list", "close", "far", "none"})
            f->WriteFile(QString("%1/%1.txt").arg(name));
        ShareScanned(f->manager, f->Path("public")).NewItem("shared_public");
        ShareScanned(f->manager, f->Path("list")).NewItem("shared_userlist");
        ShareScanned(f->manager, f->Path("close")) += Group("close");
        ShareScanned(f->manager, f->Path("far")) += Group("far");
        ShareScanned(f->manager, f->Path("none"));

        User("stranger");
        User("listed").NewItem("in_user_list");
        User("friend").NewItem("in_user_list") += Group("close");
        ItemPtr withdrawn = User("withdrawn");
        withdrawn.NewItem("in_user_list") += Group("close");
        withdrawn.NewItem("unshared");

        const QList<QPair<QString, QStringList>> expected = {
            {"nobody known", {"public"}},
            {"stranger", {"public"}},
            {"listed", {"list", "public"}},
            {"friend", {"close", "list", "public"}},
            {"withdrawn", {}},
        };
        const size_t users = d.GetType("user")->Count();
        for (const auto& row : expected) {
            QCOMPARE(Visible(row.first), row.second);
            QStringList files;
            for (const QString& folder : row.second)
                files << folder + ".txt";
            // The two rules agree file by file.
            QCOMPARE(VisibleFiles(row.first), files);
        }
        // Names from other users are looked up, never made.
        QCOMPARE(d.GetType("user")->Count(), users);
        QVERIFY(!d.GetType("user")->HasItem("nobody known"));

        // A change of marks applies to the next question.
        User("friend")["in_user_list"] += Group("far");
        QCOMPARE(Visible("friend"), (QStringList{"close", "far", "list", "public"}));
        User("withdrawn").Disconnect("unshared");
        QCOMPARE(Visible("withdrawn"), (QStringList{"close", "list", "public"}));
    }

    void aFileUnderTwoRootsIsVisibleThroughEither()
    {
        f->WriteFile("outer/o.txt");
        f->WriteFile("outer/inner/i.txt");
        // The inner share, added later, makes the inner folder a folder of
        // both; the outer one admits nobody.
        ShareScanned(f->manager, f->Path("outer"));
        ShareScanned(f->manager, f->Path("outer/inner")).NewItem("shared_public");
        QCOMPARE(VisibleFiles("anyone"), QStringList{"i.txt"});
        QCOMPARE(Visible("anyone"), QStringList{"inner"});
    }

    // The spreading itself runs end to end in the search responder's test.
    void addressesOfWithdrawnUsers()
    {
        ItemPtr address = d.GetType("user_address")->GetItem("10.0.0.1");
        User("first") += address;
        User("second") += address;
        User("elsewhere") += d.GetType("user_address")->GetItem("10.0.0.2");
        QVERIFY(!f->manager->IsUserAddressUnshared("second"));
        User("first").NewItem("unshared");
        QVERIFY(f->manager->IsUserAddressUnshared("first"));
        QVERIFY(f->manager->IsUserAddressUnshared("second"));
        QVERIFY(!f->manager->IsUserAddressUnshared("elsewhere"));
        QVERIFY(!f->manager->IsUserAddressUnshared("unknown"));
        QVERIFY(!d.GetType("user")->HasItem("unknown"));
    }

    void removingABrowsedShare()
    {
        auto makeShare = [](const QString& user, int folders) {
            ItemPtr share = d.GetType("user_share")->NewItem();
            share += User(user);
            for (int i = 0; i < folders; ++i) {
                ItemPtr folder = share.NewItem("user_share_folder");
                folder += d.GetType("user_share_folder_name")->GetItem(Value(QString("%1 folder %2").arg(user).arg(i)));
                ItemPtr file = folder.NewItem("user_share_file");
                file += d.GetType("user_share_file_name")->GetItem(Value(QString("%1 file %2").arg(user).arg(i)));
                file += d.GetType("file_size")->GetItem("123");
            }
        };
        makeShare("alice", 2);
        makeShare("bob", 1);
        QCOMPARE(d.GetType("user_share_file")->Count(), size_t(3));

        const size_t before = d.ItemCount();
        f->manager->RemoveUserShare("nobody");
        f->manager->RemoveUserShare("carol");
        QCOMPARE(d.ItemCount(), before);

        f->manager->RemoveUserShare("alice");
        QVERIFY(!User("alice")["user_share"]);
        QCOMPARE(d.GetType("user_share")->Count(), size_t(1));
        QCOMPARE(d.GetType("user_share_folder")->Count(), size_t(1));
        QCOMPARE(d.GetType("user_share_file")->Count(), size_t(1));
        // The names went with the clean-up; bob's stay.
        QCOMPARE(SharesFixture::Values("user_share_file_name"), QStringList{"bob file 0"});
        QCOMPARE(SharesFixture::Values("user_share_folder_name"), QStringList{"bob folder 0"});
    }

    void displayTexts()
    {
        ItemPtr full = d.GetType("user_share_file")->NewItem();
        full += d.GetType("bitrate")->GetItem("192");
        full += d.GetType("bitrate_mode")->GetItem("vbr");
        full += d.GetType("length_seconds")->GetItem("225");
        QCOMPARE(SharedFoldersManager::GetFileItemDisplayString(full), "192 VBR, " + FormatSeconds(225));

        ItemPtr constant = d.GetType("user_share_file")->NewItem();
        constant += d.GetType("bitrate_mode")->GetItem("cbr");
        QCOMPARE(SharedFoldersManager::GetFileItemDisplayString(constant), QString(" CBR"));

        ItemPtr odd = d.GetType("user_share_file")->NewItem();
        odd += d.GetType("bitrate_mode")->GetItem("abr");
        odd += d.GetType("length_seconds")->GetItem("5");
        // A length with nothing before it has no separator to lead it.
        QCOMPARE(SharedFoldersManager::GetFileItemDisplayString(odd), FormatSeconds(5));

        QCOMPARE(SharedFoldersManager::GetFileItemDisplayString(d.GetType("user_share_file")->NewItem()), QString());
        QCOMPARE(SharedFoldersManager::GetFileItemDisplayString(ItemPtr()), QString());
    }

    void pathsFromPeersStayInsideTheShares()
    {
        const QString root = f->MakeFolder("share");
        f->WriteFile("share/sub/in.txt");
        f->WriteFile("share/top.txt");
        f->WriteFile("secret.txt");
        ShareScanned(f->manager, root).NewItem("shared_public");
        const QString remoteRoot = QString(root).replace('/', '\\');
        QVERIFY(f->manager->GetSharedFileItem(remoteRoot + "\\sub\\in.txt"));

        // The key keeps "..": a path that climbs is never resolved on the
        // way, so it names no shared file even where the disk would find
        // one, shared or not.
        QCOMPARE(SharedFoldersManager::GetAbsoluteFileName("A\\..\\B\\..\\..\\c.txt"), QString("a/../b/../../c.txt"));
        const size_t items = d.ItemCount();
        const QStringList refused = {
            remoteRoot + "\\sub\\..\\top.txt",
            remoteRoot + "\\sub\\..\\sub\\in.txt",
            remoteRoot + "\\..\\secret.txt",
            remoteRoot + "\\sub\\..\\..\\secret.txt",
            "..\\secret.txt",
            "..\\..\\..\\etc\\passwd",
            remoteRoot + "\\.\\top.txt",
            QString(f->Path("secret.txt")).replace('/', '\\'),
            f->Path("secret.txt"),
            "/etc/passwd",
            "\\etc\\passwd",
            "C:\\Windows\\win.ini",
            "in.txt",
            "",
        };
        for (const QString& path : refused)
            QVERIFY2(!f->manager->GetSharedFileItem(path), qPrintable(path));
        QCOMPARE(d.ItemCount(), items);
    }
};

QTEST_MAIN(TestShareVisibility)
#include "TestShareVisibility.moc"
