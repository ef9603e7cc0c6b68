#pragma once

#include <QObject>
#include <deque>

#include "ItemSet.h"
#include "SlicedJob.h"
#include "common/PendingRemovals.h"
#include "common/RowMirror.h"

// What closed result tabs leave behind, let go a slice a turn: their rows,
// taken out of their trees with the rows' node items still in the store,
// and the replies of their searches, whose requests are gone already so
// that nothing more joins them. At once, a tab of 50,000 rows and results
// would hold the window for half a second. A slice deletes rows, each
// after its node, then removes replies' results with the values only they
// held, within the turn's budget that message handling draws on too
// (TurnBudget); the store's sweep of disconnected items is not needed. The
// slices are a job of the one runner (SliceRunner).
//
// Used on the event-loop thread.
class SearchTabRelease : public QObject
{
    Q_OBJECT

public:
    // Rows and results a slice lets go before it looks at the turn's
    // budget, and all that the slice in the turn of the close does: a
    // small tab goes at once.
    static constexpr int SliceFloor = 2000;

    explicit SearchTabRelease(QObject* parent = nullptr);
    // Lets go of the rest at once: the program is ending.
    ~SearchTabRelease() override;

    // Takes over a closed tab's rows and its search's replies and lets go of
    // a first slice at once.
    void Add(RowMirror::Taken rows, const ItemSet& replies);
    bool IsRunning() const { return !m_rows.empty() || !m_replies.IsEmpty(); }
    // The most rows and results a slice lets go, 0 none; tests make a small
    // tab's release span turns.
    void SetSliceSize(int size) { m_job.SetMostSteps(size); }
    // The slices: tests count the turns a release spans and its steps.
    const SlicedJob& Job() const { return m_job; }

private:
    // The job's slice: no more than the floor in the turn of a close.
    bool Release(TurnSlice& slice);
    // Lets go of rows and results while the slice lasts; true once none
    // is left.
    bool ReleaseSome(TurnSlice& slice);

    std::deque<RowMirror::Taken> m_rows;
    PendingRemovals m_replies;
    // The slice in the turn of a close stops at the floor, whatever is left
    // of the turn's budget: that turn took the rows out of the tree.
    bool m_closeTurn = false;
    SlicedJob m_job;
};
