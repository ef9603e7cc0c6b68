// Shared-folder figures on a 100,000-file tree, each against its aim and a
// baseline measured in the same run: the start-up walk against find
// listing and stating the same tree; the longest event-loop stall while
// the start-up merge runs into an empty store and into a store loaded from
// the data file (the real start-up), and during rescans; the data file's
// save and load with the real engines against plain writes and reads of
// the same bytes; the longest stall of the half-minute save after a change
// against encoding the same store in one turn; and the store's heap bytes
// per shared file.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "BenchSupport.h"
#include "Data.h"
#include "DataSaver.h"
#include "FileScanner.h"
#include "NoGateway.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "ShareTree.h"
#include "SharedFoldersManager.h"
#include "StallProbe.h"

namespace {
const int Files = ShareTree::Files;
const double StallAimMs = 100;

double FindSeconds(const QString& root)
{
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    // Stats every file for its size, as the walk must.
    find.start("find", {root, "-printf", "%s %p\\n"});
    if (!find.waitForFinished(120000) || find.exitCode() != 0)
        return -1;
    return Seconds(timer);
}

double WalkSeconds(const QString& root)
{
    FileScanner scanner;
    QElapsedTimer timer;
    timer.start();
    scanner.ScanFolders({root});
    const double seconds = Seconds(timer);
    size_t files = 0;
    for (const auto& folder : scanner.scanResults.begin()->second)
        files += folder.second.size();
    return files == size_t(Files) ? seconds : -1;
}

// The same facts in plain containers: path to size, token to file numbers.
size_t PlainIndexBytes(const std::vector<std::string>& paths)
{
    const size_t before = HeapInUse();
    auto* sizes = new std::unordered_map<std::string, qint64>;
    auto* tokens = new std::unordered_map<std::string, std::vector<quint32>>;
    for (quint32 i = 0; i < paths.size(); ++i) {
        (*sizes)[paths[i]] = 0;
        const QString text = QString::fromStdString(paths[i]).toLower();
        int start = -1;
        for (int c = 0; c <= text.size(); ++c) {
            const bool separator = c == text.size() || SharedFoldersManager::IsSearchTokenSeparator(text[c]);
            if (!separator && start < 0)
                start = c;
            else if (separator && start >= 0) {
                std::vector<quint32>& files = (*tokens)[text.mid(start, c - start).toUtf8().toStdString()];
                if (files.empty() || files.back() != i)
                    files.push_back(i);
                start = -1;
            }
        }
    }
    const size_t bytes = HeapInUse() - before;
    delete tokens;
    delete sizes;
    return bytes;
}

// The engines that own the share's types, in the main window's order.
struct Engines
{
    std::unique_ptr<DataSaver> saver;
    std::unique_ptr<Server> server;
    std::unique_ptr<PeerMessenger> peer;
    std::unique_ptr<SharedFoldersManager> manager;

    void Make()
    {
        Drop();
        saver.reset(new DataSaver);
        DeclareSettingTypes();
        saver->AddSavedType("global");
        saver->AddSavedByConnectionType("global_value", "global");
        server.reset(new Server(new NoGateway));
        server->CreateData();
        peer.reset(new PeerMessenger);
        // Nothing listens: the benchmark talks to no peer.
        saver->RemoveDataLoadedEventHandler(peer.get());
        manager.reset(new SharedFoldersManager);
    }
    void Drop()
    {
        manager.reset();
        peer.reset();
        server.reset();
        saver.reset();
        d.Reset();
    }
};

// The walk and merge that Init starts, run in the event loop; the longest
// stall while it runs goes to stallMs. Seconds from Init to the merge's
// end, or -1.
double StartUp(SharedFoldersManager* manager, StallProbe& probe, double& stallMs)
{
    QElapsedTimer clock;
    QTimer::singleShot(0, manager, [&] {
        probe.Reset();
        clock.start();
        manager->Init();
    });
    const bool done = RunUntil([&] { return clock.isValid() && !manager->IsMerging(); }, 300000);
    stallMs = LongestGapNow(probe);
    return done ? Seconds(clock) : -1;
}

// RescanShares run in the event loop until its report; the counts go to
// added and removed.
double Rescan(SharedFoldersManager* manager, StallProbe& probe, double& stallMs, int& added, int& removed)
{
    bool reported = false;
    QMetaObject::Connection report =
        QObject::connect(manager, &SharedFoldersManager::SharedFilesRescanned, [&](int a, int r) {
            added = a;
            removed = r;
            reported = true;
        });
    QElapsedTimer clock;
    QTimer::singleShot(0, manager, [&] {
        probe.Reset();
        clock.start();
        manager->RescanShares();
    });
    const bool done = RunUntil([&] { return reported; }, 300000);
    QObject::disconnect(report);
    stallMs = LongestGapNow(probe);
    return done ? Seconds(clock) : -1;
}

// Flushed to the disk, as a save must be before it replaces the old file.
double PlainWrite(const QString& path, const QByteArray& bytes)
{
    QElapsedTimer timer;
    timer.start();
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size() || !out.flush() ||
        fsync(out.handle()) != 0)
        return -1;
    out.close();
    return Seconds(timer);
}

// The longest stall of work started in the event loop and done once
// finished() holds, or -1.
double StallOf(StallProbe& probe, const std::function<void()>& work, const std::function<bool()>& finished)
{
    bool started = false;
    QTimer::singleShot(0, [&] {
        probe.Reset();
        work();
        started = true;
    });
    if (!RunUntil([&] { return started && finished(); }, 60000))
        return -1;
    return LongestGapNow(probe);
}

double PlainRead(const QString& path, qint64 size)
{
    QElapsedTimer timer;
    timer.start();
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly) || in.readAll().size() != size)
        return -1;
    return Seconds(timer);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no temporary folder");
    const QString root = dir.filePath("share");

    std::printf("== Shared folders: %d files in %d folders\n", Files, ShareTree::Folders);
    QElapsedTimer made;
    made.start();
    std::vector<std::string> paths;
    paths.reserve(Files);
    if (!ShareTree::Make(root, &paths))
        qFatal("cannot make the tree");
    std::printf("  (tree made in %.1f s)\n", Seconds(made));

    // The walk against find, both on a warm cache.
    FindSeconds(root);
    const PairedFigures walk = Paired(
        5, [&] { return FindSeconds(root); }, [&] { return WalkSeconds(root); });
    if (!walk.ok)
        qFatal("the walk or find failed");
    Figure("start-up walk vs find -printf '%s %p\\n'", walk.ratio, "x", "<=", 2,
           Detail("walk %.0f ms, find %.0f ms (medians of 5 paired rounds)", walk.ours * 1e3, walk.baseline * 1e3));

    StallProbe probe;
    probe.Start();
    Engines engines;
    engines.Make();
    SetSetting("username", "me");
    d.GetType("shared_folder")->NewItem(Value(root)).NewItem("shared_public");

    // A first run: the walk finds every file new.
    double stall = 0;
    const double fresh = StartUp(engines.manager.get(), probe, stall);
    if (fresh < 0 || d.GetType("shared_file")->Count() != size_t(Files))
        qFatal("the first start-up merge did not finish");
    Figure("start-up merge into an empty store: longest stall", stall, "ms", "<", StallAimMs,
           Detail("walk and merge %.0f ms", fresh * 1e3));

    // The data file of that share, written as the program writes it.
    const QString prefix = dir.filePath("home/.Quorvane");
    QDir().mkpath(dir.filePath("home"));
    const QByteArray bytes = engines.saver->Serialize();
    const QString plainPath = dir.filePath("plain");
    const PairedFigures save = Paired(
        5, [&] { return PlainWrite(plainPath, bytes); },
        [&] {
            for (const auto& file : DataSaver::DataFiles(prefix))
                QFile::remove(file.second);
            QElapsedTimer timer;
            timer.start();
            engines.saver->Save(prefix);
            return Seconds(timer);
        });
    Figure("data file save vs plain write and fsync of the same bytes", save.ratio, "x", "<=", 5,
           Detail("save %.0f ms, write %.1f ms, %.1f MB", save.ours * 1e3, save.baseline * 1e3, bytes.size() / 1e6));

    // The real start-up: engines made, the data file loaded, then the walk
    // and merge. The last round's store stays for the figures after it.
    size_t heapBeforeLoad = 0;
    const PairedFigures load = Paired(
        3, [&] { return PlainRead(plainPath, bytes.size()); },
        [&] {
            engines.Make();
            heapBeforeLoad = HeapInUse();
            QElapsedTimer timer;
            timer.start();
            engines.saver->Load(prefix);
            const double seconds = Seconds(timer);
            return d.GetType("shared_file")->Count() == size_t(Files) ? seconds : -1;
        });
    if (!load.ok)
        qFatal("the data file did not load");
    Figure("data file load vs plain read of the same bytes", load.ratio, "x", "<=", 25,
           Detail("load %.0f ms, read %.1f ms", load.ours * 1e3, load.baseline * 1e3));

    const double startup = StartUp(engines.manager.get(), probe, stall);
    if (startup < 0)
        qFatal("the start-up merge did not finish");
    Figure("start-up merge into the loaded store: longest stall", stall, "ms", "<", StallAimMs,
           Detail("walk and merge %.0f ms", startup * 1e3));

    const size_t heap = HeapInUse() - heapBeforeLoad;
    const size_t plainBytes = PlainIndexBytes(paths);
    Figure("store heap bytes per shared file (loaded and merged)", double(heap) / Files, "B", "<", 1024,
           Detail("%.1f items per file; plain map and token index %.0f B", double(d.ItemCount()) / Files,
                  double(plainBytes) / Files));

    int added = -1, removed = -1;
    const double rescan = Rescan(engines.manager.get(), probe, stall, added, removed);
    if (rescan < 0 || added != 0 || removed != 0)
        qFatal("the rescan did not finish or found changes (%d added, %d removed)", added, removed);
    Figure("rescan with nothing changed: longest stall", stall, "ms", "<", StallAimMs,
           Detail("rescan %.0f ms", rescan * 1e3));

    // One file in a hundred each gone, new and grown.
    int changes = 0;
    for (int t = 0; t < ShareTree::TopFolders; ++t)
        for (int s = 0; s < ShareTree::SubFolders; ++s) {
            const QString folder = ShareTree::FolderPath(root, t, s);
            QFile::remove(folder + "/" + ShareTree::FileName(t, s, 0));
            QFile grown(folder + "/" + ShareTree::FileName(t, s, 1));
            grown.resize(ShareTree::FileSize(t, s, 1) + 1);
            QFile added(folder + "/new file " + QString::number(changes++) + ".ogg");
            added.open(QIODevice::WriteOnly);
        }
    const double changed = Rescan(engines.manager.get(), probe, stall, added, removed);
    if (changed < 0 || added != changes || removed != changes)
        qFatal("the rescan after changes found %d added and %d removed of %d", added, removed, changes);
    Figure("rescan with 1 % of files gone, new and grown: longest stall", stall, "ms", "<", StallAimMs,
           Detail("rescan %.0f ms", changed * 1e3));

    // A user put on the list, then the half-minute tick's save as the main
    // window makes it, against encoding the same store in one turn.
    std::vector<double> tickStalls, encodeStalls;
    for (int round = 0; round < 5; ++round) {
        d.GetType("user")->GetItem(Value("listed " + std::to_string(round))).NewItem("in_user_list");
        bool saving = false;
        const double tick = StallOf(
            probe, [&] { saving = engines.saver->SaveChanges(prefix); }, [&] { return !engines.saver->IsWriting(); });
        const double encode = StallOf(
            probe, [&] { engines.saver->Serialize(); }, [] { return true; });
        if (!saving || tick < 0 || encode < 0)
            qFatal("the half-minute save did not run");
        tickStalls.push_back(tick);
        encodeStalls.push_back(encode);
    }
    QFile newest(DataSaver::DataFiles(prefix).front().second);
    if (!newest.open(QIODevice::ReadOnly) || !newest.readAll().contains("listed 4"))
        qFatal("the half-minute save did not write the change");
    const double tickStall = Median(tickStalls);
    const double encodeStall = Median(encodeStalls);
    Figure("half-minute save after a change: longest stall", tickStall, "ms", "<", StallAimMs,
           Detail("encoding alone %.0f ms (medians of 5)", encodeStall));
    Figure("  that stall vs encoding the same store in one turn", tickStall / encodeStall, "x", "<=", 1.5,
           "the write and its sync run off the event loop");

    engines.Drop();
    return Summary("shares");
}
