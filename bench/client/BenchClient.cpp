// The real program with a 100,000-file share against the same program
// without one, each figure against its aim: the time from the start to the
// login (medians of paired rounds), the resident memory per shared file,
// and, from the program's own stall probe (QUORVANE_STALL_PROBE), the
// longest event-loop stall after its first turn while the start-up merge
// runs, and while it answers a search for a word of every file that a
// fake peer sends through the loopback test server.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "BenchSupport.h"
#include "ClientDataFile.h"
#include "ClientHome.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "ShareTree.h"
#include "TestHttpServer.h"
#include "TestServer.h"

namespace {
const int Files = ShareTree::Files;
const int Rounds = 3;
const quint32 FileSearchResult = 9;

// The process's user and system time in clock ticks.
long CpuTicks(qint64 pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The fields after the command name, which may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLong() + fields[12].toLong() : -1;
}

long ResidentBytes(qint64 pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong() * 1024;
    return -1;
}

struct Run
{
    double loginSeconds = -1;
    double firstTurnMs = -1;
    double startupGapMs = 0; // longest after the first turn, to idle
    long residentBytes = -1;
    double searchGapMs = 0;
    double searchSeconds = -1;
    quint32 searchRecords = 0;
};

class Bench
{
public:
    Bench(const QString& folder) : m_folder(folder) {}

    bool Prepare()
    {
        if (!m_server.Listen() || !m_web.Listen())
            return false;
        const QString share = m_folder + "/share";
        QElapsedTimer made;
        made.start();
        if (!ShareTree::Make(share))
            return false;
        std::printf("  (tree made in %.1f s)\n", Seconds(made));
        made.restart();
        for (bool shared : {false, true}) {
            const QString home = Home(shared);
            ClientDataFile data;
            if (!ClientHome::MakeFolders(home) || !ClientHome::SetAccount(data, home, "me"))
                return false;
            if (shared)
                data.ShareFolder(share);
            QString error;
            if (!data.Write(home + "/.Quorvane", &error)) {
                std::printf("  %s\n", qPrintable(error));
                return false;
            }
        }
        std::printf("  (data files written in %.1f s)\n", Seconds(made));
        m_searcher = new FakePeer("searcher", &m_server);
        return m_searcher->Listen(false) && m_searcher->LogIn(m_server.Port());
    }

    // One start of the program: to its login, then until it idles; with
    // search, also a search for a word of every file.
    Run Start(bool shared, bool search)
    {
        Run run;
        const QString home = Home(shared);
        QProcessEnvironment environment = ClientHome::Environment(home, m_server.Port(), m_web.BaseUrl());
        environment.insert("QUORVANE_STALL_PROBE", "20");
        QProcess client;
        client.setProcessEnvironment(environment);
        client.setProcessChannelMode(QProcess::SeparateChannels);
        client.setStandardOutputFile(QProcess::nullDevice());
        QByteArray probe;
        QObject::connect(&client, &QProcess::readyReadStandardError, [&] { probe += client.readAllStandardError(); });

        QElapsedTimer clock;
        clock.start();
        client.start(CLIENT_BINARY, QStringList());
        if (!client.waitForStarted(10000))
            return run;
        if (RunUntil([&] { return m_server.IsLoggedIn("me"); }, 60000))
            run.loginSeconds = Seconds(clock);
        // Idle: less than 30 ms of processor time in the last second.
        std::vector<long> ticks;
        QElapsedTimer sample;
        sample.start();
        RunUntil(
            [&] {
                if (sample.elapsed() < 250)
                    return false;
                sample.restart();
                ticks.push_back(CpuTicks(client.processId()));
                const size_t n = ticks.size();
                return n > 4 && ticks[n - 1] >= 0 && ticks[n - 1] - ticks[n - 5] < 3;
            },
            180000);
        run.residentBytes = ResidentBytes(client.processId());
        const int startupLines = Gaps(probe, run.firstTurnMs, run.startupGapMs, 0);

        if (search && run.loginSeconds > 0) {
            FakePeerLink* link = nullptr;
            const int known = m_searcher->links.size();
            QElapsedTimer searchClock;
            searchClock.start();
            m_searcher->SendToServer(42, FakeWire().Str("me").U32(m_token++).Str("share").Bytes());
            RunUntil(
                [&] {
                    for (int i = known; i < m_searcher->links.size() && !link; ++i)
                        for (const auto& message : m_searcher->links[i]->messages)
                            if (message.first == FileSearchResult)
                                link = m_searcher->links[i];
                    return link != nullptr;
                },
                120000);
            if (link) {
                run.searchSeconds = Seconds(searchClock);
                for (const auto& message : link->messages)
                    if (message.first == FileSearchResult) {
                        FakeWire in(FakeWire::Inflate(message.second));
                        QString user;
                        quint32 token = 0;
                        if (in.ReadStr(user) && in.ReadU32(token))
                            in.ReadU32(run.searchRecords);
                    }
                // A stall's line comes once the loop turns again; a search
                // that stalled nothing over 20 ms leaves none.
                RunUntil([&] { return probe.count("stall probe:") > startupLines; }, 1000);
                double unused;
                Gaps(probe, unused, run.searchGapMs, startupLines);
            }
        }

        client.terminate();
        if (!client.waitForFinished(60000)) {
            client.kill();
            client.waitForFinished(10000);
        }
        RunUntil([&] { return !m_server.IsLoggedIn("me"); }, 10000);
        return run;
    }

private:
    QString Home(bool shared) const { return m_folder + (shared ? "/home-shared" : "/home-plain"); }

    // The probe's lines from line skip on: the first turn and the longest
    // gap; returns the number of lines read.
    static int Gaps(const QByteArray& probe, double& firstTurnMs, double& longestMs, int skip)
    {
        static const QRegularExpression first("first event-loop turn ([0-9.]+) ms");
        static const QRegularExpression gap("stall probe: ([0-9.]+) ms gap");
        const QList<QByteArray> lines = probe.split('\n');
        int n = 0;
        for (const QByteArray& line : lines) {
            if (!line.startsWith("stall probe:"))
                continue;
            if (n++ < skip)
                continue;
            const QString text = QString::fromUtf8(line);
            const auto f = first.match(text);
            if (f.hasMatch())
                firstTurnMs = f.captured(1).toDouble();
            const auto g = gap.match(text);
            if (g.hasMatch())
                longestMs = std::max(longestMs, g.captured(1).toDouble());
        }
        return n;
    }

    QString m_folder;
    TestServer m_server;
    TestHttpServer m_web;
    FakePeer* m_searcher = nullptr;
    quint32 m_token = 1;
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    std::printf("== The program with a %d-file share against the program without one\n", Files);
    Bench bench(dir.path());
    if (!bench.Prepare()) {
        std::printf("  cannot prepare the homes, the servers or the searcher\n");
        return 1;
    }

    std::vector<Run> plain, shared;
    for (int round = 0; round < Rounds; ++round) {
        // Alternating, so neither always starts on a warmer machine.
        if (round % 2 == 0) {
            plain.push_back(bench.Start(false, false));
            shared.push_back(bench.Start(true, true));
        } else {
            shared.push_back(bench.Start(true, true));
            plain.push_back(bench.Start(false, false));
        }
        if (plain.back().loginSeconds < 0 || shared.back().loginSeconds < 0) {
            std::printf("  a client did not log in\n");
            return 1;
        }
    }
    std::vector<double> ratios, plainLogin, sharedLogin, plainTurn, sharedTurn, memory, startupGap, searchGap,
        searchTime;
    for (int i = 0; i < Rounds; ++i) {
        ratios.push_back(shared[i].loginSeconds / plain[i].loginSeconds);
        plainLogin.push_back(plain[i].loginSeconds);
        sharedLogin.push_back(shared[i].loginSeconds);
        plainTurn.push_back(plain[i].firstTurnMs);
        sharedTurn.push_back(shared[i].firstTurnMs);
        memory.push_back(double(shared[i].residentBytes - plain[i].residentBytes) / Files);
        startupGap.push_back(shared[i].startupGapMs);
        searchGap.push_back(shared[i].searchGapMs);
        searchTime.push_back(shared[i].searchSeconds);
        if (shared[i].searchRecords != quint32(Files))
            std::printf("  !! a search reply held %u files\n", shared[i].searchRecords);
    }
    Figure("start-up to login, with the share vs without", Median(ratios), "x", "<=", 3,
           Detail("%.0f ms against %.0f ms; first event-loop turn %.0f ms against %.0f ms (medians)",
                  Median(sharedLogin) * 1e3, Median(plainLogin) * 1e3, Median(sharedTurn), Median(plainTurn)));
    Figure("resident memory per shared file", Median(memory), "B", "<", 1024,
           Detail("resident size with the share minus without, median of %d", Rounds));
    const double worstStartup = *std::max_element(startupGap.begin(), startupGap.end());
    Figure("longest stall after the first turn, start-up merge", worstStartup, "ms", "<", 100,
           Detail("worst of %d starts (gaps under 20 ms are not reported)", Rounds));
    const double worstSearch = *std::max_element(searchGap.begin(), searchGap.end());
    Figure("longest stall answering a search for a word of every file", worstSearch, "ms", "<", 100,
           Detail("worst of %d; reply arrived within %.0f ms (median)", Rounds, Median(searchTime) * 1e3));
    return Summary("client");
}
