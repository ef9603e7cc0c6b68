// The filter row of a results page: the whole page filtered by words and
// attributes, saved filters shared by every page, the default filter, and
// the one filter help dialog.
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>

#include "FilterParser.h"
#include "SearchPageFixture.h"
#include "TextFit.h"
#include "search/FilterHelpDialog.h"
#include "search/SearchResultFilter.h"
#include "search/SearchResultListItem.h"

namespace {

void Collect(QTreeWidgetItem* row, const QString& user, QStringList& shown)
{
    if (row->isHidden())
        return;
    if (!row->text(SearchResultListItem::FileColumn).isEmpty())
        shown << user + ":" + row->text(SearchResultListItem::FileColumn);
    for (int i = 0; i < row->childCount(); ++i)
        Collect(row->child(i), user, shown);
}

// "user:file" for each file a user can see, and "user:" for a user row
// shown with nothing under it; sorted, as the page may sort.
QStringList Shown(SearchResultsForm* page)
{
    QStringList shown;
    for (int i = 0; i < page->searchResults()->topLevelItemCount(); ++i) {
        QTreeWidgetItem* user = page->searchResults()->topLevelItem(i);
        const int before = shown.size();
        Collect(user, user->text(SearchResultListItem::UserColumn), shown);
        if (!user->isHidden() && shown.size() == before)
            shown << user->text(SearchResultListItem::UserColumn) + ":";
    }
    shown.sort();
    return shown;
}

// A reply made as peer messaging makes it and handed to the page at once,
// so that it comes between two slices of a filter.
void Arrive(SearchResultsForm* page, const QString& user, const QString& folder, const QStringList& names)
{
    ItemPtr results = d.GetType("search_results")->NewItem();
    results += d.GetType("user")->GetItem(user);
    for (const QString& name : names) {
        ItemPtr result = results.NewItem("search_result");
        result += d.GetType("search_result_file_name")->GetItem(name);
        result += d.GetType("search_result_file_folder")->GetItem(folder);
        result += d.GetType("file_size")->GetItem(Value(1000));
    }
    d.GetType("search_request")->HasItem(Value(page->Ticket())) += results;
    page->AddUserSearchResults(results);
}

// Both layouts of a page's rows.
void Layouts()
{
    QTest::addColumn<bool>("flat");
    QTest::newRow("grouped") << false;
    QTest::newRow("flat") << true;
}

// A search for "music" on a page of either layout.
SearchResultsForm* SearchIn(SearchPageFixture& s, bool flat)
{
    SetSetting("use_old_style_search_results", flat ? "yes" : "no");
    return s.Search("music");
}

QPushButton* Button(SearchResultsForm* page, const char* name)
{
    return page->findChild<QPushButton*>(name);
}

QStringList Saved(SearchResultsForm* page)
{
    return SearchPageFixture::Entries(page->findChild<QComboBox*>("savedFiltersBox"));
}

// What the page shows cut: its labels and buttons, and the saved filters
// box's first entry. "Clear" is narrower than the style's least button
// width, as the form makes it, yet its one short word fits.
QStringList Clipped(SearchResultsForm* page)
{
    QStringList clipped = TextFit::Clipped(page).filter(QRegularExpression("^(?!pushButton_2 )"));
    QPushButton* clear = Button(page, "pushButton_2");
    QStyleOptionButton face;
    face.initFrom(clear);
    const int inside = clear->style()->subElementRect(QStyle::SE_PushButtonContents, &face, clear).width();
    if (clear->fontMetrics().horizontalAdvance(clear->text()) > inside)
        clipped << "pushButton_2 \"Clear\"";
    auto* box = page->findChild<QComboBox*>("savedFiltersBox");
    QStyleOptionComboBox option;
    option.initFrom(box);
    const int room =
        box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box).width();
    const int needed = box->fontMetrics().horizontalAdvance(box->itemText(0));
    if (needed > room)
        clipped << QString("savedFiltersBox \"%1\": needs %2, has %3").arg(box->itemText(0)).arg(needed).arg(room);
    return clipped;
}

} // namespace

class TestResultFilter : public QObject
{
    Q_OBJECT

private slots:
    void theWholePageFiltersByWordsAndAttributes_data() { Layouts(); }
    void theWholePageFiltersByWordsAndAttributes()
    {
        QFETCH(bool, flat);
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = SearchIn(s, flat);
        QVERIFY(s.Answer("alice", page->Ticket(),
                         {SearchReplyFile("music\\live\\a.mp3", 20000000, {{0, 320}, {2, 1}}),
                          SearchReplyFile("music\\live\\b.mp3", 1000, {{0, 128}, {2, 0}}),
                          SearchReplyFile("music\\studio\\c.flac", 30000000)}));
        QVERIFY(s.Answer("bob", page->Ticket(), {SearchReplyFile("rock\\live\\d.mp3", 5000000, {{0, 192}, {2, 0}})}));
        const QStringList all{"alice:a.mp3", "alice:b.mp3", "alice:c.flac", "bob:d.mp3"};
        const QList<QPair<QString, QStringList>> cases = {
            // Hides a folder, and a user with no folder left.
            {"-LIVE", {"alice:c.flac"}},
            // One word in the folder, the other in the name.
            {"music mp3", {"alice:a.mp3", "alice:b.mp3"}},
            {"isvbr", {"alice:a.mp3"}},
            {"iscbr mbr:150", {"bob:d.mp3"}},
            {"mfs:10", {"alice:a.mp3", "alice:c.flac"}},
            // Only a grouped page counts a folder's files.
            {"mfif:2", flat ? all : QStringList{"alice:a.mp3", "alice:b.mp3"}},
            // User names are not searched.
            {"alice", {}},
        };
        for (const auto& c : cases) {
            page->filterEdit()->setText(c.first);
            QCOMPARE(Shown(page), c.second);
        }
        Button(page, "pushButton_2")->click();
        QCOMPARE(Shown(page), all);
    }

    void rowsAreTestedAsTheLanguageFindsWordsIgnoringCase()
    {
        // Letters whose lower case is not their folded case, and letters
        // outside the first plane.
        const QStringList texts = {
            QStringLiteral("Stra\u00dfe\\\u03a3\u038a\u03a3\u03a5\u03a6\u039f\u03a3.mp3"),
            QStringLiteral("\u017ftar\\\u212aELVIN.flac"), QStringLiteral("\u0130stanbul\\\u0131i.ogg"),
            QString::fromUtf8("\xf0\x90\x90\x80 \xe1\x8f\xa3\xe1\x8e\xb3"), QStringLiteral("plain\\Name.MP3")};
        const QStringList words = {QStringLiteral("strasse"),
                                   QStringLiteral("STRA\u00dfE"),
                                   QStringLiteral("\u03c3\u03af\u03c3\u03c5\u03c6\u03bf\u03c2"),
                                   QStringLiteral("STAR"),
                                   QStringLiteral("kelvin"),
                                   QStringLiteral("i"),
                                   QStringLiteral("\u0130"),
                                   QString::fromUtf8("\xf0\x90\x90\xa8"),
                                   QString::fromUtf8("\xea\xae\xb3"),
                                   QStringLiteral("name.mp3 -plain"),
                                   QStringLiteral("-\u03c3")};
        int matched = 0;
        for (const QString& text : texts) {
            SearchResultListItem row;
            row.KeepKeys(ItemPtr(), SearchResultFilter::Subject(text));
            for (const QString& word : words) {
                FilterParser language;
                language.Parse(word);
                const bool expected = language.IsMatching(text, nullptr, ItemPtr()) == FilterParser::Matching;
                QVERIFY2(SearchResultFilter(word).Shows(row) == expected, qPrintable(text + " / " + word));
                matched += expected;
            }
        }
        // Neither everything nor nothing: the cases tell matches apart.
        QVERIFY(matched > texts.size() && matched < texts.size() * words.size() - texts.size());
    }

    void aKeyTypedBeforeTheLastIsAppliedWins_data() { Layouts(); }
    void aKeyTypedBeforeTheLastIsAppliedWins()
    {
        QFETCH(bool, flat);
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = SearchIn(s, flat);
        QVERIFY(s.Answer("alice", page->Ticket(),
                         s.Files("music\\live", {"a1 demo.mp3", "a2.mp3"}) + s.Files("music\\studio", {"a3.flac"})));
        QVERIFY(s.Answer("bob", page->Ticket(), s.Files("rock", {"b1.mp3", "b2 demo.mp3"})));
        QVERIFY(s.Answer("carol", page->Ticket(), s.Files("jazz", {"c1.ogg", "c2.mp3"})));
        QVERIFY(s.Answer("dave", page->Ticket(), s.Files("pop", {"d0 demo.mp3", "d1.mp3"})));
        QTreeWidget* tree = page->searchResults();
        // A slice a top-level row: every key leaves the filter half applied.
        page->SetFilterSliceRows(1);
        page->filterEdit()->setText("m");
        QVERIFY(page->IsFiltering());
        page->filterEdit()->setText("mp3 -demo");
        QVERIFY(page->IsFiltering());
        // A sort moves rows not reached yet before where the filter goes on,
        // and a reply comes in between.
        page->SetSortingParamters(SearchResultListItem::UserColumn, Qt::DescendingOrder);
        page->Sort();
        Arrive(page, "erin", "x", {"e1.mp3", "e2 demo.mp3"});
        QVERIFY(page->IsFiltering());

        // A row the filter has not reached: the menu waits for the whole
        // filter, which hides it, and opens for nothing.
        auto row = [tree](const QString& file) {
            QTreeWidgetItem* found =
                tree->findItems(file, Qt::MatchExactly | Qt::MatchRecursive, SearchResultListItem::FileColumn).value(0);
            tree->scrollToItem(found);
            return found;
        };
        QVERIFY(!row("c1.ogg")->isHidden());
        QCOMPARE(s.MenuAt(tree, row("c1.ogg")), QStringList());
        QVERIFY(!page->IsFiltering());
        const QStringList admitted{"alice:a2.mp3", "bob:b1.mp3", "carol:c2.mp3", "dave:d1.mp3", "erin:e1.mp3"};
        QCOMPARE(Shown(page), admitted);

        // Every file chosen, then the menu of one the filter keeps: it acts
        // on the rows the filter shows.
        page->filterEdit()->setText("m");
        page->filterEdit()->setText("mp3 -demo");
        QVERIFY(page->IsFiltering());
        tree->clearSelection();
        for (QTreeWidgetItem* row :
             tree->findItems("*", Qt::MatchWildcard | Qt::MatchRecursive, SearchResultListItem::FileColumn))
            if (!row->text(SearchResultListItem::FileColumn).isEmpty())
                row->setSelected(true);
        QVERIFY(s.MenuAt(tree, row("d1.mp3"), "Download File(s)").contains("Download File(s)"));
        QCOMPARE(Shown(page), admitted);
        QStringList downloads = s.Downloads();
        downloads.sort();
        QCOMPARE(downloads, QStringList({"alice:music\\live\\a2.mp3", "bob:rock\\b1.mp3", "carol:jazz\\c2.mp3",
                                         "dave:pop\\d1.mp3", "erin:x\\e1.mp3"}));

        // Cleared half-way, then a word typed: the word wins.
        page->filterEdit()->clear();
        QVERIFY(page->IsFiltering());
        page->filterEdit()->setText("flac");
        QTRY_VERIFY(!page->IsFiltering());
        QCOMPARE(Shown(page), QStringList({"alice:a3.flac"}));
        Button(page, "pushButton_2")->click();
        QTRY_VERIFY(!page->IsFiltering());
        QCOMPARE(Shown(page).size(), 11);
    }

    // A full search takes places back, a reply between every turn or two
    // of the filter going over the page two rows a slice: the rows given
    // back neither send the filter back to its start nor make it pass
    // over a row, so it ends as the replies do, every file shown as the
    // filter says.
    void theFilterEndsWhileRowsAreGivenBack_data() { Layouts(); }
    void theFilterEndsWhileRowsAreGivenBack()
    {
        QFETCH(bool, flat);
        SearchPageFixture s;
        s.ownAddresses = true;
        QVERIFY(s.f.Start());
        s.f.net.peer->SetSearchResultLimit(18);
        SearchResultsForm* page = SearchIn(s, flat);
        QStringList big;
        for (int i = 0; i < 12; ++i)
            big << QString("big%1%2.mp3").arg(i).arg(i % 3 == 0 ? " demo" : "");
        // The big sharer first: its newest rows go from behind where the
        // filter goes on.
        QVERIFY(s.Answer("big", page->Ticket(), s.Files("music\\big", big)));
        QVERIFY(s.Answer("alice", page->Ticket(), s.Files("music\\a", {"a0.mp3", "a1 demo.mp3", "a2.mp3"})));
        QVERIFY(s.Answer("bob", page->Ticket(), s.Files("music\\b", {"b0.mp3", "b1.mp3", "b2 demo.mp3"})));
        page->SetFilterSliceRows(0);
        // Most rows hidden, so that a row passed over shows.
        page->filterEdit()->setText("demo");
        // Six users with room for two each take back twelve places, most
        // of them the big sharer's.
        s.f.net.peer->SetSearchResultUserLimit(2);
        for (int i = 0; i < 12; ++i) {
            QVERIFY(s.Answer(QString("user%1").arg(i / 2), page->Ticket(), s.Files("u", {QString("u%1.mp3").arg(i)})));
            QVERIFY(s.TwoTurns([page](bool allow) { page->SetFilterSliceRows(allow ? 2 : 0); }));
        }
        QVERIFY(!page->IsFiltering());
        QStringList files;
        QTreeWidget* tree = page->searchResults();
        for (QTreeWidgetItem* row :
             tree->findItems("*", Qt::MatchWildcard | Qt::MatchRecursive, SearchResultListItem::FileColumn)) {
            const QString file = row->text(SearchResultListItem::FileColumn);
            if (!file.contains("demo"))
                continue;
            const QTreeWidgetItem* user = flat ? row : row->parent()->parent();
            files << user->text(SearchResultListItem::UserColumn) + ":" + file;
        }
        QCOMPARE(SearchPageFixture::Count("search_result"), 18);
        files.sort();
        QCOMPARE(Shown(page), files);
    }

    void aReplyWhileTheFilterIsHalfAppliedAlertsByTheWholeFilter()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SetSetting("show_event_buttons", "yes");
        const unsigned int ticket = s.WishListSearch("blue note", "xyz");
        auto buttons = [&s] { return s.AlertButtons("blue note"); };
        QVERIFY(s.Answer("alice", ticket, s.Files("a", {"x.ogg"})));
        QVERIFY(s.Answer("bob", ticket, s.Files("b", {"y.mp3"})));
        QVERIFY(s.Answer("carol", ticket, s.Files("c", {"z.mp3"})));
        SearchResultsForm* page = s.WishPage(0);
        QCOMPARE(buttons(), 0);
        page->SetFilterSliceRows(1);
        page->filterEdit()->setText("mp3");
        QVERIFY(page->IsFiltering());
        // The rows the filter has not reached are still hidden by the last
        // text, the new reply by this one; once it is applied whole, the
        // reply came to a page that shows rows.
        Arrive(page, "dave", "d", {"w.ogg"});
        QCOMPARE(buttons(), 0);
        QTRY_VERIFY(!page->IsFiltering());
        QCOMPARE(buttons(), 1);
    }

    void savedFiltersAndTheDefaultReachEveryPage()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* one = s.Search("one");
        SearchResultsForm* two = s.Search("two");
        one->filterEdit()->setText("MP3  -Live ");
        Button(one, "saveFilterButton")->click();
        QCOMPARE(Button(one, "saveFilterButton")->text(), QString("Remove Filter"));
        QCOMPARE(Saved(two), QStringList({"-- saved filters", "mp3 -live"}));
        two->filterEdit()->setText("mp3 -live");
        QCOMPARE(Button(two, "saveFilterButton")->text(), QString("Remove Filter"));
        Button(two, "saveFilterButton")->click();
        QCOMPARE(Saved(one), QStringList({"-- saved filters"}));
        QCOMPARE(Button(one, "saveFilterButton")->text(), QString("Save Filter"));
        // Nothing saved for no text; chosen from the box, a filter fills the
        // edit.
        two->filterEdit()->clear();
        Button(two, "saveFilterButton")->click();
        QCOMPARE(SearchPageFixture::Count("saved_filter"), 0);
        two->filterEdit()->setText("flac");
        Button(two, "saveFilterButton")->click();
        one->findChild<QComboBox*>("savedFiltersBox")->setCurrentIndex(1);
        QCOMPARE(one->filterEdit()->text(), QString("flac"));
        QCOMPARE(Saved(one), QStringList({"-- saved filters", "flac"}));

        // The default: only a non-empty text, and only the very text.
        auto* box = one->findChild<QCheckBox*>("defaultFilterBox");
        one->filterEdit()->clear();
        box->click();
        QVERIFY(!box->isChecked() && GetSetting("default_search_filter").isEmpty());
        one->filterEdit()->setText("flac");
        box->click();
        QCOMPARE(GetSetting("default_search_filter"), QString("flac"));
        for (const char* other : {"flac ", "FLAC"}) {
            one->filterEdit()->setText(other);
            QVERIFY(!box->isChecked());
        }
        one->filterEdit()->setText("flac");
        QVERIFY(box->isChecked());
        QCOMPARE(s.Search("four")->filterEdit()->text(), QString("flac"));
        box->click();
        QVERIFY(GetSetting("default_search_filter").isEmpty());
        QVERIFY(s.Search("five")->filterEdit()->text().isEmpty());

        // A wish-list search keeps what its page is filtered by.
        QVERIFY(s.Answer("alice", s.WishListSearch("kept"), {SearchReplyFile("x\\y.mp3", 1)}));
        s.WishPage(0)->filterEdit()->setText("-live");
        QCOMPARE(d.GetType("wish_list_item")->HasItem("kept")["wish_list_item_filter_text"].AsString(),
                 QString("-live"));
    }

    void theFilterRowReadsWholeAtALargeFont()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* page = s.Search("large");
        // The largest application font the user may choose, set after the
        // page was made, in a window as wide as the main window's first.
        QFont large = s.form->font();
        large.setPointSize(14);
        s.form->setFont(large);
        page->window()->resize(1000, 600);
        QTRY_VERIFY2(Clipped(page).isEmpty(), qPrintable(Clipped(page).join("; ")));
        page->filterEdit()->setText("flac");
        Button(page, "saveFilterButton")->click();
        QCOMPARE(Button(page, "saveFilterButton")->text(), QString("Remove Filter"));
        QTRY_VERIFY2(Clipped(page).isEmpty(), qPrintable(Clipped(page).join("; ")));
    }

    void oneFilterHelpGoesWithItsPage()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* one = s.Search("one");
        SearchResultsForm* two = s.Search("two");
        Button(one, "pushButton")->click();
        QPointer<FilterHelpDialog> help = filterHelpDialog;
        QVERIFY(help && help->isVisible() && !help->isModal());
        Button(two, "pushButton")->click();
        QCOMPARE(filterHelpDialog, help.data());
        s.form->OnTabCloseRequested(s.ManualTabs()->indexOf(one));
        QVERIFY(!help && !filterHelpDialog);
        Button(two, "pushButton")->click();
        QVERIFY(filterHelpDialog && filterHelpDialog->parentWidget() == two);
    }
};

QTEST_MAIN(TestResultFilter)
#include "TestResultFilter.moc"
