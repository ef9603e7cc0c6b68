#include "PendingRemovals.h"

#include "Data.h"
#include "WorkSlice.h"

PendingRemovals::~PendingRemovals()
{
    const QSet<Item*> alive = std::move(m_alive);
    m_alive.clear();
    Data::Batch batch(&d);
    for (Item* item : alive)
        ItemPtr(item).Remove();
}

void PendingRemovals::Add(const QList<Item*>& items)
{
    for (Item* item : items) {
        Watch(ItemPtr(item).GetType());
        if (!m_alive.contains(item)) {
            m_alive.insert(item);
            m_items.push_back(item);
        }
    }
}

bool PendingRemovals::RemoveSome(WorkSlice& slice)
{
    if (m_alive.isEmpty()) {
        std::vector<Item*>().swap(m_items);
        return true;
    }
    Data::Batch batch(&d);
    while (!m_alive.isEmpty()) {
        if (slice.Spent())
            return false;
        Item* item = m_items.back();
        m_items.pop_back();
        if (m_alive.remove(item))
            ItemPtr(item).Remove();
    }
    std::vector<Item*>().swap(m_items);
    return true;
}

void PendingRemovals::Watch(Type* type)
{
    if (m_watched.contains(type))
        return;
    m_watched.insert(type);
    type->AddItemRemovedHandler(
        new FunctionHandler<ItemPtr>(this, [this](ItemPtr item) { m_alive.remove(item.GetItemPointer()); }));
}
