#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "EventHandler.h"
#include "HandlerList.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "Value.h"
#include "ValueIndex.h"

class Data;
class Item;

// How many items one end of a relation holds. At an end that holds one,
// connecting a new item drops the previous connection first.
enum OneOrMany
{
    one = 0,
    many = 1
};

// 0: entity roots that the clean-up keeps; 1: relation or collection nodes;
// 2: attributes, which the clean-up's walk never passes through.
typedef int Primacy;

struct Relation
{
    Type* other;
    bool holdsMany; // items of this type hold many items of other
    bool owns;      // items of this type own their items of other
    bool ownedBy;   // items of other own the items of this type
};

// A named kind of item: valued (items unique by value) or null (valueless).
class Type
{
public:
    const std::string& GetName() const { return m_name; }
    Primacy GetPrimacy() const { return m_primacy; }
    bool IsNull() const { return m_isNull; }
    bool IsAutoCreate() const { return m_autoCreate; }
    Data* GetData() const { return m_data; }

    // thisEnd: how many items of this type one item of other holds;
    // otherEnd: how many items of other one item of this type holds.
    void RelateToType(Type* other, int thisEnd, int otherEnd, bool owns);
    void RelateToType(const char* other, int thisEnd, int otherEnd);
    const Relation* GetRelation(const Type* other) const;
    bool IsRelatedTo(const Type* other) const { return GetRelation(other) != nullptr; }
    const std::vector<Relation>& GetRelations() const { return m_relations; }
    bool IsOwned() const { return m_ownerCount > 0; }

    // Valued types only (NullTypeException otherwise). GetItem creates the
    // item when absent and the type creates on look-up.
    ItemPtr GetItem(const Value& value);
    ItemPtr operator[](const Value& value) { return GetItem(value); }
    ItemPtr HasItem(const Value& value) const;
    ItemPtr NewItem(const Value& value);
    // Null types only: a new standalone valueless item. This is how an
    // entity without a holder ("download_entry", "upload_entry", ...) is made.
    ItemPtr NewItem();
    // The one shared item of a null type, made on first use and made anew
    // after it was removed.
    ItemPtr GetGlobalNullItem();
    bool IsGlobalNullItem(const Item* item) const { return item && item == m_globalNull; }
    Item* PeekGlobalNullItem() const { return m_globalNull; }

    // For a bulk load: as NewItem, without the item event when nothing
    // observes the type (Data::IsCreationObserved). A value held already
    // gives its item.
    ItemPtr LoadItem(std::string_view value);
    ItemPtr LoadItem();

    ItemSet GetItems() const;
    size_t Count() const { return m_count; }
    // Room for this many items by value, before a large load.
    void Reserve(size_t count) { m_byValue.Reserve(count); }
    ItemPtr First() const;

    void AddItemAddedHandler(ItemEventHandler* handler);
    void AddItemRemovedHandler(ItemEventHandler* handler);
    void AddConnectedHandler(ConnectionEventHandler* handler);
    void AddDisconnectedHandler(ConnectionEventHandler* handler);

    // Every live type has a number of its own, by which items keep their
    // type in two bytes.
    quint16 RegistryIndex() const { return m_registryIndex; }
    static Type* FromIndex(quint16 index);

private:
    friend class Data;
    Type(Data* data, const std::string& name, Primacy primacy, bool isNull, bool autoCreate, int index);
    ~Type();
    Item* Create(std::string_view value);
    void Unlink(Item* item);
    void SweepHandlers();

    Data* m_data;
    std::string m_name;
    Primacy m_primacy;
    bool m_isNull;
    bool m_autoCreate;
    int m_index;
    int m_ownerCount = 0;
    // By the items' own values (an item never moves or changes its value),
    // so each value is stored once.
    ValueIndex m_byValue;
    quint16 m_registryIndex;
    Item* m_first = nullptr;
    Item* m_last = nullptr;
    size_t m_count = 0;
    Item* m_globalNull = nullptr;
    std::vector<Relation> m_relations;
    HandlerList<ItemPtr> m_added;
    HandlerList<ItemPtr> m_removed;
    HandlerList<ConnectionInfo&> m_connected;
    HandlerList<ConnectionInfo&> m_disconnected;
};
