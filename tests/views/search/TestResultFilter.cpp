// The filter row of a results page: the whole page filtered by words and
// attributes, saved filters shared by every page, the default filter, and
// the one filter help dialog.
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>

#include "SearchPageFixture.h"
#include "TextFit.h"
#include "search/FilterHelpDialog.h"
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
