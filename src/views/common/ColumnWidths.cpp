#include "ColumnWidths.h"

#include <QEvent>
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

// Pages are made before the user's application font is applied, and that
// font may change later: the figures' columns grow with it (never shrink,
// so a width the user chose stands).
class FontFollower : public QObject
{
public:
    FontFollower(QTreeWidget* tree, const QStringList& samples) : QObject(tree), m_tree(tree), m_samples(samples) {}

    void SetSamples(const QStringList& samples) { m_samples = samples; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_tree && event->type() == QEvent::FontChange) {
            for (int column = 0; column < m_samples.size(); ++column) {
                if (m_samples[column].isEmpty())
                    continue;
                const int needed = ColumnWidths::Needed(m_tree, column, m_samples[column]);
                if (m_tree->columnWidth(column) < needed)
                    m_tree->setColumnWidth(column, needed);
            }
        }
        return false;
    }

private:
    QTreeWidget* m_tree;
    QStringList m_samples;
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
    for (QObject* child : tree->children()) {
        if (auto* follower = dynamic_cast<FontFollower*>(child)) {
            follower->SetSamples(samples);
            return;
        }
    }
    tree->installEventFilter(new FontFollower(tree, samples));
}

void ColumnWidths::AlignRight(QTreeWidget* tree, std::initializer_list<int> columns)
{
    auto* delegate = new RightAligned(tree);
    for (int column : columns)
        tree->setItemDelegateForColumn(column, delegate);
}
