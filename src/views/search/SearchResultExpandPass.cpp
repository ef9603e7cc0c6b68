#include "SearchResultExpandPass.h"

#include <QTreeWidget>

#include "SearchResultListItem.h"
#include "TurnSlice.h"
#include "common/TreeRowStates.h"

SearchResultExpandPass::SearchResultExpandPass(QTreeWidget* tree, bool folders, QObject* parent)
    : QObject(parent), m_tree(tree), m_folders(folders),
      m_job(SliceFloor, [this](TurnSlice& slice) { return Slice(slice); })
{
    m_place.Follow(tree->model(), this);
}

void SearchResultExpandPass::Start(bool expand)
{
    m_expand = expand;
    ++m_number;
    m_place.Restart();
    m_job.Start();
}

bool SearchResultExpandPass::Slice(TurnSlice& slice)
{
    // Thousands of rows opened or closed cost little while the view only
    // notes them.
    TreeRowStates::DeferLayout(m_tree);
    const SearchResultListItem::Pass pass =
        m_folders ? SearchResultListItem::Pass::ExpandFolders : SearchResultListItem::Pass::ExpandUsers;
    while (m_place.Next() < m_tree->topLevelItemCount() && slice.More()) {
        QTreeWidgetItem* user = m_tree->topLevelItem(m_place.Next());
        SearchResultListItem* row = SearchResultListItem::Of(user);
        // Looked at again after a sort: done already, for nothing.
        if (row && row->PassDone(pass) == m_number) {
            m_place.Advance();
            continue;
        }
        // A row already as wanted costs a look, never a step: a slice after
        // a sort goes again over the folders of the user row it was at.
        if (m_folders && m_place.Below() < user->childCount()) {
            QTreeWidgetItem* folder = user->child(m_place.Below());
            m_place.AdvanceBelow();
            if (folder->isExpanded() != m_expand) {
                folder->setExpanded(m_expand);
                slice.Step();
            }
            continue;
        }
        if (!m_folders && user->isExpanded() != m_expand) {
            user->setExpanded(m_expand);
            slice.Step();
        }
        if (row)
            row->SetPassDone(pass, m_number);
        m_place.Advance();
    }
    return m_place.Next() >= m_tree->topLevelItemCount();
}
