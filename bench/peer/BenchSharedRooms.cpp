// The rooms all peers share, our answers waiting to be written and long
// messages being read, against names that hog them, and what an honest
// peer still gets meanwhile. Hogs of three kinds at work together, each
// name at an address of its own, on a thread of their own as programs of
// their own, opening again whenever the client closes them:
// - names that never read (4 KiB windows): each asks for our user
//   information (a 9 MB picture, of which the system takes a part at
//   once, the rest counting in the room) and for a queue place with a
//   path that fills what one peer may leave unread, and sends a 4-byte
//   question every 2 s;
// - names that declare a 10 MB share list and send 1.06 MB of it;
// - a distributed-search parent passing searches down under 80 made-up
//   names that nobody can reach (the call the network manager makes for
//   each search it is passed, 40 a second, each matching 4,000 files).
// Figures, each with its aim and the same at rest beside it:
// - an honest peer asking for our user information, our share list and a
//   transfer (back to back): each answer within 30 s;
// - our browse of the honest peer's 5 MB share list: within 60 s;
// - what the rooms held at most, and the resident growth;
// - the longest event-loop stall.
// Then 20 honest peers reading at 1 MB/s each asking for our user
// information at once: all answered, within a few times one alone.
// Then honest browsers of our share grown to 400,000 files (a list larger
// than the system takes in at once for a connection), each at an address of
// its own and reading through a socket with the system's default buffers:
// - three alone at 12, 15 and 18 KiB/s: all have the list whole;
// - 12 at 100 KiB/s and two at 20 and 40 KiB/s asking at once: all have it
//   whole;
// - a storm of 24 at 100 KiB/s and one at 30 asking at once while another
//   peer searches us every 2 s and asks for our user information and a
//   folder's contents at 5, 20 and 40 s: no search reply dropped, each
//   answer within 2 s, every list whole, no event-loop stall over 100 ms.
// The slow readers read slowly for two minutes, then at 100 KiB/s.
// Last, the shares changed so that the list is built anew: 16 names that
// ask for our share list and 16 that ask for our user information, none
// reading and each asking again when closed, then ten honest browsers at
// 100 KiB/s: each has its first byte within 30 s of asking.
// Every socket is on 127.0.0.0/8 and every wait has a deadline.
#include <QApplication>
#include <QDateTime>
#include <QHash>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <vector>

#include "BenchSupport.h"
#include "Data.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "PeerConnection.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "StallProbe.h"
#include "UsersPageClient.h"

namespace {
const int PictureBytes = 9 * 1000 * 1000;
const int Hogs = 16;
const int MadeUpNames = 80;
const int SearchesPerSecond = 40;
const int ReceiveBuffer = 4096;
const quint32 DeclaredList = 10 * 1000 * 1000;
const int SentOfList = 1060 * 1000;
const int FillingPath = 4 * 1000 * 1000;
const int RefreshMs = 2000;
const int Folders = 200;
const int FilesPerFolder = 500;
const int HonestListFiles = 120000;
const char* const Root = "/home/someone/Music";
const double AnswerAim = 30;
const double BrowseAim = 60;
const double GrowthMargin = 50;
const int Readers = 20;
const int ReaderBytesPerSecond = 1000 * 1000;
const double ReadersAim = 3;
const int KiB = 1024;
// Our share for the browsers: 400,000 files in all.
const int BrowsedFolders = 800;
const int BrowserPace = 100 * KiB;
const int SlowPhaseMs = 120000;
const int StormBrowsers = 24;
const double ProbeAim = 2;
const int CrowdBrowsers = 10;
const double FirstByteAim = 30;
// The longest the peers' threads run.
const int RunLimitMs = 600000;
const char* const Words[] = {"amber",   "brook",   "cedar", "delta",  "ember",  "fable",  "grove",  "harbor", "iris",
                             "juniper", "kestrel", "lumen", "meadow", "nectar", "orchid", "pebble", "quartz", "raven",
                             "sable",   "thistle", "umber", "violet", "willow", "zephyr", "glass"};

// Our folder f, and as peers name it.
QString LocalFolder(int f)
{
    return QString("%1/Band %2/Album %3").arg(Root).arg(f / 10).arg(f);
}

QString RemoteFolder(int f)
{
    return LocalFolder(f).replace('/', '\\');
}

QHostAddress Address(int group, int i)
{
    return QHostAddress(quint32(0x7F000000 | (group << 16) | (i + 1)));
}

QByteArray Greeting(const QString& name)
{
    return FakeWire::Frame(FakeWire().U8(1).Str(name).Str("P").U32(1).Bytes());
}

// A socket bound to an address of its own, its window settled before it
// connects when asked.
QTcpSocket* Socket(const QHostAddress& address, int receiveBuffer)
{
    auto* socket = new QTcpSocket;
    if (!socket->bind(address, 0, QAbstractSocket::DontShareAddress)) {
        delete socket;
        return nullptr;
    }
    if (receiveBuffer > 0)
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBuffer);
    return socket;
}

// How much of the one frame a reader waits for has come.
struct FrameProgress
{
    QByteArray head;
    qint64 received = 0;
    qint64 expected = -1;

    // Counts bytes read; true once the frame is whole.
    bool Add(const QByteArray& bytes)
    {
        if (head.size() < 4)
            head += bytes.left(4 - head.size());
        received += bytes.size();
        quint32 length = 0;
        if (expected < 0 && head.size() == 4 && FakeWire(head).ReadU32(length))
            expected = 4 + qint64(length);
        return Whole();
    }
    bool Whole() const { return expected >= 0 && received >= expected; }
};

// The kinds of hogging names.
enum class Hog
{
    // Asks for our user information and a queue place with a filling path,
    // and again for the information every RefreshMs; never reads.
    Silent,
    // Declares a long share list and sends part of it; reads.
    Hoarding,
    // Asks once for our share list; never reads.
    MuteBrowser,
    // Asks once for our user information; never reads.
    MuteAsker,
};

// Hogging names of the given kinds, Hogs of each, each at an address of its
// own and opening again a moment after the client closes it; on a thread of
// their own.
class HogCrowd
{
public:
    explicit HogCrowd(std::vector<Hog> kinds) : m_kinds(std::move(kinds)) {}

    std::atomic<int> opened{0};
    std::atomic<int> failed{0};
    std::atomic<bool> stop{false};

    void Run(quint16 port)
    {
        m_port = port;
        for (int i = 0; i < Hogs; ++i)
            for (Hog kind : m_kinds)
                Open(kind, i);
        QTimer refresh;
        QObject::connect(&refresh, &QTimer::timeout, [this] {
            for (auto open = m_open.begin(); open != m_open.end(); ++open)
                if (open.value() == Hog::Silent && open.key()->state() == QAbstractSocket::ConnectedState)
                    open.key()->write(FakeWire::Message(PeerMessages::UserInfoRequest, {}));
        });
        refresh.start(RefreshMs);
        RunUntil([this] { return stop.load(); }, RunLimitMs);
        for (QTcpSocket* socket : m_open.keys()) {
            socket->disconnect();
            socket->abort();
            delete socket;
        }
    }

private:
    static QByteArray Opening(Hog kind, const QString& name)
    {
        switch (kind) {
        case Hog::Silent:
            return Greeting(name) + FakeWire::Message(PeerMessages::UserInfoRequest, {}) +
                   FakeWire::Message(PeerMessages::QueueUpload,
                                     FakeWire().StrBytes(QByteArray(FillingPath, 'q')).Bytes());
        case Hog::Hoarding:
            return Greeting(name) + FakeWire().U32(DeclaredList).U32(PeerMessages::SharedFileList).Bytes() +
                   QByteArray(SentOfList - 8, 'h');
        case Hog::MuteBrowser:
            return Greeting(name) + FakeWire::Message(PeerMessages::SharedFileListRequest, {});
        case Hog::MuteAsker:
            return Greeting(name) + FakeWire::Message(PeerMessages::UserInfoRequest, {});
        }
        return {};
    }

    void Open(Hog kind, int i)
    {
        const bool reads = kind == Hog::Hoarding;
        // Address groups no other peers of the run use.
        const int groups[] = {3, 4, 10, 11};
        QTcpSocket* socket = Socket(Address(groups[int(kind)], i), reads ? 0 : ReceiveBuffer);
        if (!socket) {
            ++failed;
            return;
        }
        m_open.insert(socket, kind);
        // A name that never reads takes nothing from its system; one that
        // hoards reads, which is how it learns it was closed.
        if (!reads)
            socket->setReadBufferSize(1);
        const char* const names[] = {"silent%1", "hoard%1", "mute-browser%1", "mute-asker%1"};
        const QString name = QString(names[int(kind)]).arg(i);
        QObject::connect(socket, &QTcpSocket::connected, [this, socket, kind, name] {
            ++opened;
            socket->write(Opening(kind, name));
        });
        // A name that reads nothing leaves what it was sent in its socket,
        // which holds a byte: reading even that would take a byte at a time.
        if (reads)
            QObject::connect(socket, &QTcpSocket::readyRead, [socket] { socket->readAll(); });
        // Closed (a write of the 4-byte question tells one that never
        // reads): it comes back a moment later.
        QObject::connect(socket, &QTcpSocket::disconnected, [this, socket, kind, i] { Again(socket, kind, i); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, [this, socket, kind, i] { Again(socket, kind, i); });
        socket->connectToHost(QHostAddress::LocalHost, m_port);
    }

    void Again(QTcpSocket* socket, Hog kind, int i)
    {
        if (!m_open.remove(socket))
            return;
        socket->disconnect();
        socket->deleteLater();
        QTimer::singleShot(500, [this, kind, i] {
            if (!stop)
                Open(kind, i);
        });
    }

    std::vector<Hog> m_kinds;
    quint16 m_port = 0;
    QHash<QTcpSocket*, Hog> m_open;
};

// Peers reading at a set pace, each asking once for our user information,
// on a thread of their own; a reader counts when its answer is whole.
class PacedReaders
{
public:
    std::atomic<int> answered{0};
    std::atomic<int> failed{0};
    std::atomic<bool> stop{false};

    void Run(quint16 port, int count, int first)
    {
        struct Reader
        {
            QTcpSocket* socket;
            FrameProgress answer;
        };
        std::vector<Reader> readers;
        for (int i = 0; i < count; ++i) {
            // A window of its own, so that its pace is what the client sees.
            QTcpSocket* socket = Socket(Address(5, first + i), 256 * 1024);
            if (!socket) {
                ++failed;
                continue;
            }
            socket->setReadBufferSize(64 * 1024);
            const QString name = QString("reader%1").arg(first + i);
            QObject::connect(socket, &QTcpSocket::connected, [socket, name] {
                socket->write(Greeting(name) + FakeWire::Message(PeerMessages::UserInfoRequest, {}));
            });
            QObject::connect(socket, &QTcpSocket::errorOccurred, [this] { ++failed; });
            socket->connectToHost(QHostAddress::LocalHost, port);
            readers.push_back(Reader{socket, FrameProgress()});
        }
        const int tickMs = 10;
        QTimer pace;
        QObject::connect(&pace, &QTimer::timeout, [&] {
            for (Reader& reader : readers)
                if (!reader.answer.Whole() &&
                    reader.answer.Add(reader.socket->read(ReaderBytesPerSecond / (1000 / tickMs))))
                    ++answered;
        });
        pace.start(tickMs);
        RunUntil([this] { return stop.load(); }, RunLimitMs);
        for (Reader& reader : readers) {
            reader.socket->abort();
            delete reader.socket;
        }
    }
};

// Browsers each asking once for our share list and reading it at a pace of
// their own, on a thread of their own; after slowMs every one reads at
// BrowserPace. A browser is whole once its list's last byte came, cut when
// the client closed it before.
class Browsers
{
public:
    std::atomic<int> whole{0};
    std::atomic<int> cut{0};
    std::atomic<int> failed{0};
    // Browsers that had a first byte of their list, and the longest any
    // waited for it after asking.
    std::atomic<int> started{0};
    std::atomic<qint64> slowestFirstMs{0};
    std::atomic<bool> stop{false};

    void Run(quint16 port, int group, const std::vector<int>& paces, int slowMs)
    {
        struct Reader
        {
            QTcpSocket* socket;
            int pace;
            FrameProgress list;
            double owed = 0;
            bool over = false;
            qint64 askedAt = -1;
        };
        QElapsedTimer clock;
        clock.start();
        std::deque<Reader> readers;
        for (int i = 0; i < int(paces.size()); ++i) {
            QTcpSocket* socket = Socket(Address(group, i), 0);
            if (!socket) {
                ++failed;
                continue;
            }
            // A program reading at its pace holds what it has not read in
            // a buffer of its own size; the system holds the rest.
            socket->setReadBufferSize(64 * KiB);
            readers.push_back(Reader{socket, paces[i], FrameProgress(), 0, false});
            Reader* reader = &readers.back();
            const QString name = QString("browser%1-%2").arg(group).arg(i);
            QObject::connect(socket, &QTcpSocket::connected, [socket, name, reader, &clock] {
                reader->askedAt = clock.elapsed();
                socket->write(Greeting(name) + FakeWire::Message(PeerMessages::SharedFileListRequest, {}));
            });
            auto closed = [this, reader] {
                if (!reader->over)
                    ++cut;
                reader->over = true;
            };
            QObject::connect(socket, &QTcpSocket::disconnected, closed);
            QObject::connect(socket, &QTcpSocket::errorOccurred, closed);
            socket->connectToHost(QHostAddress::LocalHost, port);
        }
        qint64 last = 0;
        QTimer pace;
        QObject::connect(&pace, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            const qint64 elapsed = now - last;
            last = now;
            for (Reader& reader : readers) {
                if (reader.over)
                    continue;
                // Its pace kept over time, at most a second's worth behind.
                const double rate = now < slowMs ? reader.pace : BrowserPace;
                reader.owed = std::min(reader.owed + rate * elapsed / 1000, rate);
                const QByteArray bytes = reader.socket->read(qint64(reader.owed));
                reader.owed -= bytes.size();
                if (reader.list.received == 0 && !bytes.isEmpty()) {
                    ++started;
                    slowestFirstMs = std::max<qint64>(slowestFirstMs, now - reader.askedAt);
                }
                if (reader.list.Add(bytes)) {
                    reader.over = true;
                    ++whole;
                }
            }
        });
        pace.start(10);
        RunUntil([this] { return stop.load(); }, RunLimitMs * 2);
        for (Reader& reader : readers) {
            reader.socket->disconnect();
            reader.socket->abort();
            delete reader.socket;
        }
    }
};

struct Asked
{
    double info = -1;
    double list = -1;
    double transfer = -1;
    bool Done() const { return info >= 0 && list >= 0 && transfer >= 0; }
};

class Bench
{
public:
    bool Start()
    {
        if (!m_client.Start(PictureBytes))
            return false;
        // Time passes as it does for the program, and so does its tick.
        m_fixture.net.peer->SetClock([] { return QDateTime::currentMSecsSinceEpoch(); });
        m_tick.start(30000);
        QObject::connect(&m_tick, &QTimer::timeout, [this] { m_fixture.Tick(); });
        // The program logs nothing unless asked to.
        SetSetting("show_diagnostics", "no");
        MakeShare();
        m_honest = m_fixture.LinkedPeer("honest");
        if (!m_honest)
            return false;
        // Random names: about 5 MB compressed.
        m_honestList = FakeWire::Message(PeerMessages::SharedFileList,
                                         FakeWire::RandomShareList("Shared\\Everything", HonestListFiles, 32, 9));
        // The honest peer answers our share-list request as a client does.
        QObject::connect(m_honest, &FakePeerLink::Received, [this] {
            for (; m_seen < m_honest->messages.size(); ++m_seen)
                if (m_honest->messages[m_seen].first == PeerMessages::SharedFileListRequest)
                    m_honest->SendRaw(m_honestList);
        });
        QObject::connect(m_fixture.net.peer, &PeerMessenger::UserShare, [this](QString user) {
            if (user == "honest" && m_browse < 0)
                m_browse = Seconds(m_clock);
        });
        return true;
    }

    qint64 HonestListBytes() const { return m_honestList.size(); }
    qint64 OurListBytes() const
    {
        const QList<QByteArray> lists = PeerEngineFixture::Received(m_honest, PeerMessages::SharedFileList);
        return lists.isEmpty() ? 0 : lists.last().size();
    }

    // The honest peer asks three questions back to back.
    Asked Ask()
    {
        Asked asked;
        const int info = Count(PeerMessages::UserInfoReply);
        const int list = Count(PeerMessages::SharedFileList);
        const int transfer = Count(PeerMessages::TransferResponse);
        const QMetaObject::Connection answers = QObject::connect(m_honest, &FakePeerLink::Received, [&] {
            if (asked.info < 0 && Count(PeerMessages::UserInfoReply) > info)
                asked.info = Seconds(m_clock);
            if (asked.list < 0 && Count(PeerMessages::SharedFileList) > list)
                asked.list = Seconds(m_clock);
            if (asked.transfer < 0 && Count(PeerMessages::TransferResponse) > transfer)
                asked.transfer = Seconds(m_clock);
        });
        m_clock.start();
        m_honest->SendRaw(
            FakeWire::Message(PeerMessages::UserInfoRequest, {}) +
            FakeWire::Message(PeerMessages::SharedFileListRequest, {}) +
            FakeWire::Message(PeerMessages::TransferRequest,
                              FakeWire().U32(1).U32(m_token++).Str("Music\\offered.mp3").U64(4000000).Bytes()));
        RunUntil([&] { return asked.Done(); }, 120000);
        QObject::disconnect(answers);
        return asked;
    }

    // Seconds until the honest peer's share list, asked for, is ours; -1
    // if not within the deadline.
    double Browse()
    {
        m_browse = -1;
        m_clock.start();
        m_fixture.net.peer->GetUserSharedFiles("honest");
        RunUntil([&] { return m_browse >= 0; }, 120000);
        return m_browse;
    }

    // A search passed down under one of the made-up names.
    void PassSearchDown()
    {
        m_fixture.shares->OnDNetSearchRequest(QString("nobody%1").arg(m_searches % MadeUpNames), m_searches + 1,
                                              "glass");
        ++m_searches;
    }

    PeerMessenger* Messenger() const { return m_fixture.net.peer; }
    int Searches() const { return m_searches; }
    SharedFoldersManager* Shares() const { return m_fixture.shares; }
    // Another honest peer, from an address of its own; null if it failed.
    FakePeerLink* NewPeer(const QString& name, const QHostAddress& from) { return m_fixture.LinkedPeer(name, from); }

    // Our share grows to folders of FilesPerFolder files.
    void GrowShare(int folders) { MakeShare(Folders, folders); }

private:
    int Count(quint32 code) const { return PeerEngineFixture::Received(m_honest, code).size(); }

    void MakeShare(int from = 0, int to = Folders)
    {
        SharedFoldersManager* manager = m_fixture.shares;
        Type* fileType = d.GetType("shared_file");
        Type* folderType = d.GetType("shared_file_folder");
        Type* nameType = d.GetType("shared_file_name");
        Type* sizeType = d.GetType("shared_file_size");
        ItemPtr shared = d.GetType("shared_folder")->GetItem(Value(QString(Root)));
        if (from == 0)
            shared.NewItem("shared_public");
        const int words = int(sizeof(Words) / sizeof(Words[0]));
        Data::Batch batch(&d);
        for (int f = from; f < to; ++f) {
            ItemPtr folder = folderType->GetItem(Value(LocalFolder(f)));
            shared += folder;
            for (int i = 0; i < FilesPerFolder; ++i) {
                const int number = f * FilesPerFolder + i;
                ItemPtr file = fileType->NewItem();
                file += folder;
                // Past the first folders each name carries a code of its
                // own, as names of shares of that size do: the list is then
                // larger than the system takes in at once.
                QRandomGenerator random{quint32(number)};
                const QString code =
                    f < Folders ? QString()
                                : QString(" %1%2").arg(random.generate64(), 0, 36).arg(random.generate(), 0, 36);
                file += nameType->GetItem(Value(QString("%1 %2 take %3%4.mp3")
                                                    .arg(i + 1, 3, 10, QChar('0'))
                                                    .arg(Words[number % words])
                                                    .arg(number)
                                                    .arg(code)));
                file += sizeType->GetItem(Value(static_cast<long long>(3000000 + number)));
                manager->TokenizeSharedFile(file);
            }
        }
    }

    UsersPageClient m_client;
    ViewFixture& m_fixture = m_client.fixture;
    QTimer m_tick;
    FakePeerLink* m_honest = nullptr;
    QByteArray m_honestList;
    int m_seen = 0;
    double m_browse = -1;
    QElapsedTimer m_clock;
    quint32 m_token = 100;
    int m_searches = 0;
};

// Seconds until count paced readers all have their answer; -1 if not all
// did within the deadline. answered tells how many did.
// How many of the browsers at those paces, at addresses of group, had the
// whole list and how many were cut (deadline: 15 minutes).
std::pair<int, int> BrowsersServed(quint16 port, int group, const std::vector<int>& paces,
                                   const std::function<void()>& meanwhile = {})
{
    Browsers browsers;
    QThread* thread = QThread::create([&] { browsers.Run(port, group, paces, SlowPhaseMs); });
    thread->start();
    if (meanwhile)
        meanwhile();
    RunUntil([&] { return browsers.whole + browsers.cut + browsers.failed == int(paces.size()); }, 900000);
    browsers.stop = true;
    thread->wait();
    delete thread;
    return {browsers.failed > 0 ? 0 : int(browsers.whole), int(browsers.cut)};
}

double ReadersAnswered(quint16 port, int count, int first, int& answered)
{
    PacedReaders readers;
    QElapsedTimer clock;
    clock.start();
    QThread* thread = QThread::create([&] { readers.Run(port, count, first); });
    thread->start();
    const bool all =
        RunUntil([&] { return readers.answered == count || readers.failed > 0; }, 120000) && readers.answered == count;
    const double seconds = Seconds(clock);
    answered = readers.answered;
    readers.stop = true;
    thread->wait();
    delete thread;
    return all ? seconds : -1;
}
// The longest any of count browsers at BrowserPace, at addresses of group,
// waited for a first byte of our list after asking; -1 if not all had one
// (deadline: 5 minutes). cut tells how many were closed before.
double SlowestFirstByte(quint16 port, int group, int count, int& cut)
{
    Browsers browsers;
    QThread* thread =
        QThread::create([&] { browsers.Run(port, group, std::vector<int>(size_t(count), BrowserPace), 0); });
    thread->start();
    const bool all = RunUntil([&] { return browsers.started + browsers.cut + browsers.failed >= count; }, 300000) &&
                     browsers.started == count;
    browsers.stop = true;
    thread->wait();
    delete thread;
    cut = browsers.cut;
    return all ? browsers.slowestFirstMs / 1000.0 : -1;
}
} // namespace

int main(int argc, char** argv)
{
    // Both ends of every connection live in this process.
    AllowOpenFiles(4096);
    QApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    Bench bench;
    if (!bench.Start()) {
        std::printf("  no client\n");
        return 1;
    }
    PeerMessenger* messenger = bench.Messenger();
    std::printf("Shared rooms: %d names of each kind hogging them (never reading, %d KiB windows; declaring %.0f MB "
                "and sending %.2f MB; searches passed down under %d unreachable names), our picture %.0f MB, "
                "%d shared files\n",
                Hogs, ReceiveBuffer / 1024, DeclaredList / 1e6, SentOfList / 1e6, MadeUpNames, PictureBytes / 1e6,
                Folders * FilesPerFolder);
    // At rest, the same work: the questions, then the browse.
    malloc_trim(0);
    const double restBefore = ResidentMegabytes();
    StallProbe stalls;
    stalls.Start();
    const Asked rest = bench.Ask();
    const double restStall = LongestGapNow(stalls);
    stalls.Reset();
    const double restBrowse = bench.Browse();
    const double restBrowseStall = LongestGapNow(stalls);
    const double restGrowth = StatusMegabytes("VmHWM") - restBefore;
    if (!rest.Done() || restBrowse < 0) {
        std::printf("  the honest peer was not answered at rest\n");
        return 1;
    }
    std::printf("  our share list %.1f MB, the honest peer's %.1f MB\n", bench.OurListBytes() / 1e6,
                bench.HonestListBytes() / 1e6);

    malloc_trim(0);
    const double before = ResidentMegabytes();
    double most = before;
    qint64 mostAnswers = 0, mostLarge = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        most = std::max(most, ResidentMegabytes());
        mostAnswers = std::max(mostAnswers, messenger->Answers().Used());
        mostLarge = std::max(mostLarge, messenger->LargeMessages().Used());
    });
    probe.start(20);
    stalls.Reset();
    HogCrowd hogs({Hog::Silent, Hog::Hoarding});
    const quint16 port = messenger->ListeningPort();
    QThread* thread = QThread::create([&] { hogs.Run(port); });
    thread->start();
    QTimer parent;
    QObject::connect(&parent, &QTimer::timeout, [&] { bench.PassSearchDown(); });
    parent.start(1000 / SearchesPerSecond);
    // The hogs first fill both rooms.
    const bool full = RunUntil(
        [&] {
            return messenger->Answers().Used() > messenger->Answers().Total() * 3 / 4 &&
                   messenger->LargeMessages().Waiting() > 0;
        },
        60000);
    const Asked hogged = full ? bench.Ask() : Asked();
    const double stall = LongestGapNow(stalls);
    stalls.Reset();
    const double browse = full ? bench.Browse() : -1;
    const double browseStall = LongestGapNow(stalls);
    parent.stop();
    hogs.stop = true;
    thread->wait();
    delete thread;
    probe.stop();
    if (!full || hogs.failed > 0) {
        std::printf("  the hogs did not fill the rooms (%d connections, %d failed)\n", int(hogs.opened),
                    int(hogs.failed));
        return 1;
    }
    auto seconds = [](double value) { return value < 0 ? 1e9 : value; };
    Figure("honest user information, hogs at work", seconds(hogged.info), "s", "<=", AnswerAim,
           Detail("at rest %.2f s", rest.info));
    Figure("honest share list (ours), hogs at work", seconds(hogged.list), "s", "<=", AnswerAim,
           Detail("at rest %.2f s", rest.list));
    Figure("honest transfer response, hogs at work", seconds(hogged.transfer), "s", "<=", AnswerAim,
           Detail("at rest %.3f s", rest.transfer));
    Figure("browse of the honest 5 MB share list, hogs at work", seconds(browse), "s", "<=", BrowseAim,
           Detail("at rest %.2f s", restBrowse));
    const double answerRoom = messenger->Answers().Total() / 1e6;
    Figure("most our answers held / their room", mostAnswers / 1e6 / answerRoom, "x",
           "<=", 1 + (4 + PeerMessages::MaxFrameLength) / 1e6 / answerRoom,
           Detail("%.1f MB of %.1f MB", mostAnswers / 1e6, answerRoom));
    Figure("most long messages held / their room", mostLarge / double(messenger->LargeMessages().Total()), "x", "<=", 1,
           Detail("%.1f MB", mostLarge / 1e6));
    // What the hogs may make us hold: both rooms, and what each of their
    // connections may hold unread, with a margin for answers being built
    // and buffers that grow in steps; the honest work's own part is the
    // same at rest.
    const double bounds = (PeerMessenger::AnswerAllowance + PeerMessenger::LargeMessageAllowance +
                           2 * Hogs * PeerConnection::MaxUnreadBytes) /
                              1e6 +
                          GrowthMargin;
    Figure("resident growth, hogs at work, beyond the work at rest", most - before - restGrowth, "MB", "<", bounds,
           Detail("%.0f MB against %.0f MB at rest; %d connections opened by hogs, %d searches passed down",
                  most - before, restGrowth, int(hogs.opened), bench.Searches()));
    Figure("longest event-loop stall, hogs at work", stall, "ms", "<=", 100,
           Detail("at rest %.0f ms; browsing: %.0f ms, at rest %.0f ms (reading the list)", restStall, browseStall,
                  restBrowseStall));

    std::printf("Honest readers: %d peers reading at %.0f MB/s each asking for our user information at once\n", Readers,
                ReaderBytesPerSecond / 1e6);
    int one = 0, all = 0;
    const double alone = ReadersAnswered(port, 1, 0, one);
    const double together = alone > 0 ? ReadersAnswered(port, Readers, 1, all) : -1;
    Figure("readers answered", all, "", ">=", Readers);
    Figure("all answered / one alone", together > 0 ? together / alone : 1e9, "x", "<=", ReadersAim,
           Detail("%.1f s against %.1f s", together, alone));

    bench.GrowShare(BrowsedFolders);
    // An ordinary user's information.
    SetSetting("user_picture_file", "");
    const qint64 listBytes = bench.Shares()->GetSharedFilesMessage("anyone").GetBytes().size();
    std::printf("Honest browsers: our share of %d files, its list %.1f MB; slow readers slow for %d s\n",
                BrowsedFolders * FilesPerFolder, listBytes / 1e6, SlowPhaseMs / 1000);
    // The lone ones first: room is then claimed for each list at its size.
    const auto lone = BrowsersServed(port, 7, {12 * KiB, 15 * KiB, 18 * KiB});
    Figure("lone browsers with the whole list (12, 15, 18 KiB/s)", lone.first, "", ">=", 3,
           Detail("%d cut", lone.second));
    std::vector<int> steady(12, BrowserPace);
    steady.push_back(20 * KiB);
    steady.push_back(40 * KiB);
    const auto together14 = BrowsersServed(port, 6, steady);
    Figure("browsers with the whole list (12 at 100, 20, 40 KiB/s)", together14.first, "", ">=", 14,
           Detail("%d cut", together14.second));

    // The storm, and another peer asking meanwhile.
    FakePeerLink* asker = bench.NewPeer("probe", Address(9, 0));
    if (!asker) {
        std::printf("  no peer to ask during the storm\n");
        return 1;
    }
    int searched = 0, replied = 0;
    const int replies = PeerEngineFixture::Received(asker, PeerMessages::FileSearchResult).size();
    QObject::connect(bench.Shares(), &SharedFoldersManager::SearchProcessed,
                     [&](QString, bool sent) { replied += sent; });
    std::vector<double> infoWaits, folderWaits;
    const QByteArray folder = FakeWire().U32(7).Str(RemoteFolder(0)).Bytes();
    auto askAndWait = [&](quint32 question, const QByteArray& body, quint32 answer) {
        const int before = PeerEngineFixture::Received(asker, answer).size();
        QElapsedTimer clock;
        clock.start();
        asker->SendMessage(question, body);
        const bool came = RunUntil([&] { return PeerEngineFixture::Received(asker, answer).size() > before; }, 60000);
        return came ? Seconds(clock) : 1e9;
    };
    stalls.Reset();
    std::vector<int> storm(StormBrowsers, BrowserPace);
    storm.push_back(30 * KiB);
    const auto stormed = BrowsersServed(port, 8, storm, [&] {
        QElapsedTimer clock;
        clock.start();
        for (const int at : {5000, 20000, 40000}) {
            while (clock.elapsed() < at) {
                if (clock.elapsed() >= 2000 * searched) {
                    bench.Shares()->OnDirectFileSearch("probe", quint32(9000 + searched), "glass");
                    ++searched;
                }
                RunUntil([&] { return clock.elapsed() >= std::min<qint64>(at, 2000 * searched); }, 5000);
            }
            infoWaits.push_back(askAndWait(PeerMessages::UserInfoRequest, {}, PeerMessages::UserInfoReply));
            folderWaits.push_back(
                askAndWait(PeerMessages::FolderContentsRequest, folder, PeerMessages::FolderContents));
        }
    });
    const double stormStall = LongestGapNow(stalls);
    RunUntil(
        [&] { return PeerEngineFixture::Received(asker, PeerMessages::FileSearchResult).size() - replies >= replied; },
        30000);
    const int arrived = PeerEngineFixture::Received(asker, PeerMessages::FileSearchResult).size() - replies;
    Figure("browse storm: search replies dropped", replied - arrived, "", "<=", 0,
           Detail("%d of %d searches answered, every 2 s", arrived, searched));
    Figure("browse storm: user information, slowest of 3", *std::max_element(infoWaits.begin(), infoWaits.end()), "s",
           "<=", ProbeAim,
           Detail("asked at 5, 20, 40 s: %.2f, %.2f, %.2f s", infoWaits[0], infoWaits[1], infoWaits[2]));
    Figure("browse storm: folder contents, slowest of 3", *std::max_element(folderWaits.begin(), folderWaits.end()),
           "s", "<=", ProbeAim,
           Detail("asked at 5, 20, 40 s: %.2f, %.2f, %.2f s", folderWaits[0], folderWaits[1], folderWaits[2]));
    Figure("browse storm: browsers with the whole list (24 at 100, 30 KiB/s)", stormed.first, "",
           ">=", StormBrowsers + 1, Detail("%d cut", stormed.second));
    Figure("longest event-loop stall, browse storm", stormStall, "ms", "<=", 100);

    // A crowd that asks and never reads, then honest browsers; the list
    // kept so far no longer stands, so the crowd's first asker has it built.
    d.GetType("shared_file")->GetItems().First().Remove();
    int restCut = 0;
    const double restFirst = SlowestFirstByte(port, 12, CrowdBrowsers, restCut);
    d.GetType("shared_file")->GetItems().First().Remove();
    HogCrowd crowd({Hog::MuteBrowser, Hog::MuteAsker});
    QThread* crowdThread = QThread::create([&] { crowd.Run(port); });
    crowdThread->start();
    const bool crowded = RunUntil(
        [&] { return crowd.opened >= 2 * Hogs && messenger->Answers().Used() > messenger->Answers().Total() / 2; },
        120000);
    int crowdCut = 0;
    const double crowdFirst = crowded ? SlowestFirstByte(port, 13, CrowdBrowsers, crowdCut) : -1;
    crowd.stop = true;
    crowdThread->wait();
    delete crowdThread;
    Figure("10 honest browsers among 32 names that never read: slowest first byte", seconds(crowdFirst), "s",
           "<=", FirstByteAim,
           Detail("%s; %d cut; without the crowd %.1f s", crowded ? "crowd at work" : "the crowd did not fill the room",
                  crowdCut, restFirst));
    return Summary("sharedrooms");
}
