#include "TransferRow.h"

bool TransferRow::SetForeground(const QBrush& brush)
{
    if (m_painted && m_foreground == brush)
        return false;
    m_foreground = brush;
    m_painted = true;
    emitDataChanged();
    return true;
}

QVariant TransferRow::data(int column, int role) const
{
    if (role == Qt::ForegroundRole && m_painted)
        return m_foreground;
    return QTreeWidgetItem::data(column, role);
}
