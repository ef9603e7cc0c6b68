#include "KeptItems.h"

#include "Data.h"

void KeptItems::Add(const ItemSet& items)
{
    for (const ItemPtr& item : items)
        Add(item);
}

void KeptItems::Add(ItemPtr item)
{
    if (!item || m_alive.contains(item.GetItemPointer()))
        return;
    Watch(item.GetType());
    m_alive.insert(item.GetItemPointer());
    m_items.insert(item);
}

ItemPtr KeptItems::Alive(ItemPtr item) const
{
    return m_alive.contains(item.GetItemPointer()) ? item : ItemPtr();
}

void KeptItems::ForEach(const std::function<void(ItemPtr)>& f) const
{
    Data::Batch batch(&d);
    const ItemList items = m_items.List();
    for (const ItemPtr& item : items)
        if (Alive(item))
            f(item);
}

void KeptItems::Clear()
{
    m_items.clear();
    m_alive.clear();
}

ItemList KeptItems::TakeFirst(size_t count)
{
    count = std::min(count, m_items.size());
    ItemList taken(m_items.List().begin(), m_items.List().begin() + std::ptrdiff_t(count));
    for (const ItemPtr& item : taken)
        m_alive.remove(item.GetItemPointer());
    m_items.EraseFirst(count);
    return taken;
}

void KeptItems::Watch(Type* type)
{
    if (m_watched.contains(type))
        return;
    m_watched.insert(type);
    type->AddItemRemovedHandler(new FunctionHandler<ItemPtr>(this, [this](ItemPtr item) { Forget(item); }));
}

void KeptItems::Forget(ItemPtr item)
{
    // The item is still whole while its removal handlers run.
    if (m_alive.remove(item.GetItemPointer()))
        m_items.erase(item);
}
