#pragma once

#include "TabWidget.h"

class QToolButton;

// The tab widget of the private-chats page, where a burst of strangers'
// messages makes a tab each: thousands of tabs must cost each no more than
// the first. So its tabs carry no close button of their own (a tab bar
// lays out every tab whenever it is given one); a tab closes by a middle
// click or the corner button, which closes the current one, both asking
// by tabCloseRequested. Its tab bar measures each title once. And a tab is
// coloured for activity at once only while its tab bar is shown; hidden,
// the mark is kept with the page and coloured when the bar shows.
class RoomTabWidget : public TabWidget
{
    Q_OBJECT

public:
    explicit RoomTabWidget(QWidget* parent = nullptr);

protected:
    void SetPageMarked(QWidget* page, bool marked) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void tabInserted(int index) override;
    void tabRemoved(int index) override;

private:
    void CloseCurrentTab();

    QToolButton* m_close;
};
