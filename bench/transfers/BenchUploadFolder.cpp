// The uploading side of "Download Folder": a peer queues a whole folder of
// small files in one burst, then takes them one after another over loopback
// file connections, answering every step the moment it hears of it, as a
// downloader with its page hidden does. The uploader's processor time per
// file with 8,000 files queued is set against the same with 500 in the same
// run: the work a finished file causes must not grow with the line behind
// it. Measured with the settings' defaults, and again with the per-user
// limits on (set high enough to refuse nothing), which weigh each request
// against the user's queue. The longest event-loop stall of the larger run
// is printed too.
#include <QApplication>
#include <QHash>
#include <QtEndian>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

#include "BenchSupport.h"
#include "Data.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "Settings.h"
#include "StallProbe.h"
#include "TransferQueueManager.h"
#include "UploadsFixture.h"

namespace {
const QString Downloader = "alice";
const int TimeoutMs = 600000;

double ProcessorSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The downloading peer: accepts each transfer request at once, takes the
// file from offset 0 and closes the connection when the last byte is in.
class FolderDownloader : public QObject
{
public:
    FolderDownloader(UploadsFixture& f, FakePeerLink* link) : m_link(link)
    {
        connect(link, &FakePeerLink::Received, this, [this] { OnMessages(); });
        connect(f.Peer(Downloader), &FakePeer::LinkAdded, this, [this](FakePeerLink* file) {
            connect(file, &FakePeerLink::Received, this, [this, file] { OnFileBytes(file); });
        });
    }

    // Every queue request in one write, as one read of the network brings
    // them.
    void QueueAll(const QStringList& names)
    {
        QByteArray burst;
        for (const QString& name : names)
            burst += FakeWire::Message(43, FakeWire().Str(name).Bytes());
        m_link->SendRaw(burst);
    }

    int Complete() const { return m_complete; }
    bool Broken() const { return m_broken; }

private:
    struct Transfer
    {
        quint64 size = 0;
        bool asked = false;
        bool done = false;
    };

    void OnMessages()
    {
        for (; m_read < m_link->messages.size(); ++m_read) {
            if (m_link->messages[m_read].first != 40)
                continue;
            TransferRequest request;
            if (!request.Read(m_link->messages[m_read].second)) {
                m_broken = true;
                continue;
            }
            m_sizes.insert(request.token, request.size);
            m_link->SendMessage(41, FakeWire().U32(request.token).U8(1).Bytes());
        }
    }

    void OnFileBytes(FakePeerLink* file)
    {
        Transfer& transfer = m_files[file];
        if (transfer.done || file->raw.size() < 4)
            return;
        if (!transfer.asked) {
            const quint32 token = qFromLittleEndian<quint32>(file->raw.constData());
            if (!m_sizes.contains(token)) {
                m_broken = true;
                return;
            }
            transfer.size = m_sizes.take(token);
            transfer.asked = true;
            file->SendRaw(FakeWire().U64(0).Bytes());
        }
        if (quint64(file->raw.size()) < 4 + transfer.size)
            return;
        transfer.done = true;
        m_broken = m_broken || quint64(file->raw.size()) != 4 + transfer.size;
        ++m_complete;
        // The bytes are counted; what stays of the link is its socket.
        file->raw.clear();
        file->Close();
    }

    FakePeerLink* m_link;
    int m_read = 0;
    QHash<quint32, quint64> m_sizes;
    QHash<FakePeerLink*, Transfer> m_files;
    int m_complete = 0;
    bool m_broken = false;
};

struct Run
{
    double processorPerFileMs = -1;
    double longestStallMs = 0;
};

// One folder of files taken whole by one downloader through one slot.
Run UploadFolder(int files, bool limits)
{
    Run run;
    UploadsFixture f;
    if (!f.Start())
        return run;
    // As the program starts: the tests' fixture records every log line.
    SetSetting("show_diagnostics", "no");
    if (limits) {
        SetSetting("max_queued_uploads_per_user_enabled", "yes");
        SetSetting("max_queued_uploads_per_user", "100000");
        SetSetting("max_queued_mb_per_user_enabled", "yes");
        SetSetting("max_queued_mb_per_user", "100000");
    }
    QStringList names;
    for (int i = 0; i < files; ++i) {
        // 0 to 4 KiB: small enough that the work around each file shows.
        const QString relative = QString("folder/file%1.dat").arg(i, 5, 10, QChar('0'));
        f.WriteFile(relative, TempTree::Pattern((i * 2654435761u) % 4097, quint32(i)));
        names << f.Remote(relative);
    }
    if (!f.Share("folder"))
        return run;
    FakePeerLink* link = f.OnlinePeer(Downloader);
    if (!link)
        return run;
    FolderDownloader downloader(f, link);
    TransferQueueManager* engine = f.engine;

    StallProbe probe(100);
    probe.Start();
    const double processorAtStart = ProcessorSeconds();
    downloader.QueueAll(names);
    const bool done = RunUntil(
        [&] {
            return downloader.Broken() || (downloader.Complete() >= files && engine->QueuedUploadCount() == 0 &&
                                           engine->ActiveUploadCount() == 0);
        },
        TimeoutMs);
    const double processor = ProcessorSeconds() - processorAtStart;
    run.longestStallMs = LongestGapNow(probe);
    if (!done || downloader.Broken() || downloader.Complete() != files) {
        std::printf("  %d files: %d arrived whole%s\n", files, downloader.Complete(),
                    downloader.Broken() ? ", a transfer went wrong" : "");
        return run;
    }
    run.processorPerFileMs = processor * 1000 / files;
    return run;
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QUORVANE_TEST", "1");
    // The fixture's diagnostics window is a widget.
    QApplication app(argc, argv);
    std::printf("bench_uploadfolder: a folder of small files uploaded to a peer that queued it whole\n");
    const int small = 500;
    const int large = 8000;
    for (const bool limits : {false, true}) {
        const char* const how = limits ? "per-user limits on" : "defaults";
        // Rounds of both back to back, the order swapped each round, so
        // that a build elsewhere on the machine weighs on both alike.
        double stallMs = 0;
        const auto perFile = [&](int files) {
            const Run run = UploadFolder(files, limits);
            if (files == large)
                stallMs = std::max(stallMs, run.longestStallMs);
            return run.processorPerFileMs;
        };
        const PairedFigures figures = Paired(
            3, [&] { return perFile(small); }, [&] { return perFile(large); });
        if (!figures.ok)
            return 1;
        std::printf("  %s: processor time per file, median of 3 rounds: %d files %.3f ms, %d files %.3f ms\n", how,
                    small, figures.baseline, large, figures.ours);
        Figure(Detail("%s: %d / %d files, time per file", how, large, small).c_str(), figures.ratio, "x", "<=", 1.25,
               Detail("%.3f ms against %.3f ms", figures.ours, figures.baseline));
        Figure(Detail("%s: %d files, longest event-loop stall", how, large).c_str(), stallMs, "ms", "<=", 100);
    }
    return Summary("bench_uploadfolder");
}
