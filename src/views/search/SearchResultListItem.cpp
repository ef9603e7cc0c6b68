#include "SearchResultListItem.h"

#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <vector>

#include "Data.h"
#include "PeerNames.h"

namespace {

// Text that is no number reads as 0; most rows have none.
double SpeedOf(const QTreeWidgetItem& row)
{
    const QString speed = row.text(SearchResultListItem::SpeedColumn);
    return speed.isEmpty() ? 0 : speed.toDouble();
}

// The file a row shows, through its node; null for user and folder rows.
ItemPtr ResultNode(::Type* nodes, const QTreeWidgetItem& row)
{
    return nodes->HasItem(Value(&row));
}

} // namespace

SearchResultListItem::SearchResultListItem() : QTreeWidgetItem(QTreeWidgetItem::Type) {}

SearchResultListItem::SearchResultListItem(QTreeWidgetItem* parent) : QTreeWidgetItem(parent, QTreeWidgetItem::Type) {}

SearchResultListItem::SearchResultListItem(QTreeWidget* tree) : QTreeWidgetItem(tree, QTreeWidgetItem::Type) {}

bool SearchResultListItem::operator<(const QTreeWidgetItem& other) const
{
    // During SortTree every row of the tree is one of these and has its key.
    if (m_sortKey)
        return LessThan(m_sortKey->column, *m_sortKey, *static_cast<const SearchResultListItem&>(other).m_sortKey);
    const QTreeWidget* tree = treeWidget();
    return LessThan(tree ? tree->sortColumn() : -1, *this, other);
}

bool SearchResultListItem::LessThan(int column, const QTreeWidgetItem& a, const QTreeWidgetItem& b)
{
    return LessThan(column, KeyOf(column, a), KeyOf(column, b));
}

SearchResultListItem::SortKey SearchResultListItem::KeyOf(int column, const QTreeWidgetItem& row)
{
    SortKey key;
    key.column = column;
    switch (column) {
    case UserColumn:
    case FolderColumn:
    case FileColumn:
        key.text = row.text(column).toLower();
        break;
    case FreeColumn:
        key.text = row.text(FreeColumn);
        key.speed = SpeedOf(row);
        key.file = row.text(FileColumn);
        // A peer's u32 may not fit an int.
        key.number = key.text.isEmpty() ? 0 : key.text.toLongLong();
        break;
    case SpeedColumn:
        key.speed = SpeedOf(row);
        break;
    case SizeColumn:
    case AttributesColumn:
    {
        // Inside a row, "d" and "Type" are the row's own; the store's are
        // "::d" and "::Type".
        ::Type* nodes = ::d.HasType("search_result_node");
        const ItemPtr node = nodes ? ResultNode(nodes, row) : ItemPtr();
        if (!node)
            break;
        const ItemPtr result = node[PeerNames::SearchResult];
        key.hasFile = true;
        key.number = column == SizeColumn ? result[PeerNames::FileSize].AsInt64() : result[PeerNames::Bitrate].AsInt();
        break;
    }
    default:
        break;
    }
    return key;
}

bool SearchResultListItem::LessThan(int column, const SortKey& a, const SortKey& b)
{
    switch (column) {
    case UserColumn:
    case FolderColumn:
    case FileColumn:
        return a.text < b.text;
    case FreeColumn:
        if (a.text == b.text) {
            if (a.speed != b.speed)
                return a.speed < b.speed;
            // Reversed on purpose: the descending default then lists a
            // folder's files from A to Z.
            return b.file < a.file;
        }
        if (a.text == QLatin1String("Y"))
            return false;
        if (b.text == QLatin1String("Y"))
            return true;
        // A longer queue is worse, so it sorts lower.
        return a.number > b.number;
    case SpeedColumn:
        return a.speed != b.speed && a.speed < b.speed;
    case SizeColumn:
    case AttributesColumn:
        // Largest first when ascending, as the column has always sorted;
        // rows without a file are equal to every other.
        return a.hasFile && b.hasFile && a.number > b.number;
    default:
        return false;
    }
}

void SearchResultListItem::SortTree(QTreeWidget* tree, int column, Qt::SortOrder order)
{
    std::vector<SearchResultListItem*> rows;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        auto* row = dynamic_cast<SearchResultListItem*>(*it);
        if (!row) {
            tree->sortItems(column, order);
            return;
        }
        rows.push_back(row);
    }
    std::vector<SortKey> keys;
    keys.reserve(rows.size());
    for (SearchResultListItem* row : rows)
        keys.push_back(KeyOf(column, *row));
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i]->m_sortKey = &keys[i];
    // Sets the header's indicator to the column and order as well.
    tree->sortItems(column, order);
    for (SearchResultListItem* row : rows)
        row->m_sortKey = nullptr;
}
