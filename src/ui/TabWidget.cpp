#include "TabWidget.h"

#include "FocusHelpers.h"

#include <QColor>
#include <QStackedWidget>
#include <QTabBar>

TabWidget::TabWidget(QWidget* parent) : QTabWidget(parent)
{
    connect(this, &QTabWidget::currentChanged, this, &TabWidget::OnTabChanged);
}

void TabWidget::MarkTabActivity(QWidget* ip_widget)
{
    // A tab widget's pages sit in its stack: the page is the widget walked
    // through just before the stack, found so rather than by its index,
    // which looks at every page before it.
    QWidget* page = nullptr;
    QWidget* child = ip_widget;
    for (QWidget* parent = ip_widget->parentWidget(); parent; parent = parent->parentWidget()) {
        TabWidget* tabWidget = qobject_cast<TabWidget*>(parent);
        if (tabWidget && page && qobject_cast<QStackedWidget*>(child) && page != tabWidget->currentWidget())
            tabWidget->SetPageMarked(page, true);
        page = child;
        child = parent;
    }
}

void TabWidget::OnTabChanged(int i_tab)
{
    QWidget* page = widget(i_tab);
    if (!page)
        return;
    FindWidgetFocusProperty(page, 0);
    SetPageMarked(page, false);
}

void TabWidget::SetPageMarked(QWidget* page, bool marked)
{
    ColourTab(indexOf(page), marked);
}

void TabWidget::ColourTab(int index, bool marked)
{
    if (index == -1)
        return;
    // An invalid colour gives the tab back the tab bar's own text colour.
    const QColor colour = marked ? QColor(Qt::blue) : QColor();
    if (tabBar()->tabTextColor(index) != colour)
        tabBar()->setTabTextColor(index, colour);
}
