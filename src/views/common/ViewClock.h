#pragma once

#include <QDateTime>
#include <QtGlobal>
#include <functional>

// The time the views stamp and compare: the system's clock, or one a test
// moves on by hand, so that "five quiet minutes" need no five minutes.
class ViewClock
{
public:
    static QDateTime Now();
    // Milliseconds since the epoch; an empty function restores the system's.
    static void Set(std::function<qint64()> msecsSinceEpoch);
};
