#pragma once

#include <QtGlobal>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "EventHandler.h"
#include "Exceptions.h"
#include "HandlerList.h"
#include "Item.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "PathNode.h"
#include "Type.h"
#include "Value.h"

// The item store: named types, their items and the connections between
// them, with events that let the rest of the program observe every change.
//
// Order: "address order" of the store is the creation order of items (a
// sequence number per item), so sets and "the first item" are the same
// from run to run.
//
// Re-entrancy: handlers may connect, disconnect, create and remove items and
// register or retire handlers while the store dispatches. Removed items are
// freed only when the outermost store operation returns.
class Data
{
public:
    Data();
    ~Data();
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;

    Type* NewType(const std::string& name, Primacy primacy, bool isNull, bool autoCreate);
    Type* GetType(const std::string& name) const;
    Type* HasType(const std::string& name) const;
    const std::vector<Type*>& GetTypes() const { return m_types; }

    ItemPtr GetItem(const ItemSet& items, const char* type) const;
    ItemPtr GetItem(ItemPtr a, ItemPtr b, const char* type) const;
    ItemSet GetItems(ItemPtr a, ItemPtr b, const char* type) const;
    ItemSet GetItems(const ItemSet& items, const char* type) const;
    ItemSet GetItemSubset(const ItemSet& items, const char* type) const;

    void RemoveDisconnectedItems();
    void RemoveAllItems();
    // Drops every type, item and handler without events: a clean store for
    // tests and the end of the program.
    void Reset();

    void AddItemAddedHandler(ItemEventHandler* handler);
    void AddItemRemovedHandler(ItemEventHandler* handler);
    void AddConnectionEventHandler(Type* a, Type* b, ConnectionEventHandler* handler);
    void AddPathEventHandler(PathNode* root, ItemEventHandler* handler);

    // Holds removed items alive until the outermost guard ends, for code that
    // walks items while handlers may remove some of them.
    class Batch
    {
    public:
        explicit Batch(Data* data) : m_data(data) { ++m_data->m_depth; }
        ~Batch()
        {
            if (--m_data->m_depth == 0)
                m_data->Settle();
        }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        Data* m_data;
    };

    // For a bulk load: whether anything hears of a new item of the type, or
    // of a connection between items of two types. What nobody hears of is
    // made without the event machinery, and nobody can tell.
    bool IsCreationObserved(const Type* type) const;
    bool IsConnectionObserved(const Type* a, const Type* b) const;
    // A connection of related items that nobody observes; the usual way
    // when an end that holds one is taken already, which that way is cut.
    void ConnectUnobserved(Item* a, Item* b);
    // Counts registrations of handlers, so a load that remembers what is
    // observed knows when to ask again.
    quint64 HandlerGeneration() const { return m_handlerGeneration; }
    void HandlerRegistered() { ++m_handlerGeneration; }

    // Item operations, reached through ItemPtr and Type.
    void ConnectItems(Item* a, Item* b);
    void DisconnectItems(Item* a, Item* b);
    void RemoveItem(Item* item);
    void ItemCreated(Item* item);
    quint64 NextSequence() { return ++m_sequence; }
    // The sequence the latest item took: every item made from now on has a
    // greater one.
    quint64 LastSequence() const { return m_sequence; }
    size_t ItemCount() const;

private:
    struct PathRegistration
    {
        std::shared_ptr<PathNode> root;
        std::unique_ptr<ItemEventHandler> handler;
        bool eventStepsOnly; // the pattern holds a step of relation 2 or 5
    };
    struct PathTrigger
    {
        PathRegistration* registration;
        PathNode* step; // child step; its parent matches the other end
    };
    struct PairHandlers
    {
        Type* a;
        Type* b;
        HandlerList<ConnectionInfo&> handlers;
    };
    typedef std::pair<const Type*, const Type*> TypePair;
    struct TypePairHash
    {
        size_t operator()(const TypePair& p) const
        {
            return std::hash<const void*>()(p.first) * 31 + std::hash<const void*>()(p.second);
        }
    };

    void Settle();
    void SweepHandlers();
    void IndexPattern(PathRegistration* registration, PathNode* step);
    void FirePathEvents(Item* a, Item* b, bool connected);
    void FireTrigger(const PathTrigger& trigger, Item* parent, Item* child, bool connected);
    bool Holds(const PathNode* step, Item* item) const;
    void FirePairHandlers(Item* a, Item* b);

    std::vector<Type*> m_types;
    std::unordered_map<std::string, Type*> m_typesByName;
    HandlerList<ItemPtr> m_added;
    HandlerList<ItemPtr> m_removed;
    std::vector<std::unique_ptr<PairHandlers>> m_pairHandlers;
    std::unordered_map<TypePair, std::vector<PairHandlers*>, TypePairHash> m_pairIndex;
    std::vector<std::unique_ptr<PathRegistration>> m_paths;
    std::unordered_map<TypePair, std::vector<PathTrigger>, TypePairHash> m_pathIndex;
    std::vector<Item*> m_graveyard;
    quint64 m_sequence = 0;
    quint64 m_handlerGeneration = 0;
    int m_depth = 0;
    bool m_needSweep = false;
};

// The one store of the program.
extern Data d;

// All items of a type.
ItemSet g(const char* type);
