#pragma once

#include <QString>
#include <QWidget>
#include <memory>

#include "DataHandler.h"
#include "ItemPtr.h"

class QLineEdit;
class QPoint;
class QTreeWidget;
class QTreeWidgetItem;
class ShareFolderTree;
class Ui_UploadForm;

// One tab of the Browse page: the own shared folders and files as one other
// user, the target, may see them, taken when the tab opens. Every file or
// folder chosen here is offered to the target as an upload; the rows of
// what was offered carry the upload icon.
class UploadForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    UploadForm(QString user, QWidget* parent = nullptr);
    ~UploadForm() override;

    // The open upload browser of a user item, or null.
    static UploadForm* Of(ItemPtr user);

    // Shows the share tree; once, right after construction.
    void SetShare(ItemPtr share);
    // Removes the share tree and the tab's items, then goes; called once the
    // tab is removed.
    void Delete();

    // Offers the folder's files and those of every folder below it.
    void UploadFolder(ItemPtr folder);
    void ExpandLevel();
    void ExpandAll();
    void CollapseAll();

    QString User() const { return m_user; }
    ItemPtr Share() const { return m_share; }
    ShareFolderTree& Tree() const { return *m_tree; }
    QTreeWidget* folderTree() const;
    QTreeWidget* fileList() const;
    QLineEdit* filterEdit() const;

public slots:
    void OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void OnFilterTextChanged(QString text);
    void OnFilterHelpClicked();
    void OnActionBarTriggered(QWidget* widget, QString action);
    void OnFolderDoubleClicked(QTreeWidgetItem* item, int column);
    void OnFileDoubleClicked(QTreeWidgetItem* item, int column);
    void OnFolderContextMenuRequested(QPoint point);
    void OnFileContextMenuRequested(QPoint point);
    void OnUploadFolder();
    void OnUploadFile();

private:
    void UploadFiles(const QList<QTreeWidgetItem*>& rows);

    Ui_UploadForm* ui;
    std::unique_ptr<ShareFolderTree> m_tree;
    QString m_user;
    ItemPtr m_share;
};
