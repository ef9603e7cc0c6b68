// The upload queue's ordering and slot filling with 1,000 and 10,000 queued
// uploads: peers' queue requests while every slot is taken, placing a new
// entry at the end and at the front of the line, a pass of StartNewUploads
// over the whole line, and a request that starts at once. The passes are set
// against renumbering a plain vector of the same line in the same run.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <unordered_set>
#include <vector>

#include "BenchSupport.h"
#include "Data.h"
#include "DataSaver.h"
#include "NoGateway.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "TransferQueueManager.h"
#include "UploadOrdering.h"

namespace {
const int Users = 100;
const int MaxQueued = 10000;

QString UserName(int i)
{
    return QString("user%1").arg(i);
}

// The plain counterpart of one StartNewUploads pass: the queued entries of
// online users sorted by place, renumbered from 0, each user's running
// upload looked up in a set.
struct PlainEntry
{
    qint64 place;
    int user;
    bool online;
    bool queued;
};

double PlainPass(std::vector<PlainEntry>& entries, const std::unordered_set<int>& busy, int& started)
{
    QElapsedTimer clock;
    clock.start();
    std::vector<PlainEntry*> candidates;
    candidates.reserve(entries.size());
    for (PlainEntry& e : entries)
        if (e.queued && e.online)
            candidates.push_back(&e);
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const PlainEntry* a, const PlainEntry* b) { return a->place < b->place; });
    qint64 place = 0;
    started = 0;
    for (PlainEntry* e : candidates) {
        e->place = place++;
        if (!busy.count(e->user))
            ++started;
    }
    return clock.nsecsElapsed() / 1000.0;
}

struct Bench
{
    QTemporaryDir dir;
    QStringList names;
    int queued = 0;
    int extraUsers = 0;

    QString Remote(int file) const { return names.at(file); }

    // Peers' requests until the line holds count entries; the slots are
    // taken, as on a busy client, so none of them starts.
    double Grow(int count)
    {
        QElapsedTimer clock;
        clock.start();
        const int from = queued;
        for (; queued < count; ++queued)
            transferQueueManager->OnQueueUploadRequested(UserName(queued % Users), Remote(queued));
        return clock.nsecsElapsed() / 1000.0 / (count - from);
    }

    // New entries placed by OrderNewUpload alone, one after another, then
    // taken out again.
    double Place(const QString& user, int rounds)
    {
        const ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
        double total = 0;
        ItemList added;
        for (int i = 0; i < rounds; ++i) {
            ItemPtr entry = d.GetType("upload_entry")->NewItem();
            entry.Connect(userItem);
            entry.Connect(sharedFoldersManager->GetSharedFileItem(Remote(i).replace('\\', '/')));
            entry.Connect(d.GetType("upload_entry_status")->GetItem("queued"));
            const qint64 order = GetSetting("transfer_order_counter").toLongLong();
            SetSetting("transfer_order_counter", QString::number(order + 1));
            entry.Connect(d.GetType("upload_order")->GetItem(Value(order)));
            QElapsedTimer clock;
            clock.start();
            transferQueueManager->OrderNewUpload(entry);
            total += clock.nsecsElapsed() / 1000.0;
            added.push_back(entry);
        }
        for (const ItemPtr& entry : added)
            transferQueueManager->RemoveUpload(entry);
        return total / rounds;
    }

    // Every one of the users gets one running upload and comes online; one
    // slot is left free, so each pass walks and renumbers the whole line
    // and finds nobody to start.
    void MakeUsersBusy()
    {
        const ItemPtr queuedStatus = d.GetType("upload_entry_status")->GetItem("queued");
        for (int u = 0; u < Users; ++u) {
            const ItemPtr user = d.GetType("user")->GetItem(Value(UserName(u)));
            bool running = false;
            ItemPtr first;
            for (const ItemPtr& entry : user.GetItems("upload_entry")) {
                running = running || entry["upload_entry_status"].IsConnected("is_active");
                if (!first && entry["upload_entry_status"] == queuedStatus)
                    first = entry;
            }
            if (!running && first)
                transferQueueManager->SetUploadEntryStatus(first, "requesting");
        }
        SetSetting("upload_slots", QString::number(transferQueueManager->ActiveUploadCount() + 1));
        for (int u = 0; u < Users; ++u) {
            ItemPtr user = d.GetType("user")->GetItem(Value(UserName(u)));
            if (!user.IsConnected("is_online"))
                user.NewItem("is_online");
        }
    }

    double FullPass(int rounds)
    {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < rounds; ++i)
            transferQueueManager->StartNewUploads();
        return clock.nsecsElapsed() / 1000.0 / rounds;
    }

    // A request of a new online user that finds a free slot and starts.
    double StartingRequests(int rounds)
    {
        double total = 0;
        for (int i = 0; i < rounds; ++i) {
            const QString user = QString("newcomer%1").arg(extraUsers++);
            d.GetType("user")->GetItem(Value(user)).NewItem("is_online");
            SetSetting("upload_slots", QString::number(transferQueueManager->ActiveUploadCount() + 1));
            QElapsedTimer clock;
            clock.start();
            transferQueueManager->OnQueueUploadRequested(user, Remote(i));
            total += clock.nsecsElapsed() / 1000.0;
        }
        return total / rounds;
    }

    // Takes the slots back so the next growth starts nothing.
    void FillSlots() { SetSetting("upload_slots", QString::number(transferQueueManager->ActiveUploadCount())); }
};

std::vector<PlainEntry> PlainLine(int count)
{
    std::vector<PlainEntry> entries;
    entries.reserve(count);
    // The same shape as the store's line: places already in order after
    // the first pass, every user online.
    for (int i = 0; i < count; ++i)
        entries.push_back({qint64(i), i % Users, true, true});
    return entries;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Bench bench;
    if (!bench.dir.isValid())
        return 1;

    DataSaver saver;
    DeclareSettingTypes();
    Server server(new NoGateway);
    server.CreateData();
    PeerMessenger peer;
    SharedFoldersManager shares;
    TransferQueueManager engine;

    const QString folder = bench.dir.filePath("share");
    QDir().mkpath(folder);
    for (int i = 0; i < MaxQueued; ++i) {
        const QString path = folder + QString("/file%1.bin").arg(i, 5, 10, QChar('0'));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        file.write("x");
        bench.names << QString(path).replace('/', '\\');
    }
    shares.AddSharedFolder(folder).NewItem("shared_public");
    if (!RunUntil([&] { return !shares.IsScanningNewFolder(folder); }, 60000)) {
        fprintf(stderr, "the share's scan did not end\n");
        return 1;
    }

    // One running upload takes the only slot while the line grows.
    engine.OnQueueUploadRequested("holder", bench.Remote(0));
    engine.SetUploadEntryStatus(d.GetType("user")->HasItem("holder")["upload_entry"], "requesting");

    printf("uploads: the upload line with %d users asking, files in %s\n", Users, qPrintable(bench.dir.path()));
    for (int size : {1000, MaxQueued}) {
        bench.FillSlots();
        const double request = bench.Grow(size);
        const double append = bench.Place("latecomer", 20);
        d.GetType("user")->GetItem("vip").NewItem("is_privileged");
        const double front = bench.Place("vip", 10);
        bench.MakeUsersBusy();
        bench.FullPass(1);
        const double pass = bench.FullPass(20);
        std::vector<PlainEntry> plain = PlainLine(size);
        std::unordered_set<int> busy;
        for (int u = 0; u < Users; ++u)
            busy.insert(u);
        int started = 0;
        double plainPass = 1e18;
        for (int i = 0; i < 20; ++i)
            plainPass = std::min(plainPass, PlainPass(plain, busy, started));
        const double starting = bench.StartingRequests(10);

        // Each peer's request is one event-loop call: a millisecond each
        // keeps a hundred a second from lagging; a pass over the line is
        // one stall.
        char what[96];
        snprintf(what, sizeof what, "%d queued: queue request with the slots taken", size);
        Figure(what, request, "us", "<=", 1000);
        snprintf(what, sizeof what, "%d queued: OrderNewUpload at the end", size);
        Figure(what, append, "us", "<=", 1000);
        snprintf(what, sizeof what, "%d queued: OrderNewUpload at the front", size);
        Figure(what, front, "us", "<=", 100000, "renumbers the whole line");
        snprintf(what, sizeof what, "%d queued: StartNewUploads pass over the line", size);
        Figure(what, pass, "us", "<", 100000,
               Detail("plain vector %.1f us, %.2fx", plainPass, pass / std::max(plainPass, 0.001)));
        snprintf(what, sizeof what, "%d queued: queue request that starts at once", size);
        Figure(what, starting, "us", "<=", 1000);
        if (engine.QueuedUploadCount() < size - Users) {
            fprintf(stderr, "line lost entries\n");
            return 1;
        }
    }
    // Teardown without the per-entry passes.
    d.RemoveAllItems();
    return Summary("uploads");
}
