#pragma once

class QTabWidget;
class QWidget;

// Focus priorities: a widget that should take the focus when its page is
// shown carries the dynamic property "get_focus" with an integer priority.

// Sets the widget's priority; a widget visible right now takes the focus.
void RegisterWidgetForTabFocus(QWidget* ip_widget, int i_priority);

// Focuses the visible widget of highest priority above the floor inside the
// widget (the widget included) and returns that priority, or the floor when
// there is none. Among equal priorities the first in depth-first order wins.
int FindWidgetFocusProperty(QWidget* ip_widget, int i_floor);

// Activates the widget's window, focuses the widget and makes every
// enclosing tab widget show the page that holds it, innermost first.
void FocusWidgetAndParents(QWidget* ip_widget);

// The nearest enclosing tab widget one of whose pages is the widget or one of
// its ancestors, with that page's index; null (index untouched) when none.
QTabWidget* GetWidgetTabWidget(QWidget* ip_widget, int& index);
