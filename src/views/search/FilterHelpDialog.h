#pragma once

#include <QDialog>

class Ui_FilterHelpDialog;

// Explains the language of the filter boxes (results pages, share browser,
// upload browser). At most one is open, reached through filterHelpDialog;
// it goes when closed, or with the view that opened it.
class FilterHelpDialog : public QDialog
{
    Q_OBJECT

public:
    explicit FilterHelpDialog(QWidget* parent = nullptr);
    ~FilterHelpDialog() override;

    // What every "Filter Help" button does: shows the open dialog, or a new
    // one belonging to the view. Never blocks; the filter box stays usable.
    static FilterHelpDialog* Open(QWidget* view);

private:
    Ui_FilterHelpDialog* ui;
};

extern FilterHelpDialog* filterHelpDialog;
