#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "TurnSlice.h"

// A stable sort done a step at a time, for a list too long to sort in one
// turn of the event loop (a peer's folder of 100,000 files): what each item
// sorts by may be worked out first, a few items a step; then short runs are
// sorted whole and merged pairwise a few items a step. What it ends with is
// what std::stable_sort makes of the same list with the same order, so that
// rows it orders sit where the toolkit's own sort would put them.
template <class T>
class SteppedSort
{
public:
    typedef std::function<bool(const T&, const T&)> Less;
    typedef std::function<void(T&)> Prepare;

    SteppedSort() = default;
    SteppedSort(std::vector<T> items, Less less, Prepare prepare = nullptr)
        : m_items(std::move(items)), m_less(std::move(less)), m_prepare(std::move(prepare))
    {
        if (!m_prepare)
            m_prepared = m_items.size();
    }

    bool Done() const { return m_done; }
    // Sorts on until done (true) or the slice is spent.
    bool Run(TurnSlice& slice)
    {
        while (!m_done) {
            if (!slice.Take())
                return false;
            Step();
        }
        return true;
    }
    // The items, in order once done.
    std::vector<T>& Items() { return m_items; }

private:
    // Items prepared or a run sorted whole, and items merged, per step.
    static constexpr size_t kRun = 16;
    static constexpr size_t kMerged = 32;

    void Step()
    {
        const size_t n = m_items.size();
        if (m_prepared < n) {
            const size_t end = std::min(n, m_prepared + kRun);
            for (; m_prepared < end; ++m_prepared)
                m_prepare(m_items[m_prepared]);
            return;
        }
        if (m_width == 0) {
            const size_t end = std::min(n, m_next + kRun);
            std::stable_sort(m_items.begin() + m_next, m_items.begin() + end, m_less);
            m_next = end;
            if (m_next < n)
                return;
            m_width = kRun;
            if (m_width >= n) {
                m_done = true;
                return;
            }
            m_merged.resize(n);
            StartPair(0);
            return;
        }
        // The left run's item goes first unless the right one is less:
        // equal items keep their order.
        for (size_t moved = 0; moved < kMerged && m_out < m_end; ++moved) {
            if (m_right < m_end && (m_left >= m_middle || m_less(m_items[m_right], m_items[m_left])))
                m_merged[m_out++] = std::move(m_items[m_right++]);
            else
                m_merged[m_out++] = std::move(m_items[m_left++]);
        }
        if (m_out < m_end)
            return;
        if (m_end < n) {
            StartPair(m_end);
            return;
        }
        m_items.swap(m_merged);
        m_width *= 2;
        if (m_width < n) {
            StartPair(0);
            return;
        }
        std::vector<T>().swap(m_merged);
        m_done = true;
    }

    void StartPair(size_t start)
    {
        const size_t n = m_items.size();
        m_left = m_out = start;
        m_middle = m_right = std::min(n, start + m_width);
        m_end = std::min(n, start + 2 * m_width);
    }

    std::vector<T> m_items;
    std::vector<T> m_merged;
    Less m_less;
    Prepare m_prepare;
    size_t m_prepared = 0;
    bool m_done = false;
    // 0 while runs are sorted, from m_next on; then the length of the runs
    // being merged, the pair at hand reaching from m_left to m_end.
    size_t m_width = 0;
    size_t m_next = 0;
    size_t m_left = 0;
    size_t m_middle = 0;
    size_t m_right = 0;
    size_t m_end = 0;
    size_t m_out = 0;
};
