#include "Type.h"

#include <vector>

#include "Data.h"
#include "Item.h"

namespace {
// Numbers are reused once their type is gone: tests make and drop stores by
// the thousand.
struct Registry
{
    Type* types[65536] = {};
    std::vector<quint16> unused;
    quint32 next = 0;
};

Registry& TheRegistry()
{
    static Registry* registry = new Registry;
    return *registry;
}
} // namespace

Type* Type::FromIndex(quint16 index)
{
    return TheRegistry().types[index];
}

Type::Type(Data* data, const std::string& name, Primacy primacy, bool isNull, bool autoCreate, int index)
    : m_data(data), m_name(name), m_primacy(primacy), m_isNull(isNull), m_autoCreate(autoCreate), m_index(index)
{
    Registry& registry = TheRegistry();
    if (!registry.unused.empty()) {
        m_registryIndex = registry.unused.back();
        registry.unused.pop_back();
    } else {
        if (registry.next > 0xffff)
            qFatal("more than 65536 item types at once");
        m_registryIndex = quint16(registry.next++);
    }
    registry.types[m_registryIndex] = this;
}

Type::~Type()
{
    Item* item = m_first;
    while (item) {
        Item* next = item->m_next;
        Item::Destroy(item);
        item = next;
    }
    Registry& registry = TheRegistry();
    registry.types[m_registryIndex] = nullptr;
    registry.unused.push_back(m_registryIndex);
}

void Type::RelateToType(Type* other, int thisEnd, int otherEnd, bool owns)
{
    if (!other)
        throw new TypeNotFoundException;
    if (GetRelation(other))
        throw new AlreadyRelatedException;
    m_relations.push_back(Relation{other, otherEnd == many, owns, false});
    if (other != this) {
        other->m_relations.push_back(Relation{this, thisEnd == many, false, owns});
    } else {
        // A type related to itself holds the same count at both ends.
        m_relations.back().holdsMany = otherEnd == many || thisEnd == many;
    }
    if (owns)
        ++other->m_ownerCount;
}

void Type::RelateToType(const char* other, int thisEnd, int otherEnd)
{
    RelateToType(m_data->GetType(other), thisEnd, otherEnd, false);
}

const Relation* Type::GetRelation(const Type* other) const
{
    for (const auto& r : m_relations)
        if (r.other == other)
            return &r;
    return nullptr;
}

Item* Type::Create(std::string_view value)
{
    Item* item = Item::Create(this, value, m_data->NextSequence());
    item->m_prev = m_last;
    if (m_last)
        m_last->m_next = item;
    else
        m_first = item;
    m_last = item;
    ++m_count;
    if (!m_isNull)
        m_byValue.Insert(item);
    return item;
}

void Type::Unlink(Item* item)
{
    if (item->m_prev)
        item->m_prev->m_next = item->m_next;
    else
        m_first = item->m_next;
    if (item->m_next)
        item->m_next->m_prev = item->m_prev;
    else
        m_last = item->m_prev;
    item->m_prev = item->m_next = nullptr;
    --m_count;
    if (!m_isNull)
        m_byValue.Erase(item);
    if (item == m_globalNull)
        m_globalNull = nullptr;
}

ItemPtr Type::GetItem(const Value& value)
{
    if (m_isNull)
        throw new NullTypeException;
    if (Item* found = m_byValue.Find(value.Bytes()))
        return found;
    if (!m_autoCreate)
        return ItemPtr();
    return NewItem(value);
}

ItemPtr Type::HasItem(const Value& value) const
{
    if (m_isNull)
        throw new NullTypeException;
    return m_byValue.Find(value.Bytes());
}

ItemPtr Type::NewItem(const Value& value)
{
    if (m_isNull)
        throw new NullTypeException;
    if (Item* found = m_byValue.Find(value.Bytes()))
        return found;
    Item* item = Create(value.Bytes());
    m_data->ItemCreated(item);
    return item;
}

ItemPtr Type::LoadItem(std::string_view value)
{
    if (m_isNull)
        throw new NullTypeException;
    if (Item* found = m_byValue.Find(value))
        return found;
    Item* item = Create(value);
    if (m_data->IsCreationObserved(this))
        m_data->ItemCreated(item);
    return item;
}

ItemPtr Type::LoadItem()
{
    if (!m_isNull)
        throw new NullTypeException;
    Item* item = Create(std::string_view());
    if (m_data->IsCreationObserved(this))
        m_data->ItemCreated(item);
    return item;
}

ItemPtr Type::NewItem()
{
    if (!m_isNull)
        throw new NullTypeException;
    Item* item = Create(std::string_view());
    m_data->ItemCreated(item);
    return item;
}

ItemPtr Type::GetGlobalNullItem()
{
    if (!m_isNull)
        throw new NullTypeException;
    if (!m_globalNull) {
        m_globalNull = Create(std::string_view());
        m_data->ItemCreated(m_globalNull);
    }
    return m_globalNull;
}

ItemSet Type::GetItems() const
{
    ItemSet set;
    for (Item* item = m_first; item; item = item->m_next)
        set.AppendInOrder(item);
    return set;
}

ItemPtr Type::First() const
{
    return m_first;
}

void Type::AddItemAddedHandler(ItemEventHandler* handler)
{
    m_data->HandlerRegistered();
    m_added.Add(handler);
}

void Type::AddItemRemovedHandler(ItemEventHandler* handler)
{
    m_removed.Add(handler);
}

void Type::AddConnectedHandler(ConnectionEventHandler* handler)
{
    m_data->HandlerRegistered();
    m_connected.Add(handler);
}

void Type::AddDisconnectedHandler(ConnectionEventHandler* handler)
{
    m_disconnected.Add(handler);
}

void Type::SweepHandlers()
{
    m_added.Sweep();
    m_removed.Sweep();
    m_connected.Sweep();
    m_disconnected.Sweep();
}
