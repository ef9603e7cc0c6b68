#include "SelectionSweep.h"

#include <QTreeWidgetItem>
#include <algorithm>
#include <utility>

#include "Data.h"
#include "TransferTree.h"

SelectionSweep::SelectionSweep(const TransferTree& tree, std::vector<RowMirror::Key> rows, int perStep,
                               std::function<void(ItemPtr)> act, std::function<void()> finished)
    : m_tree(tree), m_pending(std::move(rows)), m_perStep(perStep), m_act(std::move(act)),
      m_finished(std::move(finished)), m_began(d.NextSequence())
{
    std::reverse(m_pending.begin(), m_pending.end());
}

bool SelectionSweep::Step()
{
    Walk(m_perStep);
    if (!m_pending.empty())
        return false;
    GiveUp();
    return true;
}

void SelectionSweep::Walk(int entries)
{
    // Removed items stay readable until the batch ends, so an entry that an
    // earlier action took along is seen as removed.
    Data::Batch batch(&d);
    // Rows that went, and user and folder rows opened, cost little each;
    // they are bounded all the same.
    int looks = entries * 16;
    while (!m_pending.empty() && entries > 0 && looks > 0) {
        const QTreeWidgetItem* row = m_tree.Rows().Row(m_pending.back());
        m_pending.pop_back();
        --looks;
        if (!row)
            continue;
        switch (m_tree.Kind(row)) {
        case TransferTree::RowKind::User:
        case TransferTree::RowKind::Folder:
            // Its rows come next, the first of them last on the stack.
            for (int i = row->childCount() - 1; i >= 0; --i)
                if (const RowMirror::Key key = m_tree.Rows().KeyOf(row->child(i)))
                    m_pending.push_back(key);
            looks -= row->childCount() / 16;
            break;
        case TransferTree::RowKind::File:
            if (const ItemPtr entry = m_tree.EntryOf(row)) {
                if (!entry.IsRemoved() && entry.Sequence() < m_began) {
                    m_act(entry);
                    --entries;
                }
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
