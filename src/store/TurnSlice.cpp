#include "TurnSlice.h"

#include "TurnBudget.h"

bool TurnSlice::More()
{
    if (m_over)
        return false;
    if (m_steps >= m_most) {
        m_over = true;
    } else if (m_steps >= m_floor && m_steps - m_looked >= StepsPerLook) {
        m_looked = m_steps;
        m_over = TurnBudget::Exhausted();
    }
    return !m_over;
}

bool TurnSlice::Take()
{
    if (!More())
        return false;
    Step();
    return true;
}
