#include "ShareFolderTree.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QTreeWidget>
#include <algorithm>
#include <vector>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "FilterParser.h"
#include "GeneralFunctions.h"
#include "SharedFoldersManager.h"
#include "TreeWidgetItem.h"
#include "common/ColumnWidths.h"

namespace {

const char* const kFolderNode = "user_share_folder_node";
const char* const kFileNode = "user_share_file_node";

enum FileColumns
{
    FileColumn = 0,
    SizeColumn = 1,
    AttributesColumn = 2
};

// A change of a node's visibility lays the whole tree out again; a node
// that keeps its state need not cost that.
void SetHidden(QTreeWidgetItem* node, bool hidden)
{
    if (node->isHidden() != hidden)
        node->setHidden(hidden);
}

} // namespace

ShareFolderTree::ShareFolderTree(QWidget* owner, QTreeWidget* folderTree, QTreeWidget* fileList)
    : m_owner(owner), m_folderTree(folderTree), m_fileList(fileList)
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
    m_fileList->sortItems(FileColumn, Qt::AscendingOrder);
    m_fileList->setContextMenuPolicy(Qt::CustomContextMenu);
    m_fileList->setUniformRowHeights(true);

    m_sorting.SetColumnSortingNumeric(SizeColumn);
    m_sorting.SetColumnSortingNumeric(AttributesColumn);
}

// ---------------------------------------------------------------------------
// Building

void ShareFolderTree::Build(ItemPtr share, FolderOrder order)
{
    BeginBuild(share, order);
    BuildSome(0);
}

void ShareFolderTree::BeginBuild(ItemPtr share, FolderOrder order)
{
    if (IsBuilding())
        EndBuilding();
    m_order = order;
    m_unordered = share.GetItems("user_share_folder").List();
    m_steps = 0;
    m_deepest = 0;
    m_building = Building::Ordering;
}

bool ShareFolderTree::BuildSome(int budgetMs, int maxSteps)
{
    QElapsedTimer clock;
    clock.start();
    // The clock is read every few steps: reading it costs about as much as
    // one.
    for (int steps = 1, done = 0; IsBuilding(); ++steps) {
        if (budgetMs > 0 && steps % 32 == 0 && clock.elapsed() >= budgetMs)
            return false;
        if (maxSteps > 0 && done >= maxSteps)
            return false;
        if (BuildStep()) {
            ++m_steps;
            ++done;
        }
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
    m_fileRows.Clear(m_fileList);
    m_folderRows.Clear(m_folderTree);
    m_deepest = 0;
    m_expandLevel = 0;
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

ItemPtr ShareFolderTree::FileOf(const QTreeWidgetItem* row) const
{
    return m_fileRows.Item(row, "user_share_file");
}

QTreeWidgetItem* ShareFolderTree::RowOf(ItemPtr file) const
{
    return m_fileRows.RowOf(file, kFileNode);
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

ItemList ShareFolderTree::FilesByName(ItemPtr folder)
{
    return folder.GetItems("user_share_file").SortAlphabeticBy("user_share_file_name", true, true);
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
// The file list

void ShareFolderTree::ClearFiles()
{
    m_fileRows.Clear(m_fileList);
}

void ShareFolderTree::ShowFiles(QTreeWidgetItem* current, const QString& filterText)
{
    ClearFiles();
    const ItemPtr folder = current ? FolderOf(current) : ItemPtr();
    if (!folder)
        return;
    // Words in the names of the folder and the folders above it hold for
    // every file below them; what is left must be met by each file.
    FilterParser filter;
    filter.Parse(filterText);
    for (const QTreeWidgetItem* node = current; node; node = node->parent())
        filter.IsMatching(node->text(0), &filter, ItemPtr());

    QList<QTreeWidgetItem*> rows;
    for (const ItemPtr& file : folder.GetItems("user_share_file")) {
        const QString name = file["user_share_file_name"].AsString();
        if (filter.IsMatching(name, nullptr, file) != FilterParser::Matching)
            continue;
        auto* row = new TreeWidgetItem(nullptr);
        row->setText(FileColumn, name);
        row->setText(SizeColumn, CommafyNumber(file["file_size"].AsInt64()));
        row->setText(AttributesColumn, SharedFoldersManager::GetFileItemDisplayString(file));
        row->SetSortingModel(&m_sorting);
        m_fileRows.Add(row, kFileNode) += file;
        rows.append(row);
    }
    // One insertion and one sort, not one of each per row.
    const bool sorting = m_fileList->isSortingEnabled();
    m_fileList->setSortingEnabled(false);
    m_fileList->addTopLevelItems(rows);
    m_fileList->setSortingEnabled(sorting);
}

// ---------------------------------------------------------------------------
// Filtering

bool ShareFolderTree::HasMatchingFiles(ItemPtr folder, const FilterParser& filter, int needed) const
{
    // Every file of a large share may be read at each keystroke: the types
    // are looked up once per folder, not per file.
    Type* const files = d.GetType("user_share_file");
    Type* const names = d.GetType("user_share_file_name");
    int matching = 0;
    for (const ItemPtr& file : folder.GetItems(files)) {
        if (filter.IsMatching(file[names].AsString(), nullptr, file) == FilterParser::Matching && ++matching >= needed)
            return true;
    }
    return false;
}

bool ShareFolderTree::FilterFolderNode(QTreeWidgetItem* node, const FilterParser& filter)
{
    struct Frame
    {
        QTreeWidgetItem* node;
        FilterParser remainder;
        int nextChild;
        bool visible;
    };
    std::vector<Frame> pending;
    // Matches a node's own name and files; false when an excluded word in
    // its name hides it with everything below, unexamined.
    auto enter = [&](QTreeWidgetItem* n, const FilterParser& f) {
        FilterParser remainder;
        const int match = f.IsMatching(n->text(0), &remainder, ItemPtr());
        if (match == FilterParser::Rejected) {
            SetHidden(n, true);
            return false;
        }
        const bool needsFiles =
            remainder.HasAttributes() || match != FilterParser::Matching || remainder.MinFilesInFolder() > 0;
        const bool visible =
            !needsFiles || HasMatchingFiles(FolderOf(n), remainder, std::max(remainder.MinFilesInFolder(), 1));
        pending.push_back({n, remainder, 0, visible});
        return true;
    };

    if (!enter(node, filter))
        return false;
    for (;;) {
        Frame& top = pending.back();
        if (top.nextChild < top.node->childCount()) {
            QTreeWidgetItem* child = top.node->child(top.nextChild++);
            const FilterParser remainder = top.remainder;
            enter(child, remainder);
            continue;
        }
        const bool visible = top.visible;
        SetHidden(top.node, !visible);
        pending.pop_back();
        if (pending.empty())
            return visible;
        if (visible)
            pending.back().visible = true;
    }
}

void ShareFolderTree::Filter(const QString& filterText)
{
    FilterParser filter;
    filter.Parse(filterText);
    for (int i = 0; i < m_folderTree->topLevelItemCount(); ++i)
        FilterFolderNode(m_folderTree->topLevelItem(i), filter);

    QTreeWidgetItem* current = m_folderTree->currentItem();
    if (!current)
        return;
    for (const QTreeWidgetItem* node = current; node; node = node->parent()) {
        if (node->isHidden()) {
            ClearFiles();
            return;
        }
    }
    ShowFiles(current, filterText);
}

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
