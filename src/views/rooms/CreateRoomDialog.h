#pragma once

#include <QDialog>

class Ui_CreateRoomDialog;

// Asks for a room's name and whether it is to be private, and asks the
// server to enter it: the same request creates a room that does not exist.
// One at a time, reached through createRoomDialog; closing the window only
// hides it, with what it holds.
class CreateRoomDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CreateRoomDialog(QWidget* parent = nullptr);
    ~CreateRoomDialog() override;

public slots:
    void OnButtonClicked();

private:
    Ui_CreateRoomDialog* ui;
};

// The dialog while one exists that can still be shown, else null.
extern CreateRoomDialog* createRoomDialog;
