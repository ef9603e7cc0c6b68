#pragma once

#include <QtGlobal>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

class Type;
class Item;

struct ItemSequenceLess
{
    bool operator()(const Item* a, const Item* b) const;
};

// The items one item is connected to, of one type, kept in store order.
// Most groups hold one item, so that case needs no allocation; large groups
// (a folder's files, a marker shared by thousands) switch to a tree so
// that adding and cutting a connection stays cheap.
class ConnectionGroup
{
public:
    explicit ConnectionGroup(Type* type) : m_type(type) {}
    ConnectionGroup(ConnectionGroup&& other) noexcept;
    ConnectionGroup& operator=(ConnectionGroup&& other) noexcept;
    ConnectionGroup(const ConnectionGroup&) = delete;
    ConnectionGroup& operator=(const ConnectionGroup&) = delete;
    ~ConnectionGroup();

    Type* GetType() const { return m_type; }
    size_t Size() const;
    bool Empty() const { return Size() == 0; }
    bool Contains(Item* item) const;
    void Insert(Item* item);
    void Erase(Item* item);
    Item* First() const;
    template <class F>
    void ForEach(F f) const
    {
        if (m_tree)
            for (const auto& entry : *m_tree)
                f(entry.second);
        else if (m_vector)
            for (Item* i : *m_vector)
                f(i);
        else if (m_one)
            f(m_one);
    }

    // Whether f holds for any member; stops at the first that does.
    template <class F>
    bool Any(F f) const
    {
        if (m_tree) {
            for (const auto& entry : *m_tree)
                if (f(entry.second))
                    return true;
        } else if (m_vector) {
            for (Item* i : *m_vector)
                if (f(i))
                    return true;
        } else if (m_one) {
            return f(m_one);
        }
        return false;
    }

private:
    // Keyed by sequence number, so that a look-up never touches the items.
    typedef std::map<quint64, Item*> Tree;
    static const size_t TreeThreshold = 48;
    void Release();

    Type* m_type;
    Item* m_one = nullptr;
    std::vector<Item*>* m_vector = nullptr;
    Tree* m_tree = nullptr;
};

class Item
{
public:
    Item(Type* type, std::string&& value, quint64 sequence)
        : m_type(type), m_value(std::move(value)), m_sequence(sequence)
    {
    }

    ConnectionGroup* FindGroup(Type* type)
    {
        for (auto& g : m_groups)
            if (g.GetType() == type)
                return &g;
        return nullptr;
    }
    ConnectionGroup& Group(Type* type);
    void DropEmptyGroup(Type* type);

    Type* m_type;
    std::string m_value;
    quint64 m_sequence;
    // Neighbours in the type's item list, which is in creation order.
    Item* m_prev = nullptr;
    Item* m_next = nullptr;
    std::vector<ConnectionGroup> m_groups;
    bool m_removed = false;
    // Kept for the clean-up's walk.
    bool m_mark = false;
};

inline bool ItemSequenceLess::operator()(const Item* a, const Item* b) const
{
    return a->m_sequence < b->m_sequence;
}
