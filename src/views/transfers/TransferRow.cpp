#include "TransferRow.h"

#include <QTreeWidget>

bool TransferRow::SetForeground(const QBrush& brush)
{
    if (m_painted && m_foreground == brush)
        return false;
    m_foreground = brush;
    m_painted = true;
    // The row is repainted, and the model does not announce the change:
    // a change of the whole row would repaint the whole view, and a change
    // of a cell of the top row makes the view measure that row again.
    if (QTreeWidget* tree = treeWidget())
        tree->viewport()->update(tree->visualItemRect(this));
    return true;
}

QVariant TransferRow::data(int column, int role) const
{
    if (role == Qt::ForegroundRole && m_painted)
        return m_foreground;
    return QTreeWidgetItem::data(column, role);
}
