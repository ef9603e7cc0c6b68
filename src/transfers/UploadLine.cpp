#include "UploadLine.h"

#include <algorithm>

// A tree kept balanced by random priorities (a treap) whose nodes count
// their subtrees: a node's position is the count of nodes to its left.

UploadLine::~UploadLine()
{
    Free(m_root);
}

int UploadLine::Size() const
{
    return Size(m_root);
}

int UploadLine::Rank(const Node* node)
{
    int rank = Size(node->left);
    for (; node->parent; node = node->parent)
        if (node == node->parent->right)
            rank += Size(node->parent->left) + 1;
    return rank;
}

void UploadLine::Update(Node* node)
{
    node->size = 1 + Size(node->left) + Size(node->right);
    if (node->left)
        node->left->parent = node;
    if (node->right)
        node->right->parent = node;
}

UploadLine::Node* UploadLine::Merge(Node* a, Node* b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    if (a->priority > b->priority) {
        a->right = Merge(a->right, b);
        Update(a);
        return a;
    }
    b->left = Merge(a, b->left);
    Update(b);
    return b;
}

void UploadLine::Split(Node* tree, int count, Node*& first, Node*& rest)
{
    if (!tree) {
        first = rest = nullptr;
        return;
    }
    if (Size(tree->left) >= count) {
        Split(tree->left, count, first, tree->left);
        Update(tree);
        if (first)
            first->parent = nullptr;
        rest = tree;
    } else {
        Split(tree->right, count - Size(tree->left) - 1, tree->right, rest);
        Update(tree);
        if (rest)
            rest->parent = nullptr;
        first = tree;
    }
}

void UploadLine::Free(Node* tree)
{
    // Iterative: a line of any length frees without deep recursion.
    std::vector<Node*> pending;
    if (tree)
        pending.push_back(tree);
    while (!pending.empty()) {
        Node* node = pending.back();
        pending.pop_back();
        if (node->left)
            pending.push_back(node->left);
        if (node->right)
            pending.push_back(node->right);
        delete node;
    }
}

int UploadLine::PositionOf(const Item* entry) const
{
    const auto found = m_nodes.find(entry);
    return found == m_nodes.end() ? -1 : Rank(found->second);
}

Item* UploadLine::At(int position) const
{
    const Node* node = m_root;
    while (node) {
        const int left = Size(node->left);
        if (position < left)
            node = node->left;
        else if (position == left)
            return node->entry;
        else {
            position -= left + 1;
            node = node->right;
        }
    }
    return nullptr;
}

std::vector<int> UploadLine::VacatedPositions() const
{
    std::vector<int> positions;
    positions.reserve(m_vacated.size());
    for (const Node* node : m_vacated)
        positions.push_back(Rank(node));
    std::sort(positions.begin(), positions.end());
    return positions;
}

std::vector<Item*> UploadLine::EntriesOf(const Item* user) const
{
    std::vector<Item*> entries;
    const auto found = m_users.find(user);
    if (found != m_users.end())
        for (const Node* node : found->second)
            entries.push_back(node->entry);
    return entries;
}

void UploadLine::Insert(int position, Item* entry, Item* user)
{
    if (Contains(entry))
        return;
    m_seed ^= m_seed << 13;
    m_seed ^= m_seed >> 17;
    m_seed ^= m_seed << 5;
    Node* node = new Node{entry, user, m_seed};
    Node *first = nullptr, *rest = nullptr;
    Split(m_root, std::clamp(position, 0, Size()), first, rest);
    m_root = Merge(Merge(first, node), rest);
    m_root->parent = nullptr;
    m_nodes.emplace(entry, node);
    AddToUser(node);
}

void UploadLine::Unlink(Node* node)
{
    Node *before = nullptr, *rest = nullptr, *self = nullptr, *after = nullptr;
    Split(m_root, Rank(node), before, rest);
    Split(rest, 1, self, after);
    m_root = Merge(before, after);
    if (m_root)
        m_root->parent = nullptr;
    delete self;
}

UploadLine::Node* UploadLine::Take(const Item* entry)
{
    const auto found = m_nodes.find(entry);
    if (found == m_nodes.end())
        return nullptr;
    Node* node = found->second;
    m_nodes.erase(found);
    TakeFromUser(node);
    return node;
}

void UploadLine::Remove(Item* entry)
{
    if (Node* node = Take(entry))
        Unlink(node);
}

void UploadLine::Vacate(Item* entry)
{
    Node* node = Take(entry);
    if (!node)
        return;
    // Neither pointer may be followed any more: the store frees both.
    node->entry = nullptr;
    node->user = nullptr;
    m_vacated.push_back(node);
}

void UploadLine::RemoveVacated()
{
    for (Node* node : m_vacated)
        Unlink(node);
    m_vacated.clear();
}

void UploadLine::Clear()
{
    Free(m_root);
    m_root = nullptr;
    m_nodes.clear();
    m_vacated.clear();
    m_users.clear();
    m_firsts.clear();
}

void UploadLine::AddToUser(Node* node)
{
    NodeSet& mine = m_users[node->user];
    const Node* first = mine.empty() ? nullptr : *mine.begin();
    // Entries mostly join at the back of their user's line.
    mine.insert(mine.end(), node);
    if (*mine.begin() == first)
        return;
    if (first)
        m_firsts.erase(const_cast<Node*>(first));
    m_firsts.insert(node);
}

void UploadLine::TakeFromUser(Node* node)
{
    const auto found = m_users.find(node->user);
    NodeSet& mine = found->second;
    const bool first = *mine.begin() == node;
    if (first)
        m_firsts.erase(node);
    mine.erase(node);
    if (mine.empty())
        m_users.erase(found);
    else if (first)
        m_firsts.insert(*mine.begin());
}

void UploadLine::ForEachUsersFirst(const std::function<bool(Item* entry)>& visit) const
{
    // The cursor stays in the tree: a visited entry may only be vacated.
    Node* cursor = nullptr;
    for (;;) {
        const auto next = cursor ? m_firsts.upper_bound(cursor) : m_firsts.begin();
        if (next == m_firsts.end())
            return;
        cursor = *next;
        if (!visit(cursor->entry))
            return;
    }
}
