#pragma once

#include <QElapsedTimer>

// One turn's share of a long piece of work on the event-loop thread, so
// that the window paints and answers between the slices. The work asks
// Spent() before each step and, when the slice is over, goes on in a later
// turn. A slice ends once its time is used or, when one is set, after a
// number of steps: a test sets a small one to cut the work into slices
// whatever the machine's speed. Every slice takes at least one step, and
// but for a set number at least FloorSteps before its time is looked at,
// so that small work is done in one go however busy the machine is.
class WorkSlice
{
public:
    static constexpr int FloorSteps = 256;

    // budgetMs 0 or less: no time limit; maxSteps 0 or less: no step limit.
    explicit WorkSlice(int budgetMs, int maxSteps = 0);

    // True once the slice is over; otherwise counts the step the caller is
    // about to take.
    bool Spent();

private:
    QElapsedTimer m_clock;
    int m_budgetMs;
    int m_maxSteps;
    int m_steps = 0;
    bool m_spent = false;
};
