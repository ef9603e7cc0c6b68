#pragma once

#include <memory>

#include "SearchResultPassPlace.h"

class QAbstractItemModel;
class QObject;
class QTreeWidget;
class QTreeWidgetItem;
class SearchResultFilter;
class TurnSlice;

// A filter applied to a whole results page a slice at a time, so that a
// keystroke on a page of 50,000 rows never holds the window for long. A
// slice filters top-level rows in their order, each with everything below
// it (a flat row, or a user row with its folders and files), within the
// turn's budget that message handling draws on too (TurnBudget), and the
// next slice goes on from there (SearchResultPassPlace): rows done carry
// the pass's number, so that after a sort it looks over the page again from
// its first row and passes over those done. A new pass replaces one not
// finished.
//
// Used on the event-loop thread; the page runs the slices.
class SearchResultFilterPass
{
public:
    // The rows a slice filters before it looks at the turn's budget, so
    // that a page of fewer is filtered in one go.
    static constexpr int SliceFloor = 2000;

    // Starts a pass of the filter over the page, in place of one running.
    void Start(std::shared_ptr<const SearchResultFilter> filter);
    // Filters on from where the last slice stopped while the slice lasts.
    // True once every row is done, which ends the pass; true at once when
    // none runs.
    bool Run(QTreeWidget* tree, bool flatRows, TurnSlice& slice);
    // Keeps the pass's place as the tree's rows go, come and move, for as
    // long as context lives.
    void Follow(QAbstractItemModel* model, QObject* context) { m_place.Follow(model, context); }
    // A top-level row filtered by the running pass's filter outside the
    // pass, on arrival.
    void Done(QTreeWidgetItem* row) const;
    // Whether the row is filtered as the page's text now says: no pass
    // runs, or this one has done it.
    bool IsDone(const QTreeWidgetItem* row) const;

    bool IsRunning() const { return bool(m_filter); }
    // The running pass's filter; null when none runs.
    std::shared_ptr<const SearchResultFilter> Filter() const { return m_filter; }

private:
    std::shared_ptr<const SearchResultFilter> m_filter;
    int m_number = 0;
    SearchResultPassPlace m_place;
};
