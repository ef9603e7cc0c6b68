// What follows a large queue: "Download Folder" of one flat folder of
// 100,000 and 200,000 files from one online user, then the half-minute
// ticks as the program runs them. The first tick renews every queue request
// and saves the new downloads, the next sends a place-in-line request for
// each, and ten minutes on the queue requests go out again. Each figure is
// the longest stall of the event loop from the tick until its work is done
// (every request at the peer, the data file written), against 100 ms.
// Beside it, what Qt alone takes for the same bytes in one go: the
// requests' frames written to a socket, the file's bytes written and
// synced, so that a miss shows how much of it is Qt's.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdio>
#include <memory>
#include <unistd.h>

#include "BenchSupport.h"
#include "Data.h"
#include "DataSaver.h"
#include "DownloadsFixture.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "PeerFixture.h"
#include "PeriodicDuties.h"
#include "Settings.h"
#include "StallProbe.h"
#include "TransferQueueManager.h"

namespace {
const int StallAimMs = 100;
const int TimeoutMs = 900000;
const QString Sharer = "sharer";
const QString Folder = "flat\\folder";

QString FileName(int i)
{
    return QString("track %1.ogg").arg(i, 6, 10, QChar('0'));
}

// The requests the sharer received, by code, each checked against the
// queue's order as it arrives: every file once a round, in queue order.
class RequestCount : public QObject
{
public:
    RequestCount(FakePeerLink* link, int files) : m_link(link), m_files(files)
    {
        // Read as a client reads its socket, a buffer at a time, rather
        // than the whole of what the system holds in one turn.
        link->Socket()->setReadBufferSize(64 * 1024);
        connect(link, &FakePeerLink::Received, this, [this] { Take(); });
    }

    int Count(quint32 code) const { return code == 43 ? m_queue : m_place; }
    bool OutOfOrder() const { return m_outOfOrder; }

private:
    void Take()
    {
        for (const auto& message : m_link->messages) {
            if (message.first != 43 && message.first != 51)
                continue;
            int& count = message.first == 43 ? m_queue : m_place;
            FakeWire in(message.second);
            QString path;
            if (!in.ReadStr(path) || path != Folder + "\\" + FileName(count % m_files))
                m_outOfOrder = true;
            ++count;
        }
        m_link->messages.clear();
    }

    FakePeerLink* m_link;
    int m_files;
    int m_queue = 0;
    int m_place = 0;
    bool m_outOfOrder = false;
};

// What Qt alone takes to write the requests' frames to a socket and to
// write and sync the data file's bytes, in milliseconds.
double QtWritesFrames(int files, quint32 code)
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    QTcpSocket out;
    out.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!out.waitForConnected(5000) || !server.waitForNewConnection(5000))
        return -1;
    std::unique_ptr<QTcpSocket> in(server.nextPendingConnection());
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < files; ++i)
        out.write(FakeWire::Message(code, FakeWire().Str(Folder + "\\" + FileName(i)).Bytes()));
    return clock.nsecsElapsed() / 1e6;
}

double QtWritesFile(const QString& path, const QByteArray& bytes)
{
    QElapsedTimer clock;
    clock.start();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        return -1;
    fsync(file.handle());
    file.commit();
    return clock.nsecsElapsed() / 1e6;
}

void Run(int files)
{
    DownloadsFixture f;
    if (!f.Start())
        qFatal("the engines did not start");
    FakePeerLink* link = f.OnlinePeer(Sharer);
    if (!link)
        qFatal("the sharer did not come online");
    RequestCount requests(link, files);
    TransferQueueManager* engine = f.engine;
    DataSaver* saver = f.net.saver;
    const QString prefix = f.Path("home/.Quorvane");
    QDir().mkpath(f.Path("home"));
    saver->NotifyLoaded(false);
    // As a new user runs it: the diagnostics window records nothing.
    SetSetting("show_diagnostics", "no");

    // The folder queued as "Download Folder" queues it, a slice a turn.
    for (int i = 0; i < files;) {
        for (const int end = std::min(files, i + 5000); i < end; ++i)
            engine->AddDownload(Sharer, FileName(i).toStdString(), Folder.toStdString(), 4000000, false, 0);
        QCoreApplication::processEvents();
    }
    if (!RunUntil([&] { return requests.Count(43) == files; }, TimeoutMs))
        qFatal("the queue requests of Download Folder did not arrive");

    StallProbe probe;
    probe.Start();
    const auto tick = [&](bool save, const std::function<bool()>& done) {
        QCoreApplication::processEvents();
        probe.Reset();
        // The engine's duties, then the main window's save, as they hear
        // the one timer.
        QTimer::singleShot(0, [&] {
            f.net.Tick();
            if (save)
                saver->SaveChanges(prefix);
        });
        if (!RunUntil([&] { return done() && !saver->IsWriting(); }, TimeoutMs))
            qFatal("a tick's work did not end");
        return LongestGapNow(probe);
    };
    const auto idle = [&] { return engine->RequeueWaitingCount() == 0 && !engine->DownloadRequestJob().IsRunning(); };

    const double first = tick(true, [&] { return requests.Count(43) == 2 * files && idle(); });
    const auto saved = DataSaver::DataFiles(prefix);
    QFile written(saved.empty() ? QString() : saved.front().second);
    if (!written.open(QIODevice::ReadOnly))
        qFatal("the half-minute save wrote no file");
    const QByteArray bytes = written.readAll();
    const double qtFile = QtWritesFile(f.Path("plain"), bytes);
    Figure(qPrintable(QString("first tick after %1 queued: longest stall").arg(files)), first, "ms", "<", StallAimMs,
           Detail("%d queue requests, %.1f MB saved; Qt alone: frames %.0f ms, file %.0f ms", files, bytes.size() / 1e6,
                  QtWritesFrames(files, 43), qtFile));

    // Thirty seconds on, the place in line of each.
    d.GetType("user")
        ->HasItem(Value(Sharer))
        .Connect(d.GetType("next_place_in_line_request_time")->NewItem(Value(PeriodicDuties::NowText(-1))));
    const double place = tick(true, [&] { return requests.Count(51) == files && idle(); });
    Figure(qPrintable(QString("place-in-line tick, %1 queued: longest stall").arg(files)), place, "ms", "<", StallAimMs,
           Detail("%d requests; Qt alone: frames %.0f ms", files, QtWritesFrames(files, 51)));

    // Ten minutes on, the queue requests again.
    d.GetType("user")
        ->HasItem(Value(Sharer))
        .Connect(d.GetType("last_queue_request_time")->NewItem(Value(PeriodicDuties::NowText(-601))));
    const double renewed = tick(true, [&] { return requests.Count(43) == 3 * files && idle(); });
    Figure(qPrintable(QString("ten-minute renewal, %1 queued: longest stall").arg(files)), renewed, "ms", "<",
           StallAimMs, Detail("%d queue requests", files));
    if (requests.OutOfOrder())
        qFatal("a request went out twice, out of order or not at all");
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    printf("largequeue: the half-minute ticks after \"Download Folder\" of one flat folder; aims: no stall over "
           "%d ms\n",
           StallAimMs);
    for (int files : {100000, 200000})
        Run(files);
    return Summary("largequeue");
}
