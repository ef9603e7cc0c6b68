#pragma once

#include <QtGlobal>
#include <cstddef>
#include <string>
#include <string_view>

class Type;
class Item;

struct ItemSequenceLess
{
    bool operator()(const Item* a, const Item* b) const;
};

// The store's small blocks (items, their group lists, small connection
// lists) come from slabs cut in steps of 8 bytes, without the per-block
// header of the general heap: a large share holds millions of them. Used by
// the event-loop thread only, as the store is.
namespace StoreMemory {
void* Allocate(size_t bytes);
void Free(void* block, size_t bytes);
// Bytes the slabs hold ready for reuse: taken from the heap, in use by
// nothing. Kept when items go, for the next items.
size_t IdleBytes();
// Bytes of the slabs that blocks in use take (a block over 512 bytes comes
// from the general heap and is not counted).
size_t SlabBytesInUse();
// Gives every slab back when no block is in use (the store was emptied),
// so that the next store is laid out afresh rather than in the freed
// blocks' scattered order.
void ReleaseIfIdle();
} // namespace StoreMemory

// The items one item is connected to, of one type, kept in store order.
// Most groups hold one item, kept in place; a few hold a short sorted list;
// large groups (a folder's files, a word held by thousands of files) hold
// chunks of a sorted list, so that adding and cutting stays cheap and each
// connection costs little more than one pointer. Copying a group copies the
// handle: the list that owns it releases it.
class ConnectionGroup
{
public:
    ConnectionGroup() = default;
    explicit ConnectionGroup(Type* type) : m_type(type) {}

    Type* GetType() const { return m_type; }
    size_t Size() const;
    bool Empty() const { return m_data == 0; }
    bool Contains(Item* item) const;
    void Insert(Item* item);
    void Erase(Item* item);
    Item* First() const;
    // Room for extra more members, so that a set connected at once takes
    // exactly the room it needs.
    void Reserve(size_t extra);
    template <class F>
    void ForEach(F f) const;
    // Whether f holds for any member; stops at the first that does.
    template <class F>
    bool Any(F f) const;
    void Release();

private:
    friend class GroupList;
    friend struct ConnectionGroupLargeHelpers;
    struct Small;
    struct Large;
    enum Kind : quintptr
    {
        One = 0,
        SmallKind = 1,
        LargeKind = 2
    };
    static constexpr quintptr KindMask = 3;
    Kind GetKind() const { return Kind(m_data & KindMask); }
    Item* AsOne() const { return reinterpret_cast<Item*>(m_data); }
    Small* AsSmall() const { return reinterpret_cast<Small*>(m_data & ~KindMask); }
    Large* AsLarge() const { return reinterpret_cast<Large*>(m_data & ~KindMask); }
    void ToLarge();

    Type* m_type = nullptr;
    quintptr m_data = 0;
};

// A short sorted list, sized to its members.
struct ConnectionGroup::Small
{
    quint32 size;
    quint32 capacity;
    Item* items[];

    static size_t Bytes(quint32 capacity) { return offsetof(Small, items) + sizeof(Item*) * capacity; }
};

// Chunks of a sorted list, each up to MaxChunk members, with the first
// sequence number of each chunk kept apart so that finding a chunk touches
// no item.
struct ConnectionGroup::Large
{
    struct Chunk
    {
        quint32 size;
        quint32 capacity;
        Item* items[];

        static size_t Bytes(quint32 capacity) { return offsetof(Chunk, items) + sizeof(Item*) * capacity; }
    };
    static constexpr quint32 MaxChunk = 512;

    size_t size = 0;
    quint32 chunkCount = 0;
    quint32 chunkCapacity = 0;
    Chunk** chunks = nullptr;
    quint64* firsts = nullptr;
};

// The groups of one item, in the order their first connection came. One
// group is kept in place; more live in one block.
class GroupList
{
public:
    GroupList() = default;
    GroupList(const GroupList&) = delete;
    GroupList& operator=(const GroupList&) = delete;

    ConnectionGroup* begin() { return Data(); }
    ConnectionGroup* end() { return Data() + size(); }
    const ConnectionGroup* begin() const { return const_cast<GroupList*>(this)->Data(); }
    const ConnectionGroup* end() const { return begin() + size(); }
    size_t size() const;
    bool empty() const { return size() == 0; }
    ConnectionGroup& back() { return *(end() - 1); }
    // Drops the last group, which must be empty.
    void pop_back();

    ConnectionGroup* Find(Type* type)
    {
        for (ConnectionGroup& g : *this)
            if (g.GetType() == type)
                return &g;
        return nullptr;
    }
    ConnectionGroup& Add(Type* type);
    // Drops the group of a type if it is empty, keeping the others' order.
    void DropEmpty(Type* type);
    // Releases every group and the block.
    void Clear();

private:
    struct Block
    {
        quint32 size;
        quint32 capacity;
        ConnectionGroup groups[];

        static size_t Bytes(quint32 capacity) { return offsetof(Block, groups) + sizeof(ConnectionGroup) * capacity; }
    };
    bool HasBlock() const { return m_one.m_type == nullptr && m_one.m_data != 0; }
    Block* GetBlock() const { return reinterpret_cast<Block*>(m_one.m_data); }
    ConnectionGroup* Data();

    // With a type: the one group. Without: m_data holds the block, if any.
    ConnectionGroup m_one;
};

// The bytes of an item's value, which follow the item in its block.
class ItemValue
{
public:
    const char* data() const { return reinterpret_cast<const char*>(this) + sizeof(ItemValue); }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    std::string_view View() const { return std::string_view(data(), m_size); }
    operator std::string_view() const { return View(); }
    std::string str() const { return std::string(data(), m_size); }
    bool operator==(std::string_view other) const { return View() == other; }
    bool operator==(const std::string& other) const { return View() == std::string_view(other); }
    bool operator!=(std::string_view other) const { return View() != other; }

private:
    friend class Item;
    quint32 m_size = 0;
};

class Item
{
public:
    // An item of a type with its value; made and freed only through these.
    static Item* Create(Type* type, std::string_view value, quint64 sequence);
    static void Destroy(Item* item);

    Type* GetType() const;
    ConnectionGroup* FindGroup(Type* type) { return m_groups.Find(type); }
    const ConnectionGroup* FindGroup(Type* type) const { return const_cast<Item*>(this)->m_groups.Find(type); }
    ConnectionGroup& Group(Type* type);
    void DropEmptyGroup(Type* type) { m_groups.DropEmpty(type); }

    quint64 m_sequence;
    // Neighbours in the type's item list, which is in creation order.
    Item* m_prev = nullptr;
    Item* m_next = nullptr;
    GroupList m_groups;
    // The type, as its number among all types (see Type::FromIndex).
    quint16 m_typeIndex;
    bool m_removed = false;
    // Kept for the clean-up's walk.
    bool m_mark = false;
    // Last: its bytes follow.
    ItemValue m_value;

private:
    Item(quint16 typeIndex, quint64 sequence) : m_sequence(sequence), m_typeIndex(typeIndex) {}
    ~Item() = default;
    static size_t Bytes(size_t valueSize) { return sizeof(Item) + valueSize; }
};

inline bool ItemSequenceLess::operator()(const Item* a, const Item* b) const
{
    return a->m_sequence < b->m_sequence;
}

template <class F>
void ConnectionGroup::ForEach(F f) const
{
    switch (GetKind()) {
    case One:
        if (m_data)
            f(AsOne());
        break;
    case SmallKind:
    {
        const Small* s = AsSmall();
        for (quint32 i = 0; i < s->size; ++i)
            f(s->items[i]);
        break;
    }
    default:
    {
        const Large* l = AsLarge();
        for (quint32 c = 0; c < l->chunkCount; ++c)
            for (quint32 i = 0; i < l->chunks[c]->size; ++i)
                f(l->chunks[c]->items[i]);
        break;
    }
    }
}

template <class F>
bool ConnectionGroup::Any(F f) const
{
    switch (GetKind()) {
    case One:
        return m_data && f(AsOne());
    case SmallKind:
    {
        const Small* s = AsSmall();
        for (quint32 i = 0; i < s->size; ++i)
            if (f(s->items[i]))
                return true;
        return false;
    }
    default:
    {
        const Large* l = AsLarge();
        for (quint32 c = 0; c < l->chunkCount; ++c)
            for (quint32 i = 0; i < l->chunks[c]->size; ++i)
                if (f(l->chunks[c]->items[i]))
                    return true;
        return false;
    }
    }
}
