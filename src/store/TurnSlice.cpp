#include "TurnSlice.h"

#include "TurnBudget.h"

int TurnSlice::s_fixedSteps = 0;

bool TurnSlice::More()
{
    if (m_over)
        return false;
    if (m_steps >= m_most) {
        m_over = true;
    } else if (m_steps >= m_floor && m_steps - m_looked >= StepsPerLook) {
        m_looked = m_steps;
        m_over = s_fixedSteps > 0 ? m_steps >= s_fixedSteps : TurnBudget::Exhausted();
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
