#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <initializer_list>
#include <string>

class Item;
class Type;
class ItemSet;
class Value;

// A plain, nullable, non-owning handle of an item of the store. Every
// accessor is safe on a null handle. Handles of a removed item must not be
// used once the operation that removed it has returned.
class ItemPtr
{
public:
    ItemPtr(Item* item = nullptr) : m_item(item) {}

    bool IsNull() const { return m_item == nullptr; }
    explicit operator bool() const { return m_item != nullptr; }
    bool operator!() const { return m_item == nullptr; }
    bool operator==(const ItemPtr& other) const { return m_item == other.m_item; }
    bool operator!=(const ItemPtr& other) const { return m_item != other.m_item; }
    // The store's order: creation order of the items.
    bool operator<(const ItemPtr& other) const;

    Item* GetItemPointer() const { return m_item; }
    Type* GetType() const;
    quint64 Sequence() const;
    bool IsRemoved() const;

    std::string AsStdString() const;
    QString AsString() const;
    int AsInt() const;
    unsigned AsUInt() const;
    qint64 AsInt64() const;
    quint64 AsUInt64() const;
    // The object whose address the value holds (see Value(T*)).
    template <class T>
    T* AsObject() const
    {
        return reinterpret_cast<T*>(static_cast<quintptr>(AsUInt64()));
    }

    // The first connected item of a type, or null; never creates.
    ItemPtr operator[](const char* type) const;
    ItemPtr operator[](Type* type) const;
    ItemPtr HasItem(const char* type) const { return (*this)[type]; }
    ItemPtr GetItem(const char* type) const { return (*this)[type]; }
    ItemSet GetItems(const char* type) const;
    ItemSet GetItems(Type* type) const;
    void GetItems(const char* type, ItemSet& out) const;
    int CountItems(const char* type) const;

    bool IsConnected(const char* type) const;
    bool IsConnected(ItemPtr other) const;
    bool IsDisconnectedFromAll() const;

    // Connects along the declared relation and returns other.
    ItemPtr Connect(ItemPtr other);
    ItemPtr operator+=(ItemPtr other) { return Connect(other); }
    void operator+=(const ItemSet& others);
    void Disconnect(ItemPtr other);
    void operator-=(ItemPtr other) { Disconnect(other); }
    void Disconnect(const char* type);

    // For a valueless related type: a new connected item, the one held, or
    // the type's shared item (see the store's documentation).
    ItemPtr NewItem(const char* type);

    void Remove();
    // Removes the item, then those of its items of these types that nothing
    // else holds any more: the values only it had go at once, without the
    // sweep of disconnected items, which walks the whole store.
    void RemoveWithLoneValues(std::initializer_list<const char*> valueTypes) const;

private:
    Item* m_item;
};

Q_DECLARE_METATYPE(ItemPtr)

inline uint qHash(const ItemPtr& item, uint seed = 0)
{
    return qHash(reinterpret_cast<quintptr>(item.GetItemPointer()), seed);
}

namespace std {
template <>
struct hash<ItemPtr>
{
    size_t operator()(const ItemPtr& item) const { return std::hash<Item*>()(item.GetItemPointer()); }
};
} // namespace std
