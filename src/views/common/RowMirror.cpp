#include "RowMirror.h"

#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "Data.h"

RowMirror::~RowMirror()
{
    // The nodes go with the page: a later row at a recycled address must
    // never find this one's node and the items it was connected to.
    QList<::Item*> nodes;
    nodes.reserve(m_nodes.size());
    for (auto it = m_nodes.constBegin(); it != m_nodes.constEnd(); ++it)
        nodes.append(it.key());
    m_rows.clear();
    m_keys.clear();
    m_nodes.clear();
    Data::Batch batch(&d);
    for (::Item* node : nodes)
        ItemPtr(node).Remove();
}

ItemPtr RowMirror::Add(QTreeWidgetItem* row, const char* nodeType)
{
    Type* type = d.GetType(nodeType);
    if (!m_watchedNodeTypes.contains(type)) {
        m_watchedNodeTypes.insert(type);
        type->AddItemRemovedHandler(new FunctionHandler<ItemPtr>(this, [this](ItemPtr node) { OnNodeRemoved(node); }));
    }
    const Value address(row);
    // A node left by a row that died unseen at this address would bring its
    // old connections along.
    if (ItemPtr stale = type->HasItem(address))
        stale.Remove();
    ItemPtr node = type->GetItem(address);
    const Key key = m_nextKey++;
    m_rows.insert(row, Entry{key, node.GetItemPointer()});
    m_keys.insert(key, row);
    m_nodes.insert(node.GetItemPointer(), row);
    return node;
}

ItemPtr RowMirror::Node(const QTreeWidgetItem* row) const
{
    auto it = m_rows.constFind(row);
    return it == m_rows.constEnd() ? ItemPtr() : ItemPtr(it->node);
}

ItemPtr RowMirror::Item(const QTreeWidgetItem* row, const char* type) const
{
    return Node(row)[type];
}

QTreeWidgetItem* RowMirror::Row(ItemPtr node) const
{
    return m_nodes.value(node.GetItemPointer(), nullptr);
}

QTreeWidgetItem* RowMirror::RowOf(ItemPtr item, const char* nodeType) const
{
    return Row(item[nodeType]);
}

RowMirror::Key RowMirror::KeyOf(const QTreeWidgetItem* row) const
{
    auto it = m_rows.constFind(row);
    return it == m_rows.constEnd() ? 0 : it->key;
}

QList<RowMirror::Key> RowMirror::Keys(const QList<QTreeWidgetItem*>& rows) const
{
    QList<Key> keys;
    for (const QTreeWidgetItem* row : rows) {
        if (const Key key = KeyOf(row))
            keys.append(key);
    }
    return keys;
}

QTreeWidgetItem* RowMirror::Row(Key key) const
{
    return m_keys.value(key, nullptr);
}

void RowMirror::Forget(QTreeWidgetItem* row, QList<::Item*>& nodes)
{
    // Child rows die with their parent, registered or not.
    QList<QTreeWidgetItem*> pending{row};
    while (!pending.isEmpty()) {
        QTreeWidgetItem* r = pending.takeLast();
        auto it = m_rows.find(r);
        if (it != m_rows.end()) {
            nodes.append(it->node);
            m_keys.remove(it->key);
            m_nodes.remove(it->node);
            m_rows.erase(it);
        }
        for (int i = 0; i < r->childCount(); ++i)
            pending.append(r->child(i));
    }
}

void RowMirror::Remove(QTreeWidgetItem* row)
{
    if (row)
        Remove(QList<QTreeWidgetItem*>{row});
}

void RowMirror::Remove(const QList<QTreeWidgetItem*>& rows)
{
    QList<::Item*> nodes;
    for (QTreeWidgetItem* row : rows)
        Forget(row, nodes);
    qDeleteAll(rows);
    Data::Batch batch(&d);
    for (::Item* node : nodes)
        ItemPtr(node).Remove();
}

QList<::Item*> RowMirror::Release(QTreeWidgetItem* row)
{
    QList<::Item*> nodes;
    if (row)
        Forget(row, nodes);
    return nodes;
}

void RowMirror::Clear(QTreeWidget* tree)
{
    QList<::Item*> nodes;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        Forget(tree->topLevelItem(i), nodes);
    // One clear instead of row by row: taking rows one at a time from the
    // front of a large tree is quadratic.
    tree->clear();
    Data::Batch batch(&d);
    for (::Item* node : nodes)
        ItemPtr(node).Remove();
}

RowMirror::Taken RowMirror::TakeAll(QTreeWidget* tree)
{
    // The records go along to be freed a row at a time, as the rows are.
    Taken taken;
    taken.m_entries.swap(m_rows);
    taken.m_keys.swap(m_keys);
    taken.m_nodes.swap(m_nodes);
    taken.m_nodeTypes = m_watchedNodeTypes.values();
    // One removal the view hears of, not one per row.
    taken.m_rows = tree->invisibleRootItem()->takeChildren();
    return taken;
}

RowMirror::Taken::~Taken()
{
    Data::Batch batch(&d);
    while (!IsEmpty())
        DeleteOne();
}

void RowMirror::Taken::DeleteOne()
{
    QTreeWidgetItem* row = m_rows.last();
    while (row->childCount() > 0) {
        m_rows += row->takeChildren();
        row = m_rows.last();
    }
    m_rows.removeLast();
    const auto entry = m_entries.constFind(row);
    if (entry != m_entries.constEnd()) {
        m_keys.remove(entry->key);
        m_nodes.remove(entry->node);
        m_entries.erase(entry);
    }
    // Found by the row's address rather than the record: the store's sweep
    // may have removed the node meanwhile.
    for (Type* type : qAsConst(m_nodeTypes))
        type->HasItem(Value(row)).Remove();
    delete row;
}

void RowMirror::FollowRemovalOf(const char* itemType, const char* nodeType)
{
    const std::string node(nodeType);
    d.GetType(itemType)->AddItemRemovedHandler(new FunctionHandler<ItemPtr>(this, [this, node](ItemPtr item) {
        // The removed item is still connected while its handlers run.
        Remove(RowOf(item, node.c_str()));
    }));
}

void RowMirror::OnNodeRemoved(ItemPtr node)
{
    // A node removed by anyone else (a removed owner, the store's clean-up)
    // takes its row along, so the row never outlives what it shows.
    if (QTreeWidgetItem* row = Row(node))
        Remove(row);
}
