// The context menu of a results page: its entries by row, downloading the
// selected files or whole folders, and browsing a folder.
#include "SearchPageFixture.h"
#include "search/SearchResultListItem.h"
#include "search/SearchResultMenuOptions.h"

namespace {

QList<QByteArray> Files(const char* folder, const QStringList& names)
{
    QList<QByteArray> files;
    for (const QString& name : names)
        files << SearchReplyFile(QByteArray(folder) + "\\" + name.toUtf8(), 1000);
    return files;
}

QStringList Menu(SearchResultsForm* page, QTreeWidgetItem* row, const QString& choice = QString())
{
    QTreeWidget* tree = page->searchResults();
    const QPoint at = row ? tree->visualItemRect(row).center() : QPoint(5, tree->viewport()->height() - 5);
    return ViewFixture::ChooseFromMenu([&] { page->OnContextMenuRequested(at); }, choice);
}

// A child row by the text it shows: the page may have sorted meanwhile.
QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& text)
{
    for (int i = 0; i < parent->childCount(); ++i)
        for (int column : {SearchResultListItem::UserColumn, SearchResultListItem::FolderColumn,
                           SearchResultListItem::FileColumn})
            if (parent->child(i)->text(column) == text)
                return parent->child(i);
    return nullptr;
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
        QVERIFY(s.Answer("alice", page->Ticket(), Files("music\\album", {"b.mp3", "a.mp3", "notes.nfo"})));
        d.GetType("excluded_download_extension")->GetItem(".nfo");
        QTreeWidgetItem* user = page->searchResults()->topLevelItem(0);
        QTreeWidgetItem* folder = user->child(0);
        QTreeWidgetItem* a = Child(folder, "a.mp3");
        QTreeWidgetItem* b = Child(folder, "b.mp3");
        QTreeWidgetItem* notes = Child(folder, "notes.nfo");
        QCOMPARE(Menu(page, a), QStringList({"Download File(s)", "Download Folder(s)", "Browse Folder"}));
        QCOMPARE(Menu(page, folder), QStringList({"Download Folder(s)", "Browse Folder"}));
        // Without the user menu a user row has nothing to offer.
        QVERIFY(Menu(page, user).isEmpty());
        QVERIFY(Menu(page, nullptr).isEmpty());

        // One row is a single download, even one whose ending folder
        // downloads skip.
        Select(page, {notes});
        Menu(page, notes, "Download File(s)");
        QCOMPARE(SearchPageFixture::Downloads(), QStringList({"alice:music\\album\\notes.nfo single"}));
        QVERIFY(!notes->icon(SearchResultListItem::FileColumn).isNull());
        QVERIFY(a->icon(SearchResultListItem::FileColumn).isNull());
        // The selection is taken in order up to its first row of another kind.
        Select(page, {a, folder, b});
        Menu(page, a, "Download File(s)");
        QCOMPARE(SearchPageFixture::Downloads().mid(1), QStringList({"alice:music\\album\\a.mp3"}));
    }

    void foldersComeWholeByNameAndBrowseTheRowsOwnUser()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        d.GetType("excluded_download_extension")->GetItem(".NFO");
        SearchResultsForm* page = s.Search("album");
        page->filterEdit()->setText("-bonus");
        QVERIFY(s.Answer("alice", page->Ticket(),
                         Files("music\\album", {"b.mp3", "Zed.mp3", "bonus.mp3", "info.nfo", "a.mp3"}) +
                             Files("music\\other", {"c.mp3"})));
        QVERIFY(s.Answer("bob", page->Ticket(), Files("music\\album", {"x.mp3"})));
        QTreeWidgetItem* root = page->searchResults()->invisibleRootItem();
        QTreeWidgetItem* aliceAlbum = Child(Child(root, "alice"), "album/music");
        QTreeWidgetItem* bobAlbum = Child(Child(root, "bob"), "album/music");
        QTreeWidgetItem* bonus = Child(aliceAlbum, "bonus.mp3");
        QVERIFY(bonus->isHidden());

        // A file row stands for its folder, hidden files included.
        Select(page, {Child(aliceAlbum, "b.mp3"), Child(aliceAlbum, "a.mp3")});
        Menu(page, Child(aliceAlbum, "b.mp3"), "Download Folder(s)");
        QCOMPARE(SearchPageFixture::Downloads(),
                 QStringList({"alice:music\\album\\Zed.mp3", "alice:music\\album\\a.mp3", "alice:music\\album\\b.mp3",
                              "alice:music\\album\\bonus.mp3"}));
        QVERIFY(!bonus->icon(SearchResultListItem::FileColumn).isNull());
        QVERIFY(Child(aliceAlbum, "info.nfo")->icon(SearchResultListItem::FileColumn).isNull());

        // Two users' folders of one path: each its own user's files.
        Select(page, {bobAlbum, aliceAlbum});
        Menu(page, bobAlbum, "Download Folder(s)");
        QCOMPARE(SearchPageFixture::Downloads().mid(4), QStringList({"bob:music\\album\\x.mp3"}));

        QStringList browsed;
        SearchResultMenuOptions::SetFolderBrowser(
            [&](const QString& user, const QString& folder) { browsed << user + ":" + folder; });
        Menu(page, bobAlbum, "Browse Folder");
        Menu(page, Child(Child(Child(root, "alice"), "other/music"), "c.mp3"), "Browse Folder");
        SearchResultMenuOptions::SetFolderBrowser({});
        QCOMPARE(browsed, QStringList({"bob:music\\album", "alice:music\\other"}));
    }
};

QTEST_MAIN(TestResultMenu)
#include "TestResultMenu.moc"
