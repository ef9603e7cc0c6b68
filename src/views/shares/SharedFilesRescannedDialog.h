#pragma once

#include <QDialog>

#include "ui_SharedFilesRescannedDialog.h"

// The report of one rescan of the shared folders. Each rescan opens one;
// it deletes itself when closed.
class SharedFilesRescannedDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SharedFilesRescannedDialog(QWidget* parent = nullptr);

    // Adds the line as a paragraph of plain text at the end.
    void Append(QString line);

private:
    Ui_SharedFilesRescannedDialog ui;
};
