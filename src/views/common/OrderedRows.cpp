#include "OrderedRows.h"

#include <QItemSelectionModel>
#include <QTreeWidget>

namespace {

// The index before which the row goes: after every row that is not greater.
int PlaceOf(const QTreeWidget* tree, const QTreeWidgetItem* row)
{
    int low = 0;
    int high = tree->topLevelItemCount();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (*row < *tree->topLevelItem(middle))
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

bool InPlace(const QTreeWidget* tree, const QTreeWidgetItem* row, int index)
{
    const QTreeWidgetItem* before = index > 0 ? tree->topLevelItem(index - 1) : nullptr;
    const QTreeWidgetItem* after = tree->topLevelItem(index + 1);
    return (!before || !(*row < *before)) && (!after || !(*after < *row));
}

} // namespace

namespace OrderedRows {

void Insert(QTreeWidget* tree, QTreeWidgetItem* row)
{
    tree->insertTopLevelItem(PlaceOf(tree, row), row);
}

void Reposition(QTreeWidgetItem* row)
{
    QTreeWidget* tree = row ? row->treeWidget() : nullptr;
    if (!tree || row->parent())
        return;
    const int index = tree->indexOfTopLevelItem(row);
    if (InPlace(tree, row, index))
        return;
    const bool selected = row->isSelected();
    const bool current = tree->currentItem() == row;
    // Taking the row out moves the view's current row elsewhere for a moment.
    const QSignalBlocker blocker(tree->selectionModel());
    tree->takeTopLevelItem(index);
    Insert(tree, row);
    if (current)
        tree->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);
    row->setSelected(selected);
}

} // namespace OrderedRows
