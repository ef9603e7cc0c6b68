#pragma once

#include <QStyledItemDelegate>

// Draws the progress bar of a file row from the figures kept in its cell.
// A bar widget per file row would make every new bar lay out all rows and
// repaint the whole view, and every layout move each bar of the list: a
// folder of thousands of small files would slow down with every file.
class TransferBarDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    // Where a cell keeps its bar: the percent (an int) and the bar's text.
    enum Role
    {
        ValueRole = Qt::UserRole + 40,
        TextRole
    };

    explicit TransferBarDelegate(int maxHeight, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    int m_maxHeight;
};
