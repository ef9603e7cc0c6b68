#pragma once

#include "TreeWidget.h"

class QItemSelection;
class QModelIndex;

// A tree of the transfers page. Select All (Ctrl+A, or a call) selects the
// rows the view shows, as the plain tree does, but by one whole-row range
// per run of shown siblings, heard of in one change: the plain tree hands
// every cell of every row to its item sync, which holds the window still
// for a quarter of a second at two hundred thousand rows.
class TransferTreeWidget : public TreeWidget
{
    Q_OBJECT

public:
    explicit TransferTreeWidget(QWidget* parent = nullptr);

    void selectAll() override;

private:
    // Adds a range for each run of shown rows below parent, and those of
    // the rows below each expanded one.
    void AddShownRows(const QModelIndex& parent, QItemSelection& ranges) const;
};
