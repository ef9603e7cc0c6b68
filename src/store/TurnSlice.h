#pragma once

#include <climits>

// One turn's slice of a long pass of steps on the event-loop thread (rows,
// folders, files, items let go), so that the window paints and answers
// between the slices. It draws on the turn's budget that message handling
// draws on too (TurnBudget): a turn that handled a burst already has less
// left for it. A slice takes at least floor steps, so that small work ends
// in one go however busy the turn, then goes on until the budget is spent
// (looked at every StepsPerLook steps), and never more than most: a test
// sets a small most to cut work into slices whatever the machine's speed,
// 0 to hold it. A step may weigh more than one: a row with thousands of
// rows below it.
//
// Where slices must be the same in every build and on every machine (the
// tests: a fast build would do in one slice what a slow one spreads over
// turns), SetFixedSteps ends each slice after a count of steps instead of
// the budget.
class TurnSlice
{
public:
    static constexpr int StepsPerLook = 64;

    explicit TurnSlice(int floor, int most = INT_MAX) : m_floor(floor), m_most(most) {}
    // Heedless of the budget: until the work is done or most steps.
    static TurnSlice Whole(int most = INT_MAX) { return TurnSlice(INT_MAX, most); }

    // Whether the slice has room for another step; once false, false for
    // the rest of the slice.
    bool More();
    // Counts a step taken, of that weight.
    void Step(int weight = 1) { m_steps += weight; }
    // More(), counting the step the caller takes when true.
    bool Take();
    // The steps taken, by their weight.
    int Steps() const { return m_steps; }

    // From now on a slice past its floor ends once it has taken this many
    // steps, however much of the turn's budget is left or spent; 0 goes
    // back to the budget.
    static void SetFixedSteps(int steps) { s_fixedSteps = steps; }
    static int FixedSteps() { return s_fixedSteps; }

private:
    int m_floor;
    int m_most;
    int m_steps = 0;
    int m_looked = 0;
    bool m_over = false;
    static int s_fixedSteps;
};
