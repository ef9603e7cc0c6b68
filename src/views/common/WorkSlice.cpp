#include "WorkSlice.h"

namespace {

// Reading the clock costs about as much as a short step: it is read every
// so many steps.
const int kStepsPerLook = 32;

} // namespace

WorkSlice::WorkSlice(int budgetMs, int maxSteps) : m_budgetMs(budgetMs), m_maxSteps(maxSteps)
{
    m_clock.start();
}

bool WorkSlice::Spent()
{
    if (m_spent)
        return true;
    if (m_steps > 0) {
        const bool counted = m_maxSteps > 0 && m_steps >= m_maxSteps;
        const bool timed =
            m_budgetMs > 0 && m_steps >= FloorSteps && m_steps % kStepsPerLook == 0 && m_clock.elapsed() >= m_budgetMs;
        if (counted || timed) {
            m_spent = true;
            return true;
        }
    }
    ++m_steps;
    return false;
}
