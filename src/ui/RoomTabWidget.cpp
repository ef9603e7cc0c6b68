#include "RoomTabWidget.h"

#include "CachedSizeTabBar.h"

#include <QEvent>
#include <QMouseEvent>
#include <QSize>
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

namespace {

bool Fits(QSize size, QSize room)
{
    return size.width() <= room.width() && size.height() <= room.height();
}

} // namespace

void RoomTabWidget::tabInserted(int index)
{
    TabWidget::tabInserted(index);
    m_close->setEnabled(true);
    const QWidget* page = widget(index);
    if (!Fits(page->sizeHint(), m_hint.pages))
        m_hint = Hint();
    if (!Fits(page->minimumSizeHint().expandedTo(page->minimumSize()), m_minimumHint.pages))
        m_minimumHint = Hint();
}

void RoomTabWidget::tabRemoved(int index)
{
    TabWidget::tabRemoved(index);
    m_close->setEnabled(count() > 0);
    m_hint = Hint();
    m_minimumHint = Hint();
}

void RoomTabWidget::changeEvent(QEvent* event)
{
    m_hint = Hint();
    m_minimumHint = Hint();
    TabWidget::changeEvent(event);
}

QSize RoomTabWidget::sizeHint() const
{
    return CachedHint(m_hint, false);
}

QSize RoomTabWidget::minimumSizeHint() const
{
    return CachedHint(m_minimumHint, true);
}

QSize RoomTabWidget::CachedHint(Hint& hint, bool minimum) const
{
    // Besides the pages: the tab bar as QTabWidget takes it (bounded when
    // it scrolls) and the corner button.
    QSize bar = minimum ? tabBar()->minimumSizeHint() : tabBar()->sizeHint();
    if (!minimum && usesScrollButtons())
        bar = bar.boundedTo(QSize(200, 200));
    const QSize corner = minimum ? m_close->minimumSizeHint() : m_close->sizeHint();
    const int position = tabPosition();
    const bool barShown = !tabBar()->isHidden();
    if (hint.value.isValid() && hint.bar == bar && hint.corner == corner && hint.position == position &&
        hint.barShown == barShown)
        return hint.value;
    hint.value = minimum ? TabWidget::minimumSizeHint() : TabWidget::sizeHint();
    hint.bar = bar;
    hint.corner = corner;
    hint.position = position;
    hint.barShown = barShown;
    hint.pages = QSize(0, 0);
    for (int i = 0; i < count(); ++i) {
        const QWidget* page = widget(i);
        hint.pages =
            hint.pages.expandedTo(minimum ? page->minimumSizeHint().expandedTo(page->minimumSize()) : page->sizeHint());
    }
    return hint.value;
}

void RoomTabWidget::CloseCurrentTab()
{
    if (currentIndex() >= 0)
        emit tabCloseRequested(currentIndex());
}
