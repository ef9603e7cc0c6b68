#pragma once

#include <QList>

class SlicedJob;

// What tests of work spread over turns look at: the turns of the one slice
// runner, and the steps each slice of a job took, turn by turn, so that a
// pass done whole in one turn, or one taking more than its steps a turn,
// fails the test whatever the result it ends with.
class SliceTrace
{
public:
    // Lets the event loop turn until the runner has run one more turn, or a
    // bound of loop turns; whether it did.
    static bool NextTurn();
    // The steps of the job's slices from the one just run (as it started)
    // until the job ends, one runner turn at a time; -1 for a turn in which
    // the job ran more than one slice or none, and a last -1 when it has
    // not ended within a bound of turns.
    static QList<int> StepsUntilDone(const SlicedJob& job);
};
