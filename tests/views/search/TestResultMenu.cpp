// The context menu of a results page: its entries by row, downloading the
// selected files or whole folders, and browsing a folder.
#include "SearchPageFixture.h"
#include "TransferQueueManager.h"
#include "search/SearchResultListItem.h"
#include "search/SearchResultMenuOptions.h"

namespace {

// A row by its text: the page may have sorted meanwhile.
QTreeWidgetItem* Find(SearchResultsForm* page, const QString& text, int column = SearchResultListItem::FileColumn)
{
    return page->searchResults()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive, column).value(0);
}

void Select(SearchResultsForm* page, const QList<QTreeWidgetItem*>& rows)
{
    page->searchResults()->clearSelection();
    for (QTreeWidgetItem* row : rows)
        row->setSelected(true);
}

} // namespace

class TestResultMenu : public QObject
{
    Q_OBJECT

private slots:
    void entriesFollowTheRowAndTheSelection()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("album");
        QVERIFY(s.Answer("alice", page->Ticket(), s.Files("music\\album", {"b.mp3", "a.mp3", "notes.nfo"})));
        d.GetType("excluded_download_extension")->GetItem(".nfo");
        QTreeWidget* tree = page->searchResults();
        QTreeWidgetItem* notes = Find(page, "notes.nfo");
        // The result's own entries come first, the user's after them.
        const QStringList onFile = s.MenuAt(tree, notes);
        QCOMPARE(onFile.mid(0, 3), QStringList({"Download File(s)", "Download Folder(s)", "Browse Folder"}));
        QVERIFY(onFile.contains("Message user"));
        QCOMPARE(s.MenuAt(tree, notes->parent()).mid(0, 2), QStringList({"Download Folder(s)", "Browse Folder"}));
        // A user row offers only its user's entries.
        const QStringList onUser = s.MenuAt(tree, notes->parent()->parent());
        QCOMPARE(onUser.value(0), QString("Message user"));
        QVERIFY(!onUser.contains("Browse Folder"));
        QVERIFY(s.MenuAt(tree, nullptr).isEmpty());

        // One row is a single download, even one whose ending folder
        // downloads skip.
        Select(page, {notes});
        s.MenuAt(tree, notes, "Download File(s)");
        QCOMPARE(s.Downloads(), QStringList({"alice:music\\album\\notes.nfo single"}));
        QVERIFY(!notes->icon(SearchResultListItem::FileColumn).isNull());
        QVERIFY(Find(page, "a.mp3")->icon(SearchResultListItem::FileColumn).isNull());
        // The selection in its order, up to its first row of another kind.
        Select(page, {Find(page, "a.mp3"), notes->parent(), Find(page, "b.mp3")});
        s.MenuAt(tree, notes, "Download File(s)");
        QCOMPARE(s.Downloads().mid(1), QStringList({"alice:music\\album\\a.mp3"}));
    }

    void foldersComeWholeByNameAndBrowseTheRowsOwnUser()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        d.GetType("excluded_download_extension")->GetItem(".NFO");
        SearchResultsForm* page = s.Search("album");
        page->filterEdit()->setText("-bonus");
        QVERIFY(s.Answer("alice", page->Ticket(),
                         s.Files("music\\album", {"b.mp3", "Zed.mp3", "bonus.mp3", "info.nfo", "a.mp3"}) +
                             s.Files("music\\other", {"c.mp3"})));
        QVERIFY(s.Answer("bob", page->Ticket(), s.Files("music\\album", {"x.mp3"})));
        QTreeWidget* tree = page->searchResults();
        QTreeWidgetItem* bonus = Find(page, "bonus.mp3");
        QTreeWidgetItem* bobAlbum = Find(page, "x.mp3")->parent();
        QVERIFY(bonus->isHidden());

        // A file row stands for its folder in its reply, hidden files too.
        Select(page, {Find(page, "b.mp3"), Find(page, "a.mp3")});
        s.MenuAt(tree, Find(page, "b.mp3"), "Download Folder(s)");
        QCOMPARE(s.Downloads(), QStringList({"alice:music\\album\\Zed.mp3", "alice:music\\album\\a.mp3",
                                             "alice:music\\album\\b.mp3", "alice:music\\album\\bonus.mp3"}));
        QVERIFY(!bonus->icon(SearchResultListItem::FileColumn).isNull());
        QVERIFY(Find(page, "info.nfo")->icon(SearchResultListItem::FileColumn).isNull());
        // Two users' folders of one path: each its own user's files.
        Select(page, {bobAlbum, bonus->parent()});
        s.MenuAt(tree, bobAlbum, "Download Folder(s)");
        QCOMPARE(s.Downloads().mid(4), QStringList({"bob:music\\album\\x.mp3"}));

        QStringList browsed;
        SearchResultMenuOptions::SetFolderBrowser(
            [&](const QString& user, const QString& folder) { browsed << user + ":" + folder; });
        s.MenuAt(tree, bobAlbum, "Browse Folder");
        s.MenuAt(tree, Find(page, "c.mp3"), "Browse Folder");
        SearchResultMenuOptions::SetFolderBrowser({});
        QCOMPARE(browsed, QStringList({"bob:music\\album", "alice:music\\other"}));
    }

    void aFolderChosenBelowAnotherKeepsItsPathFromIt()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("album");
        QVERIFY(s.Answer("alice", page->Ticket(),
                         s.Files("music\\album", {"a.mp3"}) + s.Files("music\\album\\disc 2\\bonus", {"b.mp3"}) +
                             s.Files("music\\albums", {"c.mp3"})));
        QTreeWidget* tree = page->searchResults();
        Select(page, {Find(page, "a.mp3")->parent(), Find(page, "b.mp3")->parent(), Find(page, "c.mp3")->parent()});
        s.MenuAt(tree, Find(page, "a.mp3")->parent(), "Download Folder(s)");
        QCOMPARE(s.Downloads().size(), 3);
        const auto level = [](const char* folder, const char* name) {
            return transferQueueManager->GetDownloadEntry("alice", name, folder)["subfolder_save_level"].AsInt();
        };
        QCOMPARE(level("music\\album", "a.mp3"), 0);
        QCOMPARE(level("music\\album\\disc 2\\bonus", "b.mp3"), 2);
        // A folder whose name only begins like a chosen one is not below it.
        QCOMPARE(level("music\\albums", "c.mp3"), 0);
        const ItemPtr bonus = transferQueueManager->GetDownloadEntry("alice", "b.mp3", "music\\album\\disc 2\\bonus");
        QVERIFY2(transferQueueManager->GetDownloadTargetPath(bonus, true).endsWith("\\album\\disc 2\\bonus\\b.mp3"),
                 qPrintable(transferQueueManager->GetDownloadTargetPath(bonus, true)));
    }
};

QTEST_MAIN(TestResultMenu)
#include "TestResultMenu.moc"
