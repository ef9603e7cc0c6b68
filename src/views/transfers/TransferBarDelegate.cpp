#include "TransferBarDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

TransferBarDelegate::TransferBarDelegate(int maxHeight, QObject* parent)
    : QStyledItemDelegate(parent), m_maxHeight(maxHeight)
{
}

void TransferBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    const QVariant value = index.data(ValueRole);
    if (!value.isValid())
        return;
    // As a bar widget of that height would sit in the cell: at its top.
    QStyleOptionProgressBar bar;
    if (option.widget)
        bar.initFrom(option.widget);
    bar.rect = option.rect;
    bar.rect.setHeight(qMin(option.rect.height(), m_maxHeight));
    bar.state |= QStyle::State_Horizontal;
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = value.toInt();
    bar.text = index.data(TextRole).toString();
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignLeft;
    QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
}
