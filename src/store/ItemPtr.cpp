#include "ItemPtr.h"

#include "Data.h"
#include "GeneralFunctions.h"

namespace {
Type* Lookup(const char* type)
{
    return d.GetType(type);
}

template <class T>
T ParseNumber(const std::string& text, bool isSigned)
{
    if (text.empty())
        return 0;
    try {
        size_t used = 0;
        if (isSigned) {
            long long v = std::stoll(text, &used, 10);
            return used == text.size() ? T(v) : T(0);
        }
        if (text[0] == '-')
            return T(0);
        unsigned long long v = std::stoull(text, &used, 10);
        return used == text.size() ? T(v) : T(0);
    } catch (...) {
        return 0;
    }
}
} // namespace

bool ItemPtr::operator<(const ItemPtr& other) const
{
    if (!m_item || !other.m_item)
        return m_item == nullptr && other.m_item != nullptr;
    return m_item->m_sequence < other.m_item->m_sequence;
}

Type* ItemPtr::GetType() const
{
    return m_item ? m_item->GetType() : nullptr;
}

quint64 ItemPtr::Sequence() const
{
    return m_item ? m_item->m_sequence : 0;
}

bool ItemPtr::IsRemoved() const
{
    return m_item && m_item->m_removed;
}

std::string ItemPtr::AsStdString() const
{
    return m_item ? m_item->m_value.str() : std::string();
}

QString ItemPtr::AsString() const
{
    return m_item ? ToQString(m_item->m_value.str()) : QString();
}

int ItemPtr::AsInt() const
{
    return m_item ? ParseNumber<int>(m_item->m_value.str(), true) : 0;
}

unsigned ItemPtr::AsUInt() const
{
    return m_item ? ParseNumber<unsigned>(m_item->m_value.str(), false) : 0;
}

qint64 ItemPtr::AsInt64() const
{
    return m_item ? ParseNumber<qint64>(m_item->m_value.str(), true) : 0;
}

quint64 ItemPtr::AsUInt64() const
{
    return m_item ? ParseNumber<quint64>(m_item->m_value.str(), false) : 0;
}

ItemPtr ItemPtr::operator[](Type* type) const
{
    if (!m_item)
        return ItemPtr();
    ConnectionGroup* group = m_item->FindGroup(type);
    return group ? ItemPtr(group->First()) : ItemPtr();
}

ItemPtr ItemPtr::operator[](const char* type) const
{
    return m_item ? (*this)[Lookup(type)] : ItemPtr();
}

ItemSet ItemPtr::GetItems(Type* type) const
{
    ItemSet set;
    if (!m_item)
        return set;
    if (ConnectionGroup* group = m_item->FindGroup(type))
        group->ForEach([&set](Item* i) { set.AppendInOrder(i); });
    return set;
}

ItemSet ItemPtr::GetItems(const char* type) const
{
    return m_item ? GetItems(Lookup(type)) : ItemSet();
}

void ItemPtr::GetItems(const char* type, ItemSet& out) const
{
    out = GetItems(type);
}

int ItemPtr::CountItems(const char* type) const
{
    if (!m_item)
        return 0;
    ConnectionGroup* group = m_item->FindGroup(Lookup(type));
    return group ? int(group->Size()) : 0;
}

bool ItemPtr::IsConnected(const char* type) const
{
    if (!m_item)
        return false;
    ConnectionGroup* group = m_item->FindGroup(Lookup(type));
    return group && !group->Empty();
}

bool ItemPtr::IsConnected(ItemPtr other) const
{
    if (!m_item || !other.m_item)
        return false;
    ConnectionGroup* group = m_item->FindGroup(other.m_item->GetType());
    return group && group->Contains(other.m_item);
}

bool ItemPtr::IsDisconnectedFromAll() const
{
    if (!m_item)
        return true;
    for (const auto& g : m_item->m_groups)
        if (!g.Empty())
            return false;
    return true;
}

ItemPtr ItemPtr::Connect(ItemPtr other)
{
    if (m_item && other.m_item)
        m_item->GetType()->GetData()->ConnectItems(m_item, other.m_item);
    return other;
}

void ItemPtr::operator+=(const ItemSet& others)
{
    if (!m_item)
        return;
    Data::Batch batch(m_item->GetType()->GetData());
    for (const ItemPtr& other : others)
        Connect(other);
}

void ItemPtr::Disconnect(ItemPtr other)
{
    if (m_item && other.m_item)
        m_item->GetType()->GetData()->DisconnectItems(m_item, other.m_item);
}

void ItemPtr::Disconnect(const char* type)
{
    if (!m_item)
        return;
    Data* data = m_item->GetType()->GetData();
    Type* t = Lookup(type);
    Data::Batch batch(data);
    // Bounded: a handler that keeps reconnecting cannot hold us here.
    for (int guard = 0; guard < 1000000; ++guard) {
        ConnectionGroup* group = m_item->FindGroup(t);
        if (!group || group->Empty())
            break;
        data->DisconnectItems(m_item, group->First());
    }
}

ItemPtr ItemPtr::NewItem(const char* type)
{
    if (!m_item)
        return ItemPtr();
    Type* t = Lookup(type);
    if (!t->IsNull())
        throw new NullTypeException;
    const Relation* r = m_item->GetType()->GetRelation(t);
    if (!r)
        throw new NotRelatedException;
    if (!r->holdsMany) {
        if (ItemPtr held = (*this)[t])
            return held;
        const Relation* back = t->GetRelation(m_item->GetType());
        if (back && back->holdsMany)
            return Connect(t->GetGlobalNullItem());
    }
    return Connect(t->NewItem());
}

void ItemPtr::Remove()
{
    if (m_item)
        m_item->GetType()->GetData()->RemoveItem(m_item);
}

void ItemPtr::RemoveWithLoneValues(std::initializer_list<const char*> valueTypes) const
{
    if (!m_item)
        return;
    Data* data = m_item->GetType()->GetData();
    // The values stay whole while the item's removal handlers run.
    Data::Batch batch(data);
    std::vector<ItemPtr> values;
    for (const char* type : valueTypes)
        if (ItemPtr value = (*this)[type])
            values.push_back(value);
    ItemPtr(m_item).Remove();
    for (ItemPtr& value : values)
        if (!value.IsRemoved() && value.IsDisconnectedFromAll())
            value.Remove();
}
