// The transfer threads against a plain socket copy of the same bytes, the
// threads in parallel, and the speed limiter's achieved rate against its
// limit. Everything runs over 127.0.0.1; files live in a temporary folder
// that is emptied as the runs go.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QEventLoop>
#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Data.h"
#include "DataSaver.h"
#include "NoGateway.h"
#include "Server.h"
#include "Settings.h"
#include "TransferPair.h"
#include "TransferQueueManager.h"

namespace
{
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
// KiB/s, each measured between its reports in a window that starts a second
// after the start.
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
    QElapsedTimer clock;
    clock.start();
    const qint64 end = 1000 + qint64(windowSeconds * 1000);
    while (clock.elapsed() < end + 100)
        Pump(20);
    double rate = 0;
    for (const auto& p : pairs)
        rate += p->Rate(1000, end);
    pairs.clear();
    for (int i = 0; i < n; ++i) {
        running[size_t(i)].Remove();
        QFile::remove(dir.filePath(QString("limited%1").arg(i)));
    }
    engine.EnableUploadSpeedLimit(false);
    return rate / 1024;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    DataSaver saver;
    DeclareSettingTypes();
    Server server(new NoGateway);
    server.CreateData();
    // Declared by peer messaging and the shared folders in the program.
    for (const char* type : {"file_size", "search_request_text"})
        if (!d.HasType(type))
            d.NewType(type, 2, false, true);
    if (!d.HasType("shared_file"))
        d.NewType("shared_file", 0, false, true);
    TransferQueueManager engine;

    printf("transfers: loopback file transfers (127.0.0.1), files in %s\n", qPrintable(dir.path()));

    // One transfer of 1 GiB, threads against the plain copy, three times each,
    // alternating; the best of each counts.
    const QString source = dir.filePath("source");
    const QString target = dir.filePath("target");
    if (!WriteFile(source, GiB))
        return 1;
    double plain = 1e9, threads = 1e9;
    for (int round = 0; round < 3; ++round) {
        const double p = PlainCopy(source, target);
        QFile::remove(target);
        const double t = Threads({source}, {target});
        if (p < 0 || t < 0 || QFileInfo(target).size() != GiB) {
            fprintf(stderr, "transfer of 1 GiB failed\n");
            return 1;
        }
        QFile::remove(target);
        plain = std::min(plain, p);
        threads = std::min(threads, t);
    }
    const double gib = double(GiB) / (1 << 20);
    printf("  1 GiB, one transfer:    threads %.2f s (%.0f MiB/s), plain socket copy %.2f s (%.0f MiB/s): %.0f %%\n",
           threads, gib / threads, plain, gib / plain, 100 * plain / threads);
    QFile::remove(source);

    // The same gibibyte split over 4 and 16 transfers at once, best of three.
    for (int n : {4, 16}) {
        QStringList sources, targets;
        for (int i = 0; i < n; ++i) {
            sources << dir.filePath(QString("part%1").arg(i));
            targets << dir.filePath(QString("part%1.out").arg(i));
            if (!WriteFile(sources.last(), GiB / n))
                return 1;
        }
        double t = 1e9;
        for (int round = 0; round < 3 && t > 0; ++round) {
            t = std::min(t, Threads(sources, targets));
            for (const QString& path : targets)
                QFile::remove(path);
        }
        for (const QString& path : sources)
            QFile::remove(path);
        if (t < 0) {
            fprintf(stderr, "%d parallel transfers failed\n", n);
            return 1;
        }
        printf("  1 GiB over %2d transfers: %.2f s (%.0f MiB/s in all), %.0f %% of one transfer's rate\n", n, t,
               gib / t, 100 * threads / t);
    }

    // The limiter: achieved rate against the limit.
    for (auto [limit, n] : {std::pair<int, int>{100, 1}, {10000, 1}, {10000, 4}}) {
        const double window = limit <= 100 ? 5.0 : 3.0;
        const double rate = LimitedRate(engine, dir, limit, n, window);
        if (rate < 0)
            return 1;
        printf("  limit %5d KiB/s over %d transfer%s achieved %.1f KiB/s (%.1f %% of the limit)\n", limit, n,
               n == 1 ? ": " : "s:", rate, 100 * rate / limit);
    }
    return 0;
}
