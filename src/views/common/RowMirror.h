#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QtGlobal>

#include "DataHandler.h"
#include "ItemPtr.h"

class Item;
class QTreeWidget;
class Type;
class QTreeWidgetItem;

// Keeps a tree's rows and their node items in step. Each row has one
// transient node item (of a type the view declares) whose value is the
// row's address; the view connects the node to the engine items the row
// shows, so a handler finds the row from an item and a slot the item from a
// row. Rows are deleted only through the mirror (or with an item it follows),
// which removes their nodes with them and forgets them, so a node never
// names a dead row and a stale address is never read back as a row.
//
// Across a nested event loop keep a Key (or an item's value), never a row:
// Row(Key) answers null once the row is gone, and a Key is never reused.
class RowMirror : public DataHandler
{
public:
    typedef quint64 Key;

    RowMirror() = default;
    // Removes the nodes but leaves the rows: the tree deletes its own rows,
    // after the page's members are gone.
    ~RowMirror() override;

    // Registers a row made by the view and creates its node item of the
    // given type; returns the node for the view to connect.
    ItemPtr Add(QTreeWidgetItem* row, const char* nodeType);

    // The node of a registered row, or null.
    ItemPtr Node(const QTreeWidgetItem* row) const;
    // The first item of a type connected to the row's node, or null.
    ItemPtr Item(const QTreeWidgetItem* row, const char* type) const;
    // The row of a node of this mirror, or null.
    QTreeWidgetItem* Row(ItemPtr node) const;
    // The row showing an item: the row of the item's node of the given type.
    QTreeWidgetItem* RowOf(ItemPtr item, const char* nodeType) const;

    Key KeyOf(const QTreeWidgetItem* row) const;
    // Keys of registered rows, in the order given, unregistered rows left out.
    QList<Key> Keys(const QList<QTreeWidgetItem*>& rows) const;
    QTreeWidgetItem* Row(Key key) const;

    // Deletes a row with every row below it and removes their nodes.
    void Remove(QTreeWidgetItem* row);
    // The same of many rows, none below another, in one go.
    void Remove(const QList<QTreeWidgetItem*>& rows);
    // Forgets a row and every row below it, deleting none and removing no
    // node: the rows are the caller's to delete and the nodes, handed back,
    // to remove, later if it likes. Nothing finds the rows any more.
    QList<::Item*> Release(QTreeWidgetItem* row);
    // Empties a tree, removing the nodes of its registered rows.
    void Clear(QTreeWidget* tree);
    class Taken;
    // Takes every row out of the tree in one go, with the mirror's records
    // of them: for a tree too large to empty in one turn, whose rows are
    // then deleted a few a turn.
    Taken TakeAll(QTreeWidget* tree);
    // From now on, removing an item of itemType from the store deletes the
    // row whose node of nodeType is connected to it. (A node removed by
    // anyone deletes its row in any case.)
    void FollowRemovalOf(const char* itemType, const char* nodeType);

    int Count() const { return m_rows.size(); }

private:
    struct Entry
    {
        Key key;
        ::Item* node;
    };

    void Forget(QTreeWidgetItem* row, QList<::Item*>& nodes);
    void OnNodeRemoved(ItemPtr node);

    QHash<const QTreeWidgetItem*, Entry> m_rows;
    QHash<Key, QTreeWidgetItem*> m_keys;
    QHash<::Item*, QTreeWidgetItem*> m_nodes;
    QSet<Type*> m_watchedNodeTypes;
    Key m_nextKey = 1;
};

// Rows taken out of a tree by RowMirror::TakeAll, still with their nodes
// and the mirror's records, which go row by row: each row is deleted only
// after its node is removed, so no row made meanwhile at a node's address
// is ever taken for the dead one. Deletes whatever is left when it goes.
class RowMirror::Taken
{
public:
    Taken() = default;
    Taken(Taken&&) = default;
    // Assigned over, the rows held would be lost undeleted.
    Taken& operator=(Taken&&) = delete;
    ~Taken();

    bool IsEmpty() const { return m_rows.isEmpty(); }
    // Deletes one row with no rows left below it, after its node.
    void DeleteOne();

private:
    friend class RowMirror;

    // The rows left; the last goes first once the rows below it are out.
    QList<QTreeWidgetItem*> m_rows;
    QHash<const QTreeWidgetItem*, Entry> m_entries;
    QHash<Key, QTreeWidgetItem*> m_keys;
    QHash<::Item*, QTreeWidgetItem*> m_nodes;
    QList<Type*> m_nodeTypes;
};
