#pragma once

#include <QList>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "DataHandler.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "ShareFolderTree.h"
#include "SlicedJob.h"

class QLineEdit;
class QPoint;
class QTreeWidget;
class QTreeWidgetItem;

// What the share browser and the upload browser of the Browse page have in
// common: the browsed user and the tab item that names the browser for that
// user, a share tree shown by a ShareFolderTree, the filter box with its
// help, and the expand actions of the context toolbar.
class ShareBrowser : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    ~ShareBrowser() override;

    QString User() const { return m_user; }
    ItemPtr Share() const { return m_share; }
    ShareFolderTree& Tree() const { return *m_tree; }
    QTreeWidget* folderTree() const { return m_folderTree; }
    QTreeWidget* fileList() const { return m_fileList; }
    QLineEdit* filterEdit() const { return m_filterEdit; }

    void ExpandLevel();
    void ExpandAll();
    void CollapseAll();

    // Between ShowShare and the tree showing whole.
    bool IsFilling() const { return m_tree && m_tree->IsBuilding(); }
    // At most this many steps (a folder, a file, a row) a slice of any
    // work done a slice per turn, as on the slowest machine.
    virtual void SetSliceSteps(int steps);
    // The tree's building over turns, for tests to count its slices.
    const SlicedJob& ShowJob() const { return m_showJob; }
    // The tree shows whole.
    bool IsShown() const { return m_shown; }

public slots:
    void OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void OnFilterTextChanged(QString text);
    void OnFilterHelpClicked();
    void OnActionBarTriggered(QWidget* widget, QString action);

protected:
    // tabType names the item type ("user_share_tab", "upload_share_tab")
    // whose item, valued by the browser's address, ties it to its user.
    ShareBrowser(QString user, const char* tabType, QWidget* parent);
    // The browser's own address as its tab item holds it, or null.
    static ShareBrowser* Of(ItemPtr user, const char* tabType);

    // Once the form is built: its trees and filter box, and the widgets that
    // stay hidden until a share shows.
    void SetUpBrowser(QTreeWidget* folderTree, QTreeWidget* fileList, QLineEdit* filterEdit,
                      const QList<QWidget*>& hiddenUntilShown);
    // Builds the tree, opens it all when the setting asks, takes the
    // toolbar's actions and shows the hidden widgets, then calls
    // ShareShown. Sliced, a share of many folders is built a slice per
    // turn, the first at once, with Filling after each slice; otherwise all
    // of it at once.
    void ShowShare(ItemPtr share, ShareFolderTree::FolderOrder order, bool sliced = false);
    virtual void Filling() {}
    virtual void ShareShown() {}
    // Ends a showing under way and every pass over the tree or the share,
    // the browser's own (StopOwnWork) among them, leaving both trees empty:
    // the share is gone.
    void StopShowing();
    virtual void StopOwnWork() {}
    // Empties the trees, lets the share go a slice at a time (a share of any
    // size without a pause), forgets the tab item and goes once the last
    // row is deleted; the tab is removed by then.
    void Close(ItemPtr share);
    // A toolbar action for this browser other than the expand actions.
    virtual void OnOwnAction(const QString& action);

    // The folders of the selected nodes, the files of listed rows.
    ItemList SelectedFolders() const;
    ItemList FilesOf(const QList<QTreeWidgetItem*>& rows) const;
    // Gives the rows still listed of these files the icon.
    void MarkFiles(const ItemList& files, const QString& icon) const;
    // A menu of one entry at the point; over the folder tree only when a
    // node is there. The entry reads the selection when chosen, as the
    // menu's own loop may change it meanwhile.
    void ShowMenu(QTreeWidget* tree, QPoint point, const QString& text, const std::function<void()>& chosen);

    QString m_user;
    ItemPtr m_share;

private:
    // True once the tree is whole and shown.
    bool ShowSome(TurnSlice& slice);

    const char* m_tabType;
    bool m_shown = false;
    std::unique_ptr<ShareFolderTree> m_tree;
    QTreeWidget* m_folderTree = nullptr;
    QTreeWidget* m_fileList = nullptr;
    QLineEdit* m_filterEdit = nullptr;
    QList<QWidget*> m_hiddenUntilShown;
    SlicedJob m_showJob;
};
