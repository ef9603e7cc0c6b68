#pragma once

#include <QString>
#include <QTreeWidgetItem>

class QTreeWidget;

// A row of a search results tree: a user, a folder or a file of the grouped
// tree, or a flat row holding all seven columns. Its one addition to the
// toolkit's row is the order in which the tree sorts it: by default users
// with a free slot first, then shorter queues, then faster users, and
// within a folder the files by name.
class SearchResultListItem : public QTreeWidgetItem
{
public:
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

    // Ascending order by the tree's sort column; the tree reverses it for a
    // descending sort. Reads the rows' texts and, for size and attributes,
    // the rows' "search_result_node" items, which it never creates; or,
    // during SortTree, what was read of them before.
    bool operator<(const QTreeWidgetItem& other) const override;

    // The comparison for a given column, so that it can be checked and
    // timed without a tree.
    static bool LessThan(int column, const QTreeWidgetItem& a, const QTreeWidgetItem& b);

    // Sorts the tree as sortItems does, each row's cells read once rather
    // than at each of the sort's n log n steps: a page of tens of
    // thousands of rows sorts in a few hundredths of a second.
    static void SortTree(QTreeWidget* tree, int column, Qt::SortOrder order);

private:
    // What a row sorts by in one column.
    struct SortKey
    {
        int column = -1;
        // Name columns: the text in lower case; the free column: its text.
        QString text;
        // The free column's last tie-break.
        QString file;
        double speed = 0;
        // The free column's queue, or the file's size or bitrate.
        qint64 number = 0;
        // Size and attributes: whether a file is behind the row.
        bool hasFile = false;
    };
    static SortKey KeyOf(int column, const QTreeWidgetItem& row);
    static bool LessThan(int column, const SortKey& a, const SortKey& b);

    // Set during SortTree only.
    const SortKey* m_sortKey = nullptr;
};
