#include "RoomTabWidget.h"

#include "CachedSizeTabBar.h"

#include <QEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QTabBar>
#include <QToolButton>

RoomTabWidget::RoomTabWidget(QWidget* parent) : TabWidget(parent), m_close(new QToolButton(this))
{
    setTabBar(new CachedSizeTabBar(this));
    m_close->setObjectName("closeTabButton");
    m_close->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_close->setToolTip("Close");
    m_close->setAutoRaise(true);
    m_close->setEnabled(false);
    connect(m_close, &QToolButton::clicked, this, &RoomTabWidget::CloseCurrentTab);
    setCornerWidget(m_close, Qt::TopRightCorner);
    tabBar()->installEventFilter(this);
}

namespace {

// Set on a page while its tab is marked, coloured yet or not.
const char* const kMarked = "tab_marked";

} // namespace

void RoomTabWidget::SetPageMarked(QWidget* page, bool marked)
{
    if (page->property(kMarked).toBool() == marked)
        return;
    page->setProperty(kMarked, marked);
    if (!marked || tabBar()->isVisible())
        TabWidget::SetPageMarked(page, marked);
}

bool RoomTabWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != tabBar())
        return TabWidget::eventFilter(watched, event);
    if (event->type() == QEvent::Show) {
        // The first colour lays the bar out once; the rest find it so.
        for (int i = 0; i < count(); ++i) {
            if (widget(i)->property(kMarked).toBool())
                ColourTab(i, true);
        }
    } else if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const int index = tabBar()->tabAt(mouse->pos());
        if (mouse->button() == Qt::MiddleButton && index >= 0) {
            emit tabCloseRequested(index);
            return true;
        }
    }
    return TabWidget::eventFilter(watched, event);
}

void RoomTabWidget::tabInserted(int index)
{
    TabWidget::tabInserted(index);
    m_close->setEnabled(true);
}

void RoomTabWidget::tabRemoved(int index)
{
    TabWidget::tabRemoved(index);
    m_close->setEnabled(count() > 0);
}

void RoomTabWidget::CloseCurrentTab()
{
    if (currentIndex() >= 0)
        emit tabCloseRequested(currentIndex());
}
