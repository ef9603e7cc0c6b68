#include "SearchResultPacer.h"

#include <algorithm>

bool SearchResultPacer::Spaced(qint64 then, qint64 now, qint64 spacing)
{
    return now < then || now - then >= spacing;
}

bool SearchResultPacer::AtOnce(qint64 now) const
{
    return !ArrivalsWork() && (!m_arrived || Spaced(m_lastArrivals, now, ArrivalSpacingMs)) &&
           (!m_changed || Spaced(m_lastChange, now, ChangeSpacingMs));
}

void SearchResultPacer::Made(Change change, qint64 now, bool givenBackLeft, bool arrivalsLeft)
{
    if (!change.Any())
        return;
    m_changed = true;
    m_lastChange = now;
    if (change.arrivals) {
        m_rowsWait = arrivalsLeft;
        m_leftOver = arrivalsLeft;
        m_arrived = true;
        m_lastArrivals = now;
    }
    m_givenBack = givenBackLeft;
}

bool SearchResultPacer::ArrivalsDue(qint64 now) const
{
    return ArrivalsWork() && (!m_arrived || Spaced(m_lastArrivals, now, ArrivalSpacingMs));
}

SearchResultPacer::Change SearchResultPacer::Due(qint64 now) const
{
    Change change;
    if (m_leftOver) {
        change.arrivals = !m_changed || Spaced(m_lastChange, now, LeftoverSpacingMs);
        return change;
    }
    if (m_changed && !Spaced(m_lastChange, now, ChangeSpacingMs))
        return change;
    // Never both: a take-out alone may cost most of what the window can
    // spend on one turn. Arrivals first, lest take-outs every spacing keep
    // new rows out.
    change.arrivals = ArrivalsDue(now);
    change.takeOut = !change.arrivals && m_givenBack;
    return change;
}

bool SearchResultPacer::SortDue(qint64 now, bool arrivalsLeft) const
{
    return !arrivalsLeft || !m_sorted || Spaced(m_lastSort, now, ArrivalSpacingMs);
}

qint64 SearchResultPacer::NextAt() const
{
    if (!Waits())
        return -1;
    if (m_leftOver)
        return m_changed ? m_lastChange + LeftoverSpacingMs : 0;
    const qint64 anyChange = m_changed ? m_lastChange + ChangeSpacingMs : 0;
    qint64 next = m_givenBack ? anyChange : -1;
    if (ArrivalsWork()) {
        const qint64 arrivals = std::max(anyChange, m_arrived ? m_lastArrivals + ArrivalSpacingMs : 0);
        next = next < 0 ? arrivals : std::min(next, arrivals);
    }
    return next;
}

void SearchResultPacer::Clear()
{
    m_rowsWait = false;
    m_sortOwed = false;
    m_leftOver = false;
    m_givenBack = false;
}
