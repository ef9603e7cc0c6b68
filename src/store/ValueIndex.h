#pragma once

#include <QtGlobal>
#include <string_view>
#include <vector>

class Item;

// The items of a valued type by their value. Open addressing over the item
// pointers, each slot also holding 16 bits of its value's hash in the
// pointer's unused top bits, so that a look-up reads an item's value only
// on a likely match and the index costs about 12 bytes an item.
class ValueIndex
{
public:
    Item* Find(std::string_view value) const;
    // The item's value must not be in the index yet.
    void Insert(Item* item);
    void Erase(Item* item);
    // Room for this many items without growing.
    void Reserve(size_t count);
    size_t Size() const { return m_size; }
    void Clear();

private:
    static size_t Hash(std::string_view value);
    static quintptr Tag(size_t hash) { return quintptr((hash >> 48) | 0x8000) << 48; }
    static Item* ItemOf(quintptr slot) { return reinterpret_cast<Item*>(slot & PointerBits); }
    static std::string_view ValueOf(quintptr slot);
    void Place(quintptr slot, size_t hash);
    void Rebuild(size_t capacity);

    static constexpr quintptr PointerBits = (quintptr(1) << 48) - 1;
    std::vector<quintptr> m_slots;
    size_t m_size = 0;
};
