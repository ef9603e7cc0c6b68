#include "Data.h"

#include <algorithm>
#include <deque>

Data d;

ItemSet g(const char* type)
{
    return d.GetType(type)->GetItems();
}

Data::Data() = default;

Data::~Data()
{
    Reset();
}

void Data::Reset()
{
    m_paths.clear();
    m_pathIndex.clear();
    m_pairHandlers.clear();
    m_pairIndex.clear();
    m_added = HandlerList<ItemPtr>();
    m_removed = HandlerList<ItemPtr>();
    for (Item* item : m_graveyard)
        Item::Destroy(item);
    m_graveyard.clear();
    for (Type* type : m_types)
        delete type;
    m_types.clear();
    m_typesByName.clear();
    m_needSweep = false;
    StoreMemory::ReleaseIfIdle();
}

Type* Data::NewType(const std::string& name, Primacy primacy, bool isNull, bool autoCreate)
{
    if (m_typesByName.count(name))
        throw new TypeAlreadyExistsException;
    Type* type = new Type(this, name, primacy, isNull, autoCreate, int(m_types.size()));
    m_types.push_back(type);
    m_typesByName.emplace(name, type);
    return type;
}

Type* Data::GetType(const std::string& name) const
{
    auto it = m_typesByName.find(name);
    if (it == m_typesByName.end())
        throw new TypeNotFoundException;
    return it->second;
}

Type* Data::HasType(const std::string& name) const
{
    auto it = m_typesByName.find(name);
    return it == m_typesByName.end() ? nullptr : it->second;
}

size_t Data::ItemCount() const
{
    size_t n = 0;
    for (Type* t : m_types)
        n += t->Count();
    return n;
}

ItemPtr Data::GetItem(const ItemSet& items, const char* type) const
{
    return GetItemSubset(items, type).First();
}

ItemPtr Data::GetItem(ItemPtr a, ItemPtr b, const char* type) const
{
    return GetItems(a, b, type).First();
}

ItemSet Data::GetItems(ItemPtr a, ItemPtr b, const char* type) const
{
    if (!a || !b)
        return ItemSet();
    Type* t = GetType(type);
    ItemSet fromA = a.GetItems(t);
    ItemSet fromB = b.GetItems(t);
    return fromA.size() <= fromB.size() ? fromA.Connected(b) : fromB.Connected(a);
}

ItemSet Data::GetItems(const ItemSet& items, const char* type) const
{
    return items.GetItems(type);
}

ItemSet Data::GetItemSubset(const ItemSet& items, const char* type) const
{
    if (items.empty())
        return ItemSet();
    Type* t = GetType(type);
    // Start from the member with the fewest candidates.
    ItemPtr smallest;
    size_t best = size_t(-1);
    for (const ItemPtr& i : items) {
        ConnectionGroup* group = i.GetItemPointer()->FindGroup(t);
        size_t n = group ? group->Size() : 0;
        if (n < best) {
            best = n;
            smallest = i;
        }
        if (n == 0)
            return ItemSet();
    }
    ItemSet out;
    for (const ItemPtr& candidate : smallest.GetItems(t)) {
        bool all = true;
        for (const ItemPtr& i : items) {
            if (i != smallest && !i.IsConnected(candidate)) {
                all = false;
                break;
            }
        }
        if (all)
            out.AppendInOrder(candidate);
    }
    return out;
}

// ---- item life ---------------------------------------------------------

void Data::ItemCreated(Item* item)
{
    Batch batch(this);
    bool clean = item->GetType()->m_added.Dispatch(ItemPtr(item));
    clean = m_added.Dispatch(ItemPtr(item)) && clean;
    if (!clean)
        m_needSweep = true;
}

void Data::RemoveItem(Item* item)
{
    if (!item || item->m_removed)
        return;
    Batch batch(this);
    Type* type = item->GetType();
    item->m_removed = true;
    type->Unlink(item);
    bool clean = type->m_removed.Dispatch(ItemPtr(item));
    clean = m_removed.Dispatch(ItemPtr(item)) && clean;
    if (!clean)
        m_needSweep = true;
    // Handlers cannot connect a removed item, so this ends.
    while (!item->m_groups.empty()) {
        ConnectionGroup& group = item->m_groups.back();
        if (group.Empty()) {
            item->m_groups.pop_back();
            continue;
        }
        DisconnectItems(item, group.First());
    }
    m_graveyard.push_back(item);
}

void Data::Settle()
{
    if (!m_graveyard.empty()) {
        std::vector<Item*> dead;
        dead.swap(m_graveyard);
        for (Item* item : dead)
            Item::Destroy(item);
    }
    if (m_needSweep)
        SweepHandlers();
}

void Data::SweepHandlers()
{
    m_needSweep = false;
    m_added.Sweep();
    m_removed.Sweep();
    for (Type* t : m_types)
        t->SweepHandlers();
    for (auto& p : m_pairHandlers)
        p->handlers.Sweep();
    bool anyDead = false;
    for (auto& r : m_paths)
        if (!r->handler->IsAlive())
            anyDead = true;
    if (!anyDead)
        return;
    for (auto& entry : m_pathIndex) {
        auto& triggers = entry.second;
        triggers.erase(std::remove_if(triggers.begin(), triggers.end(),
                                      [](const PathTrigger& t) { return !t.registration->handler->IsAlive(); }),
                       triggers.end());
    }
    m_paths.erase(std::remove_if(m_paths.begin(), m_paths.end(),
                                 [](const std::unique_ptr<PathRegistration>& r) { return !r->handler->IsAlive(); }),
                  m_paths.end());
}

// ---- connections -------------------------------------------------------

void Data::ConnectItems(Item* a, Item* b)
{
    if (!a || !b || a == b || a->m_removed || b->m_removed)
        return;
    const Relation* ab = a->GetType()->GetRelation(b->GetType());
    if (!ab)
        throw new NotRelatedException;
    ConnectionGroup* existing = a->FindGroup(b->GetType());
    if (existing && existing->Contains(b))
        return;

    Batch batch(this);
    const Relation* ba = b->GetType()->GetRelation(a->GetType());
    // At an end that holds one, the previous connection goes first, with its
    // own events. Bounded in case handlers keep filling the slot.
    for (int guard = 0; guard < 64; ++guard) {
        bool cut = false;
        if (!ab->holdsMany) {
            ConnectionGroup* g = a->FindGroup(b->GetType());
            if (g && !g->Empty() && g->First() != b) {
                DisconnectItems(a, g->First());
                cut = true;
            }
        }
        if (!ba->holdsMany && !a->m_removed && !b->m_removed) {
            ConnectionGroup* g = b->FindGroup(a->GetType());
            if (g && !g->Empty() && g->First() != a) {
                DisconnectItems(b, g->First());
                cut = true;
            }
        }
        if (!cut)
            break;
    }
    if (a->m_removed || b->m_removed)
        return;
    ConnectionGroup* now = a->FindGroup(b->GetType());
    if (now && now->Contains(b))
        return; // a handler connected them meanwhile

    a->Group(b->GetType()).Insert(b);
    b->Group(a->GetType()).Insert(a);

    bool clean = true;
    ConnectionInfo forA{a, b};
    clean = a->GetType()->m_connected.Dispatch(forA) && clean;
    ConnectionInfo forB{b, a};
    clean = b->GetType()->m_connected.Dispatch(forB) && clean;
    if (!clean)
        m_needSweep = true;
    FirePairHandlers(a, b);
    FirePathEvents(a, b, true);
}

bool Data::IsCreationObserved(const Type* type) const
{
    return !m_added.Empty() || !type->m_added.Empty();
}

bool Data::IsConnectionObserved(const Type* a, const Type* b) const
{
    return !a->m_connected.Empty() || !b->m_connected.Empty() || m_pairIndex.count(TypePair(a, b)) ||
           m_pathIndex.count(TypePair(a, b)) || m_pathIndex.count(TypePair(b, a));
}

void Data::ConnectUnobserved(Item* a, Item* b)
{
    if (!a || !b || a == b || a->m_removed || b->m_removed)
        return;
    Type* ta = a->GetType();
    Type* tb = b->GetType();
    const Relation* ab = ta->GetRelation(tb);
    const Relation* ba = tb->GetRelation(ta);
    if (!ab || !ba)
        throw new NotRelatedException;
    const ConnectionGroup* held = a->FindGroup(tb);
    if (held && held->Contains(b))
        return;
    const ConnectionGroup* other = b->FindGroup(ta);
    if ((!ab->holdsMany && held && !held->Empty()) || (!ba->holdsMany && other && !other->Empty())) {
        ConnectItems(a, b);
        return;
    }
    a->Group(tb).Insert(b);
    b->Group(ta).Insert(a);
}

void Data::DisconnectItems(Item* a, Item* b)
{
    if (!a || !b)
        return;
    ConnectionGroup* ga = a->FindGroup(b->GetType());
    if (!ga || !ga->Contains(b))
        return;
    Batch batch(this);
    ga->Erase(b);
    a->DropEmptyGroup(b->GetType());
    if (ConnectionGroup* gb = b->FindGroup(a->GetType())) {
        gb->Erase(a);
        b->DropEmptyGroup(a->GetType());
    }
    bool clean = true;
    ConnectionInfo forA{a, b};
    clean = a->GetType()->m_disconnected.Dispatch(forA) && clean;
    ConnectionInfo forB{b, a};
    clean = b->GetType()->m_disconnected.Dispatch(forB) && clean;
    if (!clean)
        m_needSweep = true;
    FirePathEvents(a, b, false);
}

// ---- handler registration ----------------------------------------------

void Data::AddItemAddedHandler(ItemEventHandler* handler)
{
    ++m_handlerGeneration;
    m_added.Add(handler);
}

void Data::AddItemRemovedHandler(ItemEventHandler* handler)
{
    m_removed.Add(handler);
}

void Data::AddConnectionEventHandler(Type* a, Type* b, ConnectionEventHandler* handler)
{
    ++m_handlerGeneration;
    if (!a || !b || !a->IsRelatedTo(b)) {
        delete handler;
        throw new NotRelatedException;
    }
    auto key = TypePair(a, b);
    for (PairHandlers* p : m_pairIndex[key]) {
        if (p->a == a && p->b == b) {
            p->handlers.Add(handler);
            return;
        }
    }
    m_pairHandlers.emplace_back(new PairHandlers{a, b, {}});
    PairHandlers* p = m_pairHandlers.back().get();
    p->handlers.Add(handler);
    m_pairIndex[TypePair(a, b)].push_back(p);
    if (a != b)
        m_pairIndex[TypePair(b, a)].push_back(p);
}

void Data::FirePairHandlers(Item* a, Item* b)
{
    auto it = m_pairIndex.find(TypePair(a->GetType(), b->GetType()));
    if (it == m_pairIndex.end())
        return;
    // Copy: registering a new pair during dispatch may grow this list.
    std::vector<PairHandlers*> pairs = it->second;
    for (PairHandlers* p : pairs) {
        ConnectionInfo info = p->a == a->GetType() ? ConnectionInfo{a, b} : ConnectionInfo{b, a};
        if (!p->handlers.Dispatch(info))
            m_needSweep = true;
    }
}

void Data::AddPathEventHandler(PathNode* root, ItemEventHandler* handler)
{
    ++m_handlerGeneration;
    // One pattern object may serve several handlers.
    std::shared_ptr<PathNode> owner;
    for (auto& r : m_paths)
        if (r->root.get() == root)
            owner = r->root;
    if (!owner)
        owner.reset(root);
    auto* registration = new PathRegistration{owner, std::unique_ptr<ItemEventHandler>(handler), false};
    m_paths.emplace_back(registration);
    std::vector<PathNode*> pending{root};
    while (!pending.empty()) {
        PathNode* step = pending.back();
        pending.pop_back();
        for (PathNode* child : step->GetChildren()) {
            if (child->GetRelation() == 2 || child->GetRelation() == 5)
                registration->eventStepsOnly = true;
            pending.push_back(child);
        }
    }
    IndexPattern(registration, root);
}

void Data::IndexPattern(PathRegistration* registration, PathNode* step)
{
    for (PathNode* child : step->GetChildren()) {
        m_pathIndex[TypePair(step->GetType(), child->GetType())].push_back(PathTrigger{registration, child});
        IndexPattern(registration, child);
    }
}

// ---- path events -------------------------------------------------------

bool Data::Holds(const PathNode* step, Item* item) const
{
    for (const PathNode* child : step->GetChildren()) {
        const int rel = child->GetRelation();
        if (rel == 5)
            continue;
        ConnectionGroup* group = item->FindGroup(child->GetType());
        bool found = false;
        if (group && !group->Empty()) {
            if (child->IsItemStep() && !child->GetType()->IsNull()) {
                Item* target = child->CurrentItem();
                found = target && group->Contains(target) && (rel >= 3 || Holds(child, target));
            } else if (rel >= 3 && !child->IsItemStep()) {
                found = true;
            } else {
                group->ForEach([&](Item* x) {
                    if (!found && child->Matches(x) && (rel >= 3 || Holds(child, x)))
                        found = true;
                });
            }
        }
        if (rel <= 2 ? !found : found)
            return false;
    }
    return true;
}

void Data::FirePathEvents(Item* a, Item* b, bool connected)
{
    if (m_pathIndex.empty())
        return;
    for (int side = 0; side < 2; ++side) {
        Item* parent = side == 0 ? a : b;
        Item* child = side == 0 ? b : a;
        if (side == 1 && a->GetType() == b->GetType() && a == b)
            break;
        auto it = m_pathIndex.find(TypePair(parent->GetType(), child->GetType()));
        if (it == m_pathIndex.end())
            continue;
        // Only triggers present when the change happened; indexes stay valid
        // if handlers register more patterns (the node does not move).
        std::vector<PathTrigger>* triggers = &it->second;
        const size_t n = triggers->size();
        for (size_t i = 0; i < n; ++i) {
            PathTrigger trigger = (*triggers)[i];
            if (!trigger.registration->handler->IsAlive()) {
                m_needSweep = true;
                continue;
            }
            FireTrigger(trigger, parent, child, connected);
        }
    }
}

void Data::FireTrigger(const PathTrigger& trigger, Item* parent, Item* child, bool connected)
{
    PathNode* step = trigger.step;
    const int rel = step->GetRelation();
    if (connected ? !(rel == 0 || rel == 2) : !(rel == 3 || rel == 5))
        return;
    if (trigger.registration->eventStepsOnly && rel != 2 && rel != 5)
        return;
    PathNode* parentStep = step->GetParent();
    if (!step->Matches(child) || !parentStep->Matches(parent))
        return;
    if (parent->m_removed && connected)
        return;
    if (connected && !Holds(step, child))
        return;
    if (rel == 3) {
        ConnectionGroup* group = parent->FindGroup(step->GetType());
        bool stillHeld = false;
        if (group)
            group->ForEach([&](Item* x) {
                if (step->Matches(x))
                    stillHeld = true;
            });
        if (stillHeld)
            return;
    }

    // Walk up from the parent to the root's candidates.
    std::vector<Item*> current{parent};
    for (PathNode* s = parentStep; s->GetParent(); s = s->GetParent()) {
        PathNode* up = s->GetParent();
        ItemSet next;
        for (Item* x : current) {
            ConnectionGroup* group = x->FindGroup(up->GetType());
            if (group)
                group->ForEach([&](Item* y) {
                    if (up->Matches(y))
                        next.insert(y);
                });
        }
        current.clear();
        for (const ItemPtr& y : next)
            current.push_back(y.GetItemPointer());
        if (current.empty())
            return;
    }
    std::sort(current.begin(), current.end(), ItemSequenceLess());
    PathNode* root = trigger.registration->root.get();
    for (Item* candidate : current) {
        if (candidate->m_removed && connected)
            continue;
        if (Holds(root, candidate)) {
            trigger.registration->handler->Call(ItemPtr(candidate));
            return;
        }
    }
}

// ---- clean-up ----------------------------------------------------------

void Data::RemoveDisconnectedItems()
{
    Batch batch(this);
    // Ownership cascades: a request owns its results, which own their rows.
    for (bool changed = true; changed;) {
        changed = false;
        for (Type* type : m_types) {
            if (!type->IsOwned())
                continue;
            for (const ItemPtr& item : type->GetItems()) {
                if (item.IsRemoved())
                    continue;
                bool owned = false;
                for (const Relation& r : type->GetRelations()) {
                    if (!r.ownedBy)
                        continue;
                    ConnectionGroup* group = item.GetItemPointer()->FindGroup(r.other);
                    if (group && !group->Empty()) {
                        owned = true;
                        break;
                    }
                }
                if (!owned) {
                    RemoveItem(item.GetItemPointer());
                    changed = true;
                }
            }
        }
    }

    // Everything that reaches an entity stays; attributes are reached but
    // never passed through. The walk marks entities and what they reach
    // through items that are not attributes; an attribute is reached when
    // a marked item holds it, which is asked of the attribute itself, so a
    // token held by a hundred thousand files costs one look, not as many.
    std::vector<Item*> queue;
    for (Type* type : m_types) {
        if (type->GetPrimacy() != 0)
            continue;
        for (Item* item = type->m_first; item; item = item->m_next) {
            item->m_mark = true;
            queue.push_back(item);
        }
    }
    while (!queue.empty()) {
        Item* x = queue.back();
        queue.pop_back();
        for (const ConnectionGroup& group : x->m_groups) {
            if (group.GetType()->GetPrimacy() == 2)
                continue;
            group.ForEach([&](Item* y) {
                if (!y->m_mark) {
                    y->m_mark = true;
                    queue.push_back(y);
                }
            });
        }
    }
    std::vector<Item*> unreached;
    // Attributes first, while the marks of their holders stand.
    for (Type* type : m_types) {
        if (type->GetPrimacy() != 2)
            continue;
        for (Item* item = type->m_first; item; item = item->m_next) {
            if (item->m_mark) {
                item->m_mark = false;
                continue;
            }
            bool held = false;
            for (const ConnectionGroup& group : item->m_groups) {
                if (group.GetType()->GetPrimacy() == 2)
                    continue;
                held = group.Any([](Item* y) { return y->m_mark; });
                if (held)
                    break;
            }
            if (!held)
                unreached.push_back(item);
        }
    }
    for (Type* type : m_types) {
        if (type->GetPrimacy() == 2)
            continue;
        for (Item* item = type->m_first; item; item = item->m_next) {
            if (!item->m_mark)
                unreached.push_back(item);
            item->m_mark = false;
        }
    }
    std::sort(unreached.begin(), unreached.end(), ItemSequenceLess());
    for (Item* item : unreached)
        RemoveItem(item);
    m_needSweep = true; // a good moment to drop retired handlers too
}

void Data::RemoveAllItems()
{
    Batch batch(this);
    for (Type* type : m_types) {
        // Handlers may create items of this type while we remove; bounded.
        for (int guard = 0; guard < 1000 && type->m_first; ++guard)
            for (const ItemPtr& item : type->GetItems())
                RemoveItem(item.GetItemPointer());
    }
}
