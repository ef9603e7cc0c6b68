#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "ItemPtr.h"

class FilterParser;
class QTreeWidget;
class QTreeWidgetItem;
class Type;
class TurnSlice;

// The filter of a share's folder tree, applied a step at a time: a node
// whose name holds an excluded word is hidden, its subtree left as it was;
// any other node shows when it needs no files of its own, when enough of
// its folder's files pass what its name and its ancestors' names left of
// the filter, or when a node below it shows. A share may hold 300,000
// files that a filter reads one by one, so the walk keeps its place between
// slices; a new filter starts it again from the top.
class ShareFolderFilter
{
public:
    typedef std::function<ItemPtr(const QTreeWidgetItem*)> FolderOf;

    explicit ShareFolderFilter(FolderOf folderOf);
    ~ShareFolderFilter();

    // Begins a walk of the tree's nodes with the filter of that text, in
    // place of one under way.
    void Start(QTreeWidget* tree, const QString& text);
    // Walks on until done (true) or the slice is spent.
    bool Run(TurnSlice& slice);
    void Stop();
    bool IsRunning() const { return m_tree != nullptr; }
    // The text of the walk under way or last done.
    const QString& Text() const { return m_text; }

private:
    struct Frame;

    void Enter(QTreeWidgetItem* node, const FilterParser& filter);
    // One file of the node at the top read, a child entered or the node
    // done with.
    void Step();

    FolderOf m_folderOf;
    QTreeWidget* m_tree = nullptr;
    QString m_text;
    std::unique_ptr<FilterParser> m_filter;
    int m_nextTopLevel = 0;
    std::vector<Frame> m_pending;
    Type* m_files = nullptr;
    Type* m_names = nullptr;
};
