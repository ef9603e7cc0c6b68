#pragma once

#include <QBrush>
#include <QTreeWidgetItem>

// A row of the transfer trees. Its status colour is one brush for all its
// cells, set as one repaint of the row: parent rows change colour with
// every file of a folder download.
class TransferRow : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    // False when the row shows this brush already.
    bool SetForeground(const QBrush& brush);

    QVariant data(int column, int role) const override;

private:
    QBrush m_foreground;
    bool m_painted = false;
};
