#include "TransferRow.h"

#include <QTreeWidget>

bool TransferRow::SetForeground(const QBrush& brush)
{
    if (m_painted && m_foreground == brush)
        return false;
    m_foreground = brush;
    m_painted = true;
    // The view hears of the first cell only, and the row is repainted
    // whole: a change of the whole row would repaint the whole view.
    QTreeWidgetItem::setData(0, Qt::ForegroundRole, brush);
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
