#pragma once

#include <QColor>
#include <QPalette>
#include <vector>

// The fourteen colour settings, in the order in which they are stored: six
// that make up the application palette, then five transfer states and
// three kinds of chat text. Each holds a colour name ("#3366ff").
class ColorSettings
{
public:
    struct Entry
    {
        const char* key;
        // The palette role it sets, or NoRole for the fixed colours.
        QPalette::ColorRole role;
        // The default of a fixed colour.
        QRgb fixed;
    };

    static const std::vector<Entry>& Entries();
    // The first six are the palette's own colours at start.
    static QColor Default(const Entry& entry, const QPalette& startPalette);
    // The stored colour; invalid when the text names none.
    static QColor Stored(const char* key);
};
