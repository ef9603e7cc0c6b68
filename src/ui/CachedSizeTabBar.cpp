#include "CachedSizeTabBar.h"

#include <QEvent>
#include <QIcon>

CachedSizeTabBar::CachedSizeTabBar(QWidget* parent) : QTabBar(parent) {}

QSize CachedSizeTabBar::tabSizeHint(int index) const
{
    const QPair<QString, bool> key(tabText(index), !tabIcon(index).isNull());
    const auto found = m_sizes.constFind(key);
    if (found != m_sizes.constEnd())
        return *found;
    // Titles of tabs long closed go now and then.
    if (m_sizes.size() > 2 * count() + 64)
        m_sizes.clear();
    const QSize size = QTabBar::tabSizeHint(index);
    m_sizes.insert(key, size);
    return size;
}

void CachedSizeTabBar::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        m_sizes.clear();
    QTabBar::changeEvent(event);
}
