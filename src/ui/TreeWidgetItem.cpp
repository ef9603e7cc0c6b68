#include "TreeWidgetItem.h"

#include "ColumnSortingModel.h"

#include <QRegularExpression>

TreeWidgetItem::TreeWidgetItem(QTreeWidget* parent) : QTreeWidgetItem(parent, QTreeWidgetItem::Type) {}

TreeWidgetItem::~TreeWidgetItem() {}

void TreeWidgetItem::SetSortingModel(ColumnSortingModel* model)
{
    m_sortingModel = model;
}

qint64 TreeWidgetItem::CellNumber(const QString& text)
{
    static const QRegularExpression nonDigits("[^0-9]+");
    QString digits = text;
    digits.remove(nonDigits);
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    return ok ? number : 0;
}

bool TreeWidgetItem::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* tree = treeWidget();
    const int column = tree ? tree->sortColumn() : 0;
    QString a = data(column, Qt::DisplayRole).toString();
    QString b = other.data(column, Qt::DisplayRole).toString();

    if (!m_sortingModel)
        return a < b;

    if (m_sortingModel->IsSortingReversed(column))
        a.swap(b);
    if (m_sortingModel->IsSortingNumeric(column))
        return CellNumber(a) < CellNumber(b);
    return a < b;
}
