#include "SearchResultFilterPass.h"

#include <QTreeWidget>

#include "SearchResultFilter.h"
#include "SearchResultListItem.h"
#include "TurnSlice.h"

void SearchResultFilterPass::Start(std::shared_ptr<const SearchResultFilter> filter)
{
    m_filter = std::move(filter);
    ++m_number;
    m_next = 0;
}

bool SearchResultFilterPass::Run(QTreeWidget* tree, bool flatRows, bool whole, int mostRows)
{
    if (!m_filter)
        return true;
    TurnSlice slice(whole ? INT_MAX : SliceFloor, mostRows);
    while (m_next < tree->topLevelItemCount() && slice.More()) {
        SearchResultListItem* row = SearchResultListItem::Of(tree->topLevelItem(m_next));
        if (row && row->FilterPass() == m_number) {
            slice.Step();
        } else {
            slice.Step(flatRows ? m_filter->ApplyToFlatRow(tree, m_next) : m_filter->ApplyToUserRow(tree, m_next));
            if (row)
                row->SetFilterPass(m_number);
        }
        ++m_next;
    }
    if (m_next < tree->topLevelItemCount())
        return false;
    m_filter.reset();
    return true;
}

void SearchResultFilterPass::Done(QTreeWidgetItem* row) const
{
    if (SearchResultListItem* done = m_filter ? SearchResultListItem::Of(row) : nullptr)
        done->SetFilterPass(m_number);
}

bool SearchResultFilterPass::IsDone(const QTreeWidgetItem* row) const
{
    const SearchResultListItem* done = SearchResultListItem::Of(row);
    return !m_filter || (done && done->FilterPass() == m_number);
}
