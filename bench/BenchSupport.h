#pragma once

#include <QElapsedTimer>
#include <algorithm>

// Timing helpers the benchmarks share.

inline double Seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

// The smallest of rounds runs of run(), which returns its own figure.
template <class F>
double BestOf(int rounds, F run)
{
    double best = 1e30;
    for (int i = 0; i < rounds; ++i)
        best = std::min(best, run());
    return best;
}
