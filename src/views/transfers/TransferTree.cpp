#include "TransferTree.h"

#include <QProgressBar>
#include <QTreeWidget>
#include <algorithm>
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
    m_rows.Remove(fileRow);
    if (folderRow && folderRow->childCount() == 0) {
        m_parentCounts.remove(folderRow);
        m_rows.Remove(folderRow);
        if (userRow && userRow->childCount() == 0) {
            m_parentCounts.remove(userRow);
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

TransferTree::MenuSelection TransferTree::Selection(const QList<QTreeWidgetItem*>& rows) const
{
    MenuSelection selection;
    std::vector<ItemPtr> entries;
    for (QTreeWidgetItem* row : rows) {
        if (Kind(row) == RowKind::None)
            continue;
        selection.users.insert(UserOf(UserRowOf(row)).AsString());
        std::vector<ItemPtr> below;
        ForEachEntry(row, [&](ItemPtr entry) { below.push_back(entry); });
        if (rows.size() == 1 || below.size() <= 1)
            entries.insert(entries.end(), below.begin(), below.end());
    }
    // A row and a row below it may both be selected: each entry once.
    std::sort(entries.begin(), entries.end());
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
    for (const ItemPtr& entry : entries)
        selection.entries.AppendInOrder(entry);
    return selection;
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
    if (!bar) {
        bar = new QProgressBar;
        bar->setMaximumHeight(kBarHeight);
        m_tree->setItemWidget(row, ProgressColumn, bar);
    }
    bar->setFormat(TransferFigures::ProgressText(done, percent));
    bar->setValue(int(percent));
    row->setText(EtaColumn, TransferFigures::EtaText(secondsLeft));
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
