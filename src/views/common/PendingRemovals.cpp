#include "PendingRemovals.h"

#include <algorithm>

#include "Data.h"
#include "TurnSlice.h"

PendingRemovals::PendingRemovals(RemoveStep step) : m_step(std::move(step)) {}

PendingRemovals::~PendingRemovals()
{
    TurnSlice whole = TurnSlice::Whole();
    RemoveSome(whole);
}

void PendingRemovals::Add(QList<Item*> items)
{
    // In the store's order, each then joins the set at its end rather than
    // moving every item after it.
    std::sort(items.begin(), items.end(),
              [](Item* a, Item* b) { return ItemPtr(a).Sequence() < ItemPtr(b).Sequence(); });
    for (Item* item : items)
        m_items.Add(ItemPtr(item));
}

bool PendingRemovals::RemoveSome(TurnSlice& slice)
{
    if (IsEmpty())
        return true;
    Data::Batch batch(&d);
    // The newest first: it leaves the set without moving the rest.
    while (!IsEmpty() && slice.Take())
        m_step(m_items.Last());
    return IsEmpty();
}
