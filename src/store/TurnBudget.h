#pragma once

#include <QElapsedTimer>

// How much message handling one turn of the event loop may do, shared by
// every connection that reads messages. A burst (a thousand chat lines in
// one read, hundreds of peers' search replies at once) is handled in slices
// so the window still paints and answers between them. A reader asks
// Exhausted() before each message, calls Spend() after it, and when the
// budget is out queues its own continuation for a later turn.
//
// Used on the event-loop thread only.
class TurnBudget
{
public:
    // Whichever is reached first ends the turn's handling.
    static constexpr int MaxMessages = 256;
    static constexpr int MaxMilliseconds = 15;

    static bool Exhausted();
    static void Spend();

private:
    static void BeginTurn();

    static bool s_inTurn;
    static int s_messages;
    static QElapsedTimer s_clock;
};

// One slice of a long pass of small steps (rows, items) that shares the
// turn's budget: at least floor steps, so that a short pass ends at once,
// then on until the budget is spent (looked at every StepsPerLook steps),
// and never more than most. Ask More() before each step, call Step() after.
class TurnSlice
{
public:
    static constexpr int StepsPerLook = 64;

    TurnSlice(int floor, int most) : m_floor(floor), m_most(most) {}

    // Once false, false for the rest of the slice.
    bool More();
    void Step(int steps = 1) { m_steps += steps; }

private:
    int m_floor;
    int m_most;
    int m_steps = 0;
    int m_looked = 0;
    bool m_over = false;
};
