#include "TabWidget.h"

#include "FocusHelpers.h"

#include <QColor>
#include <QList>
#include <QTabBar>

TabWidget::TabWidget(QWidget* parent) : QTabWidget(parent)
{
    connect(this, &QTabWidget::currentChanged, this, &TabWidget::OnTabChanged);
}

void TabWidget::MarkTabActivity(QWidget* ip_widget)
{
    QList<QWidget*> chain;
    chain << ip_widget;
    for (QWidget* parent = ip_widget->parentWidget(); parent; parent = parent->parentWidget()) {
        if (TabWidget* tabWidget = qobject_cast<TabWidget*>(parent)) {
            for (QWidget* widget : chain) {
                const int index = tabWidget->indexOf(widget);
                if (index == -1)
                    continue;
                if (index != tabWidget->currentIndex())
                    tabWidget->tabBar()->setTabTextColor(index, Qt::blue);
                break;
            }
        }
        chain << parent;
    }
}

void TabWidget::OnTabChanged(int i_tab)
{
    if (i_tab == -1)
        return;
    if (QWidget* page = widget(i_tab))
        FindWidgetFocusProperty(page, 0);
    // An invalid colour gives the tab back the tab bar's own text colour.
    tabBar()->setTabTextColor(i_tab, QColor());
}
