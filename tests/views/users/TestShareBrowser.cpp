// The Browse page's share browser: asking a user for the list, the tree
// and files it shows, filtering, expanding, downloading, selecting a folder
// on request, the notices while waiting, the XML export, very deep shares,
// and what closing the tab leaves behind.
#include <QAction>
#include <QFile>
#include <QFontMetrics>
#include <QMenu>
#include <QPointer>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QXmlStreamReader>
#include <algorithm>

#include "BrowseSetup.h"
#include "DownloadPaths.h"
#include "FakePeer.h"
#include "FakeWire.h"
#include "NetworkHosts.h"
#include "PeerMessenger.h"
#include "SearchReply.h"
#include "Server.h"
#include "Settings.h"
#include "StandardDialogAnswers.h"
#include "TabWidget.h"
#include "TransferQueueManager.h"
#include "common/PeerText.h"
#include "search/SearchForm.h"
#include "search/SearchResultListItem.h"
#include "search/SearchResultsForm.h"
#include "users/UserMenuOptions.h"

namespace {

// The same folders as a peer sends them, under a folder of their own.
ShareList BigFoldersListed(int folders)
{
    ShareList list = {{"big", {}}};
    for (int folder = 0; folder < folders; ++folder) {
        QList<ListedFile> files;
        for (int n = 0; n < 1000; ++n)
            files.append({"n" + QByteArray::number(n) + ".bin", quint64(n)});
        list.append({"big\\f" + QByteArray::number(folder), files});
    }
    return list;
}

// The last line the tab's notice shows.
QString LastNotice(ShareForm* form)
{
    return form->messageBrowser()->toPlainText().split('\n').last();
}

} // namespace

class TestShareBrowser : public QObject
{
    Q_OBJECT

private slots:
    void browsingAsksOnceAndShowsTheFirstList()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        SetSetting("expand_new_shares", "yes");
        FakePeerLink* ann = s.Link("ann");
        QVERIFY(ann);
        ShareForm* form = s.page->OpenShareBrowse("ann");
        QCOMPARE(s.page->OpenShareBrowse("ann"), form);
        QVERIFY(PeerEngineFixture::WaitFor(ann, 4, 1));
        QCOMPARE(s.page->Tabs()->tabText(0), PeerText::Title("ann"));
        QCOMPARE(form->messageBrowser()->toPlainText(), QString("Requesting file list..."));
        QVERIFY(form->folderTree()->isHidden());

        ann->SendMessage(5, ShareListBody(Music()));
        QTRY_VERIFY(form->ShowsShare());
        QCOMPARE(PeerEngineFixture::Received(ann, 4).size(), 1);
        // Folders by their paths ignoring case, a folder without its parent
        // at the top; all open, as the setting asks.
        QCOMPARE(BrowseSetup::Nodes(form->folderTree()), kMusicNodes);
        QVERIFY(BrowseSetup::Node(form->folderTree(), "coltrane")->parent()->isExpanded());
        QVERIFY(form->messageBrowser()->isHidden() && !form->folderTree()->isHidden());
        QCOMPARE(form->Tree().DeepestLevel(), 2);
        form->folderTree()->setCurrentItem(BrowseSetup::Node(form->folderTree(), "jazz"));
        QCOMPARE(BrowseSetup::Rows(form->fileList()),
                 QStringList({"a.mp3|1,234,567|320 CBR, 4m5s", "b.mp3|4,000,000|128 VBR", "liner notes.txt||"}));
        // Sizes are read whole in the test's font, wider than the usual one.
        QVERIFY(QFontMetrics(form->fileList()->font()).horizontalAdvance("4,000,000") + 8 <=
                form->fileList()->columnWidth(1));
        const ItemPtr annItem = d.GetType("user")->GetItem("ann");
        QCOMPARE(annItem["user_share"], form->Share());
        QCOMPARE(BrowseSetup::Count("user_share_folder_node"), 6);
        QCOMPARE(BrowseSetup::Count("user_share_file_node"), 3);

        // A list asked for again, as the transfer engine does, leaves the
        // shown share and its rows alone.
        QSignalSpy lists(s.f.net.peer, &PeerMessenger::UserShare);
        s.f.net.peer->GetUserSharedFiles("ann");
        QVERIFY(PeerEngineFixture::WaitFor(ann, 4, 2));
        ann->SendMessage(5, ShareListBody({{"other", {{"o.mp3", 1}}}}));
        QVERIFY(lists.wait(30000));
        QCOMPARE(annItem["user_share"], form->Share());
        QCOMPARE(BrowseSetup::Count("user_share"), 1);
        QCOMPARE(BrowseSetup::Nodes(form->folderTree()), kMusicNodes);
        QCOMPARE(BrowseSetup::Rows(form->fileList()).size(), 3);

        // Another user's share of the same paths: one name item for both,
        // but a parent only from its own share.
        ShareForm* bob = s.Browse("bob", {{"music\\jazz", {{"solo.mp3", 1}}}});
        QVERIFY(bob && bob != form);
        QCOMPARE(s.page->Tabs()->count(), 2);
        QCOMPARE(BrowseSetup::Nodes(bob->folderTree()), QStringList({"jazz"}));
        QCOMPARE(bob->Tree().DeepestLevel(), 0);
        QCOMPARE(d.GetType("user_share_folder_name")->HasItem("music\\jazz").GetItems("user_share_folder").size(),
                 size_t(2));
        // A list nobody asked for is dropped unread: the request behind it
        // is answered, and nothing came of the list.
        FakePeerLink* cy = s.Link("cy");
        QVERIFY(cy);
        const int listed = lists.size();
        cy->SendMessage(5, ShareListBody(Music()));
        cy->SendMessage(4, {});
        QVERIFY(PeerEngineFixture::WaitFor(cy, 5, 1));
        QCOMPARE(lists.size(), listed);
        QVERIFY(!d.GetType("user")->HasItem("cy")["user_share"]);
    }

    void filtersHideFoldersAndNarrowTheFiles()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        ShareForm* form = s.Browse("ann", Music());
        QVERIFY(form);
        QTreeWidget* tree = form->folderTree();
        auto filter = [&](const QString& text) {
            form->filterEdit()->setText(text);
            return BrowseSetup::Nodes(tree);
        };
        // A word in a folder's name holds for everything below it.
        QCOMPARE(filter("JAZZ"), QStringList({"music", " jazz", "  coltrane", " [rock]", "[x]", "[Podcasts]"}));
        tree->setCurrentItem(BrowseSetup::Node(tree, "coltrane"));
        QCOMPARE(BrowseSetup::Rows(form->fileList()).size(), 2);
        QCOMPARE(filter("-rock"), QStringList({"music", " jazz", "  coltrane", " [rock]", "x", "Podcasts"}));
        QCOMPARE(filter("mp3 -notes"), QStringList({"music", " jazz", "  coltrane", " rock", "[x]", "Podcasts"}));
        tree->setCurrentItem(BrowseSetup::Node(tree, "jazz"));
        QCOMPARE(BrowseSetup::Rows(form->fileList()),
                 QStringList({"a.mp3|1,234,567|320 CBR, 4m5s", "b.mp3|4,000,000|128 VBR"}));
        // Attribute conditions ask every folder for files of its own.
        QCOMPARE(filter("isvbr"), QStringList({"music", " jazz", "  [coltrane]", " [rock]", "[x]", "[Podcasts]"}));
        QCOMPARE(BrowseSetup::Rows(form->fileList()), QStringList({"b.mp3|4,000,000|128 VBR"}));
        // A minimum of matching files per folder, unless a subfolder shows.
        QCOMPARE(filter("mfif:2"), QStringList({"music", " jazz", "  coltrane", " [rock]", "[x]", "[Podcasts]"}));

        // The listed folder hidden: its list goes; shown again, it returns.
        QCOMPARE(filter("-jazz"), QStringList({"music", " [jazz]", "  coltrane", " rock", "x", "Podcasts"}));
        QVERIFY(BrowseSetup::Rows(form->fileList()).isEmpty());
        QCOMPARE(BrowseSetup::Count("user_share_file_node"), 0);
        QCOMPARE(filter(""), kMusicNodes);
        QCOMPARE(BrowseSetup::Rows(form->fileList()).size(), 3);
        QCOMPARE(BrowseSetup::Count("user_share_file_node"), 3);
    }

    void expandLevelsOpenOneLevelAtATime()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        ShareForm* form = s.Browse("ann", Music());
        QVERIFY(form);
        QTreeWidget* tree = form->folderTree();
        QVERIFY(s.f.Focus(tree));
        auto press = [&](const QString& text) {
            QAction* action = s.f.ToolbarAction(text);
            if (action)
                action->trigger();
            return action != nullptr;
        };
        QVERIFY(press("Expand Level"));
        QVERIFY(BrowseSetup::Node(tree, "music")->isExpanded() && !BrowseSetup::Node(tree, "jazz")->isExpanded());
        QVERIFY(press("Expand Level [1]"));
        QVERIFY(BrowseSetup::Node(tree, "jazz")->isExpanded());
        // The deepest level is open: nothing more until a reset.
        QVERIFY(press("Expand Level [2]"));
        QVERIFY(s.f.ToolbarAction("Expand Level [2]"));
        QVERIFY(press("Collapse All"));
        QVERIFY(!BrowseSetup::Node(tree, "music")->isExpanded() && s.f.ToolbarAction("Expand Level"));
        QVERIFY(press("Expand All"));
        QVERIFY(BrowseSetup::Node(tree, "jazz")->isExpanded() && s.f.ToolbarAction("Expand Level"));
        // The file list shows no actions at all.
        QVERIFY(s.f.Focus(form->fileList()));
        QVERIFY(!s.f.ToolbarAction("Expand All"));
    }

    void downloadsFilesAndWholeFolders()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        d.GetType("excluded_download_extension")->GetItem(".txt");
        ShareForm* form = s.Browse("ann", Music());
        QVERIFY(form);
        QTreeWidget* tree = form->folderTree();
        QTreeWidget* list = form->fileList();

        // Every file under the chosen folder's name and its whole path
        // below it; excluded endings skipped; listed rows marked. A folder
        // is queued over several turns, here one file a turn as on the
        // busiest machine.
        form->SetQueueSliceMs(0);
        tree->setCurrentItem(BrowseSetup::Node(tree, "music"));
        QCOMPARE(BrowseSetup::MenuAt(tree, BrowseSetup::Node(tree, "music"), "Download Folder"),
                 QStringList({"Download Folder"}));
        QTRY_VERIFY_WITH_TIMEOUT(!form->IsQueueingFolders(), 30000);
        QCOMPARE(Downloads(), QStringList({"ann:music\\jazz\\a.mp3 1", "ann:music\\jazz\\b.mp3 1",
                                           "ann:music\\jazz\\coltrane\\blue train.mp3 2",
                                           "ann:music\\jazz\\coltrane\\lazy bird.mp3 2", "ann:music\\rock\\x.mp3 1"}));
        const ItemPtr deepest = d.GetType("download_entry")->GetItems().SortNumericBy("download_order", true)[2];
        QVERIFY2(DownloadPaths::Local(transferQueueManager->GetDownloadTargetPath(deepest, true))
                     .endsWith("/complete/music/jazz/coltrane/blue train.mp3"),
                 qPrintable(transferQueueManager->GetDownloadTargetPath(deepest, true)));
        QCOMPARE(BrowseSetup::Rows(list), QStringList({"readme.txt|1,200|"}));
        tree->setCurrentItem(BrowseSetup::Node(tree, "x"));
        QCOMPARE(BrowseSetup::Rows(list), QStringList({"z.bin|7|"}));
        QCOMPARE(BrowseSetup::MenuAt(tree, BrowseSetup::Node(tree, "x"), "Download Folder").size(), 1);
        QCOMPARE(BrowseSetup::Rows(list), QStringList({"*z.bin|7|"}));
        QTRY_VERIFY_WITH_TIMEOUT(!form->IsQueueingFolders(), 30000);
        QCOMPARE(Downloads().last(), QString("ann:orphan\\deep\\x\\z.bin 0"));

        // Single files: an excluded ending too, and the row marked.
        tree->setCurrentItem(BrowseSetup::Node(tree, "jazz"));
        QTreeWidgetItem* notes = list->findItems("liner notes.txt", Qt::MatchExactly).value(0);
        BrowseSetup::DoubleClick(list, notes);
        QCOMPARE(Downloads().last(), QString("ann:music\\jazz\\liner notes.txt 0 single"));
        QVERIFY(BrowseSetup::Rows(list).contains("*liner notes.txt||"));
        tree->setCurrentItem(BrowseSetup::Node(tree, "coltrane"));
        list->selectAll();
        QCOMPARE(BrowseSetup::MenuAt(list, list->topLevelItem(0), "Download File(s)"),
                 QStringList({"Download File(s)"}));
        QCOMPARE(BrowseSetup::Rows(list), QStringList({"*blue train.mp3|9,000|", "*lazy bird.mp3|8,000|"}));
        QCOMPARE(Downloads().size(), 7);
    }

    void foldersAreChosenOnRequestAndFromOtherPagesMenus()
    {
        BrowseSetup s;
        auto* search = new SearchForm;
        s.f.AddPage(search, "Search");
        search->Init();
        QVERIFY(s.f.Start());
        FakePeerLink* ann = s.Link("ann");
        QVERIFY(ann);
        // Asked before the list: chosen as it arrives.
        ShareForm* form = s.page->OpenShareBrowse("ann");
        form->BrowseToFolder("music\\jazz\\coltrane");
        QVERIFY(PeerEngineFixture::WaitFor(ann, 4, 1));
        ann->SendMessage(5, ShareListBody(Music()));
        QTRY_VERIFY(form->ShowsShare());
        QTreeWidget* tree = form->folderTree();
        QCOMPARE(tree->currentItem(), BrowseSetup::Node(tree, "coltrane"));
        QVERIFY(BrowseSetup::Node(tree, "jazz")->isExpanded());
        QCOMPARE(BrowseSetup::Rows(form->fileList()).size(), 2);
        // A search result's "Browse Folder": the share on show, at the
        // result's folder.
        SearchResultsForm* results =
            search->CreateSearchForm(s.f.net.client->FileSearch("x", QString()), "x", NetworkSearch);
        ann->SendMessage(9,
                         CompressedSearchReply("ann", results->Ticket(), {SearchReplyFile("music\\rock\\x.mp3", 5)}));
        QTreeWidget* found = results->searchResults();
        auto row = [&] {
            return found->findItems("x.mp3", Qt::MatchExactly | Qt::MatchRecursive, SearchResultListItem::FileColumn)
                .value(0);
        };
        QTRY_VERIFY(row());
        QVERIFY(BrowseSetup::MenuAt(found, row(), "Browse Folder").contains("Browse Folder"));
        QCOMPARE(tree->currentItem(), BrowseSetup::Node(tree, "rock"));
        QCOMPARE(s.f.tabs->currentWidget(), s.page);
        form->BrowseToFolder("music\\nowhere");
        QCOMPARE(tree->currentItem(), BrowseSetup::Node(tree, "rock"));
        QVERIFY(!d.GetType("user_share_folder_name")->HasItem("music\\nowhere"));

        // The user menu's entries open the page's browsers.
        for (const char* entry : {"Browse user's files", "Upload to user"}) {
            QMenu menu;
            UserMenuOptions options(&menu, "dora");
            for (QAction* action : menu.actions())
                if (action->text() == entry)
                    action->trigger();
        }
        QCOMPARE(s.page->Tabs()->count(), 3);
        QCOMPARE(PeerEngineFixture::Received(ann, 4).size(), 1);
        QCOMPARE(s.page->Tabs()->tabText(1), PeerText::Title("dora"));
        QCOMPARE(s.page->Tabs()->tabText(2), "Upload to " + PeerText::Title("dora"));
        QCOMPARE(s.page->Tabs()->currentIndex(), 2);
    }

    void noticesOnlyWhileWaiting()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        // Nobody answers: one notice per failure of a message connection,
        // with the port test of the web host for the listening port.
        FakePeer* late = s.f.net.AddPeer("late", false, false);
        QVERIFY(late);
        late->SetRelayPolicy(FakePeer::RelayPolicy::Ignore);
        ShareForm* form = s.page->OpenShareBrowse("late");
        QVERIFY(late->WaitForRelayRequests(1));
        s.f.Advance(PeerMessenger::AttemptTimeout);
        s.f.Tick();
        QTRY_VERIFY(form->messageBrowser()->toPlainText().contains("Check here to make sure that your port is open"));
        QTextBrowser* browser = form->messageBrowser();
        QTextCursor anchor = browser->document()->find("Check here");
        anchor.setPosition(anchor.selectionStart() + 2);
        QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, browser->cursorRect(anchor).center());
        QCOMPARE(s.f.OpenedUrls(),
                 QList<QUrl>({NetworkHosts::WebUrl("porttest.php?port=" + GetSetting("listening_port"))}));
        emit s.f.net.peer->ConnectionToUserFailed("late", "F");
        emit s.f.net.peer->ConnectionToUserFailed("other", "P");
        QCOMPARE(form->messageBrowser()->toPlainText().count("Check here"), 1);
        emit s.f.net.peer->ConnectionToUserFailed("late", "P");
        QCOMPARE(form->messageBrowser()->toPlainText().count("Check here"), 2);

        // An empty list says so and shows no trees; failures are over.
        FakePeerLink* link = late->Greet(s.f.net.peer->ListeningPort(), false, "P", 1);
        QVERIFY(link && link->WaitForMessages(1));
        link->SendMessage(5, ShareListBody({}));
        QTRY_VERIFY(form->Share());
        QVERIFY(form->messageBrowser()->toPlainText().endsWith(
            "No files returned. The user is either not sharing any files, or is sharing all of their files "
            "privately."));
        QVERIFY(form->folderTree()->isHidden() && !form->messageBrowser()->isHidden());
        const QString done = form->messageBrowser()->toPlainText();
        emit s.f.net.peer->ConnectionToUserFailed("late", "P");
        QCOMPARE(form->messageBrowser()->toPlainText(), done);
    }

    void exportWritesTheTreeWithSafeNames()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        // A name with "/" and folder and file names with characters XML
        // forbids, from a list built as a received one is.
        ShareForm* form = s.page->OpenShareBrowse("a/b");
        FileInfoMap list;
        list["music"].insert(FileInfo("readme <&>.txt", 0));
        list["music\\bad\x01name"].insert(FileInfo("bell\x07.mp3", 1234, AttributeMap("mp3")));
        FileInfo tagged("tagged.mp3", 5000000);
        tagged.Attributes().Add(0, 192);
        tagged.Attributes().Add(2, 1);
        list["music\\bad\x01name"].insert(tagged);
        list["zeta"];
        AttributeTranslationTable table;
        ItemPtr share = SharesForm::CreateUserShareData(list, table);
        d.GetType("user")->GetItem("a/b") += share;
        form->SetShare(share);
        form->filterEdit()->setText("-zeta");

        const QString path = s.f.Path("export.xml");
        StandardDialogAnswers answers;
        answers.paths << path;
        QVERIFY(s.f.Focus(form->folderTree()));
        s.f.ToolbarAction("Save To File")->trigger();
        QCOMPARE(answers.asked.size(), 1);
        QCOMPARE(answers.asked[0].start, QString("ab"));
        QCOMPARE(answers.asked[0].caption, QString("Export Share To File"));
        QCOMPARE(answers.asked[0].filter, QString("XML files (*.xml)"));
        const QString bad = QString("bad") + QChar(0xFFFD) + "name";
        QCOMPARE(ReadExport(path), QStringList({"user name=a/b", " folder name=music", "  folder name=" + bad,
                                                "   file name=bell" + QString(QChar(0xFFFD)) + ".mp3 size=1,234",
                                                "   file name=tagged.mp3 size=5,000,000 bitrate_mode=vbr bitrate=192",
                                                "  file name=readme <&>.txt size=", " folder name=zeta"}));
        // Cancelled: nothing written.
        QFile::remove(path);
        s.f.ToolbarAction("Save To File")->trigger();
        QVERIFY(!QFile::exists(path));
        QVERIFY(!form->ExportToFile(s.f.Path("missing/folder/x.xml")));
    }

    void deepSharesAreWalkedWithoutRecursion()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        // 20,000 folders, each inside the one before, linked as a received
        // share links them; a file at the top and one at the bottom.
        const int depth = 20000;
        ShareForm* form = s.page->OpenShareBrowse("deep");
        ItemPtr share = d.GetType("user_share")->NewItem();
        d.GetType("user")->GetItem("deep") += share;
        ItemPtr folder;
        for (int i = 0; i < depth; ++i) {
            ItemPtr next = share.NewItem("user_share_folder");
            next += d.GetType("user_share_folder_name")->GetItem(Value("d" + std::to_string(i)));
            if (folder)
                next.NewItem("user_share_folder_parent") += folder.NewItem("user_share_folder_child");
            folder = next;
            if (i == 0 || i == depth - 1) {
                ItemPtr file = folder.NewItem("user_share_file");
                file += d.GetType("user_share_file_name")->GetItem(i ? "bottom.mp3" : "top.mp3");
                file += d.GetType("file_size")->GetItem("10");
            }
        }
        form->SetShare(share);
        QTRY_VERIFY_WITH_TIMEOUT(form->ShowsShare(), 60000);
        QCOMPARE(form->Tree().DeepestLevel(), depth - 1);

        form->filterEdit()->setText("bottom");
        QTRY_VERIFY_WITH_TIMEOUT(!form->Tree().IsFiltering(), 30000);
        QTreeWidgetItem* top = form->folderTree()->topLevelItem(0);
        QVERIFY(!top->isHidden() && !BrowseSetup::Node(form->folderTree(), "d19999")->isHidden());
        form->filterEdit()->setText("nowhere");
        QTRY_VERIFY_WITH_TIMEOUT(!form->Tree().IsFiltering(), 30000);
        QVERIFY(top->isHidden());

        form->DownloadFolder(form->Tree().FolderOf(top), false);
        QTRY_VERIFY_WITH_TIMEOUT(!form->IsQueueingFolders(), 30000);
        QCOMPARE(Downloads(), QStringList({"deep:d0\\top.mp3 0", "deep:d19999\\bottom.mp3 19999"}));

        // Written without line breaks at such a depth, so the file and the
        // time to write it grow with the depth only.
        int deepest = 0;
        QVERIFY(form->ExportToFile(s.f.Path("deep.xml")));
        QTRY_VERIFY_WITH_TIMEOUT(!form->IsExporting(), 30000);
        QCOMPARE(ReadExport(s.f.Path("deep.xml"), &deepest),
                 QStringList({"user name=deep", QString(depth + 1, ' ') + "file name=bottom.mp3 size=10",
                              "  file name=top.mp3 size=10"}));
        QCOMPARE(deepest, depth + 2);
        QVERIFY(QFile(s.f.Path("deep.xml")).size() < 2 * 1024 * 1024);

        s.page->OnTabCloseRequested(0);
        QTRY_COMPARE_WITH_TIMEOUT(BrowseSetup::Count("user_share_folder_node"), 0, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(BrowseSetup::Count("user_share_folder"), 0, 60000);
        QCOMPARE(BrowseSetup::Count("user_share_folder_parent") + BrowseSetup::Count("user_share_folder_child"), 0);
    }

    void aLargeListBecomesItsTreeOverSeveralTurns()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        // More items than a turn of the event loop may take to make (here a
        // thousand a turn, as on the slowest machine).
        FileInfoMap list = BigFolders(60);
        AttributeTranslationTable table;
        s.page->BuildJob().SetMostSteps(1000);
        ShareForm* form = s.page->OpenShareBrowse("cy");
        s.page->OnUserShare("cy", std::make_shared<FileInfoMap>(list), table);
        QCOMPARE(s.page->SharesBeingBuilt(), 1);
        QVERIFY(!form->Share() && !d.GetType("user")->HasItem("cy")["user_share"]);
        // A repeated list while the first is made changes nothing.
        s.page->OnUserShare("cy", std::make_shared<FileInfoMap>(list), table);
        QCOMPARE(s.page->SharesBeingBuilt(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(form->ShowsShare(), 30000);
        QCOMPARE(s.page->SharesBeingBuilt(), 0);
        QCOMPARE(d.GetType("user")->HasItem("cy")["user_share"], form->Share());
        QCOMPARE(BrowseSetup::Count("user_share"), 1);
        QCOMPARE(BrowseSetup::Count("user_share_file"), 60000);
        QCOMPARE(form->Tree().FolderCount(), 60);
        form->folderTree()->setCurrentItem(BrowseSetup::Node(form->folderTree(), "f7"));
        QTRY_COMPARE(form->fileList()->topLevelItemCount(), 1000);

        // Closed while its list is made: what was made goes, nothing is shown.
        s.page->OpenShareBrowse("dee");
        s.page->OnUserShare("dee", std::make_shared<FileInfoMap>(list), table);
        QCOMPARE(s.page->SharesBeingBuilt(), 1);
        s.page->OnTabCloseRequested(s.page->Tabs()->count() - 1);
        QTRY_COMPARE_WITH_TIMEOUT(s.page->SharesBeingBuilt(), 0, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(BrowseSetup::Count("user_share"), 1, 30000);
        QCOMPARE(BrowseSetup::Count("user_share_file"), 60000);
        QVERIFY(!d.GetType("user")->HasItem("dee")["user_share"]);
    }

    void aLargeFolderIsQueuedOverSeveralTurnsInOrder()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        FileInfoMap list = BigFolders(4);
        AttributeTranslationTable table;
        ShareForm* form = s.page->OpenShareBrowse("cy");
        s.page->OnUserShare("cy", std::make_shared<FileInfoMap>(list), table);
        QTRY_VERIFY_WITH_TIMEOUT(form->ShowsShare(), 30000);

        // Three folders chosen one after another, one file a turn whatever
        // the machine's speed: the rest wait and keep the chosen order.
        form->SetQueueSliceMs(0);
        for (const char* name : {"f2", "f0", "f1"})
            form->DownloadFolder(form->Tree().FolderOf(BrowseSetup::Node(form->folderTree(), name)), false);
        QVERIFY(Downloads().size() <= 1 && form->IsQueueingFolders());
        QTRY_VERIFY_WITH_TIMEOUT(!form->IsQueueingFolders(), 60000);
        const QStringList queued = Downloads();
        QCOMPARE(queued.size(), 3000);
        QCOMPARE(queued.first(), QString("cy:big\\f2\\n0.bin 0"));
        QCOMPARE(queued[1000], QString("cy:big\\f0\\n0.bin 0"));
        QCOMPARE(queued.last(), QString("cy:big\\f1\\n999.bin 0"));

        // The page closed with files still to queue: the rest are dropped.
        form->DownloadFolder(form->Tree().FolderOf(BrowseSetup::Node(form->folderTree(), "f3")), false);
        const int queuedBefore = Downloads().size();
        QVERIFY(queuedBefore <= 3001 && form->IsQueueingFolders());
        QPointer<ShareForm> closed(form);
        s.page->OnTabCloseRequested(0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!closed);
        QCoreApplication::processEvents();
        QCOMPARE(Downloads().size(), queuedBefore);
    }

    void aLargeListIsToldWhileItFillsAndShowsWhole()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        SetSetting("expand_new_shares", "yes");
        ShareForm* form = nullptr;
        FakePeerLink* cy = s.Asking("cy", form);
        QVERIFY(cy);
        // More than a turn may make (a thousand a turn, as on the slowest
        // machine): the window turns while the notice says how far it is,
        // and no folder shows before all are whole.
        s.page->BuildJob().SetMostSteps(1000);
        QList<int> percents;
        bool folderShownEarly = false;
        QTimer turn;
        connect(&turn, &QTimer::timeout, this, [&] {
            if (form->ShowsShare())
                return;
            folderShownEarly |= !form->folderTree()->isHidden() || form->folderTree()->topLevelItemCount() > 0;
            const QRegularExpressionMatch told =
                QRegularExpression("^The file list has arrived: 60,000 files in 61 folders. Getting them ready to "
                                   "browse: (\\d+)%$")
                    .match(LastNotice(form));
            if (told.hasMatch() && (percents.isEmpty() || percents.last() != told.captured(1).toInt()))
                percents << told.captured(1).toInt();
            // A folder asked for meanwhile, as from a search result.
            if (percents.size() == 1)
                form->BrowseToFolder("big\\f7");
        });
        turn.start(0);
        cy->SendMessage(5, ShareListBody(BigFoldersListed(60)));
        QTRY_VERIFY_WITH_TIMEOUT(form->ShowsShare(), 60000);
        turn.stop();
        QVERIFY(!folderShownEarly);
        QVERIFY2(percents.size() >= 2, qPrintable(QString::number(percents.size())));
        QVERIFY(std::is_sorted(percents.begin(), percents.end()) && percents.last() < 100);

        // Whole once shown, at the folder asked for.
        QVERIFY(form->messageBrowser()->isHidden() && !form->folderTree()->isHidden());
        QTreeWidget* tree = form->folderTree();
        QCOMPARE(form->Tree().FolderCount(), 61);
        QCOMPARE(BrowseSetup::Node(tree, "big")->childCount(), 60);
        QCOMPARE(tree->currentItem(), BrowseSetup::Node(tree, "f7"));
        QTRY_COMPARE(form->fileList()->topLevelItemCount(), 1000);
        QCOMPARE(BrowseSetup::MenuAt(tree, tree->currentItem(), "Download Folder"), QStringList({"Download Folder"}));
        QTRY_VERIFY_WITH_TIMEOUT(!form->IsQueueingFolders(), 30000);
        QCOMPARE(Downloads().size(), 1000);
        QCOMPARE(BrowseSetup::Count("user_share_file"), 60000);
    }

    void closingWhileTheTreeIsMadeLeavesNothingBehind()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        // More folders than a turn may place (here a thousand a turn, as on
        // the slowest machine), each in the one before.
        FileInfoMap list;
        std::string path = "deep";
        for (int i = 0; i < 20000; ++i, path += "\\d")
            list[path].insert(FileInfo("f.bin", i));
        AttributeTranslationTable table;
        ShareForm* form = s.page->OpenShareBrowse("deep");
        const ItemPtr share = SharesForm::CreateUserShareData(list, table);
        d.GetType("user")->GetItem("deep") += share;
        form->SetSliceSteps(1000);
        form->SetShare(share);
        QVERIFY(form->IsFilling() && form->folderTree()->isHidden());
        // Closed, in the turn that sees it, once nodes are made but not yet
        // in the tree.
        int nodesMade = -1, nodesLeft = -1;
        QTimer turn;
        connect(&turn, &QTimer::timeout, this, [&] {
            if (nodesMade >= 0 || !form->IsFilling() || form->Tree().BuiltShare() <= 0.3)
                return;
            nodesMade = BrowseSetup::Count("user_share_folder_node");
            s.page->OnTabCloseRequested(0);
            nodesLeft = BrowseSetup::Count("user_share_folder_node");
        });
        turn.start(0);
        QTRY_VERIFY_WITH_TIMEOUT(nodesMade >= 0 || !form->IsFilling(), 30000);
        QVERIFY(nodesMade > 0);
        QCOMPARE(nodesLeft, 0);
        QTRY_COMPARE_WITH_TIMEOUT(BrowseSetup::Count("user_share_folder"), 0, 30000);
    }

    void refusedListsAreToldInTheTab()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        // A list sent whole past the frame bound: read no further than its
        // length and code.
        ShareForm* hoarded = nullptr;
        FakePeerLink* hoarder = s.Asking("hoarder", hoarded);
        QVERIFY(hoarder);
        const quint32 length = 15300000;
        hoarder->SendRaw(FakeWire().U32(length).U32(5).Bytes() + QByteArray(int(length) - 4, 'x'));
        QTRY_COMPARE_WITH_TIMEOUT(LastNotice(hoarded),
                                  QString("The user's file list is too large to take: it is 14.6 MB, and a message "
                                          "from another user may be at most 10.0 MB."),
                                  10000);
        QVERIFY(!hoarded->Share() && hoarded->folderTree()->isHidden() && !hoarded->messageBrowser()->isHidden());
        // Read whole at a large font too, with the line before it.
        QFont large = hoarded->font();
        large.setPointSize(18);
        hoarded->setFont(large);
        QTRY_COMPARE(hoarded->messageBrowser()->verticalScrollBar()->maximum(), 0);
        QVERIFY(hoarded->messageBrowser()->toPlainText().startsWith("Requesting file list..."));

        // One that would inflate past the bound, and one cut short.
        s.f.net.peer->SetInflateLimit(2 * 1048576);
        ShareList many = {{"big", {}}};
        for (int n = 0; n < 100000; ++n)
            many[0].second.append({"n" + QByteArray::number(n) + ".bin", quint64(n)});
        ShareForm* packed = nullptr;
        FakePeerLink* packer = s.Asking("packer", packed);
        QVERIFY(packer);
        packer->SendMessage(5, ShareListBody(many));
        QTRY_COMPARE_WITH_TIMEOUT(LastNotice(packed),
                                  QString("The user's file list is too large to take: unpacked it would pass 2.0 MB, "
                                          "the most a message from another user may hold."),
                                  10000);
        ShareForm* cutShort = nullptr;
        FakePeerLink* cut = s.Asking("cut", cutShort);
        QVERIFY(cut);
        cut->SendMessage(5, FakeWire::Compress(FakeWire().U32(2).Str("a").U32(0).Bytes()));
        QTRY_COMPARE_WITH_TIMEOUT(LastNotice(cutShort),
                                  QString("The user's file list could not be read: it is cut short or damaged."),
                                  10000);
        QVERIFY(!packed->Share() && !cutShort->Share());
        QCOMPARE(BrowseSetup::Count("user_share"), 0);

        // One holding more files and folders than the bound, here made
        // small: one more than a list that is browsed whole.
        s.f.net.peer->SetShareListEntryLimit(4 + 3000);
        ShareList crowd = BigFoldersListed(3);
        crowd.last().second.append({"one more.bin", 1});
        ShareForm* crowded = nullptr;
        FakePeerLink* crowder = s.Asking("crowder", crowded);
        QVERIFY(crowder);
        crowder->SendMessage(5, ShareListBody(crowd));
        QTRY_COMPARE_WITH_TIMEOUT(
            LastNotice(crowded),
            QString("The user's file list is too large to take: it holds more than 3,004 files and folders."), 10000);
        QVERIFY(crowder->WaitForClosed(10000));
        ShareForm* whole = s.Browse("honest", BigFoldersListed(3));
        QVERIFY(whole && whole->Tree().FolderCount() == 4);
        QCOMPARE(BrowseSetup::Count("user_share_file"), 3000);
    }

    void closingReleasesTheDataAndReopeningAsksAgain()
    {
        BrowseSetup s;
        QVERIFY(s.f.Start());
        QPointer<ShareForm> form = s.Browse("ann", Music());
        QVERIFY(form);
        form->folderTree()->setCurrentItem(BrowseSetup::Node(form->folderTree(), "jazz"));
        ShareForm* bob = s.Browse("bob", {{"music\\rock", {{"x.mp3", 5}}}});
        QVERIFY(bob);
        s.page->OpenUploadBrowse("ann");
        QCOMPARE(s.page->Tabs()->count(), 3);

        // The tab and its rows go at once, the share a slice at a time.
        s.page->OnTabCloseRequested(0);
        QCOMPARE(s.page->Tabs()->count(), 2);
        const ItemPtr ann = d.GetType("user")->HasItem("ann");
        QVERIFY(!ann["user_share"] && !ann["user_share_tab"] && ann["upload_share_tab"]);
        QCOMPARE(BrowseSetup::Count("user_share_file_node"), 0);
        QCOMPARE(BrowseSetup::Count("user_share_folder_node"), 1);
        QTRY_VERIFY(!form);
        QTRY_VERIFY(!d.GetType("user_share_folder_name")->HasItem("music\\jazz"));
        // What the other shares hold stays: bob's, and the upload tab's own.
        QCOMPARE(BrowseSetup::Count("user_share"), 2);
        QCOMPARE(BrowseSetup::Count("user_share_file"), 1);
        QVERIFY(d.GetType("user_share_folder_name")->HasItem("music\\rock"));
        QVERIFY(d.GetType("user_share_file_name")->HasItem("x.mp3"));
        QCOMPARE(BrowseSetup::Nodes(bob->folderTree()), QStringList({"rock"}));

        ShareForm* again = s.Browse("ann", Music());
        QVERIFY(again);
        QCOMPARE(PeerEngineFixture::Received(s.Link("ann"), 4).size(), 2);
        QCOMPARE(BrowseSetup::Nodes(again->folderTree()), kMusicNodes);
    }
};

QTEST_MAIN(TestShareBrowser)
#include "TestShareBrowser.moc"
