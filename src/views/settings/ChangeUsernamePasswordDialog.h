#pragma once

#include <QDialog>

#include "ui_ChangeUsernamePasswordDialog.h"

// Edits the two login settings. It only stores them: the next login uses
// them, so the server connection is neither told nor restarted.
class ChangeUsernamePasswordDialog : public QDialog
{
    Q_OBJECT

public:
    // firstRun: shown modally at the first start and owned by the caller;
    // otherwise opened from the toolbar, and gone after a successful OK.
    ChangeUsernamePasswordDialog(bool firstRun, QWidget* parent = nullptr);

public slots:
    void accept() override;
    void reject() override;

private:
    Ui_ChangeUsernamePasswordDialog ui;
    bool m_firstRun;
};
