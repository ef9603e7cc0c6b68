#pragma once

#include <string>
#include <vector>

#include "ItemPtr.h"

class Data;
class Type;
class Item;

// The kind of a child step of a path pattern:
// 0 connected (condition, and a connection along the step raises the event)
// 1 connected (condition only)
// 2 connection event (the event is raised only by a connection along it)
// 3 not connected (condition on a last step; a disconnection raises it)
// 4 not connected (condition only)
// 5 disconnection event (raised only by a disconnection along it)
typedef int PathNodeRelation;

// One step of a pattern: a root over every item of a type or one item, and
// child steps to a type or one item. Children are owned by their parent;
// the root is owned by the store once registered.
class PathNode
{
public:
    PathNode(Data* data, const char* type);
    explicit PathNode(ItemPtr item);
    PathNode(PathNode* parent, const char* type, PathNodeRelation relation = 0);
    PathNode(PathNode* parent, ItemPtr item, PathNodeRelation relation = 0);
    ~PathNode();
    PathNode(const PathNode&) = delete;
    PathNode& operator=(const PathNode&) = delete;

    Type* GetType() const { return m_type; }
    PathNode* GetParent() const { return m_parent; }
    PathNodeRelation GetRelation() const { return m_relation; }
    const std::vector<PathNode*>& GetChildren() const { return m_children; }
    bool Matches(const Item* item) const;
    // The item of an item step as it stands now (an item made anew with the
    // same value counts), or null for a type step or an absent item.
    Item* CurrentItem() const;
    bool IsItemStep() const { return m_isItemStep; }

private:
    void SetItem(ItemPtr item);

    Type* m_type = nullptr;
    PathNode* m_parent = nullptr;
    PathNodeRelation m_relation = 0;
    std::vector<PathNode*> m_children;
    bool m_isItemStep = false;
    bool m_isGlobalNull = false;
    std::string m_value;
    unsigned long long m_sequence = 0;
};
