#pragma once

#include <QList>
#include <QSet>
#include <vector>

#include "DataHandler.h"

class Item;
class Type;
class WorkSlice;

// Items to be removed a few at a time, for more than one turn of the event
// loop removes (the node items of a share's 15,000 folder nodes). One
// removed meanwhile by anyone else (the store's sweep of disconnected
// items) is passed over; those still waiting when this goes are removed
// then.
class PendingRemovals : public DataHandler
{
public:
    PendingRemovals() = default;
    ~PendingRemovals() override;

    void Add(const QList<Item*>& items);
    // Removes on until none is left (true) or the slice is spent.
    bool RemoveSome(WorkSlice& slice);
    bool IsEmpty() const { return m_alive.isEmpty(); }

private:
    void Watch(Type* type);

    // In the order they came, and those not removed since.
    std::vector<Item*> m_items;
    QSet<Item*> m_alive;
    QSet<Type*> m_watched;
};
