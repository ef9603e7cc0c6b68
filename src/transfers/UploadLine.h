#pragma once

#include <QtGlobal>
#include <functional>
#include <set>
#include <unordered_map>
#include <vector>

class Item;

// Upload entries in the order they start, each one's position counted from
// the front when asked rather than stored: taking one out moves every later
// position without touching the entries behind it. An entry that leaves the
// store may instead be vacated: its position stays taken, so nothing behind
// it moves, until RemoveVacated. Each user's first entry is kept apart, so
// that the next user free to start is found without walking the entries of
// users who are busy. Positions, insertion and removal cost the logarithm
// of the line's length.
class UploadLine
{
public:
    UploadLine() = default;
    ~UploadLine();
    UploadLine(const UploadLine&) = delete;
    UploadLine& operator=(const UploadLine&) = delete;

    // Positions, vacated ones included.
    int Size() const;
    // Entries, vacated positions not included.
    int Count() const { return int(m_nodes.size()); }
    bool Contains(const Item* entry) const { return m_nodes.count(entry) > 0; }
    // From 0; -1 for an entry not in the line.
    int PositionOf(const Item* entry) const;
    // The entry at a position; null when it is vacated or past the end.
    Item* At(int position) const;
    // The positions held by vacated entries, in order.
    std::vector<int> VacatedPositions() const;
    // The user's entries in line order.
    std::vector<Item*> EntriesOf(const Item* user) const;

    // position is clamped to the line.
    void Insert(int position, Item* entry, Item* user);
    void Remove(Item* entry);
    void Vacate(Item* entry);
    void RemoveVacated();
    void Clear();

    // Each user's first entry, in line order, until visit returns false.
    // visit may vacate entries, and nothing else.
    void ForEachUsersFirst(const std::function<bool(Item* entry)>& visit) const;

private:
    struct Node
    {
        Item* entry;
        Item* user;
        quint32 priority;
        int size = 1;
        Node* left = nullptr;
        Node* right = nullptr;
        Node* parent = nullptr;
    };
    struct Before
    {
        bool operator()(const Node* a, const Node* b) const { return Rank(a) < Rank(b); }
    };
    typedef std::set<Node*, Before> NodeSet;

    static int Size(const Node* node) { return node ? node->size : 0; }
    static int Rank(const Node* node);
    static void Update(Node* node);
    static Node* Merge(Node* a, Node* b);
    // The first count nodes of tree go to first, the rest to rest.
    static void Split(Node* tree, int count, Node*& first, Node*& rest);
    static void Free(Node* tree);
    void Unlink(Node* node);
    // Out of the index and its user's entries, still in the tree; null
    // for an entry not in the line.
    Node* Take(const Item* entry);
    void AddToUser(Node* node);
    void TakeFromUser(Node* node);

    Node* m_root = nullptr;
    std::unordered_map<const Item*, Node*> m_nodes;
    std::vector<Node*> m_vacated;
    std::unordered_map<const Item*, NodeSet> m_users;
    NodeSet m_firsts;
    quint32 m_seed = 2463534242u;
};
