#include "WindowTitleRoom.h"

#include <QFontMetrics>
#include <QWidget>

namespace {

// The window icon and three buttons, each about a line high, and the
// space around them.
const int kTitleBarLines = 6;

} // namespace

int WindowTitleRoom::Width(const QWidget* window)
{
    const QFontMetrics metrics = window->fontMetrics();
    return metrics.horizontalAdvance(window->windowTitle()) + kTitleBarLines * metrics.height();
}

void WindowTitleRoom::Keep(QWidget* window)
{
    window->setMinimumWidth(qMax(window->minimumSizeHint().width(), Width(window)));
}
