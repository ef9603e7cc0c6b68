#pragma once

#include <QString>

#include "ShareBrowser.h"

class QPoint;
class Ui_UploadForm;

// One tab of the Browse page: the own shared folders and files as one other
// user, the target, may see them, taken when the tab opens. Every file or
// folder chosen here is offered to the target as an upload; the rows of
// what was offered carry the upload icon.
class UploadForm : public ShareBrowser
{
    Q_OBJECT

public:
    UploadForm(QString user, QWidget* parent = nullptr);
    ~UploadForm() override;

    // The open upload browser of a user item, or null.
    static UploadForm* Of(ItemPtr user);

    // Shows the share tree; once, right after construction.
    void SetShare(ItemPtr share);
    // Releases the share tree and the tab's items, then goes; called once
    // the tab is removed.
    void Delete();

    // Offers the folder's files and those of every folder below it.
    void UploadFolder(ItemPtr folder);

public slots:
    void OnFolderDoubleClicked(QTreeWidgetItem* item, int column);
    void OnFileDoubleClicked(QTreeWidgetItem* item, int column);
    void OnFolderContextMenuRequested(QPoint point);
    void OnFileContextMenuRequested(QPoint point);
    void OnUploadFolder();
    void OnUploadFile();

private:
    void UploadFiles(const ItemList& files);

    Ui_UploadForm* ui;
};
