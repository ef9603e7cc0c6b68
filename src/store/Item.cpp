#include "Item.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "Type.h"

static_assert(sizeof(Item) == 48, "an item's header is what every item of a large share pays");
static_assert(offsetof(Item, m_value) + sizeof(ItemValue) == sizeof(Item), "the value's bytes follow the item");
static_assert(sizeof(ConnectionGroup) == 2 * sizeof(void*), "a group is a type and one word");

// ---- slabs -------------------------------------------------------------

namespace {
const size_t Step = 8;
const size_t LargestSlabBlock = 512;
const size_t SlabBytes = 256 * 1024;

struct Slabs
{
    void* free[LargestSlabBlock / Step + 1] = {};
    char* cursor = nullptr;
    size_t left = 0;
    size_t freeBytes = 0;
    size_t liveBlocks = 0;
    std::vector<char*> slabs;
};

Slabs& TheSlabs()
{
    // Never destroyed: the store's own static destruction frees into it.
    static Slabs* slabs = new Slabs;
    return *slabs;
}
} // namespace

void* StoreMemory::Allocate(size_t bytes)
{
    if (bytes > LargestSlabBlock)
        return ::operator new(bytes);
    const size_t steps = std::max<size_t>(1, (bytes + Step - 1) / Step);
    Slabs& s = TheSlabs();
    ++s.liveBlocks;
    if (void* block = s.free[steps]) {
        s.free[steps] = *static_cast<void**>(block);
        s.freeBytes -= steps * Step;
        return block;
    }
    const size_t size = steps * Step;
    if (s.left < size) {
        // The old slab's tail, under 512 bytes, goes to the free lists.
        while (s.left >= Step) {
            const size_t piece = std::min(s.left, LargestSlabBlock) / Step;
            ++s.liveBlocks;
            Free(s.cursor, piece * Step);
            s.cursor += piece * Step;
            s.left -= piece * Step;
        }
        s.cursor = static_cast<char*>(::operator new(SlabBytes));
        s.slabs.push_back(s.cursor);
        s.left = SlabBytes;
    }
    void* block = s.cursor;
    s.cursor += size;
    s.left -= size;
    return block;
}

void StoreMemory::Free(void* block, size_t bytes)
{
    if (!block)
        return;
    if (bytes > LargestSlabBlock) {
        ::operator delete(block);
        return;
    }
    const size_t steps = std::max<size_t>(1, (bytes + Step - 1) / Step);
    Slabs& s = TheSlabs();
    --s.liveBlocks;
    *static_cast<void**>(block) = s.free[steps];
    s.free[steps] = block;
    s.freeBytes += steps * Step;
}

void StoreMemory::ReleaseIfIdle()
{
    Slabs& s = TheSlabs();
    if (s.liveBlocks != 0)
        return;
    for (char* slab : s.slabs)
        ::operator delete(slab);
    s.slabs.clear();
    std::fill(std::begin(s.free), std::end(s.free), nullptr);
    s.cursor = nullptr;
    s.left = 0;
    s.freeBytes = 0;
}

size_t StoreMemory::IdleBytes()
{
    const Slabs& s = TheSlabs();
    return s.freeBytes + s.left;
}

size_t StoreMemory::SlabBytesInUse()
{
    return TheSlabs().slabs.size() * SlabBytes - IdleBytes();
}

// ---- connection groups -------------------------------------------------

namespace {
// A small list turns into chunks above this many members, and back below
// the second number.
const quint32 LargestSmall = 64;
const size_t SmallestLarge = 32;
const quint32 FirstChunk = 64;

template <class Items>
quint32 LowerBound(Items items, quint32 size, quint64 sequence)
{
    quint32 low = 0, high = size;
    while (low < high) {
        const quint32 middle = (low + high) / 2;
        if (items[middle]->m_sequence < sequence)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}
} // namespace

struct ConnectionGroupLargeHelpers
{
    typedef ConnectionGroup::Large Large;
    typedef Large::Chunk Chunk;

    static Chunk* NewChunk(quint32 capacity)
    {
        Chunk* chunk = static_cast<Chunk*>(StoreMemory::Allocate(Chunk::Bytes(capacity)));
        chunk->size = 0;
        chunk->capacity = capacity;
        return chunk;
    }
    static void FreeChunk(Chunk* chunk) { StoreMemory::Free(chunk, Chunk::Bytes(chunk->capacity)); }
    static Chunk* GrowChunk(Chunk* chunk, quint32 capacity)
    {
        Chunk* grown = NewChunk(capacity);
        grown->size = chunk->size;
        std::memcpy(grown->items, chunk->items, sizeof(Item*) * chunk->size);
        FreeChunk(chunk);
        return grown;
    }
    // The chunk a sequence number belongs in.
    static quint32 ChunkOf(const Large* l, quint64 sequence)
    {
        const quint64* firsts = l->firsts;
        const quint64* at = std::upper_bound(firsts, firsts + l->chunkCount, sequence);
        return at == firsts ? 0 : quint32(at - firsts - 1);
    }
    static void InsertChunk(Large* l, quint32 at, Chunk* chunk)
    {
        if (l->chunkCount == l->chunkCapacity) {
            const quint32 capacity = std::max<quint32>(4, l->chunkCapacity * 2);
            Chunk** chunks = new Chunk*[capacity];
            quint64* firsts = new quint64[capacity];
            std::copy(l->chunks, l->chunks + l->chunkCount, chunks);
            std::copy(l->firsts, l->firsts + l->chunkCount, firsts);
            delete[] l->chunks;
            delete[] l->firsts;
            l->chunks = chunks;
            l->firsts = firsts;
            l->chunkCapacity = capacity;
        }
        std::copy_backward(l->chunks + at, l->chunks + l->chunkCount, l->chunks + l->chunkCount + 1);
        std::copy_backward(l->firsts + at, l->firsts + l->chunkCount, l->firsts + l->chunkCount + 1);
        l->chunks[at] = chunk;
        l->firsts[at] = chunk->size ? chunk->items[0]->m_sequence : 0;
        ++l->chunkCount;
    }
    static void RemoveChunk(Large* l, quint32 at)
    {
        FreeChunk(l->chunks[at]);
        std::copy(l->chunks + at + 1, l->chunks + l->chunkCount, l->chunks + at);
        std::copy(l->firsts + at + 1, l->firsts + l->chunkCount, l->firsts + at);
        --l->chunkCount;
    }
    static void Free(Large* l)
    {
        for (quint32 c = 0; c < l->chunkCount; ++c)
            FreeChunk(l->chunks[c]);
        delete[] l->chunks;
        delete[] l->firsts;
        delete l;
    }
};

namespace {
typedef ConnectionGroupLargeHelpers L;
}

size_t ConnectionGroup::Size() const
{
    switch (GetKind()) {
    case One:
        return m_data ? 1 : 0;
    case SmallKind:
        return AsSmall()->size;
    default:
        return AsLarge()->size;
    }
}

Item* ConnectionGroup::First() const
{
    switch (GetKind()) {
    case One:
        return AsOne();
    case SmallKind:
        return AsSmall()->items[0];
    default:
        return AsLarge()->chunks[0]->items[0];
    }
}

bool ConnectionGroup::Contains(Item* item) const
{
    switch (GetKind()) {
    case One:
        return AsOne() == item;
    case SmallKind:
    {
        const Small* s = AsSmall();
        const quint32 at = LowerBound(s->items, s->size, item->m_sequence);
        return at < s->size && s->items[at] == item;
    }
    default:
    {
        const Large* l = AsLarge();
        const Large::Chunk* chunk = l->chunks[L::ChunkOf(l, item->m_sequence)];
        const quint32 at = LowerBound(chunk->items, chunk->size, item->m_sequence);
        return at < chunk->size && chunk->items[at] == item;
    }
    }
}

void ConnectionGroup::Reserve(size_t extra)
{
    const size_t wanted = Size() + extra;
    if (wanted <= 1 || wanted > LargestSmall || GetKind() == LargeKind)
        return;
    if (GetKind() == SmallKind && AsSmall()->capacity >= wanted)
        return;
    Small* s = static_cast<Small*>(StoreMemory::Allocate(Small::Bytes(quint32(wanted))));
    s->capacity = quint32(wanted);
    s->size = 0;
    if (GetKind() == One) {
        if (m_data)
            s->items[s->size++] = AsOne();
    } else {
        Small* old = AsSmall();
        s->size = old->size;
        std::memcpy(s->items, old->items, sizeof(Item*) * old->size);
        StoreMemory::Free(old, Small::Bytes(old->capacity));
    }
    m_data = reinterpret_cast<quintptr>(s) | SmallKind;
}

void ConnectionGroup::ToLarge()
{
    Small* s = AsSmall();
    Large* l = new Large;
    Large::Chunk* chunk = L::NewChunk(std::max(FirstChunk, s->size * 2));
    std::memcpy(chunk->items, s->items, sizeof(Item*) * s->size);
    chunk->size = s->size;
    l->size = s->size;
    L::InsertChunk(l, 0, chunk);
    StoreMemory::Free(s, Small::Bytes(s->capacity));
    m_data = reinterpret_cast<quintptr>(l) | LargeKind;
}

void ConnectionGroup::Insert(Item* item)
{
    const quint64 sequence = item->m_sequence;
    switch (GetKind()) {
    case One:
    {
        Item* one = AsOne();
        if (!one) {
            m_data = reinterpret_cast<quintptr>(item);
            return;
        }
        if (one == item)
            return;
        Reserve(1);
        break;
    }
    case SmallKind:
    {
        Small* s = AsSmall();
        const quint32 at = LowerBound(s->items, s->size, sequence);
        if (at < s->size && s->items[at] == item)
            return;
        if (s->size == s->capacity) {
            if (s->size >= LargestSmall)
                ToLarge();
            else
                Reserve(std::min<quint32>(std::max<quint32>(2, s->size / 2), LargestSmall - s->size));
        }
        break;
    }
    default:
        break;
    }

    if (GetKind() == SmallKind) {
        Small* s = AsSmall();
        const quint32 at = LowerBound(s->items, s->size, sequence);
        std::memmove(s->items + at + 1, s->items + at, sizeof(Item*) * (s->size - at));
        s->items[at] = item;
        ++s->size;
        return;
    }

    Large* l = AsLarge();
    quint32 c = L::ChunkOf(l, sequence);
    Large::Chunk* chunk = l->chunks[c];
    quint32 at = LowerBound(chunk->items, chunk->size, sequence);
    if (at < chunk->size && chunk->items[at] == item)
        return;
    if (chunk->size == Large::MaxChunk) {
        if (c + 1 == l->chunkCount && at == chunk->size) {
            // Appending, the usual case: a new last chunk.
            Large::Chunk* next = L::NewChunk(FirstChunk);
            next->items[next->size++] = item;
            L::InsertChunk(l, c + 1, next);
            ++l->size;
            return;
        }
        // Split in halves; the item goes into the half it belongs in.
        const quint32 half = chunk->size / 2;
        Large::Chunk* upper = L::NewChunk(Large::MaxChunk);
        upper->size = chunk->size - half;
        std::memcpy(upper->items, chunk->items + half, sizeof(Item*) * upper->size);
        chunk->size = half;
        L::InsertChunk(l, c + 1, upper);
        if (at > half) {
            c = c + 1;
            chunk = upper;
            at -= half;
        }
    } else if (chunk->size == chunk->capacity) {
        chunk = L::GrowChunk(chunk, std::min(Large::MaxChunk, chunk->capacity * 2));
        l->chunks[c] = chunk;
    }
    std::memmove(chunk->items + at + 1, chunk->items + at, sizeof(Item*) * (chunk->size - at));
    chunk->items[at] = item;
    ++chunk->size;
    l->firsts[c] = chunk->items[0]->m_sequence;
    ++l->size;
}

void ConnectionGroup::Erase(Item* item)
{
    switch (GetKind()) {
    case One:
        if (AsOne() == item)
            m_data = 0;
        return;
    case SmallKind:
    {
        Small* s = AsSmall();
        const quint32 at = LowerBound(s->items, s->size, item->m_sequence);
        if (at >= s->size || s->items[at] != item)
            return;
        std::memmove(s->items + at, s->items + at + 1, sizeof(Item*) * (s->size - at - 1));
        --s->size;
        if (s->size == 1) {
            Item* one = s->items[0];
            StoreMemory::Free(s, Small::Bytes(s->capacity));
            m_data = reinterpret_cast<quintptr>(one);
        } else if (s->size * 4 <= s->capacity) {
            // Shrunk far below its room: sized to its members again.
            Small* shrunk = static_cast<Small*>(StoreMemory::Allocate(Small::Bytes(s->size)));
            shrunk->size = shrunk->capacity = s->size;
            std::memcpy(shrunk->items, s->items, sizeof(Item*) * s->size);
            StoreMemory::Free(s, Small::Bytes(s->capacity));
            m_data = reinterpret_cast<quintptr>(shrunk) | SmallKind;
        }
        return;
    }
    default:
        break;
    }

    Large* l = AsLarge();
    const quint32 c = L::ChunkOf(l, item->m_sequence);
    Large::Chunk* chunk = l->chunks[c];
    const quint32 at = LowerBound(chunk->items, chunk->size, item->m_sequence);
    if (at >= chunk->size || chunk->items[at] != item)
        return;
    std::memmove(chunk->items + at, chunk->items + at + 1, sizeof(Item*) * (chunk->size - at - 1));
    --chunk->size;
    --l->size;
    if (chunk->size == 0)
        L::RemoveChunk(l, c);
    else if (at == 0)
        l->firsts[c] = chunk->items[0]->m_sequence;

    if (l->size <= SmallestLarge) {
        // Back to one small list.
        Small* s = static_cast<Small*>(StoreMemory::Allocate(Small::Bytes(quint32(l->size))));
        s->size = s->capacity = quint32(l->size);
        quint32 n = 0;
        for (quint32 k = 0; k < l->chunkCount; ++k)
            for (quint32 i = 0; i < l->chunks[k]->size; ++i)
                s->items[n++] = l->chunks[k]->items[i];
        L::Free(l);
        if (s->size == 1) {
            Item* one = s->items[0];
            StoreMemory::Free(s, Small::Bytes(s->capacity));
            m_data = reinterpret_cast<quintptr>(one);
        } else if (s->size == 0) {
            StoreMemory::Free(s, Small::Bytes(s->capacity));
            m_data = 0;
        } else {
            m_data = reinterpret_cast<quintptr>(s) | SmallKind;
        }
    }
}

void ConnectionGroup::Release()
{
    switch (GetKind()) {
    case One:
        break;
    case SmallKind:
        StoreMemory::Free(AsSmall(), Small::Bytes(AsSmall()->capacity));
        break;
    default:
        L::Free(AsLarge());
        break;
    }
    m_data = 0;
}

// ---- group lists -------------------------------------------------------

size_t GroupList::size() const
{
    if (m_one.m_type)
        return 1;
    return HasBlock() ? GetBlock()->size : 0;
}

ConnectionGroup* GroupList::Data()
{
    if (m_one.m_type)
        return &m_one;
    return HasBlock() ? GetBlock()->groups : nullptr;
}

ConnectionGroup& GroupList::Add(Type* type)
{
    if (!m_one.m_type && !HasBlock()) {
        m_one = ConnectionGroup(type);
        return m_one;
    }
    Block* block = HasBlock() ? GetBlock() : nullptr;
    const quint32 size = block ? block->size : 1;
    if (!block || block->size == block->capacity) {
        // An item has a dozen kinds of connection at most, all of them
        // long-lived: the block grows two groups at a time, so a queue
        // entry of nine kinds carries room for ten, not sixteen, and a
        // small item is grown no more often than by doubling. Rare larger
        // lists grow by half.
        const quint32 capacity = size < 16 ? size + 2 : size + size / 2;
        Block* grown = static_cast<Block*>(StoreMemory::Allocate(Block::Bytes(capacity)));
        grown->capacity = capacity;
        grown->size = size;
        if (block) {
            std::memcpy(static_cast<void*>(grown->groups), block->groups, sizeof(ConnectionGroup) * size);
            StoreMemory::Free(block, Block::Bytes(block->capacity));
        } else {
            grown->groups[0] = m_one;
        }
        block = grown;
        m_one = ConnectionGroup();
        m_one.m_data = reinterpret_cast<quintptr>(block);
    }
    block->groups[block->size] = ConnectionGroup(type);
    return block->groups[block->size++];
}

void GroupList::pop_back()
{
    if (m_one.m_type) {
        m_one.Release();
        m_one = ConnectionGroup();
        return;
    }
    if (!HasBlock())
        return;
    Block* block = GetBlock();
    block->groups[--block->size].Release();
    if (block->size <= 1) {
        const ConnectionGroup kept = block->size ? block->groups[0] : ConnectionGroup();
        StoreMemory::Free(block, Block::Bytes(block->capacity));
        m_one = kept;
    }
}

void GroupList::DropEmpty(Type* type)
{
    ConnectionGroup* groups = Data();
    const size_t n = size();
    for (size_t i = 0; i < n; ++i) {
        if (groups[i].GetType() != type)
            continue;
        if (!groups[i].Empty())
            return;
        if (m_one.m_type) {
            m_one = ConnectionGroup();
            return;
        }
        Block* block = GetBlock();
        std::memmove(static_cast<void*>(block->groups + i), block->groups + i + 1,
                     sizeof(ConnectionGroup) * (n - i - 1));
        --block->size;
        if (block->size <= 1) {
            const ConnectionGroup kept = block->size ? block->groups[0] : ConnectionGroup();
            StoreMemory::Free(block, Block::Bytes(block->capacity));
            m_one = kept;
        }
        return;
    }
}

void GroupList::Clear()
{
    for (ConnectionGroup& g : *this)
        g.Release();
    if (HasBlock())
        StoreMemory::Free(GetBlock(), Block::Bytes(GetBlock()->capacity));
    m_one = ConnectionGroup();
}

// ---- items -------------------------------------------------------------

Item* Item::Create(Type* type, std::string_view value, quint64 sequence)
{
    void* block = StoreMemory::Allocate(Bytes(value.size()));
    Item* item = new (block) Item(type->RegistryIndex(), sequence);
    item->m_value.m_size = quint32(value.size());
    if (!value.empty())
        std::memcpy(reinterpret_cast<char*>(item) + sizeof(Item), value.data(), value.size());
    return item;
}

void Item::Destroy(Item* item)
{
    if (!item)
        return;
    const size_t bytes = Bytes(item->m_value.size());
    item->m_groups.Clear();
    item->~Item();
    StoreMemory::Free(item, bytes);
}

Type* Item::GetType() const
{
    return Type::FromIndex(m_typeIndex);
}

ConnectionGroup& Item::Group(Type* type)
{
    if (ConnectionGroup* g = FindGroup(type))
        return *g;
    return m_groups.Add(type);
}
