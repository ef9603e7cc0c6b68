#pragma once

#include <QSet>
#include <climits>
#include <functional>
#include <memory>

#include "DataHandler.h"
#include "ItemPtr.h"

class TurnSlice;
class Type;

// A pass of many steps done a slice per turn of the event loop (rows made,
// filtered, sorted or let go, requests renewed, items encoded), so that the
// window paints and answers between slices. Every such pass joins the one
// SliceRunner while it runs, which gives each a slice of the turn's budget
// (TurnSlice) and counts the turns, so pacing, stopping and counting are
// got right in one place.
//
// The owner of the pass holds its job as a member: the job leaves the runner
// when it stops, ends or is destroyed, so no slice ever runs for an owner
// that is gone. A pass over store items says what it walks (Over): when one
// of those items leaves the store, the job stops before any later slice and
// calls its gone function, which lets go of what the pass held.
//
// Used on the event-loop thread.
class SlicedJob : public DataHandler
{
public:
    // Does some of the work within the slice; true once it is all done.
    using Work = std::function<bool(TurnSlice& slice)>;

    // floor: the steps a slice takes before it looks at the turn's budget,
    // so that small work ends in one go.
    SlicedJob(int floor, Work work);
    ~SlicedJob() override;

    // Runs a first slice now, then one a turn until the work is done. A job
    // running already goes on, the work's own state telling where.
    void Start();
    // The same from the next turn on, for work that must not share the
    // caller's turn.
    void StartNextTurn();
    // Runs no further slice; what the work holds stays the owner's.
    void Stop();
    bool IsRunning() const { return m_running; }

    // Stops the job when the item leaves the store, whatever the work is
    // doing, then calls gone. Items given before stay watched until
    // StopWatching or the job's end.
    void Over(ItemPtr item, std::function<void()> gone = {});
    void StopWatching();

    // At most this many steps a slice, as on the slowest machine: tests cut
    // small work into slices with it, 0 holds the work.
    void SetMostSteps(int steps);
    int MostSteps() const { return m_most; }
    // Slices run since the last Start, and the steps they took: tests see
    // that work spans turns and how much each turn did.
    int Slices() const { return m_slices; }
    int LastSliceSteps() const { return m_lastSteps; }

private:
    friend class SliceRunner;

    void Join();
    // One slice within the budget; leaves the runner once done.
    void RunSlice();
    void OnItemRemoved(ItemPtr item);

    int m_floor;
    int m_most = INT_MAX;
    Work m_work;
    bool m_running = false;
    bool m_inSlice = false;
    bool m_restarted = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    int m_slices = 0;
    int m_lastSteps = 0;
    // The items watched, by their sequence, which no later item takes.
    QSet<quint64> m_over;
    QSet<Type*> m_watchedTypes;
    std::function<void()> m_gone;
};
