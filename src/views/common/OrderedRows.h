#pragma once

class QTreeWidget;
class QTreeWidgetItem;

// A flat tree whose sorting stays off while its rows keep the order of
// their operator<: a row is put at its place alone when it arrives or its
// key changes. Sorting the whole tree again for every change would make a
// burst of changes (a login reporting thousands of users online) quadratic.
namespace OrderedRows {

// Puts a row that belongs to no tree at its place among the tree's rows.
void Insert(QTreeWidget* tree, QTreeWidgetItem* row);

// Moves a top-level row whose key changed to its place, keeping it current
// and selected when it was.
void Reposition(QTreeWidgetItem* row);

} // namespace OrderedRows
