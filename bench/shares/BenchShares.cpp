// Shared-folder figures, each printed with its ratio to a baseline measured
// in the same run: the start-up walk and the rescan against find listing
// the same tree, the merge's time and the longest stall of the event loop
// (a 10 ms heartbeat), and the store's items and heap bytes per shared file
// against a plain map of paths with a plain token index.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <string>
#include <unordered_map>
#include <vector>

#include "BenchSupport.h"
#include "Data.h"
#include "FileScanner.h"
#include "NoGateway.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "SharedFoldersManager.h"

namespace
{
const int TopFolders = 100;
const int SubFolders = 10;
const int FilesPerFolder = 100;
const int Files = TopFolders * SubFolders * FilesPerFolder;
const int Rounds = 3;
const int HeartbeatMs = 10;

// Times the one queued call the manager receives during the start-up
// merge: the walk's FoldersScanned.
class TimedApplication : public QCoreApplication
{
public:
    using QCoreApplication::QCoreApplication;
    QObject* watched = nullptr;
    double mergeSeconds = 0;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (receiver != watched || event->type() != QEvent::MetaCall)
            return QCoreApplication::notify(receiver, event);
        QElapsedTimer timer;
        timer.start();
        const bool result = QCoreApplication::notify(receiver, event);
        mergeSeconds += double(timer.nsecsElapsed()) / 1e9;
        return result;
    }
};

size_t HeapInUse()
{
    malloc_trim(0);
    return mallinfo2().uordblks;
}

void Time(const char* what, double seconds, const char* baselineName, double baselineSeconds)
{
    std::printf("  %-44s %10.1f ms   %-22s %9.1f ms   ratio %7.2fx\n", what, seconds * 1e3, baselineName,
                baselineSeconds * 1e3, seconds / baselineSeconds);
}

void Amount(const char* what, double value, const char* unit, const char* baselineName, double baseline)
{
    std::printf("  %-44s %10.1f %-5s %-22s %9.1f %-5s ratio %7.2fx\n", what, value, unit, baselineName, baseline,
                unit, value / baseline);
}

QString MakeTree(const QString& root, std::vector<std::string>& paths)
{
    static const char* const Words[] = {"Blue", "Night", "River", "Echo", "Stone", "Café", "Ёлка", "Live",
                                        "Remix", "Dawn"};
    for (int t = 0; t < TopFolders; ++t)
        for (int s = 0; s < SubFolders; ++s)
        {
            const QString folder =
                QString("%1/Artist %2 %3/Album %4 (%5)").arg(root).arg(t).arg(Words[t % 10]).arg(s).arg(2000 + s);
            QDir().mkpath(folder);
            for (int f = 0; f < FilesPerFolder; ++f)
            {
                const QString name = QString::fromUtf8("%1 - %2 %3 %4.%5")
                                         .arg(f + 1, 2, 10, QChar('0'))
                                         .arg(QString::fromUtf8(Words[f % 10]))
                                         .arg(QString::fromUtf8(Words[(f / 10 + t) % 10]))
                                         .arg(t * 1000 + s * 100 + f)
                                         .arg(f % 2 ? "flac" : "ogg");
                const QString path = folder + "/" + name;
                QFile file(path);
                if (!file.open(QIODevice::WriteOnly))
                    qFatal("cannot write %s", qPrintable(path));
                paths.push_back(path.toUtf8().toStdString());
            }
        }
    return root;
}

double FindSeconds(const QString& root)
{
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    find.start("find", {root});
    if (!find.waitForFinished(120000) || find.exitCode() != 0)
        qFatal("find failed");
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
    if (files != size_t(Files))
        qFatal("the walk found %zu files", files);
    return seconds;
}

// The same facts in plain containers: path to size, token to file numbers.
size_t PlainIndexBytes(const std::vector<std::string>& paths)
{
    const size_t before = HeapInUse();
    auto* sizes = new std::unordered_map<std::string, qint64>;
    auto* tokens = new std::unordered_map<std::string, std::vector<quint32>>;
    for (quint32 i = 0; i < paths.size(); ++i)
    {
        (*sizes)[paths[i]] = 0;
        const QString text = QString::fromStdString(paths[i]).toLower();
        int start = -1;
        for (int c = 0; c <= text.size(); ++c)
        {
            const bool separator = c == text.size() || SharedFoldersManager::IsSearchTokenSeparator(text[c]);
            if (!separator && start < 0)
                start = c;
            else if (separator && start >= 0)
            {
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
} // namespace

int main(int argc, char** argv)
{
    TimedApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no temporary folder");
    const QString root = dir.filePath("share");

    std::printf("== Shared folders: %d files in %d folders\n", Files, TopFolders * SubFolders + TopFolders + 1);
    QElapsedTimer made;
    made.start();
    std::vector<std::string> paths;
    paths.reserve(Files);
    MakeTree(root, paths);
    std::printf("  (tree made in %.1f s)\n", Seconds(made));

    // Warm the caches for both sides, then best of three each.
    FindSeconds(root);
    const double find = BestOf(Rounds, [&] { return FindSeconds(root); });
    const double walk = BestOf(Rounds, [&] { return WalkSeconds(root); });
    Time("start-up walk (FileScanner::ScanFolders)", walk, "find", find);

    DeclareSettingTypes();
    Server* server = new Server(new NoGateway);
    server->CreateData();
    PeerMessenger* peer = new PeerMessenger;
    SharedFoldersManager* manager = new SharedFoldersManager;
    app.watched = manager;
    d.GetType("shared_folder")->NewItem(Value(root));

    const size_t itemsBefore = d.ItemCount();
    const size_t heapBefore = HeapInUse();
    QElapsedTimer sinceBeat;
    double longestStall = 0;
    QTimer heartbeat;
    heartbeat.setInterval(HeartbeatMs);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, Seconds(sinceBeat));
        sinceBeat.restart();
        if (d.GetType("shared_file")->Count() == size_t(Files))
            app.quit();
    });
    QTimer::singleShot(120000, &app, [] {
        std::printf("  the merge did not finish within two minutes\n");
        QCoreApplication::exit(1);
    });
    QElapsedTimer total;
    total.start();
    sinceBeat.start();
    heartbeat.start();
    manager->Init();
    if (app.exec() != 0)
        return 1;
    heartbeat.stop();
    const double startup = Seconds(total);
    const size_t heapAfter = HeapInUse();
    const size_t items = d.ItemCount() - itemsBefore;

    Time("merge into the store (event-loop thread)", app.mergeSeconds, "find", find);
    Time("walk and merge, Init to the last file", startup, "find", find);
    Time("longest event-loop stall", longestStall, "10 ms heartbeat", HeartbeatMs / 1e3);

    const double plainBytes = double(PlainIndexBytes(paths)) / Files;
    Amount("store items per shared file", double(items) / Files, "", "one record per file", 1.0);
    Amount("store heap bytes per shared file", double(heapAfter - heapBefore) / Files, "B", "plain map and index",
           plainBytes);

    QElapsedTimer rescan;
    rescan.start();
    manager->RescanShares();
    Time("rescan of all shares (event-loop thread)", Seconds(rescan), "find", find);

    delete manager;
    delete peer;
    delete server;
    return 0;
}
