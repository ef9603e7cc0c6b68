#include "ShareFolderTree.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <algorithm>
#include <vector>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "FilterParser.h"
#include "GeneralFunctions.h"
#include "TurnSlice.h"
#include "common/ColumnWidths.h"

namespace {

const char* const kFolderNode = "user_share_folder_node";

} // namespace

ShareFolderTree::ShareFolderTree(QWidget* owner, QTreeWidget* folderTree, QTreeWidget* fileList)
    : m_owner(owner), m_folderTree(folderTree), m_fileList(fileList),
      m_filter([this](const QTreeWidgetItem* node) { return FolderOf(node); }),
      m_listJob(SliceFloor, [this](TurnSlice& slice) { return ListSome(slice) && Ended(); }),
      m_filterJob(SliceFloor, [this](TurnSlice& slice) { return FilterSome(slice); }),
      m_discardJob(SliceFloor, [this](TurnSlice& slice) { return DiscardSome(slice) && Ended(); })
{

    m_folderTree->setColumnCount(1);
    m_folderTree->setHeaderLabels(QStringList() << QObject::tr("Folder"));
    m_folderTree->setSortingEnabled(false);
    m_folderTree->setContextMenuPolicy(Qt::CustomContextMenu);

    m_fileList->setColumnCount(3);
    m_fileList->setHeaderLabels(QStringList()
                                << QObject::tr("File") << QObject::tr("Size") << QObject::tr("Attributes"));
    ColumnWidths::Set(m_fileList, {200, 70}, {QString(), "88,012,345"});
    m_fileList->header()->setStretchLastSection(true);
    m_fileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_fileList->setSortingEnabled(true);
    m_fileList->sortItems(0, Qt::AscendingOrder);
    m_fileList->setContextMenuPolicy(Qt::CustomContextMenu);
    m_fileList->setUniformRowHeights(true);
}

ShareFolderTree::~ShareFolderTree()
{
    // Rows out of the list are deleted here; the mirror and the removals
    // waiting remove their nodes.
    for (const RowMirror::Key key : m_discarded)
        delete m_fileRows.Row(key);
    for (QTreeWidgetItem* row : m_made)
        delete row;
    for (QTreeWidgetItem* row : m_ordering.Items())
        delete row;
}

// ---------------------------------------------------------------------------
// Building

void ShareFolderTree::Build(ItemPtr share, FolderOrder order)
{
    BeginBuild(share, order);
    TurnSlice whole = TurnSlice::Whole();
    BuildSome(whole);
}

void ShareFolderTree::BeginBuild(ItemPtr share, FolderOrder order)
{
    if (IsBuilding())
        EndBuilding();
    m_filter.Stop();
    m_filterJob.Stop();
    m_share.reset(new KeptItems);
    m_share->Add(share);
    m_order = order;
    m_unordered = share.GetItems("user_share_folder").List();
    m_steps = 0;
    m_deepest = 0;
    m_building = Building::Ordering;
}

bool ShareFolderTree::BuildSome(TurnSlice& slice)
{
    while (IsBuilding()) {
        if (!slice.Take())
            return false;
        if (BuildStep())
            ++m_steps;
    }
    return true;
}

// One folder of one pass, or the move to the next pass; true for a folder.
bool ShareFolderTree::BuildStep()
{
    switch (m_building) {
    case Building::No:
        return false;
    case Building::Ordering:
    {
        // Folders by their paths, ignoring case or byte by byte (a QString
        // of the bytes as Latin-1 sorts as they do); those of one key in the
        // share's order.
        if (m_steps == m_unordered.size()) {
            ItemList().swap(m_unordered);
            m_next = m_ordered.cbegin();
            m_building = Building::Making;
            return false;
        }
        const ItemPtr folder = m_unordered[m_steps];
        const std::string path = FolderPath(folder);
        m_ordered.emplace_hint(m_ordered.end(),
                               m_order == FolderOrder::IgnoringCase
                                   ? ToQString(path).toLower()
                                   : QString::fromLatin1(path.data(), int(path.size())),
                               folder);
        return true;
    }
    case Building::Making:
    {
        if (m_next == m_ordered.cend()) {
            m_next = m_ordered.cbegin();
            m_building = Building::Linking;
            return false;
        }
        // Names are the peer's bytes, decoded as every received name is.
        auto* node = new QTreeWidgetItem;
        node->setText(0, ToQString(GetFileName(FolderPath(m_next->second))));
        m_folderRows.Add(node, kFolderNode) += m_next->second;
        ++m_next;
        return true;
    }
    case Building::Linking:
    {
        if (m_next == m_ordered.cend()) {
            for (auto it = m_topLevel.crbegin(); it != m_topLevel.crend(); ++it)
                m_unmeasured.emplace_back(*it, 0);
            m_building = Building::Measuring;
            return false;
        }
        // A folder whose parent folder is in the share was linked to it when
        // the share was built; any other is a top-level node. Children
        // follow in the order of their paths.
        const ItemPtr folder = m_next->second;
        QTreeWidgetItem* node = NodeOf(folder);
        const ItemPtr parent = folder["user_share_folder_parent"]["user_share_folder_child"]["user_share_folder"];
        if (QTreeWidgetItem* parentNode = NodeOf(parent))
            parentNode->addChild(node);
        else
            m_topLevel.append(node);
        ++m_next;
        return true;
    }
    case Building::Measuring:
    {
        if (m_unmeasured.empty()) {
            m_folderTree->setUpdatesEnabled(false);
            m_folderTree->addTopLevelItems(m_topLevel);
            m_folderTree->setUpdatesEnabled(true);
            m_building = Building::No;
            EndBuilding();
            return false;
        }
        const std::pair<QTreeWidgetItem*, int> next = m_unmeasured.back();
        m_unmeasured.pop_back();
        m_deepest = std::max(m_deepest, next.second);
        for (int i = next.first->childCount() - 1; i >= 0; --i)
            m_unmeasured.emplace_back(next.first->child(i), next.second + 1);
        return true;
    }
    }
    return false;
}

void ShareFolderTree::EndBuilding()
{
    // Nodes made but not in the tree yet go with their subtrees.
    if (m_building != Building::No && m_building != Building::Ordering) {
        for (auto it = m_ordered.cbegin(); it != m_ordered.cend(); ++it) {
            QTreeWidgetItem* node = NodeOf(it->second);
            if (node && !node->parent() && !node->treeWidget())
                m_folderRows.Remove(node);
        }
    }
    m_building = Building::No;
    ItemList().swap(m_unordered);
    m_ordered.clear();
    m_topLevel.clear();
    std::vector<std::pair<QTreeWidgetItem*, int>>().swap(m_unmeasured);
}

double ShareFolderTree::BuiltShare() const
{
    if (!IsBuilding())
        return 1;
    const size_t folders = std::max(m_unordered.size(), m_ordered.size());
    return folders ? std::min(1.0, double(m_steps) / double(4 * folders)) : 0;
}

void ShareFolderTree::Clear()
{
    if (IsBuilding())
        EndBuilding();
    m_filter.Stop();
    m_filterJob.Stop();
    // The rows out of sight at once, deleted with their nodes a slice per
    // turn: a folder may list 100,000 files. The folder nodes are deleted
    // at once, the tree being emptied as a whole (taken out, each would
    // have the view look over every node above every node it keeps track
    // of, for seconds in a deep share), and only their node items a slice
    // per turn: a share may have 15,000 folders.
    LetRowsGo();
    QList<Item*> nodes;
    for (int i = 0; i < m_folderTree->topLevelItemCount(); ++i)
        nodes += m_folderRows.Release(m_folderTree->topLevelItem(i));
    m_nodeRemovals.Add(std::move(nodes));
    m_folderTree->clear();
    m_deepest = 0;
    m_expandLevel = 0;
    StartDiscarding();
    Ended();
}

void ShareFolderTree::WhenIdle(std::function<void()> done)
{
    m_whenIdle = std::move(done);
    Ended();
}

void ShareFolderTree::SetSliceSteps(int steps)
{
    for (SlicedJob* job : {&m_listJob, &m_filterJob, &m_discardJob})
        job->SetMostSteps(steps);
}

// ---------------------------------------------------------------------------
// Rows and their items

ItemPtr ShareFolderTree::FolderOf(const QTreeWidgetItem* node) const
{
    return m_folderRows.Item(node, "user_share_folder");
}

QTreeWidgetItem* ShareFolderTree::NodeOf(ItemPtr folder) const
{
    return m_folderRows.RowOf(folder, kFolderNode);
}

std::string ShareFolderTree::FolderPath(ItemPtr folder)
{
    return folder["user_share_folder_name"].AsStdString();
}

QString ShareFolderTree::RemotePath(ItemPtr file)
{
    const ItemPtr folder = file["user_share_folder"];
    return folder["user_share_folder_name"].AsString() + QLatin1Char('\\') + file["user_share_file_name"].AsString();
}

ItemList ShareFolderTree::Subfolders(ItemPtr folder)
{
    ItemList subfolders;
    for (const ItemPtr& child : folder.GetItems("user_share_folder_child")) {
        if (const ItemPtr subfolder = child["user_share_folder_parent"]["user_share_folder"])
            subfolders.push_back(subfolder);
    }
    return subfolders;
}

SteppedSort<std::pair<QString, ItemPtr>> ShareFolderTree::FilesByName(ItemPtr folder)
{
    std::vector<std::pair<QString, ItemPtr>> files;
    for (const ItemPtr& file : folder.GetItems("user_share_file"))
        files.emplace_back(QString(), file);
    Type* const names = d.GetType("user_share_file_name");
    return SteppedSort<std::pair<QString, ItemPtr>>(
        std::move(files),
        [](const std::pair<QString, ItemPtr>& a, const std::pair<QString, ItemPtr>& b) { return a.first < b.first; },
        [names](std::pair<QString, ItemPtr>& file) {
            if (const ItemPtr name = file.second[names])
                file.first = name.AsString();
            else
                file.second = ItemPtr();
        });
}

void ShareFolderTree::ForEachFolder(ItemPtr folder, const std::function<void(ItemPtr, int)>& visit)
{
    std::vector<std::pair<ItemPtr, int>> pending{{folder, 0}};
    while (!pending.empty()) {
        const std::pair<ItemPtr, int> next = pending.back();
        pending.pop_back();
        visit(next.first, next.second);
        const ItemList subfolders = Subfolders(next.first);
        for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it)
            pending.emplace_back(*it, next.second + 1);
    }
}

// ---------------------------------------------------------------------------
// Choosing

void ShareFolderTree::Select(QTreeWidgetItem* node)
{
    for (QTreeWidgetItem* up = node->parent(); up; up = up->parent())
        up->setExpanded(true);
    m_folderTree->scrollToItem(node, QAbstractItemView::PositionAtTop);
    m_folderTree->setCurrentItem(node);
}

// ---------------------------------------------------------------------------
// Expanding

void ShareFolderTree::SetExpandText(const QString& text)
{
    if (actionBar)
        actionBar->SetWidgetActionText(m_owner, "expand_level", text);
}

void ShareFolderTree::ExpandOneLevel()
{
    if (m_expandLevel >= m_deepest)
        return;
    m_folderTree->expandToDepth(m_expandLevel);
    ++m_expandLevel;
    SetExpandText(QObject::tr("Expand Level [%1]").arg(m_expandLevel));
}

void ShareFolderTree::ExpandAll()
{
    m_folderTree->expandAll();
    ResetExpandLevel();
}

void ShareFolderTree::CollapseAll()
{
    m_folderTree->collapseAll();
    ResetExpandLevel();
}

void ShareFolderTree::ResetExpandLevel()
{
    m_expandLevel = 0;
    SetExpandText(QObject::tr("Expand Level"));
}
