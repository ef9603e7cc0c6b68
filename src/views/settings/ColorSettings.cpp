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

std::vector<QColor> ColorSettings::StoredColors()
{
    std::vector<QColor> colours;
    for (const Entry& entry : Entries())
        colours.push_back(Stored(entry.key));
    return colours;
}

namespace {

// The background a text role is drawn on.
QPalette::ColorRole BackgroundOf(QPalette::ColorRole text)
{
    switch (text) {
    case QPalette::WindowText:
        return QPalette::Window;
    case QPalette::Text:
        return QPalette::Base;
    case QPalette::ButtonText:
        return QPalette::Button;
    default:
        return QPalette::NoRole;
    }
}

QColor Blend(const QColor& a, const QColor& b)
{
    return QColor((a.red() + b.red()) / 2, (a.green() + b.green()) / 2, (a.blue() + b.blue()) / 2);
}

} // namespace

QPalette ColorSettings::MakePalette(const QPalette& startPalette, const std::vector<QColor>& chosen)
{
    QPalette palette = startPalette;
    const std::vector<Entry>& entries = Entries();
    bool changed = false;
    for (size_t i = 0; i < entries.size() && i < chosen.size(); ++i) {
        const QPalette::ColorRole role = entries[i].role;
        if (role == QPalette::NoRole || !chosen[i].isValid())
            continue;
        changed = changed || chosen[i] != startPalette.color(QPalette::Active, role);
        palette.setBrush(QPalette::Active, role, QBrush(chosen[i], Qt::SolidPattern));
        palette.setBrush(QPalette::Inactive, role, QBrush(chosen[i], Qt::SolidPattern));
    }
    // The style's own disabled look fits its own colours; it is kept as long
    // as the user has chosen none of his own.
    if (!changed)
        return palette;
    // With colours of the user's own, a disabled text is drawn halfway
    // between the text and its background, which reads as greyed on any
    // pair, and disabled backgrounds are those of the enabled controls.
    for (const Entry& entry : entries) {
        const QPalette::ColorRole background = BackgroundOf(entry.role);
        if (background == QPalette::NoRole)
            continue;
        const QColor text = palette.color(QPalette::Active, entry.role);
        const QColor behind = palette.color(QPalette::Active, background);
        palette.setBrush(QPalette::Disabled, background, QBrush(behind, Qt::SolidPattern));
        palette.setBrush(QPalette::Disabled, entry.role, QBrush(Blend(text, behind), Qt::SolidPattern));
    }
    return palette;
}
