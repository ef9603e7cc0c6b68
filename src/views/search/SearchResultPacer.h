#pragma once

#include <QtGlobal>

// When the rows of a results page of many rows change while answers keep
// coming. Every change of the rows costs the view a layout of each row it
// shows (tens of milliseconds on a page of 100,000 open rows), and answers
// come a dozen a second, so such a page changes its rows spaced out: rows
// that arrive go in at once only when none went in for a while, else with
// those that follow them, at most once per ArrivalSpacingMs and sorted in
// as they go; rows given back leave a slice at a change of their own; and
// no change comes within ChangeSpacingMs of the end of the last, so that
// the window answers and lays the page out between two changes. Arrivals
// too many for one change (a big sharer's replies) go on after
// LeftoverSpacingMs, before anything else.
//
// Plain: the page says what waits and what it changed, and when (a steady
// clock, in milliseconds), and does what Due says. A clock gone back counts
// as time gone by, lest rows wait until it catches up.
class SearchResultPacer
{
public:
    static constexpr qint64 ArrivalSpacingMs = 1000;
    static constexpr qint64 ChangeSpacingMs = 300;
    static constexpr qint64 LeftoverSpacingMs = 100;

    // What a change does: the rows that arrived go in, and all that went
    // in since the last sort are sorted in; or rows given back leave, as
    // many as the turn's slice takes.
    struct Change
    {
        bool arrivals = false;
        bool takeOut = false;
        bool Any() const { return arrivals || takeOut; }
    };

    // Whether rows arriving now go in at once.
    bool AtOnce(qint64 now) const;
    // Rows wait to go in.
    void RowsWait() { m_rowsWait = true; }
    // Rows went in and wait to be sorted in.
    void SortOwed() { m_sortOwed = true; }
    void GivenBackWaits() { m_givenBack = true; }
    // The page changed its rows so at now; givenBackLeft, arrivalsLeft:
    // whether rows given back, or rows that arrived, still wait after it.
    void Made(Change change, qint64 now, bool givenBackLeft, bool arrivalsLeft = false);
    // What to change now; nothing while nothing waits or is due.
    Change Due(qint64 now) const;
    // When the next change falls due; -1 while nothing waits.
    qint64 NextAt() const;
    bool Waits() const { return ArrivalsWork() || m_givenBack; }
    // Whether an arrivals change sorts the rows in too: each sort costs
    // the size of the folders it sorts, so while rows are left over for
    // the next change (a big sharer's), once they are all in, and at least
    // once an arrival spacing all the same.
    bool SortDue(qint64 now, bool arrivalsLeft) const;
    void Sorted(qint64 now)
    {
        m_sortOwed = false;
        m_sorted = true;
        m_lastSort = now;
    }
    // Nothing waits any more: the rows went.
    void Clear();

private:
    // An arrivals change has work to do: rows to put in or to sort in.
    bool ArrivalsWork() const { return m_rowsWait || m_sortOwed; }
    bool ArrivalsDue(qint64 now) const;
    // Whether at least spacing went by since then.
    static bool Spaced(qint64 then, qint64 now, qint64 spacing);

    bool m_rowsWait = false;
    bool m_sortOwed = false;
    bool m_givenBack = false;
    // Rows were left over from the last arrivals change and wait still.
    bool m_leftOver = false;
    bool m_changed = false;
    bool m_arrived = false;
    qint64 m_lastChange = 0;
    qint64 m_lastArrivals = 0;
    bool m_sorted = false;
    qint64 m_lastSort = 0;
};
