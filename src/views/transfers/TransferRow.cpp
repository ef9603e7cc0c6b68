#include "TransferRow.h"

#include <QColor>
#include <QHash>
#include <QTimer>
#include <QTreeWidget>

namespace {
const char* const kLayoutPending = "transferRowsLayoutPending";
}

QVariant TransferRow::data(int column, int role) const
{
    if (role == Qt::ForegroundRole)
        return m_foreground.style() == Qt::NoBrush ? QVariant() : QVariant(m_foreground);
    return QTreeWidgetItem::data(column, role);
}

void TransferRow::setData(int column, int role, const QVariant& value)
{
    if (role == Qt::ForegroundRole)
        SetForeground(value.value<QBrush>());
    else
        QTreeWidgetItem::setData(column, role, value);
}

bool TransferRow::SetForeground(const QBrush& brush)
{
    if (brush == m_foreground)
        return false;
    m_foreground = brush;
    // The row is repainted, and the model does not announce the change:
    // a change of the whole row would repaint the whole view, and a change
    // of a cell of the top row makes the view measure that row again.
    QTreeWidget* tree = treeWidget();
    if (!tree || !tree->isVisible() || tree->property(kLayoutPending).toBool())
        return true;
    for (QTreeWidgetItem* above = parent(); above; above = above->parent())
        if (!above->isExpanded())
            return true;
    tree->viewport()->update(tree->visualItemRect(this));
    return true;
}

void TransferRow::WatchLayout(QTreeWidget* tree)
{
    auto pending = [tree] {
        if (tree->property(kLayoutPending).toBool())
            return;
        tree->setProperty(kLayoutPending, true);
        // After the view's own delayed layout, which was asked for first.
        QTimer::singleShot(0, tree, [tree] { tree->setProperty(kLayoutPending, false); });
    };
    const QAbstractItemModel* model = tree->model();
    QObject::connect(model, &QAbstractItemModel::rowsInserted, tree, pending);
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, tree, pending);
    QObject::connect(model, &QAbstractItemModel::layoutChanged, tree, pending);
    QObject::connect(model, &QAbstractItemModel::modelReset, tree, pending);
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
