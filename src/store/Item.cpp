#include "Item.h"

ConnectionGroup::ConnectionGroup(ConnectionGroup&& other) noexcept
    : m_type(other.m_type), m_one(other.m_one), m_vector(other.m_vector), m_tree(other.m_tree)
{
    other.m_one = nullptr;
    other.m_vector = nullptr;
    other.m_tree = nullptr;
}

ConnectionGroup& ConnectionGroup::operator=(ConnectionGroup&& other) noexcept
{
    if (this != &other) {
        Release();
        m_type = other.m_type;
        m_one = other.m_one;
        m_vector = other.m_vector;
        m_tree = other.m_tree;
        other.m_one = nullptr;
        other.m_vector = nullptr;
        other.m_tree = nullptr;
    }
    return *this;
}

ConnectionGroup::~ConnectionGroup()
{
    Release();
}

void ConnectionGroup::Release()
{
    delete m_vector;
    delete m_tree;
    m_vector = nullptr;
    m_tree = nullptr;
    m_one = nullptr;
}

size_t ConnectionGroup::Size() const
{
    if (m_tree)
        return m_tree->size();
    if (m_vector)
        return m_vector->size();
    return m_one ? 1 : 0;
}

bool ConnectionGroup::Contains(Item* item) const
{
    if (m_tree)
        return m_tree->count(item->m_sequence) != 0;
    if (m_vector)
        return std::binary_search(m_vector->begin(), m_vector->end(), item, ItemSequenceLess());
    return m_one == item;
}

void ConnectionGroup::Insert(Item* item)
{
    if (m_tree) {
        m_tree->emplace_hint(m_tree->end(), item->m_sequence, item);
        return;
    }
    if (!m_vector) {
        if (!m_one) {
            m_one = item;
            return;
        }
        if (m_one == item)
            return;
        m_vector = new std::vector<Item*>;
        m_vector->reserve(4);
        m_vector->push_back(m_one);
        m_one = nullptr;
    }
    auto& v = *m_vector;
    if (v.empty() || ItemSequenceLess()(v.back(), item)) {
        v.push_back(item);
    } else {
        auto at = std::lower_bound(v.begin(), v.end(), item, ItemSequenceLess());
        if (at != v.end() && *at == item)
            return;
        v.insert(at, item);
    }
    if (v.size() > TreeThreshold) {
        m_tree = new Tree;
        for (Item* i : v)
            m_tree->emplace_hint(m_tree->end(), i->m_sequence, i);
        delete m_vector;
        m_vector = nullptr;
    }
}

void ConnectionGroup::Erase(Item* item)
{
    if (m_tree) {
        m_tree->erase(item->m_sequence);
        return;
    }
    if (m_vector) {
        auto at = std::lower_bound(m_vector->begin(), m_vector->end(), item, ItemSequenceLess());
        if (at != m_vector->end() && *at == item)
            m_vector->erase(at);
        if (m_vector->size() == 1) {
            m_one = m_vector->front();
            delete m_vector;
            m_vector = nullptr;
        } else if (m_vector->empty()) {
            delete m_vector;
            m_vector = nullptr;
        }
        return;
    }
    if (m_one == item)
        m_one = nullptr;
}

Item* ConnectionGroup::First() const
{
    if (m_tree)
        return m_tree->empty() ? nullptr : m_tree->begin()->second;
    if (m_vector)
        return m_vector->empty() ? nullptr : m_vector->front();
    return m_one;
}

ConnectionGroup& Item::Group(Type* type)
{
    if (ConnectionGroup* g = FindGroup(type))
        return *g;
    m_groups.emplace_back(type);
    return m_groups.back();
}

void Item::DropEmptyGroup(Type* type)
{
    for (auto it = m_groups.begin(); it != m_groups.end(); ++it) {
        if (it->GetType() == type) {
            if (it->Empty())
                m_groups.erase(it);
            return;
        }
    }
}
