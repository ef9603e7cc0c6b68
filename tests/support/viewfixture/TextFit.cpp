#include "TextFit.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QWidget>

namespace {

QString Describe(const QWidget* widget, const QString& what, int needed, int given)
{
    return QString("%1 \"%2\": needs %3, has %4").arg(widget->objectName(), what).arg(needed).arg(given);
}

bool IsControl(const QWidget* widget)
{
    return qobject_cast<const QLabel*>(widget) || qobject_cast<const QAbstractButton*>(widget) ||
           qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractScrollArea*>(widget);
}

// The controls as the user sees them: shown, and not parts of another
// control (a list's scroll bars, a combo box's edit).
QList<const QWidget*> Controls(const QWidget* window)
{
    QList<const QWidget*> found;
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        if (!IsControl(widget) || !widget->isVisibleTo(window) || widget->window() != window->window())
            continue;
        bool inner = false;
        for (const QWidget* up = widget->parentWidget(); up && up != window; up = up->parentWidget())
            inner = inner || IsControl(up);
        if (!inner)
            found << widget;
    }
    return found;
}

} // namespace

QStringList TextFit::Clipped(const QWidget* window)
{
    QStringList clipped;
    // A title bar holds an icon and three buttons beside the title, each
    // at least about a line of text high.
    const QFontMetrics metrics = window->fontMetrics();
    const int titleBar = metrics.horizontalAdvance(window->windowTitle()) + 4 * metrics.height();
    if (window->isWindow() && window->width() < titleBar)
        clipped << Describe(window, window->windowTitle(), titleBar, window->width());
    for (const QWidget* widget : Controls(window)) {
        if (auto* label = qobject_cast<const QLabel*>(widget)) {
            if (label->text().isEmpty())
                continue;
            // A wrapping label may take more lines, never a wider one.
            const QSize needed = label->wordWrap() ? label->minimumSizeHint() : label->sizeHint();
            const QSize given = label->size();
            if (needed.width() > given.width())
                clipped << Describe(label, label->text(), needed.width(), given.width());
            if (label->heightForWidth(given.width()) > given.height() || needed.height() > given.height())
                clipped << Describe(label, label->text() + " (height)",
                                    qMax(needed.height(), label->heightForWidth(given.width())), given.height());
        } else if (auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            if (button->text().isEmpty())
                continue;
            const QSize needed = button->sizeHint();
            if (needed.width() > button->width())
                clipped << Describe(button, button->text(), needed.width(), button->width());
            if (needed.height() > button->height())
                clipped << Describe(button, button->text() + " (height)", needed.height(), button->height());
        }
    }
    return clipped;
}

QStringList TextFit::ClippedEdit(const QLineEdit* edit)
{
    const int frame = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit);
    // The toolkit keeps two pixels beside the text on each side.
    const int needed = edit->fontMetrics().horizontalAdvance(edit->displayText()) + 2 * frame + 2 * 2;
    if (needed > edit->width())
        return {Describe(edit, edit->text(), needed, edit->width())};
    return {};
}

QStringList TextFit::Overlapping(const QWidget* window)
{
    QStringList overlapping;
    const QList<const QWidget*> controls = Controls(window);
    for (int i = 0; i < controls.size(); ++i) {
        const QRect a(controls[i]->mapTo(window, QPoint(0, 0)), controls[i]->size());
        for (int j = i + 1; j < controls.size(); ++j) {
            const QRect b(controls[j]->mapTo(window, QPoint(0, 0)), controls[j]->size());
            if (a.intersects(b))
                overlapping << QString("%1 and %2").arg(controls[i]->objectName(), controls[j]->objectName());
        }
    }
    return overlapping;
}
