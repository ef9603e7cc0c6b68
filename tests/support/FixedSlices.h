#pragma once

// For a test whose point is that a pass spans turns as a slow machine's
// turns cut it, whatever QV_SLICE_STEPS sets for the run: slices of a set
// count of steps while it lives, then the run's own again.
class FixedSlices
{
public:
    explicit FixedSlices(int steps);
    ~FixedSlices();
    FixedSlices(const FixedSlices&) = delete;
    FixedSlices& operator=(const FixedSlices&) = delete;

private:
    int m_before;
};
