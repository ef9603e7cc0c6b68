// Answers to other users on a 100,000-file share, each figure printed with
// its ratio to a baseline measured in the same run: the search responder
// (parse, match, visibility, reply built and compressed) for a miss, a rare
// hit and a very common token against a plain linear scan of the same file
// paths; the rate of searches the event loop takes before it lags 100 ms;
// and the whole share list (message 5) built and compressed against gzip -9
// on the same uncompressed body.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>
#include <zlib.h>

#include "BenchSupport.h"
#include "Data.h"
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
const char* const Root = "/home/someone/Music";
// In three files only.
const char* const RareWord = "quixotic";

// Mean seconds per call over enough calls to fill about a fifth of a
// second, best of three such runs.
template <class F>
double PerCall(F call)
{
    double best = 1e30;
    for (int round = 0; round < 3; ++round)
    {
        QElapsedTimer timer;
        timer.start();
        long calls = 0;
        do
        {
            call();
            ++calls;
        } while (timer.nsecsElapsed() < 200000000);
        best = std::min(best, Seconds(timer) / double(calls));
    }
    return best;
}

void Row(const char* what, double seconds, const char* baselineName, double baselineSeconds)
{
    std::printf("  %-40s %11.4f ms   %-20s %10.4f ms   %9.1fx faster\n", what, seconds * 1e3, baselineName,
                baselineSeconds * 1e3, baselineSeconds / seconds);
}

// Builds the share in the store as a scan leaves it: folder and file
// items with names, sizes and tokens. Returns the files' paths in the
// case the scan stored them.
std::vector<std::string> MakeShare(SharedFoldersManager* manager)
{
    static const char* const Words[] = {"Blue",  "Night", "River", "Echo",  "Stone", "Café",  "Live", "Remix",
                                        "Dawn",  "Gold",  "Rain",  "Fire",  "Heart", "Storm", "Sea",  "Glass",
                                        "Light", "Shade", "Wind",  "Dream", "Road",  "Moon",  "Sun",  "Snow"};
    const int words = int(sizeof(Words) / sizeof(Words[0]));
    std::vector<std::string> paths;
    paths.reserve(Files);
    Type* fileType = d.GetType("shared_file");
    Type* folderType = d.GetType("shared_file_folder");
    Type* nameType = d.GetType("shared_file_name");
    Type* sizeType = d.GetType("shared_file_size");
    ItemPtr shared = d.GetType("shared_folder")->NewItem(Value(Root));
    shared.NewItem("shared_public");
    quint32 seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
    Data::Batch batch(&d);
    for (int t = 0; t < TopFolders; ++t)
        for (int s = 0; s < SubFolders; ++s)
        {
            const QString folder = QString("%1/Artist %2 %3/Album %4 (%5)")
                                       .arg(Root)
                                       .arg(t)
                                       .arg(QString::fromUtf8(Words[t % words]))
                                       .arg(s)
                                       .arg(1990 + s);
            ItemPtr folderItem = folderType->GetItem(Value(folder));
            shared += folderItem;
            for (int f = 0; f < FilesPerFolder; ++f)
            {
                const int number = (t * SubFolders + s) * FilesPerFolder + f;
                QString name = QString::fromUtf8("%1 - %2 %3 %4 %5.mp3")
                                   .arg(f + 1, 2, 10, QChar('0'))
                                   .arg(QString::fromUtf8(Words[next() % words]))
                                   .arg(QString::fromUtf8(Words[next() % words]))
                                   .arg(QString::fromUtf8(Words[next() % words]))
                                   .arg(number);
                if (number % 33331 == 7)
                    name.replace(".mp3", QString(" %1.mp3").arg(RareWord));
                ItemPtr file = fileType->NewItem();
                file += folderItem;
                file += nameType->GetItem(Value(name));
                file += sizeType->GetItem(Value(static_cast<long long>(3000000 + next() % 9000000)));
                manager->TokenizeSharedFile(file);
                paths.push_back((folder + "/" + name).toUtf8().toStdString());
            }
        }
    return paths;
}

// The plain way: every path, lower-cased once beforehand, searched for
// every word; a substring hit is then confirmed as a whole word.
class LinearScan
{
public:
    explicit LinearScan(const std::vector<std::string>& paths)
    {
        m_paths.reserve(paths.size());
        for (const std::string& path : paths)
            m_paths.push_back(QString::fromStdString(path).toLower().toUtf8().toStdString());
    }

    size_t Matches(const std::vector<std::string>& words) const
    {
        size_t found = 0;
        for (const std::string& path : m_paths)
        {
            bool all = true;
            for (const std::string& word : words)
                if (!HasWord(path, word))
                {
                    all = false;
                    break;
                }
            found += all ? 1 : 0;
        }
        return found;
    }

private:
    static bool IsWordByte(char c)
    {
        const unsigned char u = static_cast<unsigned char>(c);
        return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || u >= 128;
    }
    static bool HasWord(const std::string& path, const std::string& word)
    {
        for (size_t at = path.find(word); at != std::string::npos; at = path.find(word, at + 1))
        {
            const size_t end = at + word.size();
            if ((at == 0 || !IsWordByte(path[at - 1])) && (end == path.size() || !IsWordByte(path[end])))
                return true;
        }
        return false;
    }

    std::vector<std::string> m_paths;
};

// Searches fed at a steady rate for two seconds: every 10 ms as many as
// have fallen due since the start, so a loop that cannot keep up falls
// ever further behind. True when a 10 ms heartbeat was never more than
// 100 ms late.
bool KeepsUp(SharedFoldersManager* manager, const QStringList& texts, int perSecond)
{
    QTimer feeder, heartbeat;
    feeder.setInterval(10);
    heartbeat.setInterval(10);
    heartbeat.setTimerType(Qt::PreciseTimer);
    feeder.setTimerType(Qt::PreciseTimer);
    QElapsedTimer sinceBeat, running;
    qint64 fed = 0;
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        const qint64 due = running.nsecsElapsed() / 1000 * perSecond / 1000000;
        for (; fed < due; ++fed)
            manager->OnDirectFileSearch("searcher", quint32(fed), texts[int(fed % texts.size())]);
    });
    double worstLate = 0;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        worstLate = std::max(worstLate, Seconds(sinceBeat) - 0.010);
        sinceBeat.restart();
        if (running.elapsed() > 2000 || worstLate > 0.1)
            QCoreApplication::quit();
    });
    running.start();
    sinceBeat.start();
    heartbeat.start();
    feeder.start();
    QCoreApplication::exec();
    return worstLate <= 0.1;
}

// The highest rate, to within a tenth, at which the loop keeps up.
int SustainedRate(SharedFoldersManager* manager, const QStringList& texts)
{
    int low = 100, high = 100;
    while (KeepsUp(manager, texts, high) && high < 100000000)
    {
        low = high;
        high *= 2;
    }
    while (high - low > low / 10)
    {
        const int middle = low + (high - low) / 2;
        (KeepsUp(manager, texts, middle) ? low : high) = middle;
    }
    return low;
}

double GzipSeconds(const QString& file)
{
    double best = 1e30;
    for (int round = 0; round < 3; ++round)
    {
        QProcess gzip;
        gzip.setStandardInputFile(file);
        gzip.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        gzip.start("gzip", {"-9", "-c"});
        if (!gzip.waitForFinished(300000) || gzip.exitCode() != 0)
            qFatal("gzip failed");
        best = std::min(best, Seconds(timer));
    }
    return best;
}

QByteArray Inflate(const MemStream& message)
{
    const QByteArray bytes = message.GetBytes().mid(4);
    QByteArray plain;
    z_stream z{};
    inflateInit(&z);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    z.avail_in = uInt(bytes.size());
    char buffer[65536];
    int result = Z_OK;
    while (result == Z_OK)
    {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof(buffer);
        result = inflate(&z, Z_NO_FLUSH);
        plain.append(buffer, int(sizeof(buffer) - z.avail_out));
    }
    inflateEnd(&z);
    if (result != Z_STREAM_END)
        qFatal("the share list does not inflate");
    return plain;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    DeclareSettingTypes();
    SetSetting("username", "me");
    Server* server = new Server(new NoGateway);
    server->CreateData();
    // Peer messaging declares the audio types; it is gone before the
    // searches, so replies are built and compressed but not sent.
    PeerMessenger* peer = new PeerMessenger;
    SharedFoldersManager* manager = new SharedFoldersManager;
    delete peer;

    QElapsedTimer made;
    made.start();
    const std::vector<std::string> paths = MakeShare(manager);
    std::printf("== Search responder and share lists: %d files in %d folders (made in %.1f s)\n", Files,
                TopFolders * SubFolders, Seconds(made));
    const LinearScan scan(paths);

    struct Case
    {
        const char* name;
        QString text;
        std::vector<std::string> words;
        bool answered;
    };
    const std::vector<Case> cases = {
        {"miss", "nowhere", {"nowhere"}, false},
        {"rare hit: a word in 3 files", QString("%1 mp3").arg(RareWord), {RareWord, "mp3"}, true},
        {"rare hit: a number in 1 file", "12345 mp3", {"12345", "mp3"}, true},
        {"very common token (every file)", "music", {"music"}, true},
    };
    for (const Case& c : cases)
    {
        if (manager->ProcessSearch("searcher", 1, c.text) != c.answered)
            qFatal("\"%s\" was %s", qPrintable(c.text), c.answered ? "not answered" : "answered");
        const std::vector<std::string>& words = c.words;
        const double responder = PerCall([&] { manager->ProcessSearch("searcher", 1, c.text); });
        const double linear = PerCall([&] { scan.Matches(words); });
        std::printf("  (%s: %zu matching files)\n", c.name, scan.Matches(words));
        Row(c.name, responder, "linear scan", linear);
    }

    const int misses = SustainedRate(manager, {"nowhere", "gone away", "zzz yyy", "nothing here"});
    const int rare = SustainedRate(manager, {QString("%1 mp3").arg(RareWord), "12345 mp3", "777 album"});
    std::printf("  searches per second with the loop never 100 ms late: misses %d, rare hits %d\n", misses, rare);

    // The whole share list as one user sees it.
    MemStream message;
    const double listSeconds = PerCall([&] { message = manager->GetSharedFilesMessage("browser"); });
    const QByteArray body = Inflate(message);
    QTemporaryDir dir;
    QFile file(dir.filePath("share-list-body"));
    if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size())
        qFatal("cannot write the body");
    file.close();
    const double gzip = GzipSeconds(file.fileName());
    FileInfoMap shares;
    AttributeTranslationTable attributes;
    const double build = PerCall([&] {
        FileInfoMap fresh;
        manager->GetSharedFilesAsUserShare("browser", fresh, attributes);
        shares.swap(fresh);
    });
    std::printf("  share list: body %.1f MB, compressed %.1f MB\n", body.size() / 1e6, message.GetLength() / 1e6);
    std::printf("  %-40s %11.1f ms   %-20s %10.1f ms   ratio %6.2fx\n", "share list built and compressed",
                listSeconds * 1e3, "gzip -9 of the body", gzip * 1e3, listSeconds / gzip);
    std::printf("  %-40s %11.1f ms\n", "  of which the structure", build * 1e3);

    delete manager;
    delete server;
    return 0;
}
