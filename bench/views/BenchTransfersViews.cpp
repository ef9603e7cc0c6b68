// The transfers page with large download queues: building the downloads
// tree when the engine reports its stored downloads (1,000, 5,000 and 20,000
// of them, for one user and folder, 100 users, 1,000 folders), then, with
// 10,000 downloads under one user, one status change, one progress report,
// and 20 running downloads reporting every 500 ms. Each figure stands
// beside a baseline doing the same visible work in the same run: plain tree
// rows with the same texts, and the same sums over a plain vector. The page
// is shown (offscreen), and the event loop's work after each step (layout
// and painting) counts into the step's stall.

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "DataSaver.h"
#include "GeneralFunctions.h"
#include "NoGateway.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "TabWidget.h"
#include "TransferQueueManager.h"
#include "transfers/TransfersForm.h"

namespace {

const double StallAimMs = 100.0;

double Ms(const QElapsedTimer& clock)
{
    return clock.nsecsElapsed() / 1e6;
}

// Runs the event loop until nothing is left to do; the milliseconds it
// took are the event loop's share of a step.
double Settle()
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    return Ms(clock);
}

// Runs a step and the event loop until the downloads tree has rows for
// all entries and nothing is left to do: the whole time, and the longest
// single turn of the event loop (the step itself counts as one).
void Turns(double& total, double& longest, int rows, const std::function<void()>& step)
{
    QElapsedTimer clock;
    clock.start();
    step();
    longest = Ms(clock);
    Type* nodes = d.GetType("download_list_node");
    for (int idle = 0; idle < 5 && clock.elapsed() < 60000;) {
        QElapsedTimer turn;
        turn.start();
        QCoreApplication::processEvents();
        longest = std::max(longest, Ms(turn));
        if (int(nodes->Count()) >= rows)
            ++idle;
    }
    total = Ms(clock);
}

const char* Verdict(bool met)
{
    return met ? "MET" : "MISSED";
}

// The program around the page, made afresh for every case: the store, the
// engine, and a window with the toolbar and the page.
struct World
{
    std::unique_ptr<DataSaver> saver;
    std::unique_ptr<Server> server;
    std::unique_ptr<PeerMessenger> peer;
    std::unique_ptr<SharedFoldersManager> shares;
    std::unique_ptr<TransferQueueManager> engine;
    QMainWindow* window = nullptr;
    TransfersForm* page = nullptr;

    explicit World(const QString& folder)
    {
        d.Reset();
        saver.reset(new DataSaver);
        DeclareSettingTypes();
        server.reset(new Server(new NoGateway));
        server->CreateData();
        // Not listening and not logged in: nothing leaves the process.
        peer.reset(new PeerMessenger);
        SetSetting("color_transfer_queued", "#3366ff");
        SetSetting("color_transfer_complete", "#006400");
        SetSetting("color_transfer_in_progress", "#0000ff");
        window = new QMainWindow;
        auto* bar = new ActionSetToolBar(window);
        window->addToolBar(bar);
        bar->Init();
        auto* tabs = new TabWidget(window);
        window->setCentralWidget(tabs);
        page = new TransfersForm;
        tabs->addTab(page, "Transfers");
        shares.reset(new SharedFoldersManager);
        engine.reset(new TransferQueueManager);
        SetSetting("download_folder", folder);
        page->Init();
        window->resize(1000, 700);
        window->show();
        Settle();
    }

    ~World()
    {
        // As the program ends: the engine first, then the page.
        engine.reset();
        shares.reset();
        peer.reset();
        delete window;
        server.reset();
        saver.reset();
        d.Reset();
    }
};

struct Shape
{
    const char* name;
    int users;
    int folders; // per user
};

QString UserName(int i)
{
    return QString("user%1").arg(i, 4, 10, QChar('0'));
}

std::string FolderName(int i)
{
    return "music\\artist" + std::to_string(i) + "\\album";
}

// The same rows as plain tree items: user, folder and file rows with the
// texts the page writes, expanded, coloured.
double PlainBuild(QTreeWidget* tree, const Shape& shape, int entries)
{
    tree->clear();
    QElapsedTimer clock;
    clock.start();
    const int perFolder = std::max(1, entries / (shape.users * shape.folders));
    const QBrush brush(QColor("#3366ff"));
    int made = 0;
    for (int u = 0; u < shape.users && made < entries; ++u) {
        auto* user = new QTreeWidgetItem(tree);
        user->setText(0, UserName(u));
        user->setExpanded(true);
        for (int f = 0; f < shape.folders && made < entries; ++f) {
            auto* folder = new QTreeWidgetItem(user);
            folder->setText(1, ReversePathname(ToQString(FolderName(f))));
            folder->setExpanded(true);
            for (int i = 0; i < perFolder && made < entries; ++i, ++made) {
                auto* file = new QTreeWidgetItem(folder);
                file->setText(2, QString("track%1.mp3").arg(i));
                file->setText(7, CommafyNumber(5000000));
                file->setText(3, "queued");
                for (int c = 0; c < 9; ++c)
                    file->setForeground(c, brush);
            }
        }
    }
    return Ms(clock) + Settle();
}

void AddEntries(TransferQueueManager& engine, const Shape& shape, int entries)
{
    const int perFolder = std::max(1, entries / (shape.users * shape.folders));
    int made = 0;
    for (int u = 0; u < shape.users && made < entries; ++u)
        for (int f = 0; f < shape.folders && made < entries; ++f)
            for (int i = 0; i < perFolder && made < entries; ++i, ++made)
                engine.AddDownload(UserName(u), "track" + std::to_string(i) + ".mp3", FolderName(f), 5000000, false,
                                   1);
}

// Live counters as a running download's worker publishes them.
void MakeRunning(TransferQueueManager& engine, ItemPtr entry, qint64 position, qint32 speed)
{
    engine.SetDownloadEntryStatus(entry, "downloading");
    entry.Connect(d.GetType("write_position")->GetItem(Value(new TransferCounter64(position))));
    entry.Connect(d.GetType("bytes_per_second")->GetItem(Value(new TransferCounter32(speed))));
}

struct PlainEntry
{
    int status; // 0 downloading, 1 queued, 2 complete
    qint64 position;
    qint64 size;
};

// The sums and the state of 10,000 entries, as plainly as they can be had.
double PlainSums(const std::vector<PlainEntry>& entries, qint64& done)
{
    QElapsedTimer clock;
    clock.start();
    qint64 total = 0, remaining = 0;
    int counts[3] = {};
    done = 0;
    for (const PlainEntry& e : entries) {
        ++counts[e.status];
        if (e.status == 2) {
            done += e.size;
        } else {
            done += e.position;
            remaining += e.size - e.position;
        }
        total += e.size;
    }
    done += remaining + total + counts[0];
    return Ms(clock);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString folder = dir.filePath("downloads");

    printf("views_transfers: the downloads tree at start-up; aim: linear build, no event-loop stall over %.0f ms\n",
           StallAimMs);
    printf("  %-24s %7s %12s %12s %8s %10s %8s\n", "shape", "entries", "page ms", "plain ms", "ratio",
           "us/entry", "stall");
    const Shape shapes[] = {{"one user, one folder", 1, 1}, {"100 users", 100, 1}, {"one user, 1,000 folders", 1, 1000}};
    const int sizes[] = {1000, 5000, 20000};
    bool linear = true;
    bool noStall = true;
    for (const Shape& shape : shapes) {
        double firstPerEntry = 0;
        for (int size : sizes) {
            World world(folder);
            AddEntries(*world.engine, shape, size);
            double page = 0, stall = 0;
            Turns(page, stall, size, [&] { emit world.engine->TransfersLoaded(); });
            QTreeWidget plainTree;
            plainTree.setColumnCount(9);
            plainTree.resize(1000, 600);
            plainTree.show();
            const double plain = PlainBuild(&plainTree, shape, size);
            const double perEntry = page * 1000 / size;
            if (size == sizes[0])
                firstPerEntry = perEntry;
            // Linear: per entry no more than twice what it was at 1,000.
            linear = linear && perEntry <= 2 * firstPerEntry;
            noStall = noStall && stall <= StallAimMs;
            printf("  %-24s %7d %12.1f %12.1f %8.2f %10.1f %8.1f\n", shape.name, size, page, plain, page / plain,
                   perEntry, stall);
        }
    }
    printf("  linear build (per entry at most twice the 1,000-entry cost): %s\n", Verdict(linear));
    printf("  longest stall at most %.0f ms: %s\n", StallAimMs, Verdict(noStall));

    // 10,000 downloads of one user in 100 folders, 20 of them running.
    printf("views_transfers: 10,000 downloads under one user (100 folders); aim: no stall over %.0f ms\n",
           StallAimMs);
    World world(folder);
    const Shape wide = {"", 1, 100};
    AddEntries(*world.engine, wide, 10000);
    double built = 0, builtStall = 0;
    Turns(built, builtStall, 10000, [&] { emit world.engine->TransfersLoaded(); });
    const ItemList entries = d.GetType("download_entry")->GetItems().List();
    std::vector<ItemPtr> running;
    for (int i = 0; i < 20; ++i) {
        running.push_back(entries[size_t(i * 500)]);
        MakeRunning(*world.engine, running.back(), 1000000, 200000);
    }
    Settle();
    std::vector<PlainEntry> plain(10000, PlainEntry{1, 0, 5000000});
    for (int i = 0; i < 20; ++i)
        plain[size_t(i * 500)] = PlainEntry{0, 1000000, 5000000};
    qint64 sink = 0;
    const double plainSum = std::max(0.001, PlainSums(plain, sink));

    // One status change: the file row, its folder's and its user's state.
    const ItemPtr changing = entries[5];
    double change = 0;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer clock;
        clock.start();
        world.engine->SetDownloadEntryStatus(changing, round % 2 ? "queued" : "denied");
        change = std::max(change, Ms(clock) + Settle());
    }
    printf("  one status change:       %8.2f ms  (plain scan %.3f ms, ratio %.0f)  %s\n", change, plainSum,
           change / plainSum, Verdict(change <= StallAimMs));

    // One progress report, the user row closed so that it sums too.
    QTreeWidget* tree = world.page->findChild<QTreeWidget*>("downloadsList");
    tree->topLevelItem(0)->setExpanded(false);
    Settle();
    double report = 0;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer clock;
        clock.start();
        world.page->OnDownloadProgress(running[size_t(round)]);
        report = std::max(report, Ms(clock) + Settle());
    }
    printf("  one progress report:     %8.2f ms  (plain sums %.3f ms, ratio %.0f)  %s\n", report, plainSum,
           report / plainSum, Verdict(report <= StallAimMs));

    // 20 running downloads, each reporting once in a 500 ms window: the
    // page's share of that window, and its longest report.
    double window = 0, longest = 0;
    for (int round = 0; round < 3; ++round) {
        double spent = 0;
        for (const ItemPtr& entry : running) {
            entry["write_position"].AsObject<TransferCounter64>()->fetch_add(100000);
            QElapsedTimer clock;
            clock.start();
            emit world.engine->DownloadProgressed(entry);
            const double one = Ms(clock) + Settle();
            longest = std::max(longest, one);
            spent += one;
        }
        window = std::max(window, spent);
    }
    printf("  20 reports per 500 ms:   %8.2f ms  (%.1f%% of the window; plain %.3f ms; longest %.2f ms)  %s\n",
           window, window * 100 / 500, plainSum * 20, longest, Verdict(longest <= StallAimMs && window < 250));
    return sink == 42 ? 2 : 0;
}
