#pragma once

#include <QMap>
#include <QTimer>

// Tells which turn of the event loop something happened in (a zero timer
// fires once per turn) and how many things happened in the busiest one:
// what tests of bursts handled in slices look at.
class TurnCounter
{
public:
    TurnCounter();

    // Call once for each thing handled.
    void Count();
    int MostInOneTurn() const;
    int TurnsWithAny() const { return m_perTurn.size(); }

private:
    QTimer m_timer;
    int m_turn = 0;
    QMap<int, int> m_perTurn;
};
