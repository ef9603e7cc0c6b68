#pragma once

#include <QString>
#include <QTreeWidgetItem>
#include <deque>
#include <vector>

#include "FilterParser.h"
#include "ItemPtr.h"

class QTreeWidget;

// A row of a search results tree: a user, a folder or a file of the grouped
// tree, or a flat row holding all seven columns. Its one addition to the
// toolkit's row is the order in which the tree sorts it: by default users
// with a free slot first, then shorter queues, then faster users, and
// within a folder the files by name.
class SearchResultListItem : public QTreeWidgetItem
{
public:
    // The rows' own type, which tells them from the toolkit's.
    static constexpr int RowType = QTreeWidgetItem::UserType + 1;

    enum Column
    {
        UserColumn = 0,
        FreeColumn = 1,
        SpeedColumn = 2,
        FolderColumn = 3,
        FileColumn = 4,
        SizeColumn = 5,
        AttributesColumn = 6,
        ColumnCount = 7
    };

    // A row not yet in a tree, to be added with others in one go.
    SearchResultListItem();
    explicit SearchResultListItem(QTreeWidgetItem* parent);
    explicit SearchResultListItem(QTreeWidget* tree);

    // The row as one of these; null for any other row.
    static const SearchResultListItem* Of(const QTreeWidgetItem* row)
    {
        return row && row->type() == RowType ? static_cast<const SearchResultListItem*>(row) : nullptr;
    }
    static SearchResultListItem* Of(QTreeWidgetItem* row)
    {
        return const_cast<SearchResultListItem*>(Of(static_cast<const QTreeWidgetItem*>(row)));
    }

    // Once its cells are set, which never change after: the row keeps what
    // it sorts by and what the result filter tests, so that a sort or a
    // filter of tens of thousands of rows reads none of their cells or
    // items. result is the file a file row or flat row shows; filterText
    // the text the filter tests, in the filter's form.
    void KeepKeys(ItemPtr result, const QString& filterText);

    const QString& FilterText() const { return m_filterText; }
    // Whether a file is behind the row, and what the filter's conditions
    // read of it.
    bool HasFile() const { return m_keys.hasFile; }
    const FilterParser::FileAttributes& Attributes() const { return m_keys.attributes; }
    // The passes that go over a page's top-level rows a slice at a time.
    enum class Pass
    {
        Filter,
        ExpandUsers,
        ExpandFolders,
        Count
    };
    // The number of the pass of that kind that last did the row and all
    // below it, so that a pass looking over the page again after a sort
    // passes over the rows it did.
    int PassDone(Pass pass) const { return m_passDone[int(pass)]; }
    void SetPassDone(Pass pass, int number) { m_passDone[int(pass)] = number; }

    // Ascending order by the tree's sort column; the tree reverses it for a
    // descending sort. Reads the rows' kept keys, or their texts and, for
    // size and attributes, their "search_result_node" items, which it never
    // creates.
    bool operator<(const QTreeWidgetItem& other) const override;

    // The comparison for a given column, so that it can be checked and
    // timed without a tree.
    static bool LessThan(int column, const QTreeWidgetItem& a, const QTreeWidgetItem& b);

    // Sorts the tree as sortItems does, in the same order: each parent's rows
    // ordered in arrays of their own by numbers and texts copied side by
    // side from their kept keys, then the tree reordered to match in one
    // pass that compares two numbers a step. A page of 50,000 rows sorts in
    // a few hundredths of a second.
    static void SortTree(QTreeWidget* tree, int column, Qt::SortOrder order);
    // Sorts the rows below each of the parents alone, as SortTree would:
    // the rows below all others are in that order already. Each parent's
    // is a change of the order of its own that the view hears of.
    static void SortChildren(QTreeWidget* tree, const QList<QTreeWidgetItem*>& parents, int column,
                             Qt::SortOrder order);

private:
    // What a row sorts by, in every column.
    struct SortKeys
    {
        // The name columns' texts in lower case.
        QString user;
        QString folder;
        QString file;
        // The free column's text, and its last tie-break, the file's name
        // as shown.
        QString free;
        QString fileText;
        double speed = 0;
        // The free column's queue.
        qint64 queue = 0;
        // Size and bitrate, which the size and attributes columns sort by.
        FilterParser::FileAttributes attributes;
        // Whether the free column's text is "Y" or names the queue exactly,
        // so that equal queues mean equal texts.
        bool freeIsExact = false;
        // Size and attributes: whether a file is behind the row.
        bool hasFile = false;
    };
    // A row as SortTree orders it: two numbers, then a text (of units copied
    // side by side), compared in turn as the column's keys compare; or, when
    // not exact, by its keys.
    struct Placed
    {
        quint64 first = 0;
        quint64 second = 0;
        int text = 0;
        int length = 0;
        int index = 0;
        bool exact = false;
    };

    static SortKeys KeysOf(const QTreeWidgetItem& row, ItemPtr result);
    // The row's kept keys, or else those read now, added to read.
    static const SortKeys& KeysOf(const QTreeWidgetItem& row, std::deque<SortKeys>& read);
    static bool LessThan(int column, const SortKeys& a, const SortKeys& b);
    // The row's numbers and text in the column, its text's units added to
    // units.
    static Placed PlaceOf(int column, const SortKeys& keys, std::vector<ushort>& units);
    // What ranking rows keeps from parent to parent, and the rows ranked.
    struct Ranking;
    // Gives the parent's rows their ranks in the column's order, and adds
    // those with rows below them to below, when given; false, ranking
    // none, when a row is not one of these.
    static bool Rank(QTreeWidgetItem* parent, int column, Qt::SortOrder order, Ranking& ranking,
                     std::vector<QTreeWidgetItem*>* below);

    SortKeys m_keys;
    bool m_keysKept = false;
    QString m_filterText;
    int m_passDone[int(Pass::Count)] = {};
    // The row's place among its siblings while SortTree reorders the tree;
    // -1 otherwise.
    int m_rank = -1;
};
