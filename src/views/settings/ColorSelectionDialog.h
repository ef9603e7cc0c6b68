#pragma once

#include <QColor>
#include <QDialog>
#include <vector>

#include "ui_ColorSelectionDialog.h"

class QLineEdit;

// Chooses the fourteen colours of the client in swatches. Nothing is stored
// or applied until "Save Colors", which applies the window colours at once,
// stores all fourteen, repaints the transfer rows and closes the dialog;
// closing it otherwise drops the changes. Several may be open at once, each
// deleting itself when closed.
class ColorSelectionDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ColorSelectionDialog(QWidget* parent = nullptr);

public slots:
    void OnChangeWindowBackground() { ChangeSwatch(ui.windowBackgroundColor); }
    void OnChangeWindowText() { ChangeSwatch(ui.windowTextColor); }
    void OnChangeInputBackground() { ChangeSwatch(ui.inputBackgroundColor); }
    void OnChangeInputText() { ChangeSwatch(ui.inputTextColor); }
    void OnChangeButtonBackground() { ChangeSwatch(ui.buttonBackgroundColor); }
    void OnChangeButtonText() { ChangeSwatch(ui.buttonTextColor); }
    void OnChangeChatUsername() { ChangeSwatch(ui.chatUsernameColor); }
    void OnChangeChatTimestamp() { ChangeSwatch(ui.chatTimestampColor); }
    void OnChangeChatStatus() { ChangeSwatch(ui.chatStatusColor); }
    void OnChangeTransferQueued() { ChangeSwatch(ui.transferQueuedColor); }
    void OnChangeTransferInProgress() { ChangeSwatch(ui.transferInProgressColor); }
    void OnChangeTransferComplete() { ChangeSwatch(ui.transferCompleteColor); }
    void OnChangeTransferFailed() { ChangeSwatch(ui.transferFailedColor); }
    void OnChangeTransferOther() { ChangeSwatch(ui.transferOtherColor); }
    void OnResetToDefaults();
    void OnSaveColors();

    // The colour a swatch stands for.
    static QColor SwatchColor(const QLineEdit* swatch);

private:
    static void SetSwatch(QLineEdit* swatch, const QColor& colour);
    void ChangeSwatch(QLineEdit* swatch);

    Ui_ColorSelectionDialog ui;
    // One per colour setting, in the settings' order.
    std::vector<QLineEdit*> m_swatches;
};
