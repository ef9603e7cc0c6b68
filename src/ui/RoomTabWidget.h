#pragma once

#include "TabWidget.h"

#include <QSize>

class QToolButton;

// The tab widget of the private-chats page, where a burst of strangers'
// messages makes a tab each: thousands of tabs must cost each no more than
// the first. So its tabs carry no close button of their own (a tab bar
// lays out every tab whenever it is given one); a tab closes by a middle
// click or the corner button, which closes the current one, both asking
// by tabCloseRequested. Its tab bar measures each title once. And a tab is
// coloured for activity at once only while its tab bar is shown; hidden,
// the mark is kept with the page and coloured when the bar shows. Its size
// hints, which QTabWidget finds by asking every page on each insert, are
// kept while a new page asks no more room than those before it; a page's
// own hints are taken as they are when it comes.
class RoomTabWidget : public TabWidget
{
    Q_OBJECT

public:
    explicit RoomTabWidget(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void SetPageMarked(QWidget* page, bool marked) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void tabInserted(int index) override;
    void tabRemoved(int index) override;
    void changeEvent(QEvent* event) override;

private:
    // A hint of the whole, with what goes into it besides the pages.
    struct Hint
    {
        QSize value;
        QSize bar;
        QSize corner;
        int position = -1;
        bool barShown = false;
        // The most room any page asks.
        QSize pages;
    };

    void CloseCurrentTab();
    QSize CachedHint(Hint& hint, bool minimum) const;

    QToolButton* m_close;
    mutable Hint m_hint;
    mutable Hint m_minimumHint;
};
