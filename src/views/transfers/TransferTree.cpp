#include "TransferTree.h"

#include <QItemSelectionModel>
#include <QProgressBar>
#include <QTreeWidget>
#include <algorithm>
#include <array>
#include <climits>
#include <vector>

#include "Data.h"
#include "ServerNames.h"
#include "TransferBarDelegate.h"
#include "TransferNames.h"
#include "TransferQueueManager.h"
#include "TransferRow.h"

namespace {

const char* const kOnlineIcon = ":/icons/online_icon";
const char* const kOfflineIcon = ":/icons/offline_icon";
const int kBarHeight = 14;

// first holds firstHolds items of related; each related item holds
// relatedHolds items of first.
void Relate(Type* first, Type* related, OneOrMany firstHolds, OneOrMany relatedHolds)
{
    first->RelateToType(related, relatedHolds, firstHolds, false);
}

// Takes a row out of its parent when it is the last there, so that
// deleting it does not look for it among its siblings from the front: a
// folder of a hundred thousand emptied from the back would be quadratic.
void TakeIfLast(QTreeWidgetItem* row)
{
    if (QTreeWidgetItem* parent = row->parent()) {
        const int last = parent->childCount() - 1;
        if (parent->child(last) == row)
            parent->takeChild(last);
    } else if (QTreeWidget* tree = row->treeWidget()) {
        const int last = tree->topLevelItemCount() - 1;
        if (tree->topLevelItem(last) == row)
            tree->takeTopLevelItem(last);
    }
}

} // namespace

TransferTree::TransferTree(const Names& names) : m_names(names) {}

void TransferTree::Attach(QTreeWidget* tree)
{
    m_tree = tree;
    TransferRow::WatchLayout(m_tree);
    m_tree->setItemDelegateForColumn(ProgressColumn, new TransferBarDelegate(kBarHeight, m_tree));
}

void TransferTree::Declare()
{
    m_userNodeType = d.NewType(m_names.userNode, 0, false, true);
    m_folderNodeType = d.NewType(m_names.folderNode, 0, false, true);
    m_fileNodeType = d.NewType(m_names.fileNode, 0, false, true);
    m_userType = d.GetType(ServerNames::User);
    m_entryType = d.GetType(m_names.entry);
    m_folderItemType = d.GetType(m_names.folderItem);
    Relate(m_userNodeType, m_userType, one, one);
    Relate(m_folderNodeType, m_userNodeType, one, many);
    Relate(m_folderNodeType, m_folderItemType, one, many);
    Relate(m_folderNodeType, m_fileNodeType, many, one);
    Relate(m_fileNodeType, m_entryType, one, one);

    m_statusType = d.GetType(m_names.status);
    m_positionType = d.GetType(m_names.position);
    m_speedType = d.GetType(TransferNames::BytesPerSecond);
    m_sizeType = d.GetType(m_names.size);
    m_sizeHolderType = m_names.sizeHolder ? d.GetType(m_names.sizeHolder) : nullptr;
}

TransferTree::RowKind TransferTree::Kind(const QTreeWidgetItem* row) const
{
    const ItemPtr node = m_rows.Node(row);
    if (!node)
        return RowKind::None;
    Type* type = node.GetType();
    if (type == m_userNodeType)
        return RowKind::User;
    if (type == m_folderNodeType)
        return RowKind::Folder;
    if (type == m_fileNodeType)
        return RowKind::File;
    return RowKind::None;
}

QTreeWidgetItem* TransferTree::FileRow(ItemPtr entry) const
{
    return m_fileNodeType ? m_rows.Row(entry[m_fileNodeType]) : nullptr;
}

QTreeWidgetItem* TransferTree::UserRow(ItemPtr user) const
{
    return m_userNodeType ? m_rows.Row(user[m_userNodeType]) : nullptr;
}

QTreeWidgetItem* TransferTree::UserRowOf(QTreeWidgetItem* row) const
{
    switch (Kind(row)) {
    case RowKind::User:
        return row;
    case RowKind::Folder:
        return row->parent();
    case RowKind::File:
        return row->parent() ? row->parent()->parent() : nullptr;
    case RowKind::None:
        break;
    }
    return nullptr;
}

ItemPtr TransferTree::EntryOf(const QTreeWidgetItem* fileRow) const
{
    return Kind(fileRow) == RowKind::File ? m_rows.Node(fileRow)[m_entryType] : ItemPtr();
}

ItemPtr TransferTree::UserOf(const QTreeWidgetItem* userRow) const
{
    return Kind(userRow) == RowKind::User ? m_rows.Node(userRow)[m_userType] : ItemPtr();
}

QTreeWidgetItem* TransferTree::AddFileRow(ItemPtr entry, ItemPtr user, ItemPtr folderItem, const QString& folderText,
                                          const QString& fileText, const QString& sizeText, bool expandUsers,
                                          bool expandFolders, const QString& status, const QString& statusText)
{
    QTreeWidgetItem* userRow = UserRow(user);
    if (!userRow) {
        userRow = new TransferRow(m_tree);
        // A row at the address of one that went some other way starts afresh.
        m_parentCounts.insert(userRow, ParentTally());
        m_rows.Add(userRow, m_names.userNode) += user;
        userRow->setText(UserColumn, user.AsString());
        userRow->setIcon(UserColumn, QIcon(user.IsConnected(ServerNames::IsOnline) ? kOnlineIcon : kOfflineIcon));
        userRow->setExpanded(expandUsers);
    }
    QTreeWidgetItem* folderRow = MakeFolderRow(user, userRow, folderItem, folderText, expandFolders);

    // Filled before it joins the tree, so that the view hears of it once
    // and not of every cell: a folder download brings thousands in a row.
    auto* fileRow = new TransferRow;
    m_counted.remove(fileRow);
    fileRow->setText(FileColumn, fileText);
    fileRow->setText(SizeColumn, sizeText);
    if (!status.isEmpty()) {
        fileRow->setText(StatusColumn, statusText);
        Paint(fileRow, status);
    }
    folderRow->addChild(fileRow);
    ItemPtr fileNode = m_rows.Add(fileRow, m_names.fileNode);
    entry += fileNode;
    m_rows.Node(folderRow) += fileNode;
    Recount(fileRow, entry);
    return fileRow;
}

QTreeWidgetItem* TransferTree::FolderRow(ItemPtr user, ItemPtr folderItem) const
{
    // One folder item has a folder node per user that has files in it, so
    // walking those finds this user's in a few steps even when the user
    // has thousands of folders.
    const ItemPtr userNode = m_userNodeType ? user[m_userNodeType] : ItemPtr();
    if (!userNode)
        return nullptr;
    for (const ItemPtr& node : folderItem.GetItems(m_folderNodeType))
        if (node[m_userNodeType] == userNode)
            return m_rows.Row(node);
    return nullptr;
}

QTreeWidgetItem* TransferTree::MakeFolderRow(ItemPtr user, QTreeWidgetItem* userRow, ItemPtr folderItem,
                                             const QString& folderText, bool expand)
{
    if (QTreeWidgetItem* found = FolderRow(user, folderItem))
        return found;
    auto* folderRow = new TransferRow(userRow);
    m_parentCounts.insert(folderRow, ParentTally());
    ItemPtr folderNode = m_rows.Add(folderRow, m_names.folderNode);
    folderNode += m_rows.Node(userRow);
    folderNode += folderItem;
    folderRow->setText(FolderColumn, folderText);
    folderRow->setExpanded(expand);
    return folderRow;
}

QTreeWidgetItem* TransferTree::RemoveFileRow(ItemPtr entry)
{
    QTreeWidgetItem* fileRow = FileRow(entry);
    if (!fileRow)
        return nullptr;
    QTreeWidgetItem* folderRow = fileRow->parent();
    QTreeWidgetItem* userRow = folderRow ? folderRow->parent() : nullptr;
    Uncount(fileRow);
    TakeIfLast(fileRow);
    m_rows.Remove(fileRow);
    if (folderRow && folderRow->childCount() == 0) {
        m_parentCounts.remove(folderRow);
        TakeIfLast(folderRow);
        m_rows.Remove(folderRow);
        if (userRow && userRow->childCount() == 0) {
            m_parentCounts.remove(userRow);
            TakeIfLast(userRow);
            m_rows.Remove(userRow);
            return nullptr;
        }
    }
    if (userRow && userRow->childCount() == 1) {
        RemoveBar(userRow);
        userRow->setText(EtaColumn, QString());
    }
    return userRow;
}

void TransferTree::ForEachEntry(const QTreeWidgetItem* row, const std::function<void(ItemPtr)>& f) const
{
    const ItemPtr node = m_rows.Node(row);
    if (!node)
        return;
    Type* type = node.GetType();
    auto fileNodes = [&](ItemPtr folderNode) {
        for (const ItemPtr& fileNode : folderNode.GetItems(m_fileNodeType))
            if (const ItemPtr entry = fileNode[m_entryType]) {
                ++m_entriesVisited;
                f(entry);
            }
    };
    if (type == m_userNodeType) {
        for (const ItemPtr& folderNode : node.GetItems(m_folderNodeType))
            fileNodes(folderNode);
    } else if (type == m_folderNodeType) {
        fileNodes(node);
    } else if (type == m_fileNodeType) {
        if (const ItemPtr entry = node[m_entryType])
            f(entry);
    }
}

ItemSet TransferTree::Entries(const QTreeWidgetItem* row) const
{
    // Rows are in queue order, not in store order: sort once rather than
    // inserting each entry at its place.
    std::vector<ItemPtr> entries;
    ForEachEntry(row, [&](ItemPtr entry) { entries.push_back(entry); });
    std::sort(entries.begin(), entries.end());
    ItemSet set;
    for (const ItemPtr& entry : entries)
        set.AppendInOrder(entry);
    return set;
}

namespace {

// Where a row stands: its row number at each level from the top, -1 below
// its own level, so that places compare in the tree's order.
using Place = std::array<int, 3>;

Place PlaceOf(QModelIndex index)
{
    std::array<int, 3> up{};
    int depth = 0;
    for (; index.isValid() && depth < 3; index = index.parent())
        up[size_t(depth++)] = index.row();
    Place place{-1, -1, -1};
    for (int i = 0; i < depth; ++i)
        place[size_t(i)] = up[size_t(depth - 1 - i)];
    return place;
}

} // namespace

QTreeWidgetItem* TransferTree::RowAt(const QModelIndex& index) const
{
    if (!index.isValid())
        return nullptr;
    if (!index.parent().isValid())
        return m_tree->topLevelItem(index.row());
    QTreeWidgetItem* parent = RowAt(index.parent());
    return parent ? parent->child(index.row()) : nullptr;
}

ItemPtr TransferTree::FolderItemOf(const QTreeWidgetItem* folderRow) const
{
    return m_rows.Node(folderRow)[m_folderItemType];
}

const QTreeWidgetItem* TransferTree::FirstFileRow(const QTreeWidgetItem* row) const
{
    while (row && Kind(row) != RowKind::File)
        row = row->childCount() > 0 ? row->child(0) : nullptr;
    return row;
}

TransferTree::MenuSelection TransferTree::Selection() const
{
    MenuSelection selection;
    bool severalUsers = false;
    bool severalFolders = false;
    // Two distinct entries at most: a parent selected with its only file
    // is still one entry.
    std::vector<ItemPtr> seen;
    auto noteEntry = [&](ItemPtr entry) {
        if (selection.several || !entry || std::find(seen.begin(), seen.end(), entry) != seen.end())
            return;
        seen.push_back(entry);
        selection.several = seen.size() > 1;
    };
    auto noteParent = [&](const QTreeWidgetItem* row) {
        const int total = Tally(row).total;
        if (total > 1)
            selection.several = true;
        else if (total == 1)
            noteEntry(EntryOf(FirstFileRow(row)));
    };
    auto noteUser = [&](const QTreeWidgetItem* userRow) {
        const ItemPtr user = UserOf(userRow);
        if (!user || severalUsers || user == selection.user)
            return;
        selection.users.insert(user.AsString());
        severalUsers = bool(selection.user);
        if (!severalUsers)
            selection.user = user;
    };
    auto noteFolder = [&](ItemPtr item) {
        if (!item || severalFolders || item == selection.folder)
            return;
        severalFolders = bool(selection.folder);
        selection.folder = item;
    };

    Place firstPlace{INT_MAX, INT_MAX, INT_MAX};
    QTreeWidgetItem* firstRow = nullptr;
    const QItemSelection ranges = m_tree->selectionModel()->selection();
    for (const QItemSelectionRange& range : ranges) {
        const Place place = PlaceOf(range.topLeft());
        if (place < firstPlace) {
            firstPlace = place;
            firstRow = RowAt(range.topLeft());
        }
        QTreeWidgetItem* parent = RowAt(range.parent());
        if (parent && parent->parent()) {
            // File rows: one folder and one user, whatever their number.
            noteUser(parent->parent());
            noteFolder(FolderItemOf(parent));
            if (range.height() > 1)
                selection.several = true;
            else
                noteEntry(EntryOf(RowAt(range.topLeft())));
            continue;
        }
        if (parent)
            noteUser(parent);
        // User or folder rows: each is one more user or folder, so a few
        // of them decide.
        for (int r = range.top(); r <= range.bottom(); ++r) {
            if (selection.several && (parent ? severalFolders : severalUsers))
                break;
            QTreeWidgetItem* row = parent ? parent->child(r) : m_tree->topLevelItem(r);
            if (!row)
                continue;
            noteParent(row);
            if (parent) {
                noteFolder(FolderItemOf(row));
                continue;
            }
            noteUser(row);
            if (row->childCount() == 1)
                noteFolder(FolderItemOf(row->child(0)));
            else
                severalFolders = true;
        }
    }
    selection.first = EntryOf(FirstFileRow(firstRow));
    if (severalUsers)
        selection.user = ItemPtr();
    if (severalFolders || severalUsers)
        selection.folder = ItemPtr();
    return selection;
}

std::vector<RowMirror::Key> TransferTree::SelectedTops() const
{
    const QItemSelection ranges = m_tree->selectionModel()->selection();
    // The selected user and folder rows: the rows below them are theirs.
    QSet<const QTreeWidgetItem*> parents;
    for (const QItemSelectionRange& range : ranges) {
        QTreeWidgetItem* parent = RowAt(range.parent());
        if (parent && parent->parent())
            continue;
        for (int r = range.top(); r <= range.bottom(); ++r)
            if (QTreeWidgetItem* row = parent ? parent->child(r) : m_tree->topLevelItem(r))
                parents.insert(row);
    }
    std::vector<std::pair<Place, const QItemSelectionRange*>> order;
    for (const QItemSelectionRange& range : ranges) {
        QTreeWidgetItem* parent = RowAt(range.parent());
        if (parent && (parents.contains(parent) || (parent->parent() && parents.contains(parent->parent()))))
            continue;
        order.push_back({PlaceOf(range.topLeft()), &range});
    }
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<RowMirror::Key> keys;
    for (const auto& placed : order) {
        QTreeWidgetItem* parent = RowAt(placed.second->parent());
        for (int r = placed.second->top(); r <= placed.second->bottom(); ++r)
            if (const RowMirror::Key key = m_rows.KeyOf(parent ? parent->child(r) : m_tree->topLevelItem(r)))
                keys.push_back(key);
    }
    return keys;
}

TransferStatus::Kind TransferTree::KindOf(ItemPtr entry) const
{
    const ItemPtr status = entry[m_statusType];
    if (!status)
        return TransferStatus::Other;
    auto known = m_statusKinds.constFind(status.GetItemPointer());
    if (known != m_statusKinds.constEnd() && known->sequence == status.Sequence())
        return known->kind;
    const TransferStatus::Kind kind = TransferStatus::KindOf(status.AsString(), QLatin1String(m_names.running));
    m_statusKinds.insert(status.GetItemPointer(), KnownStatus{status.Sequence(), kind});
    return kind;
}

QString TransferTree::StatusOf(ItemPtr entry) const
{
    return entry[m_statusType].AsString();
}

TransferTree::Counted TransferTree::Share(ItemPtr entry) const
{
    // Only a running transfer has a position: the engine takes it away
    // as the transfer stops, right after the status changes.
    Counted counted{KindOf(entry), {}};
    counted.sums.Add(counted.kind, counted.kind == TransferStatus::Running ? Position(entry) : 0, Size(entry));
    return counted;
}

void TransferTree::CountAbove(QTreeWidgetItem* fileRow, const Counted& counted, int sign)
{
    for (QTreeWidgetItem* parent = fileRow->parent(); parent; parent = parent->parent()) {
        ParentTally& tally = m_parentCounts[parent];
        if (sign > 0)
            tally.counts.Add(counted.kind);
        else
            tally.counts.Remove(counted.kind);
        tally.sums.done += sign * counted.sums.done;
        tally.sums.remaining += sign * counted.sums.remaining;
        tally.sums.total += sign * counted.sums.total;
    }
}

void TransferTree::Uncount(QTreeWidgetItem* fileRow)
{
    auto counted = m_counted.find(fileRow);
    if (counted == m_counted.end())
        return;
    CountAbove(fileRow, counted.value(), -1);
    m_counted.erase(counted);
}

void TransferTree::Recount(QTreeWidgetItem* fileRow, ItemPtr entry)
{
    Uncount(fileRow);
    const Counted counted = Share(entry);
    m_counted.insert(fileRow, counted);
    CountAbove(fileRow, counted, 1);
}

TransferStatus::Counts TransferTree::Tally(const QTreeWidgetItem* row) const
{
    const RowKind kind = Kind(row);
    if (kind == RowKind::User || kind == RowKind::Folder)
        return m_parentCounts.value(row).counts;
    TransferStatus::Counts counts;
    ForEachEntry(row, [&](ItemPtr entry) { counts.Add(KindOf(entry)); });
    return counts;
}

QString TransferTree::Aggregate(const QTreeWidgetItem* row) const
{
    return TransferStatus::Aggregate(Tally(row), QLatin1String(m_names.running));
}

QString TransferTree::Aggregate(const ItemSet& entries) const
{
    TransferStatus::Counts counts;
    for (const ItemPtr& entry : entries)
        counts.Add(KindOf(entry));
    return TransferStatus::Aggregate(counts, QLatin1String(m_names.running));
}

TransferFigures::Sums TransferTree::Sums(const QTreeWidgetItem* row) const
{
    const RowKind kind = Kind(row);
    if (kind == RowKind::User || kind == RowKind::Folder)
        return m_parentCounts.value(row).sums;
    TransferFigures::Sums sums;
    ForEachEntry(row, [&](ItemPtr entry) { sums.Add(KindOf(entry), Position(entry), Size(entry)); });
    return sums;
}

TransferFigures::Sums TransferTree::Sums(const ItemSet& entries) const
{
    TransferFigures::Sums sums;
    for (const ItemPtr& entry : entries)
        sums.Add(KindOf(entry), Position(entry), Size(entry));
    return sums;
}

qint64 TransferTree::Position(ItemPtr entry) const
{
    // The counter belongs to the position item: read it only through an
    // item that is there now, never through an address kept from before.
    const ItemPtr position = entry[m_positionType];
    const auto* counter = position ? position.AsObject<TransferCounter64>() : nullptr;
    return counter ? counter->load() : 0;
}

qint64 TransferTree::Speed(ItemPtr entry) const
{
    const ItemPtr speed = entry[m_speedType];
    const auto* counter = speed ? speed.AsObject<TransferCounter32>() : nullptr;
    return counter ? counter->load() : 0;
}

qint64 TransferTree::Size(ItemPtr entry) const
{
    const ItemPtr holder = m_sizeHolderType ? entry[m_sizeHolderType] : entry;
    return holder[m_sizeType].AsInt64();
}

void TransferTree::ShowAggregate(QTreeWidgetItem* row) const
{
    const QString aggregate = Aggregate(row);
    if (!row->isExpanded())
        SetText(row, StatusColumn, aggregate);
    Paint(row, aggregate);
}

QProgressBar* TransferTree::Bar(QTreeWidgetItem* row) const
{
    // A user row taken out of the view while its transfers are removed
    // has no cells that could hold a widget.
    if (!row->treeWidget())
        return nullptr;
    return qobject_cast<QProgressBar*>(m_tree->itemWidget(row, ProgressColumn));
}

void TransferTree::ShowProgress(QTreeWidgetItem* row, qint64 done, double percent, qint64 secondsLeft)
{
    if (row->parent() && row->parent()->parent()) {
        row->setData(ProgressColumn, TransferBarDelegate::ValueRole, int(percent));
        row->setData(ProgressColumn, TransferBarDelegate::TextRole, TransferFigures::ProgressText(done, percent));
        SetText(row, EtaColumn, TransferFigures::EtaText(secondsLeft));
        return;
    }
    QProgressBar* bar = Bar(row);
    if (!bar && !row->treeWidget())
        return;
    if (!bar) {
        bar = new QProgressBar;
        bar->setMaximumHeight(kBarHeight);
        m_tree->setItemWidget(row, ProgressColumn, bar);
    }
    bar->setFormat(TransferFigures::ProgressText(done, percent));
    bar->setValue(int(percent));
    row->setText(EtaColumn, TransferFigures::EtaText(secondsLeft));
}

void TransferTree::ShowFinished(QTreeWidgetItem* fileRow, ItemPtr entry)
{
    const qint64 size = Size(entry);
    fileRow->setData(ProgressColumn, TransferBarDelegate::ValueRole, 100);
    fileRow->setData(ProgressColumn, TransferBarDelegate::TextRole, TransferFigures::ProgressText(size, 100.0));
}

TransferTree::ShownBar TransferTree::BarOf(QTreeWidgetItem* row) const
{
    if (const QProgressBar* bar = Bar(row))
        return ShownBar{true, bar->value(), bar->format()};
    const QVariant value = row->data(ProgressColumn, TransferBarDelegate::ValueRole);
    if (!value.isValid())
        return ShownBar();
    return ShownBar{true, value.toInt(), row->data(ProgressColumn, TransferBarDelegate::TextRole).toString()};
}

void TransferTree::RemoveBar(QTreeWidgetItem* row)
{
    if (row->data(ProgressColumn, TransferBarDelegate::ValueRole).isValid()) {
        row->setData(ProgressColumn, TransferBarDelegate::ValueRole, QVariant());
        row->setData(ProgressColumn, TransferBarDelegate::TextRole, QVariant());
    }
    if (QProgressBar* bar = Bar(row)) {
        bar->deleteLater();
        m_tree->setItemWidget(row, ProgressColumn, nullptr);
    }
}

void TransferTree::ClearParentFigures(QTreeWidgetItem* row)
{
    row->setText(StatusColumn, QString());
    row->setText(EtaColumn, QString());
    row->setText(SpeedColumn, QString());
    RemoveBar(row);
}

void TransferTree::SetUserIcon(ItemPtr user, bool online)
{
    if (QTreeWidgetItem* row = UserRow(user))
        row->setIcon(UserColumn, QIcon(online ? kOnlineIcon : kOfflineIcon));
}

void TransferTree::ExpandAll(bool users, bool expand)
{
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* userRow = m_tree->topLevelItem(i);
        if (users) {
            userRow->setExpanded(expand);
            continue;
        }
        for (int j = 0; j < userRow->childCount(); ++j)
            userRow->child(j)->setExpanded(expand);
    }
}

QList<QTreeWidgetItem*> TransferTree::ParentRows() const
{
    QList<QTreeWidgetItem*> rows;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* userRow = m_tree->topLevelItem(i);
        for (int j = 0; j < userRow->childCount(); ++j)
            rows << userRow->child(j);
        rows << userRow;
    }
    return rows;
}

void TransferTree::Paint(QTreeWidgetItem* row, const QString& status)
{
    // Every row of the trees is a TransferRow, which keeps one colour for
    // all its cells.
    if (auto* own = dynamic_cast<TransferRow*>(row))
        own->SetForeground(TransferRow::BrushOf(TransferStatus::Color(status)));
}

void TransferTree::SetText(QTreeWidgetItem* row, int column, const QString& text)
{
    if (row->text(column) != text)
        row->setText(column, text);
}
