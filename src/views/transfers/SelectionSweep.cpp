#include "SelectionSweep.h"

#include <QTreeWidgetItem>
#include <algorithm>
#include <utility>

#include "Data.h"
#include "TransferTree.h"
#include "TurnSlice.h"

SelectionSweep::SelectionSweep(const TransferTree& tree, std::vector<RowMirror::Key> rows, Order order,
                               std::function<void(ItemPtr)> act, std::function<void()> finished)
    : m_tree(tree), m_pending(std::move(rows)), m_order(order), m_act(std::move(act)), m_finished(std::move(finished)),
      m_began(d.NextSequence())
{
    if (m_order == Order::Tree)
        std::reverse(m_pending.begin(), m_pending.end());
}

bool SelectionSweep::Step(TurnSlice& slice)
{
    Walk(slice);
    if (!m_pending.empty())
        return false;
    GiveUp();
    return true;
}

void SelectionSweep::Walk(TurnSlice& slice)
{
    // Removed items stay readable until the batch ends, so an entry that an
    // earlier action took along is seen as removed.
    Data::Batch batch(&d);
    while (!m_pending.empty() && slice.Take()) {
        const QTreeWidgetItem* row = m_tree.Rows().Row(m_pending.back());
        m_pending.pop_back();
        if (!row)
            continue;
        switch (m_tree.Kind(row)) {
        case TransferTree::RowKind::User:
        case TransferTree::RowKind::Folder:
        {
            // Its rows come next, the one to go first last on the stack.
            const int count = row->childCount();
            for (int n = 0; n < count; ++n) {
                const int i = m_order == Order::Tree ? count - 1 - n : n;
                if (const RowMirror::Key key = m_tree.Rows().KeyOf(row->child(i)))
                    m_pending.push_back(key);
            }
            // Opening a row of thousands costs little a row, but not nothing.
            slice.Step(count / 16);
            break;
        }
        case TransferTree::RowKind::File:
            if (const ItemPtr entry = m_tree.EntryOf(row)) {
                if (!entry.IsRemoved() && entry.Sequence() < m_began)
                    m_act(entry);
            }
            break;
        case TransferTree::RowKind::None:
            break;
        }
    }
}

void SelectionSweep::GiveUp()
{
    m_pending.clear();
    if (const std::function<void()> finished = std::exchange(m_finished, {}))
        finished();
}
