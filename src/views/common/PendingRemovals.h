#pragma once

#include <QList>
#include <functional>

#include "KeptItems.h"

class Item;
class TurnSlice;

// Items let go a few at a time, for removing them in one turn of the event
// loop would hold the window (the node items of a share's 15,000 folder
// nodes, the replies of a closed search with their 50,000 results). One
// removed meanwhile by anyone else (the store's sweep of disconnected
// items) is passed over; those still waiting when this goes are removed
// then.
class PendingRemovals
{
public:
    // One step of letting an item go: removes it, or a part of it (a
    // reply's result) and is called on it again while it is left.
    typedef std::function<void(ItemPtr)> RemoveStep;

    explicit PendingRemovals(RemoveStep step = [](ItemPtr item) { item.Remove(); });
    ~PendingRemovals();

    void Add(const ItemSet& items) { m_items.Add(items); }
    void Add(QList<Item*> items);
    // Removes on until none is left (true) or the slice is spent.
    bool RemoveSome(TurnSlice& slice);
    bool IsEmpty() const { return m_items.Size() == 0; }

private:
    RemoveStep m_step;
    KeptItems m_items;
};
