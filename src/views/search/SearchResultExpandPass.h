#pragma once

#include <QObject>

#include "SearchResultPassPlace.h"
#include "SlicedJob.h"

class QTreeWidget;

// The toolbar's "Expand Folders" or "Expand Users" carried out on a results
// page a slice a turn, so that the switch never holds the window on a page
// of 50,000 rows. A slice opens or closes the rows of its kind (the folder
// rows under each user row, or the user rows) in their order, within the
// turn's budget that message handling draws on too (TurnBudget), and the
// next slice goes on from there (SearchResultPassPlace), be it among one
// big sharer's folders: a page taking places back between two slices moves
// the place with the rows, and after a sort the pass looks over the page
// again, passing over the user rows it did. Switching again replaces a pass
// not finished. The slices are a job of the one runner (SliceRunner).
// Rows arriving meanwhile come as the switch now says: the page reads it
// as it adds them.
//
// Used on the event-loop thread; a child of the page, which it dies with.
class SearchResultExpandPass : public QObject
{
    Q_OBJECT

public:
    // Rows a slice opens or closes before it looks at the turn's budget, so
    // that a small page is done at once.
    static constexpr int SliceFloor = 2000;

    // A pass over the tree's folder rows, or over its user rows.
    SearchResultExpandPass(QTreeWidget* tree, bool folders, QObject* parent);

    // Opens or closes every row of the pass's kind, in place of a pass not
    // finished; the first slice at once.
    void Start(bool expand);
    bool IsRunning() const { return m_job.IsRunning(); }
    // The most rows a slice opens or closes, 0 none; tests make a pass span
    // turns on a small page.
    void SetSliceRows(int rows) { m_job.SetMostSteps(rows); }
    // The slices: tests count the turns a pass spans and its steps.
    const SlicedJob& Job() const { return m_job; }

private:
    // Opens or closes rows while the slice lasts; true once the pass is
    // over the page.
    bool Slice(TurnSlice& slice);

    QTreeWidget* m_tree;
    bool m_folders;
    bool m_expand = true;
    int m_number = 0;
    SearchResultPassPlace m_place;
    SlicedJob m_job;
};
