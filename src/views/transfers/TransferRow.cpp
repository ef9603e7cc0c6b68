#include "TransferRow.h"

#include <QColor>
#include <QHash>
#include <QTreeWidget>

QVariant TransferRow::data(int column, int role) const
{
    if (column < 0 || column >= Columns)
        return QTreeWidgetItem::data(column, role);
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_texts[column].isNull() ? QVariant() : QVariant(m_texts[column]);
    if (role == Qt::ForegroundRole)
        return m_foreground.style() == Qt::NoBrush ? QVariant() : QVariant(m_foreground);
    return QTreeWidgetItem::data(column, role);
}

void TransferRow::setData(int column, int role, const QVariant& value)
{
    if (column < 0 || column >= Columns) {
        QTreeWidgetItem::setData(column, role, value);
        return;
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        const QString text = value.toString();
        if (text == m_texts[column])
            return;
        m_texts[column] = text;
    } else if (role == Qt::ForegroundRole) {
        const QBrush brush = value.value<QBrush>();
        if (brush == m_foreground)
            return;
        m_foreground = brush;
    } else {
        QTreeWidgetItem::setData(column, role, value);
        return;
    }
    emitDataChanged();
}

bool TransferRow::SetForeground(const QBrush& brush)
{
    if (brush == m_foreground)
        return false;
    m_foreground = brush;
    // The row is repainted, and the model does not announce the change:
    // a change of the whole row would repaint the whole view, and a change
    // of a cell of the top row makes the view measure that row again.
    if (QTreeWidget* tree = treeWidget())
        tree->viewport()->update(tree->visualItemRect(this));
    return true;
}

void TransferRow::SpanColumns()
{
    // An entry the view never reads: the foreground is answered from here.
    QTreeWidgetItem::setData(Columns - 1, Qt::ForegroundRole, QVariant());
}

QBrush TransferRow::BrushOf(const QColor& color)
{
    // A handful of colours, one per status setting.
    static QHash<QRgb, QBrush> brushes;
    auto it = brushes.find(color.rgba());
    if (it == brushes.end())
        it = brushes.insert(color.rgba(), QBrush(color));
    return *it;
}
