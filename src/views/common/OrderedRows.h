#pragma once

#include <functional>

class QTreeWidget;
class QTreeWidgetItem;

// A flat tree whose sorting stays off while its rows keep the order of
// their operator<: a row is put at its place alone when it arrives or its
// key changes. Sorting the whole tree again for every change would make a
// burst of changes (a login reporting thousands of users online) quadratic.
namespace OrderedRows {

// Puts a row that belongs to no tree at its place among the tree's rows.
void Insert(QTreeWidget* tree, QTreeWidgetItem* row);

// Runs change, which may alter what orders the row, then puts the row at
// its place; it stays current and selected when it was. The row is found by
// its order and is out of the tree while it changes, so that neither step
// searches the tree row by row.
void Change(QTreeWidgetItem* row, const std::function<void()>& change);

} // namespace OrderedRows
