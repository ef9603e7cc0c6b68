#include "SearchResultFilterPass.h"

#include <QTreeWidget>

#include "SearchResultFilter.h"
#include "SearchResultListItem.h"
#include "TurnSlice.h"

namespace {
const SearchResultListItem::Pass kFilterPass = SearchResultListItem::Pass::Filter;
}

void SearchResultFilterPass::Start(std::shared_ptr<const SearchResultFilter> filter)
{
    m_filter = std::move(filter);
    ++m_number;
    m_place.Restart();
}

bool SearchResultFilterPass::Run(QTreeWidget* tree, bool flatRows, TurnSlice& slice)
{
    if (!m_filter)
        return true;
    while (m_place.Next() < tree->topLevelItemCount() && slice.More()) {
        const int place = m_place.Next();
        m_place.Advance();
        SearchResultListItem* row = SearchResultListItem::Of(tree->topLevelItem(place));
        // A row done is looked at for nothing, so that going over the page
        // again after a sort never takes the slice that work would.
        if (row && row->PassDone(kFilterPass) == m_number)
            continue;
        slice.Step(flatRows ? m_filter->ApplyToFlatRow(tree, place) : m_filter->ApplyToUserRow(tree, place));
        if (row)
            row->SetPassDone(kFilterPass, m_number);
    }
    if (m_place.Next() < tree->topLevelItemCount())
        return false;
    m_filter.reset();
    return true;
}

void SearchResultFilterPass::Done(QTreeWidgetItem* row) const
{
    if (SearchResultListItem* done = m_filter ? SearchResultListItem::Of(row) : nullptr)
        done->SetPassDone(kFilterPass, m_number);
}

bool SearchResultFilterPass::IsDone(const QTreeWidgetItem* row) const
{
    const SearchResultListItem* done = SearchResultListItem::Of(row);
    return !m_filter || (done && done->PassDone(kFilterPass) == m_number);
}
