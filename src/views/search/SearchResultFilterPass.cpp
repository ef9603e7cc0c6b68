#include "SearchResultFilterPass.h"

#include <QTreeWidget>

#include "SearchResultFilter.h"
#include "SearchResultListItem.h"
#include "TurnBudget.h"

namespace {

// Rows between two looks at the budget.
const int kRowsPerLook = 64;

} // namespace

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
    int rows = 0;
    int looked = 0;
    while (m_next < tree->topLevelItemCount()) {
        SearchResultListItem* row = SearchResultListItem::Of(tree->topLevelItem(m_next));
        if (row && row->FilterPass() == m_number) {
            ++rows;
        } else {
            rows += flatRows ? m_filter->ApplyToFlatRow(tree, m_next) : m_filter->ApplyToUserRow(tree, m_next);
            if (row)
                row->SetFilterPass(m_number);
        }
        ++m_next;
        if (rows >= mostRows)
            break;
        if (!whole && rows >= SliceFloor && rows - looked >= kRowsPerLook) {
            looked = rows;
            if (TurnBudget::Exhausted())
                break;
        }
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
