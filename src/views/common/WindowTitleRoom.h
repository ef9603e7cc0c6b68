#pragma once

class QWidget;

// Small dialogs are as wide as their controls need, which at a larger font
// or with a long title is less than the title bar needs: "Chan... Port".
class WindowTitleRoom
{
public:
    // The width at which the window's title shows whole beside the title
    // bar's icon and buttons, measured with the window's own font (the
    // window manager's is out of reach, and follows the desktop's size).
    static int Width(const QWidget* window);
    // Keeps the window at least that wide; call once the title is set.
    static void Keep(QWidget* window);
};
