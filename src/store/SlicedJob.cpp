#include "SlicedJob.h"

#include "EventHandler.h"
#include "SliceRunner.h"
#include "TurnSlice.h"
#include "Type.h"

SlicedJob::SlicedJob(int floor, Work work) : m_floor(floor), m_work(std::move(work)) {}

SlicedJob::~SlicedJob()
{
    *m_alive = false;
    if (m_running)
        SliceRunner::Get().Leave(this);
}

void SlicedJob::Start()
{
    Join();
    // Restarted by its own work: the slice under way goes on from the
    // work's new state on the next turn.
    if (m_inSlice) {
        m_restarted = true;
        return;
    }
    RunSlice();
}

void SlicedJob::StartNextTurn()
{
    Join();
    if (m_inSlice)
        m_restarted = true;
}

void SlicedJob::Join()
{
    m_slices = 0;
    m_lastSteps = 0;
    if (m_running)
        return;
    m_running = true;
    SliceRunner::Get().Join(this);
}

void SlicedJob::Stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_restarted = false;
    StopWatching();
    SliceRunner::Get().Leave(this);
}

void SlicedJob::SetMostSteps(int steps)
{
    m_most = steps;
    if (m_running && steps > 0)
        SliceRunner::Get().Wake();
}

void SlicedJob::Over(ItemPtr item, std::function<void()> gone)
{
    if (!item)
        return;
    m_over.insert(item.Sequence());
    if (gone)
        m_gone = std::move(gone);
    Type* type = item.GetType();
    if (m_watchedTypes.contains(type))
        return;
    m_watchedTypes.insert(type);
    type->AddItemRemovedHandler(
        new FunctionHandler<ItemPtr>(this, [this](ItemPtr removed) { OnItemRemoved(removed); }));
}

void SlicedJob::StopWatching()
{
    m_over.clear();
    m_gone = nullptr;
    m_watchedTypes.clear();
    RemoveDataHandlers();
}

void SlicedJob::OnItemRemoved(ItemPtr item)
{
    if (!m_over.contains(item.Sequence()))
        return;
    // The gone function may start the job anew over something else.
    const std::function<void()> gone = std::move(m_gone);
    const bool wasRunning = m_running;
    Stop();
    if (wasRunning && gone)
        gone();
}

void SlicedJob::RunSlice()
{
    if (!m_running || m_inSlice || m_most == 0)
        return;
    TurnSlice slice(m_floor, m_most);
    m_inSlice = true;
    m_restarted = false;
    // The work may end its owner, and the job with it.
    const std::shared_ptr<bool> alive = m_alive;
    const bool done = m_work(slice);
    if (!*alive)
        return;
    m_inSlice = false;
    ++m_slices;
    m_lastSteps = slice.Steps();
    if (done && m_running && !m_restarted)
        Stop();
    m_restarted = false;
}
