#pragma once

#include <functional>
#include <vector>

#include "ItemPtr.h"
#include "common/RowMirror.h"

class TransferTree;

// Carries out one action (remove, retry) on every entry below a set of rows
// of a transfers tree, a slice at a time, so that a selection of a hundred
// thousand rows never holds the window still. Rows are kept by key and
// looked up when their turn comes: those that went meanwhile are passed
// over with their entries, and an entry made after the sweep began (a
// download queued into a selected folder) was not chosen and is left alone.
class SelectionSweep
{
public:
    // Each step acts on at most perStep entries; finished runs once, when
    // nothing is left to do or the sweep is given up.
    SelectionSweep(const TransferTree& tree, std::vector<RowMirror::Key> rows, int perStep,
                   std::function<void(ItemPtr)> act, std::function<void()> finished = {});

    // Acts on the next entries, in the tree's order; true when nothing is
    // left to do.
    bool Step();
    // Leaves the rest undone (the page is closing).
    void GiveUp();

private:
    void Walk(int entries);

    const TransferTree& m_tree;
    // Rows still to do, the next one last.
    std::vector<RowMirror::Key> m_pending;
    int m_perStep;
    std::function<void(ItemPtr)> m_act;
    std::function<void()> m_finished;
    // Items made after the sweep began have higher sequence numbers.
    quint64 m_began;
};
