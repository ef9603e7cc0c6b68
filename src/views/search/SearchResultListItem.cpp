#include "SearchResultListItem.h"

#include <QTreeWidget>
#include <algorithm>
#include <cstring>

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
ItemPtr ResultOf(const QTreeWidgetItem& row)
{
    // Inside a row, "d" and "Type" are the row's own; the store's are "::d"
    // and "::Type".
    ::Type* nodes = ::d.HasType("search_result_node");
    const ItemPtr node = nodes ? nodes->HasItem(Value(&row)) : ItemPtr();
    return node ? node[PeerNames::SearchResult] : ItemPtr();
}

// A signed number as an unsigned one of the same order.
quint64 Ordered(qint64 value)
{
    return quint64(value) ^ (quint64(1) << 63);
}

// A speed that is no negative number as an unsigned number of the same
// order: the bits of a positive double are in its order.
bool OrderedSpeed(double speed, quint64& ordered)
{
    ordered = 0;
    if (!(speed >= 0))
        return false;
    if (speed > 0)
        std::memcpy(&ordered, &speed, sizeof ordered);
    return true;
}

// The text's first four UTF-16 units in the order QString compares them, a
// shorter text's missing units read as 0; texts whose leading units differ
// compare as these do.
quint64 Leading(const ushort* units, int length)
{
    quint64 leading = 0;
    for (int i = 0; i < 4; ++i)
        leading = leading << 16 | (i < length ? units[i] : 0);
    return leading;
}

} // namespace

SearchResultListItem::SearchResultListItem() : QTreeWidgetItem(RowType) {}

SearchResultListItem::SearchResultListItem(QTreeWidgetItem* parent) : QTreeWidgetItem(parent, RowType) {}

SearchResultListItem::SearchResultListItem(QTreeWidget* tree) : QTreeWidgetItem(tree, RowType) {}

void SearchResultListItem::KeepKeys(ItemPtr result, const QString& filterText)
{
    m_keys = KeysOf(*this, result);
    m_keysKept = true;
    // Most names fold as they lower: one copy then serves both.
    m_filterText = filterText == m_keys.file ? m_keys.file : filterText == m_keys.folder ? m_keys.folder : filterText;
}

bool SearchResultListItem::operator<(const QTreeWidgetItem& other) const
{
    // During SortTree every row of the tree is one of these and has its rank.
    if (m_rank >= 0)
        return m_rank < static_cast<const SearchResultListItem&>(other).m_rank;
    const QTreeWidget* tree = treeWidget();
    return LessThan(tree ? tree->sortColumn() : -1, *this, other);
}

bool SearchResultListItem::LessThan(int column, const QTreeWidgetItem& a, const QTreeWidgetItem& b)
{
    std::deque<SortKeys> read;
    return LessThan(column, KeysOf(a, read), KeysOf(b, read));
}

SearchResultListItem::SortKeys SearchResultListItem::KeysOf(const QTreeWidgetItem& row, ItemPtr result)
{
    SortKeys keys;
    keys.user = row.text(UserColumn).toLower();
    keys.folder = row.text(FolderColumn).toLower();
    keys.fileText = row.text(FileColumn);
    keys.file = keys.fileText.toLower();
    keys.free = row.text(FreeColumn);
    // A peer's u32 may not fit an int.
    keys.queue = keys.free.isEmpty() ? 0 : keys.free.toLongLong();
    keys.freeIsExact =
        keys.free == QLatin1String("Y") || (!keys.free.isEmpty() && QString::number(keys.queue) == keys.free);
    keys.speed = SpeedOf(row);
    if (result) {
        keys.hasFile = true;
        keys.attributes = FilterParser::AttributesOf(result);
    }
    return keys;
}

const SearchResultListItem::SortKeys& SearchResultListItem::KeysOf(const QTreeWidgetItem& row,
                                                                   std::deque<SortKeys>& read)
{
    const SearchResultListItem* kept = Of(&row);
    if (kept && kept->m_keysKept)
        return kept->m_keys;
    read.push_back(KeysOf(row, ResultOf(row)));
    return read.back();
}

bool SearchResultListItem::LessThan(int column, const SortKeys& a, const SortKeys& b)
{
    switch (column) {
    case UserColumn:
        return a.user < b.user;
    case FolderColumn:
        return a.folder < b.folder;
    case FileColumn:
        return a.file < b.file;
    case FreeColumn:
        if (a.free == b.free) {
            if (a.speed != b.speed)
                return a.speed < b.speed;
            // Reversed on purpose: the descending default then lists a
            // folder's files from A to Z.
            return b.fileText < a.fileText;
        }
        if (a.free == QLatin1String("Y"))
            return false;
        if (b.free == QLatin1String("Y"))
            return true;
        // A longer queue is worse, so it sorts lower.
        return a.queue > b.queue;
    case SpeedColumn:
        return a.speed != b.speed && a.speed < b.speed;
    case SizeColumn:
        // Largest first when ascending, as the column has always sorted;
        // rows without a file are equal to every other.
        return a.hasFile && b.hasFile && a.attributes.size > b.attributes.size;
    case AttributesColumn:
        return a.hasFile && b.hasFile && a.attributes.bitrate > b.attributes.bitrate;
    default:
        return false;
    }
}

SearchResultListItem::Placed SearchResultListItem::PlaceOf(int column, const SortKeys& keys, std::vector<ushort>& units)
{
    Placed placed;
    auto addText = [&](const QString& text) {
        placed.text = int(units.size());
        placed.length = text.size();
        units.insert(units.end(), text.utf16(), text.utf16() + text.size());
    };
    switch (column) {
    case UserColumn:
    case FolderColumn:
    case FileColumn:
        addText(column == UserColumn ? keys.user : column == FolderColumn ? keys.folder : keys.file);
        placed.first = Leading(units.data() + placed.text, placed.length);
        placed.exact = true;
        break;
    case FreeColumn:
        // A free slot above every queue, a shorter queue above a longer;
        // then, of one text, the slower first and the file names backwards.
        placed.first = keys.free == QLatin1String("Y") ? ~quint64(0) : Ordered(~keys.queue);
        placed.exact = keys.freeIsExact && OrderedSpeed(keys.speed, placed.second);
        addText(keys.fileText);
        break;
    case SpeedColumn:
        placed.exact = OrderedSpeed(keys.speed, placed.first);
        break;
    case SizeColumn:
    case AttributesColumn:
        // Largest first when ascending.
        placed.first = Ordered(~(column == SizeColumn ? keys.attributes.size : qint64(keys.attributes.bitrate)));
        placed.exact = keys.hasFile;
        break;
    default:
        break;
    }
    return placed;
}

struct SearchResultListItem::Ranking
{
    std::vector<SearchResultListItem*> ranked;
    std::deque<SortKeys> read;
    std::vector<const SortKeys*> keys;
    std::vector<Placed> places;
    std::vector<ushort> units;

    // The rows compare as the tree would compare them again.
    ~Ranking()
    {
        for (SearchResultListItem* row : ranked)
            row->m_rank = -1;
    }
};

bool SearchResultListItem::Rank(QTreeWidgetItem* parent, int column, Qt::SortOrder order, Ranking& ranking,
                                std::vector<QTreeWidgetItem*>* below)
{
    std::vector<const SortKeys*>& keys = ranking.keys;
    std::vector<Placed>& places = ranking.places;
    std::vector<ushort>& units = ranking.units;
    const bool backwards = column == FreeColumn;
    const int count = parent->childCount();
    keys.resize(size_t(count));
    places.resize(size_t(count));
    units.clear();
    for (int i = 0; i < count; ++i) {
        QTreeWidgetItem* child = parent->child(i);
        if (child->type() != RowType)
            return false;
        keys[size_t(i)] = &KeysOf(*child, ranking.read);
        places[size_t(i)] = PlaceOf(column, *keys[size_t(i)], units);
        places[size_t(i)].index = i;
        if (below && child->childCount() > 0)
            below->push_back(child);
    }
    const ushort* text = units.data();
    auto less = [&](const Placed& a, const Placed& b) {
        if (!a.exact || !b.exact)
            return LessThan(column, *keys[size_t(a.index)], *keys[size_t(b.index)]);
        if (a.first != b.first)
            return a.first < b.first;
        if (a.second != b.second)
            return a.second < b.second;
        const ushort* x = text + a.text;
        const ushort* y = text + b.text;
        return backwards ? std::lexicographical_compare(y, y + b.length, x, x + a.length)
                         : std::lexicographical_compare(x, x + a.length, y, y + b.length);
    };
    // The tree's own sort is stable both ways: rows of equal keys keep
    // their order whichever way it goes.
    if (order == Qt::AscendingOrder)
        std::stable_sort(places.begin(), places.end(), less);
    else
        std::stable_sort(places.begin(), places.end(), [&](const Placed& a, const Placed& b) { return less(b, a); });
    for (int place = 0; place < count; ++place) {
        auto* row = static_cast<SearchResultListItem*>(parent->child(places[size_t(place)].index));
        // Descending, the tree puts the highest rank first.
        row->m_rank = order == Qt::AscendingOrder ? place : count - 1 - place;
        ranking.ranked.push_back(row);
    }
    return true;
}

void SearchResultListItem::SortTree(QTreeWidget* tree, int column, Qt::SortOrder order)
{
    // Each parent's rows, as the tree sorts each level among siblings.
    std::vector<QTreeWidgetItem*> parents{tree->invisibleRootItem()};
    Ranking ranking;
    for (size_t p = 0; p < parents.size(); ++p) {
        if (!Rank(parents[p], column, order, ranking, &parents)) {
            for (SearchResultListItem* each : ranking.ranked)
                each->m_rank = -1;
            ranking.ranked.clear();
            break;
        }
    }
    // Sets the header's indicator to the column and order as well.
    tree->sortItems(column, order);
}

void SearchResultListItem::SortChildren(QTreeWidget* tree, const QList<QTreeWidgetItem*>& parents, int column,
                                        Qt::SortOrder order)
{
    for (QTreeWidgetItem* parent : parents) {
        if (parent->treeWidget() != tree && parent != tree->invisibleRootItem())
            continue;
        Ranking ranking;
        if (!Rank(parent, column, order, ranking, nullptr)) {
            for (SearchResultListItem* each : ranking.ranked)
                each->m_rank = -1;
            ranking.ranked.clear();
        }
        parent->sortChildren(column, order);
    }
}
