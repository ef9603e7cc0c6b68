#pragma once

#include <functional>
#include <vector>

#include "ItemPtr.h"
#include "common/RowMirror.h"

class TransferTree;
class TurnSlice;

// Carries out one action (remove, retry) on every entry below a set of rows
// of a transfers tree, a slice at a time, so that a selection of a hundred
// thousand rows never holds the window still. Rows are kept by key and
// looked up when their turn comes: those that went meanwhile are passed
// over with their entries, and an entry made after the sweep began (a
// download queued into a selected folder) was not chosen and is left alone.
class SelectionSweep
{
public:
    // A retry goes in the tree's order, which is the order of the queue.
    // A removal goes from the back: a row taken from the end of its folder
    // is found at once, one from the front is looked for among them all.
    enum class Order
    {
        Tree,
        FromTheBack
    };

    // finished runs once, when nothing is left to do or the sweep is given
    // up.
    SelectionSweep(const TransferTree& tree, std::vector<RowMirror::Key> rows, Order order,
                   std::function<void(ItemPtr)> act, std::function<void()> finished = {});

    // Acts on the next entries within the slice, a step each, and a step
    // for each row looked at; true when nothing is left to do.
    bool Step(TurnSlice& slice);
    // Leaves the rest undone (the page is closing).
    void GiveUp();

private:
    void Walk(TurnSlice& slice);

    const TransferTree& m_tree;
    // Rows still to do, the next one last.
    std::vector<RowMirror::Key> m_pending;
    Order m_order;
    std::function<void(ItemPtr)> m_act;
    std::function<void()> m_finished;
    // Items made after the sweep began have higher sequence numbers.
    quint64 m_began;
};
