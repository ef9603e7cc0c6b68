#pragma once

#include <QObject>
#include <QTimer>
#include <vector>

class SlicedJob;

// Runs the slices of every SlicedJob, each turn of the event loop one slice
// of each running job, on one zero-timeout timer. The job that went first
// goes last on the next turn, so that a long pass never keeps another from
// its floor of steps once message handling has spent the turn's budget.
//
// Used on the event-loop thread.
class SliceRunner : public QObject
{
    Q_OBJECT

public:
    static SliceRunner& Get();

    // Turns on which slices ran, since the program started: tests count
    // the turns that a piece of work spans.
    quint64 Turns() const { return m_turns; }
    int RunningJobs() const;

private:
    friend class SlicedJob;

    SliceRunner();
    void Join(SlicedJob* job);
    void Leave(SlicedJob* job);
    // A held job may run again.
    void Wake();
    void RunTurn();
    // Whether a job that is not held runs.
    bool AnyRunnable() const;

    // In the order of the next turn; a job that leaves during a turn leaves
    // a null, swept at the turn's end.
    std::vector<SlicedJob*> m_jobs;
    bool m_inTurn = false;
    quint64 m_turns = 0;
    QTimer m_timer;
};
