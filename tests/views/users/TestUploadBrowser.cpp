// The Browse page's upload browser: the own shares as each user may see
// them, and uploads of files and folders offered to the user.
#include <QDir>

#include "BrowseSetup.h"
#include "DrawnText.h"
#include "ShareScan.h"
#include "SharedFoldersManager.h"
#include "TabWidget.h"
#include "common/PeerText.h"
#include "users/UploadForm.h"

namespace {

// The remote paths of the uploads offered to a peer (message 60), below
// the temporary folder, with their sizes.
QStringList Offers(FakePeerLink* link, const QString& root)
{
    QStringList offers;
    for (const QByteArray& body : PeerEngineFixture::Received(link, 60)) {
        FakeWire in(body);
        QString path;
        quint64 size = 0;
        if (in.ReadStr(path) && in.ReadU64(size))
            offers << path.mid(root.size() + 1) + " " + QString::number(size);
    }
    return offers;
}

} // namespace

class TestUploadBrowser : public QObject
{
    Q_OBJECT

private:
    // Folders shared with everyone, with listed users, with the group
    // "band", and with nobody; ann is listed and in the band, bob is
    // unknown, cy listed but unshared.
    void ShareFolders(BrowseSetup& s)
    {
        s.f.WriteFile("zpub/a.mp3", "aaaa");
        s.f.WriteFile("zpub/sub/b.txt", "bb");
        s.f.WriteFile("zpub/sub/c.txt", "ccc");
        s.f.WriteFile("friends/f.txt", "f");
        s.f.WriteFile("Band/g.txt", "gg");
        s.f.WriteFile("private/p.txt", "p");
        SharedFoldersManager* shares = s.f.shares;
        ShareScanned(shares, s.f.Path("zpub")) += d.GetType("shared_public")->GetGlobalNullItem();
        ShareScanned(shares, s.f.Path("friends")) += d.GetType("shared_userlist")->GetGlobalNullItem();
        ItemPtr band = d.GetType("user_list_group")->GetItem("band");
        ShareScanned(shares, s.f.Path("Band")) += band;
        ShareScanned(shares, s.f.Path("private"));
        Type* users = d.GetType("user");
        users->GetItem("ann").NewItem("in_user_list") += band;
        users->GetItem("cy").NewItem("in_user_list");
        users->GetItem("cy").NewItem("unshared");
    }

private slots:
    void showsTheOwnSharesAsEachUserMaySeeThem()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        ShareFolders(s);
        UploadForm* ann = s.page->OpenUploadBrowse("ann");
        QCOMPARE(s.page->OpenUploadBrowse("ann"), ann);
        QCOMPARE(s.page->Tabs()->tabText(0), "Upload to " + PeerText::Title("ann"));
        // By their paths' bytes; a shared folder's own parent is not shared.
        QCOMPARE(BrowseSetup::Nodes(ann->folderTree()), QStringList({"Band", "friends", "zpub", " sub"}));
        QCOMPARE(BrowseSetup::Nodes(s.page->OpenUploadBrowse("bob")->folderTree()), QStringList({"zpub", " sub"}));
        QVERIFY(BrowseSetup::Nodes(s.page->OpenUploadBrowse("cy")->folderTree()).isEmpty());
        // A share built for the page belongs to no user.
        QVERIFY(!d.GetType("user")->HasItem("ann")["user_share"]);

        // Two browsers list the same folder each on their own; closing one
        // leaves the other's rows.
        UploadForm* bob = UploadForm::Of(d.GetType("user")->HasItem("bob"));
        ann->folderTree()->setCurrentItem(BrowseSetup::Node(ann->folderTree(), "sub"));
        bob->folderTree()->setCurrentItem(BrowseSetup::Node(bob->folderTree(), "sub"));
        QCOMPARE(BrowseSetup::Rows(ann->fileList()), QStringList({"b.txt|2|", "c.txt|3|"}));
        QCOMPARE(BrowseSetup::Rows(bob->fileList()), BrowseSetup::Rows(ann->fileList()));
        ann->filterEdit()->setText("c.txt");
        QCOMPARE(BrowseSetup::Nodes(ann->folderTree()), QStringList({"[Band]", "[friends]", "zpub", " sub"}));
        QCOMPARE(BrowseSetup::Rows(ann->fileList()), QStringList({"c.txt|3|"}));
        s.page->OnTabCloseRequested(0);
        QCOMPARE(BrowseSetup::Rows(bob->fileList()).size(), 2);
        QTRY_COMPARE(BrowseSetup::Count("user_share"), 2);
        QCOMPARE(BrowseSetup::Count("user_share_file_node"), 2);
    }

    void offersFilesAndFoldersToTheUser()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        ShareFolders(s);
        FakePeerLink* link = s.Link("ann");
        QVERIFY(link);
        const QString root = s.f.Remote("zpub").chopped(5);
        UploadForm* form = s.page->OpenUploadBrowse("ann");
        QTreeWidget* tree = form->folderTree();
        QTreeWidget* list = form->fileList();

        tree->setCurrentItem(BrowseSetup::Node(tree, "zpub"));
        BrowseSetup::DoubleClick(list, list->topLevelItem(0));
        QVERIFY(PeerEngineFixture::WaitFor(link, 60, 1));
        QCOMPARE(BrowseSetup::Rows(list), QStringList({"*a.mp3|4|"}));
        // A folder with every folder below it.
        BrowseSetup::DoubleClick(tree, BrowseSetup::Node(tree, "zpub"));
        QVERIFY(PeerEngineFixture::WaitFor(link, 60, 4));
        tree->setCurrentItem(BrowseSetup::Node(tree, "Band"));
        QCOMPARE(BrowseSetup::MenuAt(tree, BrowseSetup::Node(tree, "Band"), "Upload Folder"),
                 QStringList({"Upload Folder"}));
        QVERIFY(PeerEngineFixture::WaitFor(link, 60, 5));
        QCOMPARE(BrowseSetup::Rows(list), QStringList({"*g.txt|2|"}));
        tree->setCurrentItem(BrowseSetup::Node(tree, "friends"));
        list->selectAll();
        QCOMPARE(BrowseSetup::MenuAt(list, list->topLevelItem(0), "Upload File(s)"), QStringList({"Upload File(s)"}));
        QVERIFY(PeerEngineFixture::WaitFor(link, 60, 6));
        QCOMPARE(Offers(link, root), QStringList({"zpub\\a.mp3 4", "zpub\\a.mp3 4", "zpub\\sub\\b.txt 2",
                                                  "zpub\\sub\\c.txt 3", "Band\\g.txt 2", "friends\\f.txt 1"}));
        QCOMPARE(BrowseSetup::Count("upload_entry"), 5);
    }

    void browserTitlesShowTheNameAsItIs()
    {
        // An ampersand once vanished into a shortcut ("r&b" showed "rb"), and
        // an override turned the title around it.
        BrowseSetup s;
        QVERIFY(s.f.Start());
        const QString name = QString("r&b") + QChar(0x202e) + "gnp.exe\t";
        const QString shown = QString("r&b") + QChar(0x202e) + "gnp.exe" + QChar(0x2409);
        s.page->OpenShareBrowse(name);
        s.page->OpenUploadBrowse(name);
        QVERIFY(DrawsName(s.page->Tabs()->tabText(0), shown));
        QVERIFY(DrawsName(s.page->Tabs()->tabText(1), shown));
        QVERIFY(DrawnText(s.page->Tabs()->tabText(1)).startsWith("Upload to "));
        // The browsers are still found by the name itself.
        QVERIFY(UploadForm::Of(d.GetType("user")->HasItem(name)));
        QVERIFY(ShareForm::Of(d.GetType("user")->HasItem(name)));
    }
};

QTEST_MAIN(TestUploadBrowser)
#include "TestUploadBrowser.moc"
