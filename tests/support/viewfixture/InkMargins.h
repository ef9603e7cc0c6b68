#pragma once

class QTreeWidget;
class QTreeWidgetItem;

// How far from the left and from the right of a cell its text is painted,
// read from the pixels the tree draws (-1 when the cell shows nothing): the
// alignment a user sees, whatever a delegate or item says it asks for.
struct Margins
{
    int left = -1;
    int right = -1;
};

Margins InkMargins(QTreeWidget* tree, QTreeWidgetItem* row, int column);
