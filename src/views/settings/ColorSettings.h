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
    // The application palette for the chosen colours, one per entry in the
    // order of Entries(); an invalid colour leaves its role as at start.
    // Only the active and inactive groups take a chosen colour: disabled
    // controls keep the start palette's look, or a muted text where the
    // chosen colours would make that look unreadable.
    static QPalette MakePalette(const QPalette& startPalette, const std::vector<QColor>& chosen);
    // The stored colours, for MakePalette.
    static std::vector<QColor> StoredColors();
};
