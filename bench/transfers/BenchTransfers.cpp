// The transfer threads against a raw socket copy of the same bytes (64 KiB
// buffers, blocking sockets), one transfer and many at once, each as the
// median of paired rounds; and the speed limiter's achieved rate over the
// first 10 s from the start against its limit. Everything runs over
// 127.0.0.1; files live in a temporary folder emptied as the runs go.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "BenchEngine.h"
#include "BenchSupport.h"
#include "Data.h"
#include "TransferPair.h"
#include "TransferQueueManager.h"

namespace {
const qint64 GiB = qint64(1) << 30;

bool WriteFile(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    std::vector<char> block(1 << 20);
    quint32 x = 12345;
    for (char& c : block) {
        x = x * 1664525u + 1013904223u;
        c = char(x >> 24);
    }
    for (qint64 written = 0; written < size;) {
        const qint64 n = std::min<qint64>(qint64(block.size()), size - written);
        // A different first byte per block keeps blocks distinct.
        block[0] = char(written >> 20);
        if (file.write(block.data(), n) != n)
            return false;
        written += n;
    }
    return true;
}

bool SparseFile(const QString& path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.resize(size);
}

// Runs the event loop for up to ms, so that the threads' reports arrive.
void Pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The simplest copy there is: blocking POSIX sockets, 64 KiB buffers, one
// sender and one receiver thread. Returns seconds, or -1 on failure.
double PlainCopy(const QString& sourcePath, const QString& targetPath)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return -1;
    QElapsedTimer clock;
    clock.start();
    bool sendOk = false, receiveOk = false;
    std::thread sender([&] {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        const int in = open(QFile::encodeName(sourcePath).constData(), O_RDONLY);
        if (s < 0 || in < 0 || connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
            return;
        std::vector<char> buffer(65536);
        for (ssize_t n; (n = read(in, buffer.data(), buffer.size())) > 0;)
            for (ssize_t sent = 0; sent < n;) {
                const ssize_t m = send(s, buffer.data() + sent, size_t(n - sent), 0);
                if (m <= 0)
                    return;
                sent += m;
            }
        sendOk = true;
        close(in);
        close(s);
    });
    std::thread receiver([&] {
        const int s = accept(listener, nullptr, nullptr);
        const int out = open(QFile::encodeName(targetPath).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (s < 0 || out < 0)
            return;
        std::vector<char> buffer(65536);
        for (ssize_t n; (n = recv(s, buffer.data(), buffer.size(), 0)) > 0;)
            if (write(out, buffer.data(), size_t(n)) != n)
                return;
        receiveOk = true;
        close(out);
        close(s);
    });
    sender.join();
    receiver.join();
    close(listener);
    return sendOk && receiveOk ? clock.nsecsElapsed() / 1e9 : -1;
}

// The raw copy of every source to its target, all at once. Returns
// seconds, or -1 on failure.
double PlainCopies(const QStringList& sources, const QStringList& targets)
{
    QElapsedTimer clock;
    clock.start();
    std::vector<double> results(size_t(sources.size()), -1);
    std::vector<std::thread> copies;
    for (int i = 0; i < sources.size(); ++i)
        copies.emplace_back([&, i] { results[size_t(i)] = PlainCopy(sources[i], targets[i]); });
    for (std::thread& copy : copies)
        copy.join();
    for (double r : results)
        if (r < 0)
            return -1;
    return clock.nsecsElapsed() / 1e9;
}

// N pairs at once, each from its source to its target. Returns seconds, or
// -1 on failure.
double Threads(const QStringList& sources, const QStringList& targets)
{
    std::vector<std::unique_ptr<TransferPair>> pairs;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < sources.size(); ++i) {
        pairs.emplace_back(new TransferPair(sources[i], targets[i]));
        if (!pairs.back()->Start())
            return -1;
    }
    auto done = [&] {
        for (const auto& p : pairs)
            if (!p->Done())
                return false;
        return true;
    };
    while (!done() && clock.elapsed() < 120000)
        Pump(5);
    const double seconds = clock.nsecsElapsed() / 1e9;
    for (const auto& p : pairs)
        if (!p->Done() || !p->Succeeded()) {
            fprintf(stderr, "%s", qPrintable(p->Errors()));
            return -1;
        }
    return seconds;
}

// The achieved rate of n limited transfers of the upload direction in
// KiB/s: the bytes all of them moved in the first window seconds from
// their start, divided by the window.
double LimitedRate(TransferQueueManager& engine, const QTemporaryDir& dir, int limit, int n, double windowSeconds)
{
    engine.SetUploadSpeedLimit(limit);
    engine.EnableUploadSpeedLimit(true);
    std::vector<ItemPtr> running;
    for (int i = 0; i < n; ++i) {
        running.push_back(d.GetType("upload_entry")->NewItem());
        running.back() += d.GetType("upload_entry_status")->GetItem("uploading");
    }
    engine.DetermineUploadSpeedLimit();

    std::vector<std::unique_ptr<TransferPair>> pairs;
    for (int i = 0; i < n; ++i) {
        const QString source = dir.filePath(QString("limited%1").arg(i));
        if (!SparseFile(source, 4 * GiB))
            return -1;
        pairs.emplace_back(new TransferPair(source, "/dev/null"));
        if (!pairs.back()->Start())
            return -1;
    }
    const qint64 end = qint64(windowSeconds * 1000);
    QElapsedTimer clock;
    clock.start();
    // A report after the end on every pair, to read the bytes at the end.
    while (clock.elapsed() < end + 2000)
        Pump(20);
    double bytes = 0;
    for (const auto& p : pairs) {
        const double moved = p->BytesAt(end);
        if (moved < 0)
            return -1;
        bytes += moved;
    }
    pairs.clear();
    for (int i = 0; i < n; ++i) {
        running[size_t(i)].Remove();
        QFile::remove(dir.filePath(QString("limited%1").arg(i)));
    }
    engine.EnableUploadSpeedLimit(false);
    return bytes / windowSeconds / 1024;
}

bool WriteParts(const QTemporaryDir& dir, int n, QStringList& sources, QStringList& targets)
{
    for (int i = 0; i < n; ++i) {
        sources << dir.filePath(QString("%1-part%2").arg(n).arg(i));
        targets << dir.filePath(QString("%1-part%2.out").arg(n).arg(i));
        if (!WriteFile(sources.last(), GiB / n))
            return false;
    }
    return true;
}

void RemoveAll(const QStringList& paths)
{
    for (const QString& path : paths)
        QFile::remove(path);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    BenchEngine bench;
    TransferQueueManager& engine = bench.Engine();

    printf("== Transfers over 127.0.0.1, files in %s\n", qPrintable(dir.path()));

    // One transfer of 1 GiB against the raw copy, paired rounds.
    QStringList one, oneOut;
    if (!WriteParts(dir, 1, one, oneOut))
        return 1;
    const PairedFigures single = Paired(
        5,
        [&] {
            const double s = PlainCopy(one[0], oneOut[0]);
            RemoveAll(oneOut);
            return s;
        },
        [&] {
            const double s = Threads(one, oneOut);
            const bool whole = QFileInfo(oneOut[0]).size() == GiB;
            RemoveAll(oneOut);
            return whole ? s : -1;
        });
    if (!single.ok) {
        fprintf(stderr, "transfer of 1 GiB failed\n");
        return 1;
    }
    const double mib = double(GiB) / (1 << 20);
    Figure(
        "one 1 GiB transfer vs one raw copy (throughput)", 1 / single.ratio, "x", ">=", 0.9,
        Detail("%.0f MiB/s against %.0f MiB/s, medians of 5 paired rounds", mib / single.ours, mib / single.baseline));

    // The same gibibyte split over 4 and 16 transfers at once, against one
    // raw copy of the whole and against as many raw copies at once.
    for (int n : {4, 16}) {
        QStringList sources, targets;
        if (!WriteParts(dir, n, sources, targets))
            return 1;
        auto ours = [&] {
            const double s = Threads(sources, targets);
            RemoveAll(targets);
            return s;
        };
        const PairedFigures vsOne = Paired(
            3,
            [&] {
                const double s = PlainCopy(one[0], oneOut[0]);
                RemoveAll(oneOut);
                return s;
            },
            ours);
        const PairedFigures vsMany = Paired(
            3,
            [&] {
                const double s = PlainCopies(sources, targets);
                RemoveAll(targets);
                return s;
            },
            ours);
        RemoveAll(sources);
        if (!vsOne.ok || !vsMany.ok) {
            fprintf(stderr, "%d parallel transfers failed\n", n);
            return 1;
        }
        char what[96];
        snprintf(what, sizeof what, "%d transfers at once vs one raw copy (throughput)", n);
        Figure(what, 1 / vsOne.ratio, "x", ">=", 0.9,
               Detail("%.0f MiB/s against %.0f MiB/s, medians of 3 paired rounds", mib / vsOne.ours,
                      mib / vsOne.baseline));
        snprintf(what, sizeof what, "%d transfers at once vs %d raw copies at once", n, n);
        Figure(what, 1 / vsMany.ratio, "x", ">=", 0.9,
               Detail("%.0f MiB/s against %.0f MiB/s, medians of 3 paired rounds", mib / vsMany.ours,
                      mib / vsMany.baseline));
    }
    RemoveAll(one);

    // The limiter: bytes moved in the first 10 s from the start.
    for (auto [limit, n] : {std::pair<int, int>{100, 1}, {10000, 1}, {10000, 4}}) {
        const double rate = LimitedRate(engine, dir, limit, n, 10.0);
        if (rate < 0)
            return 1;
        char what[96];
        snprintf(what, sizeof what, "limit %d KiB/s over %d transfer%s, first 10 s", limit, n, n == 1 ? "" : "s");
        FigureWithin(what, rate, "KiB/s", limit, 0.05);
    }
    return Summary("transfers");
}
