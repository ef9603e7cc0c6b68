#include "SearchResultListItem.h"

#include "Data.h"
#include "PeerNames.h"

namespace {

// Text that is no number reads as 0.
double SpeedOf(const QTreeWidgetItem& row)
{
    return row.text(SearchResultListItem::SpeedColumn).toDouble();
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
    const QTreeWidget* tree = treeWidget();
    return LessThan(tree ? tree->sortColumn() : -1, *this, other);
}

bool SearchResultListItem::LessThan(int column, const QTreeWidgetItem& a, const QTreeWidgetItem& b)
{
    switch (column) {
    case UserColumn:
    case FolderColumn:
    case FileColumn:
        return a.text(column).toLower() < b.text(column).toLower();
    case FreeColumn:
    {
        const QString freeA = a.text(FreeColumn);
        const QString freeB = b.text(FreeColumn);
        if (freeA == freeB) {
            const double speedA = SpeedOf(a);
            const double speedB = SpeedOf(b);
            if (speedA != speedB)
                return speedA < speedB;
            // Reversed on purpose: the descending default then lists a
            // folder's files from A to Z.
            return b.text(FileColumn) < a.text(FileColumn);
        }
        if (freeA == QLatin1String("Y"))
            return false;
        if (freeB == QLatin1String("Y"))
            return true;
        // A longer queue is worse, so it sorts lower; a peer's u32 may not
        // fit an int.
        return freeA.toLongLong() > freeB.toLongLong();
    }
    case SpeedColumn:
    {
        const double speedA = SpeedOf(a);
        const double speedB = SpeedOf(b);
        return speedA != speedB && speedA < speedB;
    }
    case SizeColumn:
    case AttributesColumn:
    {
        // Sorting calls this n log n times: the types are looked up once
        // per call, not once per step. (Inside a row, "d" and "Type" are
        // the row's own; the store's are "::d" and "::Type".)
        ::Type* nodes = ::d.HasType("search_result_node");
        if (!nodes)
            return false;
        const ItemPtr nodeA = ResultNode(nodes, a);
        const ItemPtr nodeB = ResultNode(nodes, b);
        if (!nodeA || !nodeB)
            return false;
        ::Type* results = ::d.GetType(PeerNames::SearchResult);
        const ItemPtr resultA = nodeA[results];
        const ItemPtr resultB = nodeB[results];
        // Largest first when ascending, as the column has always sorted.
        if (column == SizeColumn) {
            ::Type* sizes = ::d.GetType(PeerNames::FileSize);
            return resultA[sizes].AsInt64() > resultB[sizes].AsInt64();
        }
        ::Type* bitrates = ::d.GetType(PeerNames::Bitrate);
        return resultA[bitrates].AsInt() > resultB[bitrates].AsInt();
    }
    default:
        return false;
    }
}
