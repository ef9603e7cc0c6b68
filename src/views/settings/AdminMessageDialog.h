#pragma once

#include <QDialog>

#include "ui_AdminMessageDialog.h"

// One message from the network's administrators, with the local time it
// arrived. Markup in it is shown as formatting, but nothing it names is
// loaded. Deletes itself when closed.
class AdminMessageDialog : public QDialog
{
    Q_OBJECT

public:
    AdminMessageDialog(QString text, QWidget* parent = nullptr);

private:
    Ui_AdminMessageDialog ui;
};
