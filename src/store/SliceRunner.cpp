#include "SliceRunner.h"

#include <algorithm>

#include "SlicedJob.h"

SliceRunner& SliceRunner::Get()
{
    // Never destroyed: jobs may leave it while statics are torn down.
    static SliceRunner* runner = new SliceRunner;
    return *runner;
}

SliceRunner::SliceRunner()
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &SliceRunner::RunTurn);
}

int SliceRunner::RunningJobs() const
{
    return int(std::count_if(m_jobs.begin(), m_jobs.end(), [](const SlicedJob* job) { return job != nullptr; }));
}

void SliceRunner::Join(SlicedJob* job)
{
    m_jobs.push_back(job);
    Wake();
}

void SliceRunner::Leave(SlicedJob* job)
{
    auto it = std::find(m_jobs.begin(), m_jobs.end(), job);
    if (it == m_jobs.end())
        return;
    if (m_inTurn) {
        *it = nullptr;
        return;
    }
    m_jobs.erase(it);
    if (!AnyRunnable())
        m_timer.stop();
}

bool SliceRunner::AnyRunnable() const
{
    return std::any_of(m_jobs.begin(), m_jobs.end(), [](const SlicedJob* job) { return job && job->MostSteps() != 0; });
}

void SliceRunner::Wake()
{
    if (!m_inTurn && !m_timer.isActive())
        m_timer.start();
}

void SliceRunner::RunTurn()
{
    ++m_turns;
    m_inTurn = true;
    // Jobs joining during the turn had their first slice as they joined.
    const size_t count = m_jobs.size();
    for (size_t i = 0; i < count; ++i)
        if (SlicedJob* job = m_jobs[i])
            job->RunSlice();
    m_inTurn = false;
    if (count > 1 && m_jobs[0])
        std::rotate(m_jobs.begin(), m_jobs.begin() + 1, m_jobs.begin() + count);
    m_jobs.erase(std::remove(m_jobs.begin(), m_jobs.end(), nullptr), m_jobs.end());
    if (AnyRunnable())
        m_timer.start();
}
