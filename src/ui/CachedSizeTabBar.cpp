#include "CachedSizeTabBar.h"

#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QPaintEvent>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <QToolButton>
#include <algorithm>
#include <limits>

CachedSizeTabBar::CachedSizeTabBar(QWidget* parent) : QTabBar(parent) {}

QSize CachedSizeTabBar::tabSizeHint(int index) const
{
    return CachedSize(index, false);
}

QSize CachedSizeTabBar::minimumTabSizeHint(int index) const
{
    return CachedSize(index, true);
}

QSize CachedSizeTabBar::CachedSize(int index, bool minimum) const
{
    // A layout asks for every tab in turn: the tab's slot answers while it
    // holds the very title (the same shared text, which the slot keeps from
    // being freed and so from being reused) and icon.
    const QString text = tabText(index);
    const qint64 icon = tabIcon(index).cacheKey();
    if (m_slots.size() != count())
        m_slots.resize(count());
    Slot& slot = m_slots[index];
    if (!slot.text.isSharedWith(text) || slot.icon != icon)
        slot = Slot{text, icon, QSize(), QSize()};
    QSize& size = minimum ? slot.minimum : slot.size;
    if (size.isValid())
        return size;
    QHash<Key, QSize>& sizes = minimum ? m_minimumSizes : m_sizes;
    const Key key(text, !tabIcon(index).isNull());
    const auto found = sizes.constFind(key);
    if (found != sizes.constEnd())
        return size = *found;
    // Titles of tabs long closed go now and then.
    if (sizes.size() > 2 * count() + 64)
        sizes.clear();
    size = minimum ? QTabBar::minimumTabSizeHint(index) : QTabBar::tabSizeHint(index);
    sizes.insert(key, size);
    return size;
}

void CachedSizeTabBar::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        m_sizes.clear();
        m_minimumSizes.clear();
        m_slots.clear();
    }
    QTabBar::changeEvent(event);
}

const QToolButton* CachedSizeTabBar::ScrollButton(const char* name) const
{
    const auto* button = findChild<QToolButton*>(name, Qt::FindDirectChildrenOnly);
    return button && button->isVisible() ? button : nullptr;
}

QRect CachedSizeTabBar::ScrollArea(const QToolButton* left, const QToolButton* right) const
{
    // Between the scroll buttons, short of the right tear mark (as QTabBar
    // reckons it, none on the left), where a tab is whole.
    QRect free = rect();
    for (const QToolButton* button : {left, right}) {
        if (!button)
            continue;
        if (button->geometry().center().x() < width() / 2)
            free.setLeft(std::max(free.left(), button->geometry().right() + 1));
        else
            free.setRight(std::min(free.right(), button->geometry().left()));
    }
    QStyleOptionTab option;
    initStyleOption(&option, currentIndex());
    option.rect = rect();
    const QRect tear = style()->subElementRect(QStyle::SE_TabBarTearIndicatorRight, &option, this);
    free.setRight(std::min(free.right(), tear.left()));
    return free;
}

void CachedSizeTabBar::paintEvent(QPaintEvent* event)
{
    const bool north = shape() == RoundedNorth || shape() == TriangularNorth;
    if (!north || layoutDirection() != Qt::LeftToRight || QGuiApplication::mouseButtons() != Qt::NoButton) {
        QTabBar::paintEvent(event);
        return;
    }
    // As QTabBar paints: the base line under the tabs, every tab not wholly
    // out of the bar, the current one last, on top; then a tear where tabs
    // run on past a scroll button.
    QStylePainter painter(this);
    const int current = currentIndex();
    // Tabs run left to right, so those in view are found by halving.
    const int last = LastTabStartingBefore(std::numeric_limits<int>::max());
    if (drawBase()) {
        QStyleOptionTab overlapping;
        overlapping.shape = shape();
        const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, &overlapping, this);
        QStyleOptionTabBarBase base;
        base.initFrom(this);
        base.shape = shape();
        base.documentMode = documentMode();
        if (parentWidget() && overlap > 0)
            base.rect.setRect(0, height() - overlap, width(), overlap);
        // All tabs share one height: the first and the last span them all.
        int first = 0;
        while (first < last && !isTabVisible(first))
            ++first;
        if (last >= 0)
            base.tabBarRect = tabRect(first) | tabRect(last);
        base.selectedTabRect = tabRect(current);
        painter.drawPrimitive(QStyle::PE_FrameTabBarBase, base);
    }
    auto draw = [&](int index) {
        QStyleOptionTab option;
        initStyleOption(&option, index);
        if (!(option.state & QStyle::State_Enabled))
            option.palette.setCurrentColorGroup(QPalette::Disabled);
        painter.drawControl(QStyle::CE_TabBarTab, option);
    };
    for (int i = std::max(LastTabStartingBefore(0), 0); i >= 0 && i <= LastTabStartingBefore(width() + 1); ++i) {
        const QRect tab = tabRect(i);
        if (i != current && isTabVisible(i) && tab.right() >= 0 && tab.left() <= width())
            draw(i);
    }
    if (current >= 0)
        draw(current);
    // The last tab cut by the left edge, and the last tab if it runs on past
    // the right one.
    const QToolButton* left = ScrollButton("ScrollLeftButton");
    const QToolButton* right = ScrollButton("ScrollRightButton");
    if (!left && !right)
        return;
    const QRect free = ScrollArea(left, right);
    const int cutLeft = LastTabStartingBefore(free.left());
    const bool cutRight = last >= 0 && tabRect(last).left() >= free.left() && tabRect(last).right() > free.right();
    const auto tear = [&](int index, const QToolButton* button, QStyle::SubElement where,
                          QStyle::PrimitiveElement what) {
        if (index < 0 || !button)
            return;
        QStyleOptionTab option;
        initStyleOption(&option, index);
        option.rect = rect();
        option.rect = style()->subElementRect(where, &option, this);
        painter.drawPrimitive(what, option);
    };
    tear(cutLeft, left, QStyle::SE_TabBarTearIndicatorLeft, QStyle::PE_IndicatorTabTearLeft);
    tear(cutRight ? last : -1, right, QStyle::SE_TabBarTearIndicatorRight, QStyle::PE_IndicatorTabTearRight);
}

int CachedSizeTabBar::LastTabStartingBefore(int x) const
{
    // A hidden tab has no place: the search steps on to the next shown one.
    int found = -1;
    int low = 0;
    int high = count() - 1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        int shown = mid;
        while (shown <= high && !isTabVisible(shown))
            ++shown;
        if (shown <= high && tabRect(shown).left() < x) {
            found = shown;
            low = shown + 1;
        } else {
            high = mid - 1;
        }
    }
    return found;
}

QSize CachedSizeTabBar::sizeHint() const
{
    if (count() == 0)
        return QTabBar::sizeHint();
    // Lays the tabs out if any changed since; a new layout drops the hint.
    tabRect(0);
    if (!m_sizeHint.isValid())
        m_sizeHint = QTabBar::sizeHint();
    return m_sizeHint;
}

void CachedSizeTabBar::tabLayoutChange()
{
    m_sizeHint = QSize();
    QTabBar::tabLayoutChange();
}
