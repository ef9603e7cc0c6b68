#pragma once

#include <QBrush>
#include <QTreeWidgetItem>

class QColor;

// A row of the transfers page's trees. A folder download brings hundreds of
// thousands of them, and parent rows change colour with every file: a plain
// row keeps a colour per cell and announces each, where these keep one
// colour for the whole row, set as one repaint of the row.
class TransferRow : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    QVariant data(int column, int role) const override;
    // A foreground set on any column colours the whole row.
    void setData(int column, int role, const QVariant& value) override;

    // False when the row shows this brush already.
    bool SetForeground(const QBrush& brush);

    // Rows added or removed leave the view to lay out and repaint them all at
    // the next turn; a row's place asked before then lays them out at once,
    // so colour changes meanwhile ask for nothing.
    static void WatchLayout(QTreeWidget* tree);

    // One brush for every row of a colour.
    static QBrush BrushOf(const QColor& color);

private:
    QBrush m_foreground;
};
