#pragma once

#include <QStringList>

class QLineEdit;
class QWidget;

// Whether what a window or page shows fits in it as laid out: every label, button
// and box text whole in its control, and no two controls on top of each
// other. Each finding names the control and the sizes, for the failure
// message; nothing found is an empty list.
class TextFit
{
public:
    // Labels, buttons (check boxes too), and a window's title against the
    // window's width.
    static QStringList Clipped(const QWidget* window);
    // A line edit that should show its text whole rather than scroll it
    // (a time, a port).
    static QStringList ClippedEdit(const QLineEdit* edit);
    // Shown labels, buttons, line edits and lists that overlap.
    static QStringList Overlapping(const QWidget* window);
};
