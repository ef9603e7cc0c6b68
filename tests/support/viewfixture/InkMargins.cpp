#include "InkMargins.h"

#include <QHeaderView>
#include <QImage>
#include <QTreeWidget>

Margins InkMargins(QTreeWidget* tree, QTreeWidgetItem* row, int column)
{
    tree->doItemsLayout();
    const QImage image = tree->viewport()->grab().toImage();
    const QRect line = tree->visualItemRect(row);
    const int start = tree->header()->sectionViewportPosition(column);
    const int width = tree->columnWidth(column);
    Margins margins;
    for (int x = start; x < start + width; ++x)
        for (int y = line.top(); y <= line.bottom(); ++y)
            if (qGray(image.pixel(x, y)) < 160) {
                if (margins.left < 0)
                    margins.left = x - start;
                margins.right = start + width - 1 - x;
            }
    return margins;
}
