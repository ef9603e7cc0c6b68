#include "StallProbe.h"

#include <cstdio>

StallProbe::StallProbe(int thresholdMs, QObject* parent) : QObject(parent), m_thresholdMs(thresholdMs)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(BeatMs);
    connect(&m_timer, &QTimer::timeout, this, &StallProbe::Beat);
}

void StallProbe::Start()
{
    m_sinceStart.start();
    m_lastBeatNs = -1;
    m_firstBeatMs = -1;
    m_beats = 0;
    m_timer.start();
}

void StallProbe::Stop()
{
    m_timer.stop();
}

void StallProbe::Reset()
{
    m_longestMs = 0;
    m_stalls = 0;
    if (m_sinceStart.isValid())
        m_lastBeatNs = m_sinceStart.nsecsElapsed();
}

void StallProbe::Beat()
{
    const qint64 now = m_sinceStart.nsecsElapsed();
    ++m_beats;
    if (m_lastBeatNs < 0) {
        m_firstBeatMs = double(now) / 1e6;
        m_lastBeatNs = now;
        emit FirstBeat(m_firstBeatMs);
        return;
    }
    const double gapMs = double(now - m_lastBeatNs) / 1e6;
    m_lastBeatNs = now;
    if (gapMs > m_longestMs)
        m_longestMs = gapMs;
    if (gapMs > m_thresholdMs) {
        ++m_stalls;
        emit Stalled(gapMs, double(now) / 1e6);
    }
}

StallProbe* StallProbe::FromEnvironment(QObject* parent)
{
    if (!qEnvironmentVariableIsSet("QUORVANE_STALL_PROBE"))
        return nullptr;
    bool isNumber = false;
    int threshold = qEnvironmentVariableIntValue("QUORVANE_STALL_PROBE", &isNumber);
    if (!isNumber || threshold <= 0)
        threshold = 20;
    auto* probe = new StallProbe(threshold, parent);
    connect(probe, &StallProbe::FirstBeat, probe,
            [](double ms) { std::fprintf(stderr, "stall probe: first event-loop turn %.1f ms after start\n", ms); });
    connect(probe, &StallProbe::Stalled, probe, [](double gapMs, double atMs) {
        std::fprintf(stderr, "stall probe: %.1f ms gap ending %.1f ms after start\n", gapMs, atMs);
    });
    probe->Start();
    return probe;
}
