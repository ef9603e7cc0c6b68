// Store and data-file figures, each printed with its ratio to a baseline
// measured in the same run. Ratios are store cost over baseline cost (time
// or bytes), so 1.0 is as cheap as the baseline and larger is dearer.
#include "BenchSupport.h"
#include "Data.h"
#include "DataSaver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <random>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {
const size_t StoreItems = 1000000;
const size_t Tags = 1000;
const int SharedFiles = 100000;
const int Rounds = 3;

long ResidentBytes()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * sysconf(_SC_PAGESIZE) : 0;
}

// Settles the heap so the resident size reflects what is in use.
long SettledResidentBytes()
{
    malloc_trim(0);
    return ResidentBytes();
}

void Header(const char* text)
{
    std::printf("\n== %s\n", text);
}

// Rates and times as ratios of our cost to the baseline's (larger is dearer).
void Rate(const char* what, double operations, double seconds, double baselineSeconds, double aim)
{
    Figure(what, seconds / baselineSeconds, "x", "<=", aim,
           Detail("%.0f /s against %.0f /s", operations / seconds, operations / baselineSeconds));
}

void Time(const char* what, double seconds, double baselineSeconds, double aim)
{
    Figure(what, seconds / baselineSeconds, "x", "<=", aim,
           Detail("%.1f ms against %.1f ms", seconds * 1e3, baselineSeconds * 1e3));
}

void Bytes(const char* what, double bytes, double baselineBytes, double aim)
{
    Figure(what, bytes, "B", "<=", aim, Detail("baseline %.1f B", baselineBytes));
}

std::string KeyName(size_t i)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "user-%07zu", i);
    return buffer;
}

void StoreFigures()
{
    d.Reset();
    Type* keyType = d.NewType("bench_key", 0, false, true);
    Type* tagType = d.NewType("bench_tag", 2, false, true);
    keyType->RelateToType(tagType, many, one, false);

    std::vector<std::string> names(StoreItems);
    size_t rawBytes = 0;
    for (size_t i = 0; i < StoreItems; ++i) {
        names[i] = KeyName(i);
        rawBytes += names[i].size();
    }
    std::vector<ItemPtr> keys;
    keys.reserve(StoreItems);
    std::vector<ItemPtr> tags;
    tags.reserve(Tags);
    std::mt19937 random(42);
    std::vector<size_t> order(StoreItems);
    for (size_t i = 0; i < StoreItems; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), random);

    // Memory: the resident size grows by what items and connections take.
    Header("memory, from the resident size (/proc/self/statm)");
    const long beforeItems = SettledResidentBytes();
    for (size_t i = 0; i < StoreItems; ++i)
        keys.push_back(keyType->NewItem(names[i]));
    for (size_t i = 0; i < Tags; ++i)
        tags.push_back(tagType->NewItem("tag-" + std::to_string(i)));
    const long afterItems = SettledResidentBytes();
    for (size_t i = 0; i < StoreItems; ++i)
        keys[i] += tags[i % Tags];
    const long afterConnections = SettledResidentBytes();
    std::printf("  %zu items of %zu value bytes each on average, then one connection each to %zu shared items\n",
                StoreItems, rawBytes / StoreItems, Tags);
    // What a 1 KiB budget per shared file leaves for its few items and
    // twenty-odd connections.
    Bytes("bytes per item (baseline: its value string)", double(afterItems - beforeItems) / double(StoreItems),
          double(rawBytes) / double(StoreItems), 96);
    Bytes("bytes per connection (baseline: two 8-byte refs)",
          double(afterConnections - afterItems) / double(StoreItems), 16.0, 32);

    Header("store of 1,000,000 items (baseline: std::unordered_map<std::string, std::unordered_set<const void*>>)");
    // The same graph as plain containers: one adjacency set per name.
    std::unordered_map<std::string, std::unordered_set<const void*>> adjacency;
    adjacency.reserve(StoreItems + Tags);
    std::vector<std::unordered_set<const void*>*> keySets(StoreItems), tagSets(Tags);
    for (size_t i = 0; i < StoreItems; ++i)
        keySets[i] = &adjacency[names[i]];
    for (size_t i = 0; i < Tags; ++i)
        tagSets[i] = &adjacency["tag-" + std::to_string(i)];
    for (size_t i = 0; i < StoreItems; ++i) {
        keySets[i]->insert(tagSets[i % Tags]);
        tagSets[i % Tags]->insert(keySets[i]);
    }

    const double storeConnect = BestOf(Rounds, [&] {
        QElapsedTimer timer;
        timer.start();
        for (size_t i : order)
            keys[i] -= tags[i % Tags];
        for (size_t i : order)
            keys[i] += tags[i % Tags];
        return Seconds(timer);
    });
    const double plainConnect = BestOf(Rounds, [&] {
        QElapsedTimer timer;
        timer.start();
        for (size_t i : order) {
            keySets[i]->erase(tagSets[i % Tags]);
            tagSets[i % Tags]->erase(keySets[i]);
        }
        for (size_t i : order) {
            keySets[i]->insert(tagSets[i % Tags]);
            tagSets[i % Tags]->insert(keySets[i]);
        }
        return Seconds(timer);
    });
    Rate("connect + disconnect pairs vs unordered_set", double(StoreItems), storeConnect, plainConnect, 3);

    std::unordered_map<std::string, const void*> byValue;
    byValue.reserve(StoreItems);
    for (size_t i = 0; i < StoreItems; ++i)
        byValue.emplace(names[i], keySets[i]);
    size_t found = 0;
    const double storeLookup = BestOf(Rounds, [&] {
        QElapsedTimer timer;
        timer.start();
        for (size_t i : order)
            found += keyType->HasItem(names[i]) ? 1 : 0;
        return Seconds(timer);
    });
    const double plainLookup = BestOf(Rounds, [&] {
        QElapsedTimer timer;
        timer.start();
        for (size_t i : order)
            found += byValue.find(names[i]) != byValue.end() ? 1 : 0;
        return Seconds(timer);
    });
    Rate("look-ups by value vs unordered_map", double(StoreItems), storeLookup, plainLookup, 2);
    if (found != 2 * size_t(Rounds) * StoreItems)
        std::printf("  !! look-ups found %zu of %zu\n", found, 2 * size_t(Rounds) * StoreItems);
    d.Reset();
}

const char* const Attributes[] = {"shared_file_name", "shared_file_folder", "file_size", "bitrate", "length_seconds"};

void DeclareShareTypes()
{
    d.Reset();
    Type* file = d.NewType("shared_file", 0, true, false);
    for (const char* attribute : Attributes)
        file->RelateToType(d.NewType(attribute, 2, false, true), many, one, false);
}

void FillShare()
{
    std::mt19937 random(7);
    Type* file = d.GetType("shared_file");
    Type* types[5];
    for (int i = 0; i < 5; ++i)
        types[i] = d.GetType(Attributes[i]);
    const int bitrates[] = {128, 192, 256, 320};
    for (int i = 0; i < SharedFiles; ++i) {
        ItemPtr f = file->NewItem();
        const int folder = i / 100;
        f += types[0]->NewItem(
            QString("Artist %1 - Track %2 of the album.mp3").arg(folder).arg(i % 100, 2, 10, QChar('0')));
        f += types[1]->NewItem(QString("/home/someone/Music/Artist %1/Album %2").arg(folder / 10).arg(folder));
        f += types[2]->NewItem(qint64(1000000 + random() % 9000000));
        f += types[3]->NewItem(bitrates[random() % 4]);
        f += types[4]->NewItem(int(60 + random() % 540));
    }
}

void DataFileFigures()
{
    Header("data file of a 100,000-file share (baseline: QFile write of one buffer / readAll)");
    QTemporaryDir dir;
    const QString prefix = dir.path() + "/.Quorvane";
    DataSaver saver;
    saver.AddSavedType("shared_file");
    for (const char* attribute : Attributes)
        saver.AddSavedByConnectionType(attribute, "shared_file");
    DeclareShareTypes();
    QElapsedTimer fillTimer;
    fillTimer.start();
    FillShare();
    const double fill = Seconds(fillTimer);
    const size_t items = d.ItemCount();

    QByteArray bytes;
    const double serialize = BestOf(Rounds, [&] {
        QElapsedTimer timer;
        timer.start();
        bytes = saver.Serialize();
        return Seconds(timer);
    });
    const double save = BestOf(Rounds, [&] {
        QElapsedTimer timer;
        timer.start();
        saver.Save(prefix);
        return Seconds(timer);
    });
    const QString plainPath = dir.path() + "/plain";
    auto plainWrite = [&](bool sync) {
        return BestOf(Rounds, [&] {
            QElapsedTimer timer;
            timer.start();
            QFile out(plainPath);
            out.open(QIODevice::WriteOnly | QIODevice::Truncate);
            out.write(bytes);
            out.flush();
            if (sync)
                fsync(out.handle());
            out.close();
            return Seconds(timer);
        });
    };
    const double write = plainWrite(false);
    const double writeSynced = plainWrite(true);
    std::printf("  %zu items, %.1f MB\n", items, bytes.size() / 1e6);
    Time("Save vs plain write", save, write, 5);
    Time("  of which Serialize vs plain write", serialize, write, 3);
    Time("Save vs plain write with fsync", save, writeSynced, 5);

    const double read = BestOf(Rounds, [&] {
        QElapsedTimer timer;
        timer.start();
        QFile in(plainPath);
        in.open(QIODevice::ReadOnly);
        const QByteArray back = in.readAll();
        const double s = Seconds(timer);
        if (back.size() != bytes.size())
            std::printf("  !! read %d of %d bytes\n", back.size(), bytes.size());
        return s;
    });
    size_t loadedFiles = 0;
    const double load = BestOf(Rounds, [&] {
        DeclareShareTypes();
        QElapsedTimer timer;
        timer.start();
        saver.Load(prefix);
        const double s = Seconds(timer);
        loadedFiles = d.GetType("shared_file")->Count();
        return s;
    });
    const double apply = BestOf(Rounds, [&] {
        DeclareShareTypes();
        QElapsedTimer timer;
        timer.start();
        saver.Apply(bytes);
        return Seconds(timer);
    });
    Time("Load vs plain read", load, read, 25);
    Time("  of which Apply (parse and build) vs plain read", apply, read, 25);
    Time("Load vs the same store built by NewItem and +=", load, fill, 1);
    if (loadedFiles != size_t(SharedFiles) || d.ItemCount() != items)
        std::printf("  !! loaded %zu files and %zu items\n", loadedFiles, d.ItemCount());
    d.Reset();
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QElapsedTimer total;
    total.start();
    // "store" or "file" runs one half, for profiling.
    const QString only = argc > 1 ? QString(argv[1]) : QString();
    if (only != "file")
        StoreFigures();
    if (only != "store")
        DataFileFigures();
    std::printf("\ntotal %.1f s\n", Seconds(total));
    return Summary("store");
}
