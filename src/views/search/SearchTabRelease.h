#pragma once

#include <QObject>
#include <QTimer>
#include <climits>
#include <deque>

#include "ItemSet.h"
#include "common/PendingRemovals.h"
#include "common/RowMirror.h"

// What closed result tabs leave behind, let go a slice a turn: their rows,
// taken out of their trees with the rows' node items still in the store,
// and the replies of their searches, whose requests are gone already so
// that nothing more joins them. At once, a tab of 50,000 rows and results
// would hold the window for half a second. A slice deletes rows, each
// after its node, then removes replies' results with the values only they
// held, within the turn's budget that message handling draws on too
// (TurnBudget); the store's sweep of disconnected items is not needed.
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
    // The most rows and results a slice lets go; tests make a small tab's
    // release span turns.
    void SetSliceSize(int size) { m_sliceSize = size; }

private:
    // A slice of at most that many, and the next queued while any is left.
    void Next(int most);
    // Lets go of up to most rows and results, within the turn's budget
    // unless whole.
    void Release(int most, bool whole);

    std::deque<RowMirror::Taken> m_rows;
    PendingRemovals m_replies;
    QTimer m_slices;
    int m_sliceSize = INT_MAX;
};
