#include "ColorSettings.h"

#include "Settings.h"

const std::vector<ColorSettings::Entry>& ColorSettings::Entries()
{
    static const std::vector<Entry> entries = {
        {"color_window_background", QPalette::Window, 0},
        {"color_window_text", QPalette::WindowText, 0},
        {"color_input_background", QPalette::Base, 0},
        {"color_input_text", QPalette::Text, 0},
        {"color_button_background", QPalette::Button, 0},
        {"color_button_text", QPalette::ButtonText, 0},
        {"color_transfer_queued", QPalette::NoRole, qRgb(51, 102, 255)},
        {"color_transfer_complete", QPalette::NoRole, qRgb(0, 100, 0)},
        {"color_transfer_in_progress", QPalette::NoRole, qRgb(0, 0, 255)},
        {"color_transfer_failed", QPalette::NoRole, qRgb(255, 10, 71)},
        {"color_transfer_other", QPalette::NoRole, qRgb(0, 0, 0)},
        {"color_chat_username", QPalette::NoRole, qRgb(0, 51, 255)},
        {"color_chat_timestamp", QPalette::NoRole, qRgb(0, 102, 255)},
        {"color_chat_status", QPalette::NoRole, qRgb(51, 153, 51)},
    };
    return entries;
}

QColor ColorSettings::Default(const Entry& entry, const QPalette& startPalette)
{
    return entry.role == QPalette::NoRole ? QColor(entry.fixed) : startPalette.color(entry.role);
}

QColor ColorSettings::Stored(const char* key)
{
    QColor colour;
    colour.setNamedColor(GetSetting(key));
    return colour;
}
