#include "TurnCounter.h"

#include <algorithm>

TurnCounter::TurnCounter()
{
    m_timer.setInterval(0);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { ++m_turn; });
    m_timer.start();
}

void TurnCounter::Count()
{
    ++m_perTurn[m_turn];
}

int TurnCounter::MostInOneTurn() const
{
    int most = 0;
    for (int count : m_perTurn)
        most = std::max(most, count);
    return most;
}
