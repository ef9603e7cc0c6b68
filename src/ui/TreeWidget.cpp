#include "TreeWidget.h"

TreeWidget::TreeWidget(QWidget* parent) : QTreeWidget(parent) {}

void TreeWidget::keyPressEvent(QKeyEvent* ip_event)
{
    emit KeyPressed(ip_event);
    QTreeWidget::keyPressEvent(ip_event);
}
