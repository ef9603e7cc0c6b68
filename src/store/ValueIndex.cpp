#include "ValueIndex.h"

#include <functional>

#include "Item.h"

size_t ValueIndex::Hash(std::string_view value)
{
    return std::hash<std::string_view>()(value);
}

std::string_view ValueIndex::ValueOf(quintptr slot)
{
    return ItemOf(slot)->m_value.View();
}

Item* ValueIndex::Find(std::string_view value) const
{
    if (m_slots.empty())
        return nullptr;
    const size_t hash = Hash(value);
    const quintptr tag = Tag(hash);
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const quintptr slot = m_slots[i];
        if (!slot)
            return nullptr;
        if ((slot & ~PointerBits) == tag && ValueOf(slot) == value)
            return ItemOf(slot);
    }
}

void ValueIndex::Place(quintptr slot, size_t hash)
{
    const size_t mask = m_slots.size() - 1;
    size_t i = hash & mask;
    while (m_slots[i])
        i = (i + 1) & mask;
    m_slots[i] = slot;
}

void ValueIndex::Insert(Item* item)
{
    // Up to four fifths full.
    if ((m_size + 1) * 5 > m_slots.size() * 4)
        Rebuild(std::max<size_t>(16, m_slots.size() * 2));
    const quintptr pointer = reinterpret_cast<quintptr>(item);
    Q_ASSERT((pointer & ~PointerBits) == 0);
    const size_t hash = Hash(item->m_value.View());
    Place(pointer | Tag(hash), hash);
    ++m_size;
}

void ValueIndex::Erase(Item* item)
{
    if (m_slots.empty())
        return;
    const size_t mask = m_slots.size() - 1;
    size_t i = Hash(item->m_value.View()) & mask;
    for (;; i = (i + 1) & mask) {
        if (!m_slots[i])
            return;
        if (ItemOf(m_slots[i]) == item)
            break;
    }
    // Shifts back the entries after the hole that would no longer be found
    // past it, so no tombstones are needed.
    size_t hole = i;
    for (size_t j = (i + 1) & mask; m_slots[j]; j = (j + 1) & mask) {
        const size_t home = Hash(ValueOf(m_slots[j])) & mask;
        const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
        if (stays)
            continue;
        m_slots[hole] = m_slots[j];
        hole = j;
    }
    m_slots[hole] = 0;
    --m_size;
}

void ValueIndex::Reserve(size_t count)
{
    size_t capacity = m_slots.empty() ? 16 : m_slots.size();
    while (count * 5 > capacity * 4)
        capacity *= 2;
    if (capacity > m_slots.size())
        Rebuild(capacity);
}

void ValueIndex::Rebuild(size_t capacity)
{
    std::vector<quintptr> old;
    old.swap(m_slots);
    m_slots.assign(capacity, 0);
    for (quintptr slot : old)
        if (slot)
            Place(slot, Hash(ValueOf(slot)));
}

void ValueIndex::Clear()
{
    std::vector<quintptr>().swap(m_slots);
    m_size = 0;
}
