// The filter row of a results page: the whole page filtered by words and
// attributes, saved filters shared by every page, the default filter, and
// the one filter help dialog.
#include <QPointer>
#include <QPushButton>
#include <QTextEdit>

#include "SearchPageFixture.h"
#include "search/FilterHelpDialog.h"
#include "search/SearchResultListItem.h"

namespace {

QList<QByteArray> AliceFiles()
{
    return {SearchReplyFile("music\\live\\a.mp3", 20000000, {{0, 320}, {2, 1}}),
            SearchReplyFile("music\\live\\b.mp3", 1000, {{0, 128}, {2, 0}}),
            SearchReplyFile("music\\studio\\c.flac", 30000000)};
}

// The names of the files a user can see.
QStringList Shown(SearchResultsForm* page)
{
    QStringList names;
    QTreeWidget* tree = page->searchResults();
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        bool visible = true;
        for (QTreeWidgetItem* row = *it; row && visible; row = row->parent())
            visible = !row->isHidden();
        if (visible && !(*it)->text(SearchResultListItem::FileColumn).isEmpty())
            names << (*it)->text(SearchResultListItem::FileColumn);
    }
    // The page may have sorted meanwhile.
    names.sort();
    return names;
}

QPushButton* Button(SearchResultsForm* page, const char* name)
{
    return page->findChild<QPushButton*>(name);
}

QComboBox* SavedBox(SearchResultsForm* page)
{
    return page->findChild<QComboBox*>("savedFiltersBox");
}

} // namespace

class TestResultFilter : public QObject
{
    Q_OBJECT

private slots:
    void theWholePageFiltersByWordsAndAttributes_data()
    {
        QTest::addColumn<bool>("flat");
        QTest::newRow("grouped") << false;
        QTest::newRow("flat") << true;
    }
    void theWholePageFiltersByWordsAndAttributes()
    {
        QFETCH(bool, flat);
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SetSetting("use_old_style_search_results", flat ? "yes" : "no");
        SearchResultsForm* page = s.Search("music");
        QVERIFY(s.Answer("alice", page->Ticket(), AliceFiles()));
        QVERIFY(s.Answer("bob", page->Ticket(), {SearchReplyFile("rock\\live\\d.mp3", 5000000, {{0, 192}, {2, 0}})}));

        const QList<QPair<QString, QStringList>> cases = {
            {"-LIVE", {"c.flac"}},
            // One word in the folder, the other in the name.
            {"music mp3", {"a.mp3", "b.mp3"}},
            {"isvbr", {"a.mp3"}},
            {"iscbr mbr:150", {"d.mp3"}},
            {"mfs:10", {"a.mp3", "c.flac"}},
            // Only a grouped page counts a folder's files.
            {"mfif:2", flat ? QStringList{"a.mp3", "b.mp3", "c.flac", "d.mp3"} : QStringList{"a.mp3", "b.mp3"}},
            // User names are not searched.
            {"alice", {}},
            {"", {"a.mp3", "b.mp3", "c.flac", "d.mp3"}},
        };
        for (const auto& c : cases) {
            page->filterEdit()->setText(c.first);
            QCOMPARE(Shown(page), c.second);
        }
        if (!flat) {
            // A user whose every folder is hidden is hidden with them.
            page->filterEdit()->setText("studio");
            QVERIFY(page->searchResults()->topLevelItem(1)->isHidden());
            QVERIFY(page->searchResults()->topLevelItem(0)->child(0)->isHidden());
            QVERIFY(!page->searchResults()->topLevelItem(0)->child(1)->isHidden());
            Button(page, "pushButton_2")->click();
            QCOMPARE(Shown(page).size(), 4);
        }
    }

    void savedFiltersAndTheDefaultReachEveryPage()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        SearchResultsForm* one = s.Search("one");
        SearchResultsForm* two = s.Search("two");
        one->filterEdit()->setText("MP3  -Live ");
        QCOMPARE(Button(one, "saveFilterButton")->text(), QString("Save Filter"));
        Button(one, "saveFilterButton")->click();
        QVERIFY(d.GetType("saved_filter")->HasItem("mp3 -live"));
        QCOMPARE(Button(one, "saveFilterButton")->text(), QString("Remove Filter"));
        QCOMPARE(SearchPageFixture::Entries(SavedBox(two)), QStringList({"-- saved filters", "mp3 -live"}));
        two->filterEdit()->setText("mp3 -live");
        QCOMPARE(Button(two, "saveFilterButton")->text(), QString("Remove Filter"));
        Button(two, "saveFilterButton")->click();
        QCOMPARE(SearchPageFixture::Entries(SavedBox(one)), QStringList({"-- saved filters"}));
        QCOMPARE(Button(one, "saveFilterButton")->text(), QString("Save Filter"));

        // An empty text saves nothing; a filter named like the box's title
        // leaves the title when it goes.
        two->filterEdit()->clear();
        Button(two, "saveFilterButton")->click();
        QCOMPARE(SearchPageFixture::Count("saved_filter"), 0);
        two->filterEdit()->setText("-- Saved Filters");
        Button(two, "saveFilterButton")->click();
        Button(two, "saveFilterButton")->click();
        QCOMPARE(SearchPageFixture::Entries(SavedBox(one)), QStringList({"-- saved filters"}));

        // Chosen from the box, a filter fills the edit; a later page lists it.
        two->filterEdit()->setText("flac");
        Button(two, "saveFilterButton")->click();
        SavedBox(one)->setCurrentIndex(1);
        QCOMPARE(one->filterEdit()->text(), QString("flac"));
        QCOMPARE(SavedBox(one)->currentIndex(), 0);
        QCOMPARE(SearchPageFixture::Entries(SavedBox(s.Search("three"))).last(), QString("flac"));

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

        // A wish-list search keeps what its page was filtered by.
        QVERIFY(s.Answer("alice", s.WishListSearch("kept"), AliceFiles()));
        s.WishPage(0)->filterEdit()->setText("-live");
        QCOMPARE(d.GetType("wish_list_item")->HasItem("kept")["wish_list_item_filter_text"].AsString(),
                 QString("-live"));
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
        auto* text = help->findChild<QTextEdit*>("textEdit");
        QVERIFY(text->isReadOnly() && (text->textInteractionFlags() & Qt::TextSelectableByKeyboard));
        QVERIFY(text->toPlainText().contains("minfilesinfolder:number (show folders with at least number files"));

        // Closing the page that opened it closes it.
        s.form->OnTabCloseRequested(s.ManualTabs()->indexOf(one));
        QVERIFY(!help && !filterHelpDialog);
        Button(two, "pushButton")->click();
        help = filterHelpDialog;
        QVERIFY(help && help->parentWidget() == two);
        help->findChild<QPushButton*>("pushButton")->click();
        QTRY_VERIFY(!help);
        QVERIFY(!filterHelpDialog);
    }
};

QTEST_MAIN(TestResultFilter)
#include "TestResultFilter.moc"
