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

protected:
    // Marks the page's tab for activity or takes the mark away.
    virtual void SetPageMarked(QWidget* page, bool marked);
    // Gives the tab its activity colour or takes it away; one already so is
    // left alone, since setting a tab's colour lays out every tab the bar
    // holds when any has changed since last laid out.
    void ColourTab(int index, bool marked);
};
