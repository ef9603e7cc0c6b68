#include "ItemSet.h"

#include <algorithm>

#include "Data.h"
#include "GeneralFunctions.h"

namespace {
struct StoreOrder
{
    bool operator()(const ItemPtr& a, const ItemPtr& b) const { return a.Sequence() < b.Sequence(); }
};
} // namespace

ItemSet::ItemSet(ItemPtr item)
{
    if (item)
        m_items.push_back(item);
}

bool ItemSet::contains(ItemPtr item) const
{
    return std::binary_search(m_items.begin(), m_items.end(), item, StoreOrder());
}

void ItemSet::insert(ItemPtr item)
{
    if (!item)
        return;
    if (m_items.empty() || StoreOrder()(m_items.back(), item)) {
        m_items.push_back(item);
        return;
    }
    auto at = std::lower_bound(m_items.begin(), m_items.end(), item, StoreOrder());
    if (at == m_items.end() || *at != item)
        m_items.insert(at, item);
}

void ItemSet::erase(ItemPtr item)
{
    auto at = std::lower_bound(m_items.begin(), m_items.end(), item, StoreOrder());
    if (at != m_items.end() && *at == item)
        m_items.erase(at);
}

void ItemSet::erase(const_iterator it)
{
    m_items.erase(it.base());
}

void ItemSet::Add(const ItemSet& other)
{
    if (other.empty())
        return;
    if (m_items.empty()) {
        m_items = other.m_items;
        return;
    }
    ItemList merged;
    merged.reserve(m_items.size() + other.m_items.size());
    std::set_union(m_items.begin(), m_items.end(), other.m_items.begin(), other.m_items.end(),
                   std::back_inserter(merged), StoreOrder());
    m_items.swap(merged);
}

ItemSet ItemSet::Connected(const char* type) const
{
    ItemSet out;
    if (m_items.empty())
        return out;
    Type* t = d.GetType(type);
    for (const ItemPtr& i : m_items)
        if (i[t])
            out.AppendInOrder(i);
    return out;
}

ItemSet ItemSet::Connected(const char* type, const Value& value) const
{
    Type* t = d.GetType(type);
    ItemPtr target = t->HasItem(value);
    if (!target)
        return ItemSet();
    return Connected(target);
}

ItemSet ItemSet::Connected(const ItemSet& other) const
{
    ItemSet out;
    for (const ItemPtr& i : m_items) {
        for (const ItemPtr& o : other) {
            if (i.IsConnected(o)) {
                out.AppendInOrder(i);
                break;
            }
        }
    }
    return out;
}

ItemSet ItemSet::Connected(ItemPtr item) const
{
    if (!item)
        return *this;
    ItemSet out;
    for (const ItemPtr& i : m_items)
        if (i.IsConnected(item))
            out.AppendInOrder(i);
    return out;
}

ItemSet ItemSet::NotConnected(const char* type) const
{
    ItemSet out;
    if (m_items.empty())
        return out;
    Type* t = d.GetType(type);
    for (const ItemPtr& i : m_items)
        if (!i[t])
            out.AppendInOrder(i);
    return out;
}

ItemSet ItemSet::NotConnected(const char* type, const Value& value) const
{
    ItemPtr target = d.GetType(type)->HasItem(value);
    if (!target)
        return *this;
    return NotConnected(target);
}

ItemSet ItemSet::NotConnected(ItemPtr item) const
{
    ItemSet out;
    for (const ItemPtr& i : m_items)
        if (!item || !i.IsConnected(item))
            out.AppendInOrder(i);
    return out;
}

ItemSet ItemSet::Common(const ItemSet& other) const
{
    ItemSet out;
    std::set_intersection(m_items.begin(), m_items.end(), other.m_items.begin(), other.m_items.end(),
                          std::back_inserter(out.m_items), StoreOrder());
    return out;
}

ItemSet ItemSet::GetItems(const char* type) const
{
    ItemSet out;
    if (m_items.empty())
        return out;
    Type* t = d.GetType(type);
    for (const ItemPtr& i : m_items)
        out.Add(i.GetItems(t));
    return out;
}

void ItemSet::Disconnect(const char* type) const
{
    Data::Batch batch(&d);
    for (ItemPtr i : m_items)
        if (!i.IsRemoved())
            i.Disconnect(type);
}

void ItemSet::Remove() const
{
    Data::Batch batch(&d);
    for (ItemPtr i : m_items)
        i.Remove();
}

namespace {
ItemList SortByText(const ItemList& items, const std::vector<QString>& keys, bool ascending)
{
    std::vector<size_t> order(items.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    // Stable on the set's order; descending reverses the whole list, so equal
    // texts come in reverse store order then.
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
    ItemList out;
    out.reserve(order.size());
    for (size_t i : order)
        out.push_back(items[i]);
    if (!ascending)
        std::reverse(out.begin(), out.end());
    return out;
}
} // namespace

ItemList ItemSet::SortAlphabetic(bool ascending, bool caseSensitive) const
{
    std::vector<QString> keys;
    keys.reserve(m_items.size());
    for (const ItemPtr& i : m_items)
        keys.push_back(caseSensitive ? i.AsString() : i.AsString().toLower());
    return SortByText(m_items, keys, ascending);
}

ItemList ItemSet::SortAlphabeticBy(const char* type, bool ascending, bool caseSensitive) const
{
    Type* t = d.GetType(type);
    ItemList members;
    std::vector<QString> keys;
    for (const ItemPtr& i : m_items) {
        ItemPtr key = i[t];
        if (!key)
            continue;
        members.push_back(i);
        keys.push_back(caseSensitive ? key.AsString() : key.AsString().toLower());
    }
    return SortByText(members, keys, ascending);
}

ItemList ItemSet::SortNumericBy(const char* type, bool ascending) const
{
    Type* t = d.GetType(type);
    std::vector<std::pair<qint64, ItemPtr>> keyed;
    for (const ItemPtr& i : m_items) {
        ItemPtr key = i[t];
        if (key)
            keyed.emplace_back(key.AsInt64(), i);
    }
    // Equal keys keep store order in both directions.
    std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
        return ascending ? a.first < b.first : a.first > b.first;
    });
    ItemList out;
    out.reserve(keyed.size());
    for (auto& k : keyed)
        out.push_back(k.second);
    return out;
}
