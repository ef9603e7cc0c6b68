#include "PathNode.h"

#include "Data.h"

PathNode::PathNode(Data* data, const char* type) : m_type(data->GetType(type)) {}

PathNode::PathNode(ItemPtr item)
{
    SetItem(item);
}

PathNode::PathNode(PathNode* parent, const char* type, PathNodeRelation relation)
    : m_type(d.GetType(type)), m_parent(parent), m_relation(relation)
{
    if (parent)
        parent->m_children.push_back(this);
}

PathNode::PathNode(PathNode* parent, ItemPtr item, PathNodeRelation relation) : m_parent(parent), m_relation(relation)
{
    SetItem(item);
    if (parent)
        parent->m_children.push_back(this);
}

PathNode::~PathNode()
{
    for (PathNode* child : m_children)
        delete child;
}

void PathNode::SetItem(ItemPtr item)
{
    Item* i = item.GetItemPointer();
    if (!i)
        throw new TypeNotFoundException;
    m_isItemStep = true;
    m_type = i->GetType();
    m_value = i->m_value;
    m_sequence = i->m_sequence;
    m_isGlobalNull = m_type->IsGlobalNullItem(i);
}

Item* PathNode::CurrentItem() const
{
    if (!m_isItemStep)
        return nullptr;
    if (m_type->IsNull()) {
        if (m_isGlobalNull)
            return m_type->PeekGlobalNullItem();
        return nullptr; // found through Matches on the held items
    }
    return m_type->HasItem(m_value).GetItemPointer();
}

bool PathNode::Matches(const Item* item) const
{
    if (!item || item->GetType() != m_type)
        return false;
    if (!m_isItemStep)
        return true;
    if (m_type->IsNull())
        return m_isGlobalNull ? m_type->IsGlobalNullItem(item) : item->m_sequence == m_sequence;
    return item->m_value == m_value;
}
