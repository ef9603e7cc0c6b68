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

// The index of a row at its place, by its order; the long way when it is
// not at its place after all.
int IndexOf(const QTreeWidget* tree, QTreeWidgetItem* row)
{
    int low = 0;
    int high = tree->topLevelItemCount();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (*tree->topLevelItem(middle) < *row)
            low = middle + 1;
        else
            high = middle;
    }
    if (low < tree->topLevelItemCount() && tree->topLevelItem(low) == row)
        return low;
    return tree->indexOfTopLevelItem(row);
}

} // namespace

namespace OrderedRows {

void Insert(QTreeWidget* tree, QTreeWidgetItem* row)
{
    tree->insertTopLevelItem(PlaceOf(tree, row), row);
}

void Change(QTreeWidgetItem* row, const std::function<void()>& change)
{
    QTreeWidget* tree = row ? row->treeWidget() : nullptr;
    if (!tree || row->parent()) {
        change();
        return;
    }
    const int index = IndexOf(tree, row);
    QItemSelectionModel* selection = tree->selectionModel();
    const bool current = tree->currentItem() == row;
    const bool selected = selection->isRowSelected(index, QModelIndex());
    // Taking out the current row moves the view's current row and selection
    // elsewhere for a moment: the choice is put back as it was.
    const QList<QTreeWidgetItem*> chosen = current || selected ? tree->selectedItems() : QList<QTreeWidgetItem*>();
    const QSignalBlocker blocker(selection);
    tree->takeTopLevelItem(index);
    change();
    Insert(tree, row);
    if (!current && !selected)
        return;
    selection->clearSelection();
    if (current)
        tree->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);
    for (QTreeWidgetItem* item : chosen)
        item->setSelected(true);
}

} // namespace OrderedRows
