#include "TransferTreeWidget.h"

#include <QItemSelection>
#include <QItemSelectionModel>
#include <QSignalBlocker>

TransferTreeWidget::TransferTreeWidget(QWidget* parent) : TreeWidget(parent) {}

void TransferTreeWidget::selectAll()
{
    QItemSelectionModel* selection = selectionModel();
    if (!selection || selectionMode() == SingleSelection || selectionMode() == NoSelection)
        return;
    QItemSelection ranges;
    AddShownRows(QModelIndex(), ranges);
    if (ranges.isEmpty())
        return;
    // The page reads what is selected from the selection model, never from
    // a row's own flag, which is left as it was (as a removal leaves it).
    {
        const QSignalBlocker quiet(selection);
        selection->select(ranges, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    viewport()->update();
    emit itemSelectionChanged();
}

void TransferTreeWidget::AddShownRows(const QModelIndex& parent, QItemSelection& ranges) const
{
    // Walked by model index: asking a row for its own index or state looks
    // for it among its siblings, which is quadratic in a large folder.
    const QAbstractItemModel* rows = model();
    const int count = rows->rowCount(parent);
    const int lastColumn = rows->columnCount(parent) - 1;
    int first = -1;
    auto closeRun = [&](int end) {
        if (first >= 0)
            ranges.append(QItemSelectionRange(rows->index(first, 0, parent), rows->index(end, lastColumn, parent)));
        first = -1;
    };
    for (int r = 0; r < count; ++r) {
        if (isRowHidden(r, parent)) {
            closeRun(r - 1);
            continue;
        }
        if (first < 0)
            first = r;
        const QModelIndex row = rows->index(r, 0, parent);
        if (rows->hasChildren(row) && isExpanded(row))
            AddShownRows(row, ranges);
    }
    closeRun(count - 1);
}
