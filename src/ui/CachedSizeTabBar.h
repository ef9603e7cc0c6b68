#pragma once

#include <QHash>
#include <QSize>
#include <QString>
#include <QTabBar>

// A tab bar that measures a tab's title once: the bar asks for every tab's
// size each time it lays out, which it does on every insert while shown,
// and measuring (style options, palette, fonts) is most of that cost. The
// sizes hold for the bar's font, style and icon size as they are when
// measured.
class CachedSizeTabBar : public QTabBar
{
    Q_OBJECT

public:
    explicit CachedSizeTabBar(QWidget* parent = nullptr);

protected:
    QSize tabSizeHint(int index) const override;
    void changeEvent(QEvent* event) override;

private:
    // By title and whether the tab has an icon.
    mutable QHash<QPair<QString, bool>, QSize> m_sizes;
};
