#pragma once

#include <QDialog>

#include "DataHandler.h"
#include "ItemPtr.h"

class QPoint;
class Ui_ExcludedExtensionsDialog;

// "Excluded Download Extensions": the file-name endings that folder
// downloads skip, one "excluded_download_extension" item each (the engine
// saves them). The dialog adds and removes items; the list follows the
// store, so endings added or removed elsewhere while it is open show too.
// One dialog at most, found through excludedExtensionsDialog while open; it
// deletes itself when closed.
class ExcludedExtensionsDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit ExcludedExtensionsDialog(QWidget* parent = nullptr);
    ~ExcludedExtensionsDialog() override;

    // Shows the open dialog, or a new one with that parent, and gives it
    // the focus.
    static ExcludedExtensionsDialog* Open(QWidget* parent);

public slots:
    void OnNewExtensionButtonClicked();
    void OnExtensionListContextMenuRequested(QPoint i_point);
    void OnRemoveExcludedExtension();

private:
    void OnExtensionAdded(ItemPtr ip_extension);
    void OnExtensionRemoved(ItemPtr ip_extension);

    Ui_ExcludedExtensionsDialog* ui;
};

extern ExcludedExtensionsDialog* excludedExtensionsDialog;
