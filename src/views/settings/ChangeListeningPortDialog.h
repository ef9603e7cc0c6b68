#pragma once

#include <QDialog>

#include "ui_ChangeListeningPortDialog.h"

// Chooses the port to listen on from the next start: it stores the port as
// pending ("new_listening_port"), which peer messaging takes over when the
// client starts again. A refused port keeps the dialog open; it deletes
// itself once it is closed, by OK or by Cancel.
class ChangeListeningPortDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangeListeningPortDialog(QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    Ui_ChangeListeningPortDialog ui;
};
