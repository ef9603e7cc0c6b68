#pragma once

#include <algorithm>
#include <map>
#include <vector>

#include "ItemPtr.h"
#include "Value.h"

typedef std::vector<ItemPtr> ItemList;

// An ordered set of items, in the store's order (creation order). Kept as a
// sorted vector: sets are mostly built in order, so adding is an append.
class ItemSet
{
public:
    class const_iterator
    {
    public:
        typedef std::vector<ItemPtr>::const_iterator Base;
        typedef std::forward_iterator_tag iterator_category;
        typedef ItemPtr value_type;
        typedef std::ptrdiff_t difference_type;
        typedef const ItemPtr* pointer;
        typedef const ItemPtr& reference;

        const_iterator() {}
        explicit const_iterator(Base it) : m_it(it) {}
        const ItemPtr& operator*() const { return *m_it; }
        const ItemPtr* operator->() const { return &*m_it; }
        ItemPtr Item() const { return *m_it; }
        const_iterator& operator++()
        {
            ++m_it;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator old = *this;
            ++m_it;
            return old;
        }
        bool operator==(const const_iterator& o) const { return m_it == o.m_it; }
        bool operator!=(const const_iterator& o) const { return m_it != o.m_it; }
        Base base() const { return m_it; }

    private:
        Base m_it;
    };
    typedef const_iterator iterator;

    ItemSet() {}
    ItemSet(ItemPtr item);

    const_iterator begin() const { return const_iterator(m_items.begin()); }
    const_iterator end() const { return const_iterator(m_items.end()); }
    size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }
    bool contains(ItemPtr item) const;
    size_t count(ItemPtr item) const { return contains(item) ? 1 : 0; }
    void insert(ItemPtr item);
    void erase(ItemPtr item);
    void erase(const_iterator it);
    // The first count items out, in one go.
    void EraseFirst(size_t count)
    {
        m_items.erase(m_items.begin(), m_items.begin() + std::ptrdiff_t(std::min(count, m_items.size())));
    }
    void clear() { m_items.clear(); }
    void Add(const ItemSet& other);
    ItemPtr First() const { return m_items.empty() ? ItemPtr() : m_items.front(); }
    operator ItemPtr() const { return First(); }
    const ItemList& List() const { return m_items; }
    bool operator==(const ItemSet& other) const { return m_items == other.m_items; }

    ItemSet Connected(const char* type) const;
    ItemSet Connected(const char* type, const Value& value) const;
    ItemSet Connected(const ItemSet& other) const;
    ItemSet Connected(ItemPtr item) const;
    ItemSet NotConnected(const char* type) const;
    ItemSet NotConnected(const char* type, const Value& value) const;
    ItemSet NotConnected(ItemPtr item) const;
    ItemSet Common(const ItemSet& other) const;
    ItemSet GetItems(const char* type) const;
    void Disconnect(const char* type) const;
    void Remove() const;

    ItemList SortAlphabetic(bool ascending, bool caseSensitive) const;
    ItemList SortAlphabeticBy(const char* type, bool ascending, bool caseSensitive) const;
    ItemList SortNumericBy(const char* type, bool ascending) const;

    // Appends an item known to come after every member (store order).
    void AppendInOrder(ItemPtr item) { m_items.push_back(item); }

private:
    ItemList m_items;
};

class Type;
typedef std::map<Type*, ItemSet> TypeItemsMap;
