#pragma once

#include <QHash>
#include <QSize>
#include <QString>
#include <QTabBar>
#include <QVector>

class QToolButton;

// A tab bar whose work grows with the tabs in view, not with all it holds:
// it is laid out on every insert while shown, and repainted after, and a
// burst of strangers' messages can give it thousands of tabs. So it
// measures a tab's title once (style options, palette, fonts are most of a
// layout's cost); the sizes hold for the bar's font, style and icon size as
// they are when measured. And a paint styles only the tabs it draws, where
// QTabBar's own styles every tab (laying out its title text each time)
// before it finds which are in view. While a mouse button is held (a tab
// may be dragging) and in the shapes, directions and base this bar does
// not paint itself, QTabBar paints as ever.
class CachedSizeTabBar : public QTabBar
{
    Q_OBJECT

public:
    explicit CachedSizeTabBar(QWidget* parent = nullptr);

    // All the tabs laid in a row: a shown bar is asked for it on each
    // insert, and it changes only when the tabs are laid out.
    QSize sizeHint() const override;

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void tabLayoutChange() override;

private:
    using Key = QPair<QString, bool>;
    QSize CachedSize(int index, bool minimum) const;
    // QTabBar's own scroll buttons, by the names it gives them, when shown.
    const QToolButton* ScrollButton(const char* name) const;
    QRect ScrollArea(const QToolButton* left, const QToolButton* right) const;
    // The last shown tab whose left edge is short of x, or -1.
    int LastTabStartingBefore(int x) const;

    // By title and whether the tab has an icon.
    mutable QHash<Key, QSize> m_sizes;
    mutable QHash<Key, QSize> m_minimumSizes;
    // By tab index, as last asked.
    struct Slot
    {
        QString text;
        qint64 icon = 0;
        QSize size;
        QSize minimum;
    };
    mutable QVector<Slot> m_slots;
    mutable QSize m_sizeHint;
};
