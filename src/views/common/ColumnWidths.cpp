#include "ColumnWidths.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTreeWidget>

namespace {

// A cell's margins and focus frame on both sides.
const int kCellRoom = 12;
// Room beside a title for the sort mark.
const int kSortMarkRoom = 32;

class RightAligned : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!index.data(Qt::TextAlignmentRole).isValid())
            option->displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
    }
};

} // namespace

int ColumnWidths::Needed(const QTreeWidget* tree, int column, const QString& sample)
{
    const QFontMetrics cells(tree->font());
    const QFontMetrics titles(tree->header()->font());
    const QString title = tree->headerItem() ? tree->headerItem()->text(column) : QString();
    return qMax(sample.isEmpty() ? 0 : cells.horizontalAdvance(sample) + kCellRoom,
                title.isEmpty() ? 0 : titles.horizontalAdvance(title) + kSortMarkRoom);
}

void ColumnWidths::Set(QTreeWidget* tree, const QVector<int>& widths, const QStringList& samples)
{
    for (int column = 0; column < widths.size(); ++column) {
        const QString sample = samples.value(column);
        tree->setColumnWidth(column,
                             sample.isEmpty() ? widths[column] : qMax(widths[column], Needed(tree, column, sample)));
    }
}

void ColumnWidths::AlignRight(QTreeWidget* tree, std::initializer_list<int> columns)
{
    auto* delegate = new RightAligned(tree);
    for (int column : columns)
        tree->setItemDelegateForColumn(column, delegate);
}
