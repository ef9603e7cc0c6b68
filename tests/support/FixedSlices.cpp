// Linked into every test program: work over turns is cut into slices by a
// count of steps, not by the turn's time budget, so that a test sees the
// same slices in a sanitizer build, an optimised one and on a loaded
// machine. Otherwise a fast build finishes in its first slice a pass that
// a slow one spreads over turns, and a test of a change made during the
// pass asserts what the build's speed decides. A test of the budget itself
// asks for it with TurnSlice::SetFixedSteps(0).
//
// QV_SLICE_STEPS sets another count for a run of the suite (1 000 000 000
// for slices as large as a very fast machine's, 0 for the budget): a test
// whose result changes with it depends on how much a slice holds.
#include "FixedSlices.h"

#include <QtGlobal>

#include "TurnSlice.h"

namespace {

const int kStepsPerSlice = 256;

[[maybe_unused]] const bool kFixed = [] {
    bool ok = false;
    const int steps = qEnvironmentVariableIntValue("QV_SLICE_STEPS", &ok);
    TurnSlice::SetFixedSteps(ok ? steps : kStepsPerSlice);
    return true;
}();

} // namespace

FixedSlices::FixedSlices(int steps) : m_before(TurnSlice::FixedSteps())
{
    TurnSlice::SetFixedSteps(steps);
}

FixedSlices::~FixedSlices()
{
    TurnSlice::SetFixedSteps(m_before);
}
