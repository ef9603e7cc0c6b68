#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "ItemPtr.h"
#include "ItemSet.h"
#include "ShareFolderFilter.h"
#include "SlicedJob.h"
#include "common/KeptItems.h"
#include "common/PendingRemovals.h"
#include "common/RowMirror.h"
#include "common/SteppedSort.h"

class FilterParser;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class TurnSlice;

// The folder tree and the file list of a share tree ("user_share" with its
// folders and files), as both browsers show it: the share browser over
// another user's list and the upload browser over the own shares as one
// user may see them. Folder nodes and file rows are mirrored as
// "user_share_folder_node" and "user_share_file_node" items; the file list
// holds the rows of one folder at a time.
//
// A peer's share may nest folders many thousands deep, so nothing here
// recurses per level: every walk of folders or nodes keeps its own stack.
// It may hold 300,000 files, and one folder 100,000: filtering the tree and
// listing a folder are done a slice per turn of the event loop, and rows
// let go are deleted so too. The share may go from the store meanwhile:
// filtering and listing then stop before their next slice, and the tree
// lets every row go as Clear does.
class ShareFolderTree
{
public:
    // Steps a slice of each long piece of a browser's work takes before it
    // looks at the turn's budget: building, filtering, listing and deleting
    // rows here, reading folders to download and writing an export in the
    // share browser.
    static constexpr int SliceFloor = 256;

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
    ~ShareFolderTree();

    // One node per folder of the share (as SharesForm::CreateUserShareData
    // links them): under the node of its parent folder when that is in the
    // share, else at the top, named by its last path component. Updates of
    // the tree are off meanwhile.
    void Build(ItemPtr share, FolderOrder order);
    // The same over several calls, for a share of many folders: BuildSome
    // orders the folders, then makes their nodes, until all are made (true)
    // or the slice is spent (false).
    void BeginBuild(ItemPtr share, FolderOrder order);
    bool BuildSome(TurnSlice& slice);
    bool IsBuilding() const { return m_building != Building::No; }
    // How far the building is, from 0 to 1.
    double BuiltShare() const;
    // Empties both trees and removes the node items of their rows, those
    // of a long file list over the next turns; a building, filtering or
    // listing under way ends.
    void Clear();
    // Calls done once no work is left, at once when none is.
    void WhenIdle(std::function<void()> done);
    // At most this many steps (a folder or a file looked at, a row made or
    // deleted) a slice of filtering and listing, as on the slowest machine.
    void SetSliceSteps(int steps);
    // The passes over turns, for tests to count their slices and steps.
    const SlicedJob& FilterJob() const { return m_filterJob; }
    const SlicedJob& ListJob() const { return m_listJob; }
    const SlicedJob& DiscardJob() const { return m_discardJob; }

    ItemPtr FolderOf(const QTreeWidgetItem* node) const;
    QTreeWidgetItem* NodeOf(ItemPtr folder) const;
    ItemPtr FileOf(const QTreeWidgetItem* row) const;
    // The file's row while its folder is listed, else null.
    QTreeWidgetItem* RowOf(ItemPtr file) const;
    int FolderCount() const { return m_folderRows.Count(); }
    int FileRowCount() const { return m_fileRows.Count(); }

    // Lists the files of the node's folder that pass the filter text, once
    // the words found in the names of the node and its ancestors are taken
    // off it. An empty list for no node or a node without a folder. The
    // rows listed before leave the list at once; the new ones are made and
    // put in order first, then put in the list together.
    void ShowFiles(QTreeWidgetItem* current, const QString& filterText);
    void ClearFiles();
    // The rows of the folder last chosen are still being made.
    bool IsListing() const { return m_listing != Listing::No; }
    // Filters the whole tree, then lists the current folder again, or
    // nothing when the filter hides it or one of its ancestors. A text
    // given before the last one was applied takes its place.
    void Filter(const QString& filterText);
    bool IsFiltering() const { return m_filter.IsRunning(); }
    // Filtering, listing or deleting rows let go is still under way.
    bool IsWorking() const { return IsFiltering() || IsListing() || !m_discarded.empty() || !m_nodeRemovals.IsEmpty(); }
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
    // The folder's files to be put in order by name, case-sensitive, each
    // with its name; a file without a name has none and a null item.
    static SteppedSort<std::pair<QString, ItemPtr>> FilesByName(ItemPtr folder);
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

    enum class Listing
    {
        No,
        Making,
        Ordering
    };

    // The share being shown: null before a building and once it is gone.
    ItemPtr Share() const { return m_share ? m_share->First() : ItemPtr(); }
    void SetExpandText(const QString& text);
    bool BuildStep();
    void EndBuilding();

    // Starts a pass over the share, or runs its next slice now: the first
    // slice of new work comes at once, so that a small folder or tree is
    // done before the call returns.
    void Run(SlicedJob& job);
    // Once a pass is done: calls the idle function when none is left.
    bool Ended();
    bool FilterSome(TurnSlice& slice);
    void FilterDone();
    bool ListSome(TurnSlice& slice);
    // Begins putting the rows in the list's order.
    void OrderRows(std::vector<QTreeWidgetItem*> rows);
    // The rows made, in order, into the list in one go.
    void PutRows();
    // Takes the listed rows and those being made out of sight, to be
    // deleted with their nodes a slice at a time.
    void LetRowsGo();
    bool DiscardSome(TurnSlice& slice);
    void StartDiscarding();

    QWidget* m_owner;
    QTreeWidget* m_folderTree;
    QTreeWidget* m_fileList;
    RowMirror m_folderRows;
    RowMirror m_fileRows;
    int m_deepest = 0;
    int m_expandLevel = 0;

    // Kept so, it reads null once the share is gone.
    std::unique_ptr<KeptItems> m_share;
    std::function<void()> m_whenIdle;
    ShareFolderFilter m_filter;
    // What a listing holds between its slices: the folder's files, the
    // filter they must pass, the rows made of them so far, then their
    // sorting by the column the list was sorted by when it began.
    Listing m_listing = Listing::No;
    ItemList m_listFiles;
    size_t m_nextListFile = 0;
    std::unique_ptr<FilterParser> m_listFilter;
    std::vector<QTreeWidgetItem*> m_made;
    SteppedSort<QTreeWidgetItem*> m_ordering;
    int m_orderColumn = 0;
    Qt::SortOrder m_rowOrder = Qt::AscendingOrder;
    // Rows let go, by their keys: a row whose node someone else removes
    // goes with it meanwhile. And the node items of folder nodes let go.
    std::vector<RowMirror::Key> m_discarded;
    PendingRemovals m_nodeRemovals;

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

    // Last, so that they are gone before what their work reads. Letting
    // rows go walks nothing of the share and goes on when it is gone.
    SlicedJob m_listJob;
    SlicedJob m_filterJob;
    SlicedJob m_discardJob;
};
