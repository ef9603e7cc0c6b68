// The share tree's file list and its filter, both done a slice per turn.
#include "ShareFolderTree.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <utility>

#include "Data.h"
#include "FilterParser.h"
#include "GeneralFunctions.h"
#include "SharedFoldersManager.h"
#include "TreeWidgetItem.h"
#include "TurnSlice.h"

namespace {

const char* const kFileNode = "user_share_file_node";

enum FileColumns
{
    FileColumn = 0,
    SizeColumn = 1,
    AttributesColumn = 2
};

// A file's row, holding what it sorts by: sorting 100,000 rows compares
// them some two million times, too often to read their cells each time.
// Names compare as text, sizes and attributes by their digits.
class FileRow : public QTreeWidgetItem
{
public:
    FileRow(const QString& name, const QString& size, const QString& attributes)
        : m_name(name), m_size(TreeWidgetItem::CellNumber(size)), m_attributes(TreeWidgetItem::CellNumber(attributes))
    {
        setText(FileColumn, name);
        setText(SizeColumn, size);
        setText(AttributesColumn, attributes);
    }

    static bool Less(const QTreeWidgetItem* a, const QTreeWidgetItem* b, int column)
    {
        const auto* x = static_cast<const FileRow*>(a);
        const auto* y = static_cast<const FileRow*>(b);
        switch (column) {
        case SizeColumn:
            return x->m_size < y->m_size;
        case AttributesColumn:
            return x->m_attributes < y->m_attributes;
        default:
            return x->m_name < y->m_name;
        }
    }

    bool operator<(const QTreeWidgetItem& other) const override
    {
        const QTreeWidget* list = treeWidget();
        return Less(this, &other, list ? list->sortColumn() : FileColumn);
    }

private:
    QString m_name;
    qint64 m_size;
    qint64 m_attributes;
};

} // namespace

// ---------------------------------------------------------------------------
// The passes over turns

void ShareFolderTree::Run(SlicedJob& job)
{
    // Whatever the pass holds of the share, rows or items, goes with it.
    job.Over(Share(), [this] { Clear(); });
    job.Start();
}

bool ShareFolderTree::Ended()
{
    if (!IsWorking() && m_whenIdle)
        std::exchange(m_whenIdle, nullptr)();
    return true;
}

void ShareFolderTree::StartDiscarding()
{
    if (!m_discarded.empty() || !m_nodeRemovals.IsEmpty())
        m_discardJob.Start();
}

// ---------------------------------------------------------------------------
// The file list

ItemPtr ShareFolderTree::FileOf(const QTreeWidgetItem* row) const
{
    return m_fileRows.Item(row, "user_share_file");
}

QTreeWidgetItem* ShareFolderTree::RowOf(ItemPtr file) const
{
    return m_fileRows.RowOf(file, kFileNode);
}

void ShareFolderTree::ShowFiles(QTreeWidgetItem* current, const QString& filterText)
{
    LetRowsGo();
    const ItemPtr folder = current ? FolderOf(current) : ItemPtr();
    if (folder) {
        // Words in the names of the folder and the folders above it hold
        // for every file below them; what is left must be met by each file.
        m_listFilter.reset(new FilterParser);
        m_listFilter->Parse(filterText);
        for (const QTreeWidgetItem* node = current; node; node = node->parent())
            m_listFilter->IsMatching(node->text(0), m_listFilter.get(), ItemPtr());
        m_listFiles = folder.GetItems("user_share_file").List();
        m_nextListFile = 0;
        m_listing = Listing::Making;
        // The chosen folder's rows first: the user waits for them.
        Run(m_listJob);
    }
    StartDiscarding();
    Ended();
}

void ShareFolderTree::ClearFiles()
{
    LetRowsGo();
    StartDiscarding();
    Ended();
}

void ShareFolderTree::LetRowsGo()
{
    const QList<QTreeWidgetItem*> listed = m_fileList->invisibleRootItem()->takeChildren();
    for (const QTreeWidgetItem* row : listed)
        m_discarded.push_back(m_fileRows.KeyOf(row));
    for (const QTreeWidgetItem* row : m_made)
        m_discarded.push_back(m_fileRows.KeyOf(row));
    for (const QTreeWidgetItem* row : m_ordering.Items())
        m_discarded.push_back(m_fileRows.KeyOf(row));
    m_made.clear();
    m_ordering = SteppedSort<QTreeWidgetItem*>();
    ItemList().swap(m_listFiles);
    m_listFilter.reset();
    m_listing = Listing::No;
    m_listJob.Stop();
}

bool ShareFolderTree::DiscardSome(TurnSlice& slice)
{
    if (!m_discarded.empty()) {
        Data::Batch batch(&d);
        while (!m_discarded.empty()) {
            if (!slice.Take())
                return false;
            m_fileRows.Remove(m_fileRows.Row(m_discarded.back()));
            m_discarded.pop_back();
        }
    }
    return m_nodeRemovals.RemoveSome(slice);
}

bool ShareFolderTree::ListSome(TurnSlice& slice)
{
    if (m_listing == Listing::Making) {
        Type* const names = d.GetType("user_share_file_name");
        Type* const sizes = d.GetType("file_size");
        while (m_nextListFile < m_listFiles.size()) {
            if (!slice.Take())
                return false;
            const ItemPtr file = m_listFiles[m_nextListFile++];
            const QString name = file[names].AsString();
            if (m_listFilter->IsMatching(name, nullptr, file) != FilterParser::Matching)
                continue;
            auto* row = new FileRow(name, CommafyNumber(file[sizes].AsInt64()),
                                    SharedFoldersManager::GetFileItemDisplayString(file));
            m_fileRows.Add(row, kFileNode) += file;
            m_made.push_back(row);
        }
        ItemList().swap(m_listFiles);
        OrderRows(std::exchange(m_made, {}));
        m_listing = Listing::Ordering;
    }
    if (m_listing != Listing::Ordering)
        return true;
    // A header clicked meanwhile orders them anew.
    const QHeaderView* header = m_fileList->header();
    if (m_orderColumn != (m_fileList->isSortingEnabled() ? header->sortIndicatorSection() : -1) ||
        m_rowOrder != header->sortIndicatorOrder())
        OrderRows(std::move(m_ordering.Items()));
    if (!m_ordering.Run(slice))
        return false;
    PutRows();
    return true;
}

void ShareFolderTree::OrderRows(std::vector<QTreeWidgetItem*> rows)
{
    // Put in the list's order here, a slice at a time, so that the list
    // need not sort them all in one turn; equal rows keep the folder's
    // order, as the list's own sort keeps it.
    const QHeaderView* header = m_fileList->header();
    const int column = m_fileList->isSortingEnabled() ? header->sortIndicatorSection() : -1;
    const Qt::SortOrder order = header->sortIndicatorOrder();
    m_orderColumn = column;
    m_rowOrder = order;
    m_ordering = SteppedSort<QTreeWidgetItem*>(
        std::move(rows), [column, order](QTreeWidgetItem* const& a, QTreeWidgetItem* const& b) {
            if (column < 0)
                return false;
            return order == Qt::AscendingOrder ? FileRow::Less(a, b, column) : FileRow::Less(b, a, column);
        });
}

void ShareFolderTree::PutRows()
{
    std::vector<QTreeWidgetItem*>& ordered = m_ordering.Items();
    const QList<QTreeWidgetItem*> rows(ordered.begin(), ordered.end());
    m_ordering = SteppedSort<QTreeWidgetItem*>();
    m_listing = Listing::No;
    if (rows.isEmpty())
        return;
    if (!m_fileList->isSortingEnabled()) {
        m_fileList->addTopLevelItems(rows);
        return;
    }
    // The rows are in the list's order already. Switching its sorting off
    // and on again would sort them all once more in this turn: the header
    // shows no sorted column while it is switched on, so nothing is sorted,
    // and then shows the one it had, unheard.
    QHeaderView* header = m_fileList->header();
    const int column = header->sortIndicatorSection();
    const Qt::SortOrder order = header->sortIndicatorOrder();
    m_fileList->setSortingEnabled(false);
    m_fileList->addTopLevelItems(rows);
    {
        const QSignalBlocker quiet(header);
        header->setSortIndicator(-1, order);
    }
    m_fileList->setSortingEnabled(true);
    const QSignalBlocker quiet(header);
    header->setSortIndicator(column, order);
}

// ---------------------------------------------------------------------------
// Filtering

void ShareFolderTree::Filter(const QString& filterText)
{
    m_filter.Start(m_folderTree, filterText);
    Run(m_filterJob);
}

bool ShareFolderTree::FilterSome(TurnSlice& slice)
{
    if (!m_filter.Run(slice))
        return false;
    FilterDone();
    return Ended();
}

void ShareFolderTree::FilterDone()
{
    QTreeWidgetItem* current = m_folderTree->currentItem();
    if (!current)
        return;
    for (const QTreeWidgetItem* node = current; node; node = node->parent()) {
        if (node->isHidden()) {
            LetRowsGo();
            StartDiscarding();
            return;
        }
    }
    ShowFiles(current, m_filter.Text());
}
