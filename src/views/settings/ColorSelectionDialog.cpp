#include "ColorSelectionDialog.h"

#include <QApplication>

#include "ColorSettings.h"
#include "Settings.h"
#include "ShellHooks.h"
#include "StandardDialogs.h"

ColorSelectionDialog::ColorSelectionDialog(QWidget* parent) : QDialog(parent)
{
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    m_swatches = {ui.windowBackgroundColor,   ui.windowTextColor,     ui.inputBackgroundColor, ui.inputTextColor,
                  ui.buttonBackgroundColor,   ui.buttonTextColor,     ui.transferQueuedColor,  ui.transferCompleteColor,
                  ui.transferInProgressColor, ui.transferFailedColor, ui.transferOtherColor,   ui.chatUsernameColor,
                  ui.chatTimestampColor,      ui.chatStatusColor};

    const struct
    {
        QPushButton* button;
        void (ColorSelectionDialog::*slot)();
    } buttons[] = {{ui.windowBackgroundButton, &ColorSelectionDialog::OnChangeWindowBackground},
                   {ui.windowTextButton, &ColorSelectionDialog::OnChangeWindowText},
                   {ui.inputBackgroundButton, &ColorSelectionDialog::OnChangeInputBackground},
                   {ui.inputTextButton, &ColorSelectionDialog::OnChangeInputText},
                   {ui.buttonBackgroundButton, &ColorSelectionDialog::OnChangeButtonBackground},
                   {ui.buttonTextButton, &ColorSelectionDialog::OnChangeButtonText},
                   {ui.chatUsernameButton, &ColorSelectionDialog::OnChangeChatUsername},
                   {ui.chatTimestampButton, &ColorSelectionDialog::OnChangeChatTimestamp},
                   {ui.chatStatusButton, &ColorSelectionDialog::OnChangeChatStatus},
                   {ui.transferQueuedButton, &ColorSelectionDialog::OnChangeTransferQueued},
                   {ui.transferInProgressButton, &ColorSelectionDialog::OnChangeTransferInProgress},
                   {ui.transferCompleteButton, &ColorSelectionDialog::OnChangeTransferComplete},
                   {ui.transferFailedButton, &ColorSelectionDialog::OnChangeTransferFailed},
                   {ui.transferOtherButton, &ColorSelectionDialog::OnChangeTransferOther},
                   {ui.saveColorsButton, &ColorSelectionDialog::OnSaveColors},
                   {ui.resetToDefaultsButton, &ColorSelectionDialog::OnResetToDefaults}};
    for (const auto& b : buttons)
        connect(b.button, &QPushButton::clicked, this, b.slot);

    // The window colours show the palette in force, the others what is
    // stored.
    const QPalette palette = QApplication::palette();
    const auto& entries = ColorSettings::Entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& entry = entries[i];
        SetSwatch(m_swatches[i],
                  entry.role == QPalette::NoRole ? ColorSettings::Stored(entry.key) : palette.color(entry.role));
    }
}

QColor ColorSelectionDialog::SwatchColor(const QLineEdit* swatch)
{
    return swatch->palette().color(QPalette::Base);
}

void ColorSelectionDialog::SetSwatch(QLineEdit* swatch, const QColor& colour)
{
    QPalette palette = swatch->palette();
    palette.setColor(QPalette::Base, colour);
    swatch->setPalette(palette);
}

void ColorSelectionDialog::ChangeSwatch(QLineEdit* swatch)
{
    const QColor chosen = StandardDialogs::Color(SwatchColor(swatch), this);
    if (chosen.isValid())
        SetSwatch(swatch, chosen);
}

void ColorSelectionDialog::OnResetToDefaults()
{
    const auto& entries = ColorSettings::Entries();
    for (size_t i = 0; i < entries.size(); ++i)
        SetSwatch(m_swatches[i], ColorSettings::Default(entries[i], defaultPalette));
}

void ColorSelectionDialog::OnSaveColors()
{
    const auto& entries = ColorSettings::Entries();
    std::vector<QColor> chosen;
    for (size_t i = 0; i < entries.size(); ++i)
        chosen.push_back(SwatchColor(m_swatches[i]));
    const QPalette palette = ColorSettings::MakePalette(defaultPalette, chosen);
    QApplication::setPalette(palette);
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& entry = entries[i];
        const QColor colour = entry.role == QPalette::NoRole ? SwatchColor(m_swatches[i]) : palette.color(entry.role);
        SetSetting(entry.key, colour.name());
    }
    g_shellHooks.RecolorTransfers();
    accept();
}
