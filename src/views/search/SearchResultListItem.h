#pragma once

#include <QTreeWidgetItem>

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
    // the rows' "search_result_node" items, which it never creates.
    bool operator<(const QTreeWidgetItem& other) const override;

    // The comparison for a given column, so that it can be checked and
    // timed without a tree.
    static bool LessThan(int column, const QTreeWidgetItem& a, const QTreeWidgetItem& b);
};
