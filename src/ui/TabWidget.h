#pragma once

#include <QTabWidget>

// A tab widget that colours the tab of a page with unseen activity and, when
// a page is shown, clears the colour and focuses the page's widget of
// highest focus priority.
class TabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit TabWidget(QWidget* parent = nullptr);

    // Marks, in every enclosing TabWidget, the tab of the page holding the
    // widget, unless that page is the current one.
    static void MarkTabActivity(QWidget* ip_widget);

public slots:
    void OnTabChanged(int i_tab);
};
