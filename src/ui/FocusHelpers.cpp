#include "FocusHelpers.h"

#include <QList>
#include <QTabWidget>
#include <QVariant>
#include <QWidget>

namespace {

const char* const kFocusProperty = "get_focus";

// The page of the tab widget among the widgets walked so far, or -1.
int FindPageIndex(QTabWidget* ip_tabWidget, const QList<QWidget*>& i_chain)
{
    for (QWidget* widget : i_chain) {
        const int index = ip_tabWidget->indexOf(widget);
        if (index != -1)
            return index;
    }
    return -1;
}

} // namespace

void RegisterWidgetForTabFocus(QWidget* ip_widget, int i_priority)
{
    ip_widget->setProperty(kFocusProperty, i_priority);
    if (ip_widget->isVisible())
        ip_widget->setFocus(Qt::OtherFocusReason);
}

int FindWidgetFocusProperty(QWidget* ip_widget, int i_floor)
{
    if (!ip_widget->isVisible())
        return i_floor;

    int best = i_floor;
    const QVariant priority = ip_widget->property(kFocusProperty);
    if (priority.isValid() && priority.toInt() > best) {
        ip_widget->setFocus(Qt::OtherFocusReason);
        best = priority.toInt();
    }
    // A copy, since focus handlers run from setFocus may add or remove
    // children while we walk.
    const QObjectList children = ip_widget->children();
    for (QObject* child : children) {
        if (QWidget* childWidget = qobject_cast<QWidget*>(child))
            best = qMax(best, FindWidgetFocusProperty(childWidget, best));
    }
    return best;
}

void FocusWidgetAndParents(QWidget* ip_widget)
{
    ip_widget->window()->activateWindow();
    ip_widget->setFocus(Qt::OtherFocusReason);

    QList<QWidget*> chain;
    chain << ip_widget;
    for (QWidget* parent = ip_widget->parentWidget(); parent; parent = parent->parentWidget()) {
        if (QTabWidget* tabWidget = qobject_cast<QTabWidget*>(parent)) {
            const int index = FindPageIndex(tabWidget, chain);
            if (index != -1)
                tabWidget->setCurrentIndex(index);
        }
        chain << parent;
    }
}

QTabWidget* GetWidgetTabWidget(QWidget* ip_widget, int& index)
{
    QList<QWidget*> chain;
    chain << ip_widget;
    for (QWidget* parent = ip_widget->parentWidget(); parent; parent = parent->parentWidget()) {
        if (QTabWidget* tabWidget = qobject_cast<QTabWidget*>(parent)) {
            const int found = FindPageIndex(tabWidget, chain);
            if (found != -1) {
                index = found;
                return tabWidget;
            }
        }
        chain << parent;
    }
    return nullptr;
}
