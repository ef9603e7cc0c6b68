#pragma once

#include <QSet>
#include <functional>

#include "DataHandler.h"
#include "ItemPtr.h"
#include "ItemSet.h"

class Item;
class Type;

// Items held across a nested event loop (a menu's exec, a modal dialog).
// Meanwhile any of them may be removed (a finished download cleared, a
// stale upload pruned) and its handle would then lead to freed memory: an
// item leaves the set when it is removed, so what the set holds afterwards
// is safe to use.
class KeptItems : public DataHandler
{
public:
    KeptItems() = default;
    explicit KeptItems(const ItemSet& items) { Add(items); }

    void Add(const ItemSet& items);
    void Add(ItemPtr item);

    // The items not removed since, in the store's order.
    const ItemSet& Items() const { return m_items; }
    ItemPtr First() const { return m_items.First(); }
    ItemPtr Last() const { return m_items.empty() ? ItemPtr() : m_items.List().back(); }
    size_t Size() const { return m_items.size(); }

    // The item when it is kept and not removed since, else null. Only the
    // address is compared, so a handle of a removed item may be passed.
    ItemPtr Alive(ItemPtr item) const;

    // Calls f for each item still there when its turn comes: f may remove
    // items (its own and others, through the engines' handlers), and those
    // are passed over.
    void ForEach(const std::function<void(ItemPtr)>& f) const;
    // Lets every item go; the types stay watched.
    void Clear();
    // Lets the first count items go, and hands them back.
    ItemList TakeFirst(size_t count);

private:
    void Watch(Type* type);
    void Forget(ItemPtr item);

    ItemSet m_items;
    QSet<const Item*> m_alive;
    QSet<Type*> m_watched;
};
