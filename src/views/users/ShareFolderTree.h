#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "ColumnSortingModel.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "common/RowMirror.h"

class FilterParser;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

// The folder tree and the file list of a share tree ("user_share" with its
// folders and files), as both browsers show it: the share browser over
// another user's list and the upload browser over the own shares as one
// user may see them. Folder nodes and file rows are mirrored as
// "user_share_folder_node" and "user_share_file_node" items; the file list
// holds the rows of one folder at a time.
//
// A peer's share may nest folders many thousands deep, so nothing here
// recurses per level: every walk of folders or nodes keeps its own stack.
class ShareFolderTree
{
public:
    // The order in which folders become nodes; a parent path, being a
    // prefix, comes before its subfolders in both.
    enum class FolderOrder
    {
        IgnoringCase,
        Bytes
    };

    // owner is the browser registered with the context toolbar, whose
    // "expand_level" text follows the expand level.
    ShareFolderTree(QWidget* owner, QTreeWidget* folderTree, QTreeWidget* fileList);

    // One node per folder of the share (as SharesForm::CreateUserShareData
    // links them): under the node of its parent folder when that is in the
    // share, else at the top, named by its last path component. Updates of
    // the tree are off meanwhile.
    void Build(ItemPtr share, FolderOrder order);
    // The same over several calls, for a share of many folders: BuildSome
    // orders the folders, then makes their nodes, until all are made (true)
    // or budgetMs have passed (false; 0 or less: until done), or maxSteps
    // folders of a pass were done when above 0.
    void BeginBuild(ItemPtr share, FolderOrder order);
    bool BuildSome(int budgetMs, int maxSteps = 0);
    bool IsBuilding() const { return m_building != Building::No; }
    // How far the building is, from 0 to 1.
    double BuiltShare() const;
    // Empties both trees and removes the node items of their rows; a
    // building under way ends.
    void Clear();

    ItemPtr FolderOf(const QTreeWidgetItem* node) const;
    QTreeWidgetItem* NodeOf(ItemPtr folder) const;
    ItemPtr FileOf(const QTreeWidgetItem* row) const;
    // The file's row while its folder is listed, else null.
    QTreeWidgetItem* RowOf(ItemPtr file) const;
    int FolderCount() const { return m_folderRows.Count(); }
    int FileRowCount() const { return m_fileRows.Count(); }

    // Lists the files of the node's folder that pass the filter text, once
    // the words found in the names of the node and its ancestors are taken
    // off it. An empty list for no node or a node without a folder.
    void ShowFiles(QTreeWidgetItem* current, const QString& filterText);
    void ClearFiles();
    // Filters the whole tree, then lists the current folder again, or
    // nothing when the filter hides it or one of its ancestors.
    void Filter(const QString& filterText);
    // Shows or hides the node and its subtree; true when it stays visible.
    bool FilterFolderNode(QTreeWidgetItem* node, const FilterParser& filter);
    // Expands the node's ancestors, scrolls it to the top and makes it the
    // current node (which lists its files).
    void Select(QTreeWidgetItem* node);

    // The largest depth of a node, top-level nodes being at 0.
    int DeepestLevel() const { return m_deepest; }
    int ExpandLevel() const { return m_expandLevel; }
    // Opens one more level, until the deepest is open.
    void ExpandOneLevel();
    void ExpandAll();
    void CollapseAll();
    void ResetExpandLevel();

    // The folder's full path as received, "\" between components.
    static std::string FolderPath(ItemPtr folder);
    static ItemList Subfolders(ItemPtr folder);
    // By name, case-sensitive.
    static ItemList FilesByName(ItemPtr folder);
    // The folder, then every folder below it at any depth, parents before
    // their subfolders, subfolders in the share's order; depth counts the
    // steps below the folder itself (0 for it).
    static void ForEachFolder(ItemPtr folder, const std::function<void(ItemPtr folder, int depth)>& visit);
    // The remote path of a file: its folder's path, "\", its name.
    static QString RemotePath(ItemPtr file);

private:
    enum class Building
    {
        No,
        Ordering,
        Making,
        Linking,
        Measuring
    };

    void SetExpandText(const QString& text);
    bool HasMatchingFiles(ItemPtr folder, const FilterParser& filter, int needed) const;
    bool BuildStep();
    void EndBuilding();

    QWidget* m_owner;
    QTreeWidget* m_folderTree;
    QTreeWidget* m_fileList;
    RowMirror m_folderRows;
    RowMirror m_fileRows;
    // Sizes and attributes sort by their digits.
    ColumnSortingModel m_sorting;
    int m_deepest = 0;
    int m_expandLevel = 0;

    // What a building holds between its slices: the share's folders, those
    // ordered so far by their sort key, where each pass over them stands,
    // the top-level nodes, and the nodes whose depth is still to be seen.
    // Nodes join the tree only when all are linked, so a building ended
    // early deletes those not in it yet.
    Building m_building = Building::No;
    FolderOrder m_order = FolderOrder::IgnoringCase;
    ItemList m_unordered;
    std::multimap<QString, ItemPtr> m_ordered;
    std::multimap<QString, ItemPtr>::const_iterator m_next;
    size_t m_steps = 0;
    QList<QTreeWidgetItem*> m_topLevel;
    std::vector<std::pair<QTreeWidgetItem*, int>> m_unmeasured;
};
