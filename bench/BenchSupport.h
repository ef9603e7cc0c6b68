#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "Item.h"
#include "StallProbe.h"

// Timing helpers and the verdict line the benchmarks share. Every figure is
// printed with its aim and MET or MISSED, and each program ends with a
// count of both.

// A memory figure of this process from /proc, in MB: "VmHWM" is the peak
// resident size so far, "VmRSS" the current one.
inline double StatusMegabytes(const char* field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

inline double ResidentMegabytes()
{
    return StatusMegabytes("VmRSS");
}

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

// Lets the process open up to wanted files, within its hard limit: a
// benchmark holding both ends of many connections needs more than a
// desktop's usual soft limit. Returns the limit now in force.
inline rlim_t AllowOpenFiles(rlim_t wanted)
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0)
        return 0;
    const rlim_t soft = files.rlim_cur;
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, wanted);
    return setrlimit(RLIMIT_NOFILE, &files) == 0 ? files.rlim_cur : soft;
}

// Runs the event loop until done() or the deadline; false at the deadline.
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    // Wakes the wait below at least this often to ask done() again.
    QTimer tick;
    tick.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// The longest gap of a probe's heartbeat up to now: the gap that ends with
// the work just done is known only at the next beat.
template <class Probe>
double LongestGapNow(const Probe& probe)
{
    const int beats = probe.BeatCount();
    RunUntil([&] { return probe.BeatCount() > beats; }, 5000);
    return probe.LongestGapMs();
}

// Types a text a key at a time, as a line edit hands each on, then clears
// it: a key once the loop has turned a few times after the one before,
// whether or not the last is done with, as a quick typist's keys come. The
// longest stall of the event loop until settled() after the last.
inline double LongestStallTyping(
    const QString& typed, const std::function<void(const QString&)>& setText,
    const std::function<bool()>& settled = [] { return true; })
{
    StallProbe probe;
    probe.Start();
    QCoreApplication::processEvents();
    probe.Reset();
    for (int i = 1; i <= typed.size() + 1; ++i) {
        const QString text = typed.left(i <= typed.size() ? i : 0);
        const int beats = probe.BeatCount();
        QTimer::singleShot(0, [&setText, text] { setText(text); });
        RunUntil([&] { return probe.BeatCount() > beats + 3; }, 10000);
    }
    RunUntil(settled, 10000);
    return LongestGapNow(probe);
}

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Rounds of the baseline and our own run back to back, the order swapped
// every round so that neither always runs on a warmer machine. Each
// function returns its seconds (negative on failure, which ends the rounds).
struct PairedFigures
{
    double baseline = 0; // median seconds
    double ours = 0;     // median seconds
    double ratio = 0;    // median of the rounds' ours / baseline
    bool ok = false;
};

template <class B, class O>
PairedFigures Paired(int rounds, B baseline, O ours)
{
    std::vector<double> b, o, r;
    for (int round = 0; round < rounds; ++round) {
        double x, y;
        if (round % 2 == 0) {
            x = baseline();
            y = x < 0 ? -1 : ours();
        } else {
            y = ours();
            x = y < 0 ? -1 : baseline();
        }
        if (x <= 0 || y <= 0)
            return PairedFigures();
        b.push_back(x);
        o.push_back(y);
        r.push_back(y / x);
    }
    return PairedFigures{Median(b), Median(o), Median(r), true};
}

// Bytes handed out by the heap, the large blocks it maps on their own
// (the store's slabs among them) included, less what the slabs keep idle
// for reuse.
inline size_t HeapInUse()
{
    malloc_trim(0);
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd - StoreMemory::IdleBytes();
}

struct VerdictCount
{
    int met = 0;
    int missed = 0;
};

inline VerdictCount& Verdicts()
{
    static VerdictCount count;
    return count;
}

// One figure against its aim: op is "<=", "<", ">=" or ">". detail says
// what was measured against what, and goes in front of the verdict.
inline bool Figure(const char* what, double value, const char* unit, const char* op, double aim,
                   const std::string& detail = std::string())
{
    const std::string o(op);
    const bool met = o == "<=" ? value <= aim : o == "<" ? value < aim : o == ">=" ? value >= aim : value > aim;
    ++(met ? Verdicts().met : Verdicts().missed);
    std::printf("  %-52s %10.2f %-5s aim %2s %-9g %-6s %s\n", what, value, unit, op, aim, met ? "MET" : "MISSED",
                detail.c_str());
    std::fflush(stdout);
    return met;
}

// A figure whose aim is a band around a target (the limiter: within 5 %).
inline bool FigureWithin(const char* what, double value, const char* unit, double target, double fraction,
                         const std::string& detail = std::string())
{
    const bool met = value >= target * (1 - fraction) && value <= target * (1 + fraction);
    ++(met ? Verdicts().met : Verdicts().missed);
    char aim[64];
    std::snprintf(aim, sizeof aim, "%g +-%g%%", target, fraction * 100);
    std::printf("  %-52s %10.2f %-5s aim %-12s %-6s %s\n", what, value, unit, aim, met ? "MET" : "MISSED",
                detail.c_str());
    std::fflush(stdout);
    return met;
}

inline std::string Detail(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Detail(const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// A sender on a thread of its own flooding the receiver on this one: start
// and stop are queued to the sender, the flood lasts the given seconds and
// the receiver then runs until drained(). The resident growth is the peak
// above what it was before the flood, in MB.
struct Flood
{
    bool drained = false;
    double seconds = 0;
    double residentGrowth = 0;
};

inline Flood RunFlood(QObject* sender, int seconds, const std::function<void()>& start,
                      const std::function<void()>& stop, const std::function<bool()>& drained)
{
    double mostResident = 0;
    QTimer residentProbe;
    QObject::connect(&residentProbe, &QTimer::timeout,
                     [&] { mostResident = std::max(mostResident, ResidentMegabytes()); });
    const double residentBefore = ResidentMegabytes();
    residentProbe.start(20);
    QMetaObject::invokeMethod(sender, start);
    QElapsedTimer clock;
    clock.start();
    RunUntil([&] { return clock.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
    QMetaObject::invokeMethod(sender, stop);
    Flood flood;
    flood.drained = RunUntil(drained, 600000);
    flood.seconds = Seconds(clock);
    residentProbe.stop();
    mostResident = std::max(mostResident, ResidentMegabytes());
    flood.residentGrowth = std::max(0.0, mostResident - residentBefore);
    return flood;
}

// A flood's figures: the most the receiver held unread against its bound,
// and its resident growth against the bytes sent.
inline void FloodFigures(qint64 mostUnread, qint64 bound, const Flood& flood, qint64 sent)
{
    const double sentMegabytes = sent / 1048576.0;
    Figure("most held unread / bound", double(mostUnread) / double(bound), "x", "<=", 1.0,
           Detail("%lld of %lld bytes", mostUnread, bound));
    Figure("resident growth / bytes sent", flood.residentGrowth / sentMegabytes, "x", "<=", 0.05,
           Detail("%.1f MB grown for %.1f MB sent", flood.residentGrowth, sentMegabytes));
}

// The last line of a benchmark; its exit status stays 0 either way, so
// that one missed aim does not hide the figures of the next benchmark.
inline int Summary(const char* name)
{
    std::printf("  %s: %d aims met, %d missed\n", name, Verdicts().met, Verdicts().missed);
    return 0;
}
