#include "SearchResultListItem.h"

#include "Data.h"

namespace {

// Text that is no number reads as 0.
double SpeedOf(const QTreeWidgetItem& row)
{
    return row.text(SearchResultListItem::SpeedColumn).toDouble();
}

// The file a row shows, through its node; null for user and folder rows.
ItemPtr ResultNode(const QTreeWidgetItem& row)
{
    Type* nodes = d.HasType("search_result_node");
    return nodes ? nodes->HasItem(Value(&row)) : ItemPtr();
}

} // namespace

SearchResultListItem::SearchResultListItem(QTreeWidgetItem* parent)
    : QTreeWidgetItem(parent, QTreeWidgetItem::Type)
{
}

SearchResultListItem::SearchResultListItem(QTreeWidget* tree)
    : QTreeWidgetItem(tree, QTreeWidgetItem::Type)
{
}

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
    case FreeColumn: {
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
    case SpeedColumn: {
        const double speedA = SpeedOf(a);
        const double speedB = SpeedOf(b);
        return speedA != speedB && speedA < speedB;
    }
    case SizeColumn:
    case AttributesColumn: {
        const ItemPtr nodeA = ResultNode(a);
        const ItemPtr nodeB = ResultNode(b);
        if (!nodeA || !nodeB)
            return false;
        const ItemPtr resultA = nodeA["search_result"];
        const ItemPtr resultB = nodeB["search_result"];
        // Largest first when ascending, as the column has always sorted.
        if (column == SizeColumn)
            return resultA["file_size"].AsInt64() > resultB["file_size"].AsInt64();
        return resultA["bitrate"].AsInt() > resultB["bitrate"].AsInt();
    }
    default:
        return false;
    }
}
