// A peer that asks for our user information over and over and reads
// nothing, its receive buffer 4 KiB, against the client at rest: the users
// page answers with a picture of 5 MB as in the program, the requests come
// in one burst from the read-side flood's peer (FloodPeer) on a thread of
// its own, and another peer asks meanwhile. Figures, each with its aim:
// - resident growth above rest with 400 and with 4,000 requests: under
//   50 MB each, where every request once queued a whole answer;
// - growth at 4,000 against growth at 400: no more (but for the chance
//   overlap of the other peer's answer with the flood's);
// - the other peer's answer during the flood against the same answer at
//   rest: within a few times, as it may wait for the flood's one answer
//   to be built first;
// - the longest event-loop stall throughout.
// Then many names at once, each at an address of its own with the same
// window, asking a few times and reading nothing, as a crowd of peers can:
// - resident growth above rest with 500 names: under the total our answers
//   may hold together plus a margin, where each name once held a picture;
// - growth at 500 names against growth at 50, which the total holds
//   already: within half as much again (the connections themselves cost);
// - what the answers hold once the names have gone: nothing.
// Every socket is on 127.0.0.1 and every wait has a deadline.
#include <QApplication>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <vector>

#include "BenchSupport.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "FloodPeer.h"
#include "PeerMessenger.h"
#include "StallProbe.h"
#include "UsersPageClient.h"

namespace {
const int PictureBytes = 5 * 1000 * 1000;
const int ReceiveBuffer = 4096;
const int FloodSeconds = 2;
const int Rounds = 3;
const double GrowthAim = 50;
const double OverlapAim = 1.25;
const double AnswerAim = 4;
// Past this the answers are not bounded; no more floods are run.
const double RunawayMegabytes = 1000;
const int CrowdNames = 500;
const int FewNames = 50;
const int CrowdQuestions = 5;
const double CrowdGrowthAim = 150;
const double CrowdRatioAim = 1.5;
// Well below the connections the client lets be opening at once.
const int CrowdInFlight = 100;

int Answers(FakePeerLink* link)
{
    return int(std::count_if(link->messages.begin(), link->messages.end(),
                             [](const QPair<quint32, QByteArray>& message) { return message.first == 16; }));
}

// Names at addresses of their own (127.2.x.y) on a thread of their own:
// each greets, asks for our user information CrowdQuestions times at once,
// then for a place in line (which shows it was read), and reads nothing.
// They come up to `allowed` at a time, as the client bounds the connections
// still opening and closes the oldest of them past that.
class NameCrowd
{
public:
    std::atomic<int> connected{0};
    std::atomic<int> failed{0};
    std::atomic<int> allowed{0};
    std::atomic<bool> stop{false};

    static QString Name(int i) { return QString("crowd%1").arg(i); }

    void Run(quint16 port, int names)
    {
        QByteArray questions;
        for (int i = 0; i < CrowdQuestions; ++i)
            questions += FakeWire::Message(15, QByteArray());
        questions += FakeWire::Message(51, FakeWire().Str("last").Bytes());
        std::vector<QTcpSocket*> sockets;
        auto open = [&](int i) {
            auto* socket = new QTcpSocket;
            sockets.push_back(socket);
            // Nothing is taken from the system, whose window is settled
            // on the bound socket before connecting.
            socket->setReadBufferSize(1);
            if (!socket->bind(QHostAddress(quint32(0x7F020001 + i)), 0, QAbstractSocket::DontShareAddress)) {
                ++failed;
                return;
            }
            socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, ReceiveBuffer);
            QObject::connect(socket, &QTcpSocket::connected, [this, socket, i, &questions] {
                ++connected;
                socket->write(FakeWire::Frame(FakeWire().U8(1).Str(Name(i)).Str("P").U32(1).Bytes()) + questions);
            });
            QObject::connect(socket, &QTcpSocket::errorOccurred, [this] { ++failed; });
            socket->connectToHost(QHostAddress::LocalHost, port);
        };
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (stop)
                loop.quit();
            while (int(sockets.size()) < std::min(names, allowed.load()))
                open(int(sockets.size()));
        });
        poll.start(5);
        loop.exec();
        for (QTcpSocket* socket : sockets) {
            socket->abort();
            delete socket;
        }
    }
};

struct CrowdRun
{
    bool ok = false;
    double growth = 0;
    qint64 mostHeld = 0;
    qint64 heldAfter = -1;
};

struct Run
{
    bool ok = false;
    double growth = 0;
    double answerSeconds = -1; // the other peer's, during the flood
};

class Bench
{
public:
    bool Start()
    {
        if (!m_client.Start(PictureBytes))
            return false;
        m_other = m_client.fixture.LinkedPeer("bob");
        return m_other != nullptr;
    }

    // The other peer's answer at rest, in seconds: the median of a few.
    double AnswerAtRest()
    {
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) {
            const int before = Answers(m_other);
            QElapsedTimer clock;
            clock.start();
            m_other->SendMessage(15, QByteArray());
            if (!RunUntil([&] { return Answers(m_other) > before; }, 30000))
                return -1;
            times.push_back(Seconds(clock));
        }
        return Median(times);
    }

    Run Flood(int requests)
    {
        Run run;
        const QString name = QString("flood%1").arg(requests);
        // The requests, then a question of another kind that shows when
        // the client has handled them all.
        auto* peer = new FloodPeer(
            name,
            [requests](int n) {
                return n < requests ? FakeWire().U32(15).Bytes() : FakeWire().U32(51).Str("last").Bytes();
            },
            requests + 1);
        QThread thread;
        peer->moveToThread(&thread);
        thread.start();
        PeerMessenger* messenger = m_client.fixture.net.peer;
        const quint16 port = messenger->ListeningPort();
        QMetaObject::invokeMethod(peer, [peer, port] { peer->Connect(port, ReceiveBuffer); });
        if (RunUntil([&] { return messenger->MessageConnectionCount(name) == 1; }, 10000)) {
            bool handled = false;
            const QMetaObject::Connection last =
                QObject::connect(messenger, &PeerMessenger::UploadPlaceInLineRequested,
                                 [&](const QString& user) { handled = handled || user == name; });
            // The other peer asks once the burst is on its way.
            const int before = Answers(m_other);
            QElapsedTimer asked;
            QTimer::singleShot(20, [&] {
                asked.start();
                m_other->SendMessage(15, QByteArray());
            });
            const QMetaObject::Connection answered = QObject::connect(m_other, &FakePeerLink::Received, [&] {
                if (run.answerSeconds < 0 && Answers(m_other) > before)
                    run.answerSeconds = Seconds(asked);
            });
            malloc_trim(0);
            const ::Flood flood = RunFlood(
                peer, FloodSeconds, [peer] { peer->Start(); }, [peer] { peer->Stop(); },
                [&] { return handled && run.answerSeconds >= 0 && messenger->MessageConnectionCount(name) == 0; });
            QObject::disconnect(last);
            QObject::disconnect(answered);
            run.ok = flood.drained;
            run.growth = flood.residentGrowth;
        }
        QMetaObject::invokeMethod(
            peer, [peer] { delete peer; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        return run;
    }

    CrowdRun Crowd(int names)
    {
        CrowdRun run;
        PeerMessenger* messenger = m_client.fixture.net.peer;
        int handled = 0;
        const QMetaObject::Connection last =
            QObject::connect(messenger, &PeerMessenger::UploadPlaceInLineRequested,
                             [&](const QString& user) { handled += user.startsWith("crowd"); });
        malloc_trim(0);
        const double before = ResidentMegabytes();
        double most = before;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            most = std::max(most, ResidentMegabytes());
            run.mostHeld = std::max(run.mostHeld, messenger->Answers().Used());
        });
        probe.start(20);
        NameCrowd crowd;
        const quint16 port = messenger->ListeningPort();
        QThread* thread = QThread::create([&] { crowd.Run(port, names); });
        thread->start();
        run.ok = RunUntil(
                     [&] {
                         crowd.allowed = handled + CrowdInFlight;
                         return handled == names || crowd.failed > 0;
                     },
                     120000) &&
                 crowd.failed == 0;
        most = std::max(most, ResidentMegabytes());
        run.growth = most - before;
        crowd.stop = true;
        thread->wait();
        delete thread;
        probe.stop();
        QObject::disconnect(last);
        auto gone = [&] {
            for (int i = 0; i < names; ++i)
                if (messenger->MessageConnectionCount(NameCrowd::Name(i)) > 0)
                    return false;
            return true;
        };
        if (RunUntil(gone, 30000))
            run.heldAfter = messenger->Answers().Used();
        return run;
    }

private:
    UsersPageClient m_client;
    FakePeerLink* m_other = nullptr;
};
} // namespace

int main(int argc, char** argv)
{
    // Both ends of the crowd's connections live in this process.
    const rlim_t openFiles = AllowOpenFiles(8192);
    QApplication app(argc, argv);
    // Logs go to a home of the run's own.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    std::printf("Unread answers: user information asked for by a peer that reads nothing (%d KiB window), our "
                "picture %.0f MB\n",
                ReceiveBuffer / 1024, PictureBytes / 1e6);
    Bench bench;
    if (!bench.Start()) {
        std::printf("  no client\n");
        return 1;
    }
    const double rest = ResidentMegabytes();
    const double atRest = bench.AnswerAtRest();
    StallProbe probe;
    probe.Start();
    // Rounds in turn, the order swapped each round; a figure is the least
    // growth of its rounds (the allocator's part varies) and the median
    // answer to the other peer.
    const int counts[] = {400, 4000};
    double growth[2] = {1e9, 1e9};
    std::vector<double> answers;
    bool runaway = false;
    for (int round = 0; round < Rounds && !runaway; ++round)
        for (int i = 0; i < 2 && !runaway; ++i) {
            const int which = round % 2 ? 1 - i : i;
            const Run run = bench.Flood(counts[which]);
            if (!run.ok || atRest <= 0) {
                std::printf("  a flood was not handled, or the other peer not answered\n");
                return 1;
            }
            growth[which] = std::min(growth[which], run.growth);
            answers.push_back(run.answerSeconds);
            runaway = run.growth > RunawayMegabytes;
        }
    const double stall = LongestGapNow(probe);
    if (runaway)
        std::printf("  (rounds ended: a flood grew the client past %.0f MB)\n", RunawayMegabytes);

    Figure("growth, 400 requests", growth[0], "MB", "<", GrowthAim, Detail("at rest %.0f MB", rest));
    Figure("growth, 4,000 requests", growth[1], "MB", "<", GrowthAim,
           growth[1] < 1e9 ? Detail("at rest %.0f MB", rest) : std::string("not run"));
    // The two grow alike to within a percent when nobody else asks; the
    // other peer's answer, a second copy of the picture, overlaps the
    // flood's by chance.
    Figure("growth at 4,000 / growth at 400", growth[1] / growth[0], "x", "<=", OverlapAim);
    const double during = Median(answers);
    Figure("other peer's answer during the flood / at rest", during / atRest, "x", "<=", AnswerAim,
           Detail("%.0f ms against %.0f ms", during * 1000, atRest * 1000));
    Figure("longest event-loop stall", stall, "ms", "<=", 100);

    const int names = int(std::min<rlim_t>(CrowdNames, (openFiles - 256) / 2));
    std::printf("Unread answers from many names: %d names (and %d) asking %d times each, windows of %d KiB; "
                "answers may hold %.0f MB together\n",
                names, FewNames, CrowdQuestions, ReceiveBuffer / 1024, PeerMessenger::AnswerAllowance / 1e6);
    probe.Reset();
    // The few first, so that what the many add is not what the few left.
    const CrowdRun few = bench.Crowd(FewNames);
    const CrowdRun many = few.ok ? bench.Crowd(names) : CrowdRun();
    const double crowdStall = LongestGapNow(probe);
    if (!few.ok || !many.ok) {
        std::printf("  a crowd did not connect, or was not handled\n");
        return 1;
    }
    Figure("growth, 500 names", many.growth, "MB", "<", CrowdGrowthAim,
           Detail("%d names; at rest %.0f MB; answers held at most %.1f MB", names, rest, many.mostHeld / 1e6));
    Figure("growth at 500 names / growth at 50", many.growth / std::max(few.growth, 1.0), "x", "<=", CrowdRatioAim,
           Detail("%.0f MB against %.0f MB", many.growth, few.growth));
    const bool gone = few.heldAfter >= 0 && many.heldAfter >= 0;
    Figure("answers held once the names left", gone ? double(std::max(few.heldAfter, many.heldAfter)) : 1e12, "bytes",
           "<=", 0, gone ? std::string() : std::string("the names did not all go"));
    Figure("longest event-loop stall, names", crowdStall, "ms", "<=", 100);
    return Summary("unreadanswers");
}
