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
    // The number of the turn the loop is in, another at each turn: work
    // that must not share a turn with other work notes the number it ran
    // on.
    static quint64 Turn();

private:
    static void BeginTurn();

    static bool s_inTurn;
    static quint64 s_turn;
    static int s_messages;
    static QElapsedTimer s_clock;
};
