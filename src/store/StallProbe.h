#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// A heartbeat on the event loop of the thread that makes it. The loop is
// stalled for as long as a beat comes late, so the gap between two beats is
// the longest the window could not answer; gaps above the threshold are
// counted and reported. The benchmarks measure with it, and the program
// runs one when QUORVANE_STALL_PROBE is set (see FromEnvironment).
class StallProbe : public QObject
{
    Q_OBJECT

public:
    static constexpr int BeatMs = 5;

    explicit StallProbe(int thresholdMs = 20, QObject* parent = nullptr);

    void Start();
    void Stop();
    // Forgets the gaps so far; the next gap is measured from now.
    void Reset();

    double LongestGapMs() const { return m_longestMs; }
    // Beats since Start. A gap is known only at the beat that ends it, so
    // whoever reads the longest gap after some work waits for one more.
    int BeatCount() const { return m_beats; }
    int StallCount() const { return m_stalls; }
    // Milliseconds from Start to the first beat: the time the thread spent
    // before its event loop first turned.
    double FirstBeatMs() const { return m_firstBeatMs; }

    // QUORVANE_STALL_PROBE set to a threshold in milliseconds (empty or not
    // a number: 20) makes a started probe that writes its first beat and
    // every stall to standard error; unset, nothing is made and nothing runs.
    static StallProbe* FromEnvironment(QObject* parent = nullptr);

signals:
    // gapMs: the late beat's distance from the one before; atMs: when the
    // gap ended, since Start.
    void Stalled(double gapMs, double atMs);
    void FirstBeat(double ms);

private:
    void Beat();

    QTimer m_timer;
    QElapsedTimer m_sinceStart;
    qint64 m_lastBeatNs = -1;
    int m_thresholdMs;
    double m_longestMs = 0;
    double m_firstBeatMs = -1;
    int m_stalls = 0;
    int m_beats = 0;
};
