// The wish list view: rows that follow the stored searches, edits that
// replace a search, its check boxes, and its context menu with the discard
// switch shared with the search's page.
#include "SearchPageFixture.h"

namespace {

ItemPtr Wish(const QString& text)
{
    return d.GetType("wish_list_item")->HasItem(text);
}

// Texts of the rows, with "+" for a checked box, in row order.
QStringList Rows(QTreeWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        auto* box = qobject_cast<QCheckBox*>(list->itemWidget(list->topLevelItem(i), 0));
        texts << list->topLevelItem(i)->text(1) + (box && box->isChecked() ? "+" : "");
    }
    return texts;
}

QTreeWidgetItem* Row(QTreeWidget* list, const QString& text)
{
    return list->findItems(text, Qt::MatchExactly, 1).value(0);
}

} // namespace

class TestWishList : public QObject
{
    Q_OBJECT

private slots:
    void editsReplaceSearchesAndBlanksKeepThem()
    {
        SearchPageFixture s;
        d.GetType("wish_list_item")->GetItem("old");
        ItemPtr kept = d.GetType("wish_list_item")->GetItem("kept");
        kept += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
        kept += d.GetType("discard_repeated_results")->GetGlobalNullItem();
        kept += d.GetType("wish_list_item_filter_text")->GetItem("-live");
        QVERIFY(s.f.Start());
        QTreeWidget* list = s.WishList();
        QCOMPARE(Rows(list), QStringList({"kept+", "old"}));

        // Blanks around the text change nothing stored.
        Row(list, "kept")->setText(1, "  kept ");
        QCOMPARE(Wish("kept"), kept);
        QVERIFY(kept.IsConnected("discard_repeated_results") && kept.IsConnected("wish_list_item_filter_text"));
        QCOMPARE(Rows(list), QStringList({"kept+", "old"}));
        // A new text is a new search, enabled as its box says.
        Row(list, "old")->setText(1, " new");
        QVERIFY(!Wish("old") && Wish("new") && !Wish("new").IsConnected("wish_list_item_enabled"));
        QCOMPARE(Rows(list), QStringList({"kept+", "new"}));
        // Another row's text: this row and its search go, the other stays.
        Row(list, "new")->setText(1, "kept");
        QTRY_COMPARE(Rows(list), QStringList({"kept+"}));
        QVERIFY(!Wish("new") && Wish("kept") == kept);
        // Blanks only: the search goes with its row.
        Row(list, "kept")->setText(1, "   ");
        QVERIFY(!Wish("kept"));
        QTRY_COMPARE(list->topLevelItemCount(), 0);

        // A row emptied and given a text again before its deletion runs
        // keeps its new search.
        s.form->OnWishListItemAdded(d.GetType("wish_list_item")->GetItem("again"));
        Row(list, "again")->setText(1, "");
        list->topLevelItem(0)->setText(1, "back");
        QCoreApplication::processEvents();
        QCOMPARE(Rows(list), QStringList({"back"}));
        QVERIFY(Wish("back") && !Wish("again"));
        QCOMPARE(SearchPageFixture::Count("wish_list_node"), 1);
    }

    void boxesMenuAndTheDiscardSwitchFollowTheStore()
    {
        SearchPageFixture s;
        QVERIFY(s.f.Start());
        for (const char* text : {"a", "b", "c"}) {
            ItemPtr item = d.GetType("wish_list_item")->GetItem(text);
            item += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
            s.form->OnWishListItemAdded(item);
        }
        QTreeWidget* list = s.WishList();
        auto* box = qobject_cast<QCheckBox*>(list->itemWidget(Row(list, "a"), 0));
        box->setChecked(false);
        QVERIFY(!Wish("a").IsConnected("wish_list_item_enabled") && Row(list, "a")->text(0).isEmpty());
        box->setChecked(true);
        QVERIFY(Wish("a").IsConnected("wish_list_item_enabled") && Row(list, "a")->text(0) == "Y");
        QVERIFY(s.f.Focus(list));
        s.f.ToolbarAction("Disable All Wish List Searches")->trigger();
        QCOMPARE(Rows(list), QStringList({"a", "b", "c"}));
        QVERIFY(s.MenuAt(list, nullptr).isEmpty());

        // The switch of a search's page and of its row are one.
        QVERIFY(s.Answer("alice", s.WishListSearch("a"), {SearchReplyFile("x\\1.mp3", 1)}));
        auto* pageBox = s.WishPage(0)->findChild<QCheckBox*>("discardRepeatedResultsBox");
        pageBox->setChecked(true);
        QCOMPARE(Wish("a")["received_results_from_users"].GetItems("user").size(), size_t(1));
        Row(list, "a")->setSelected(true);
        QCOMPARE(s.MenuAt(list, Row(list, "a"), "Show Repeated Results"),
                 QStringList({"Manual Search", "Show Repeated Results", "Remove Wish List Search"}));
        QVERIFY(!pageBox->isChecked() && !Wish("a")["received_results_from_users"]);
        s.MenuAt(list, Row(list, "a"), "Discard Repeated Results");
        QVERIFY(pageBox->isChecked() && Wish("a")["received_results_from_users"].GetItems("user").empty());

        // Removing several rows; the page stays, without a switch to set.
        Row(list, "b")->setSelected(true);
        s.MenuAt(list, Row(list, "b"), "Remove Wish List Search");
        QCOMPARE(Rows(list), QStringList({"c"}));
        QVERIFY(!Wish("a") && !Wish("b") && Wish("c"));
        QVERIFY(!pageBox->isEnabled());
    }
};

QTEST_MAIN(TestWishList)
#include "TestWishList.moc"
