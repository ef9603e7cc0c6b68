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
// Every socket is on 127.0.0.1 and every wait has a deadline.
#include <QApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <vector>

#include "BenchSupport.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "FloodPeer.h"
#include "PeerMessenger.h"
#include "Settings.h"
#include "StallProbe.h"
#include "ViewFixture.h"
#include "users/UserListForm.h"

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

int Answers(FakePeerLink* link)
{
    return int(std::count_if(link->messages.begin(), link->messages.end(),
                             [](const QPair<quint32, QByteArray>& message) { return message.first == 16; }));
}

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
        m_page = new UserListForm;
        m_fixture.AddPage(m_page, "Users");
        m_page->Init();
        if (!m_fixture.Start("me"))
            return false;
        QByteArray picture(PictureBytes, Qt::Uninitialized);
        QRandomGenerator(5).fillRange(reinterpret_cast<quint32*>(picture.data()), PictureBytes / 4);
        SetSetting("user_picture_file", m_fixture.WriteFile("me.jpg", picture));
        m_other = m_fixture.LinkedPeer("bob");
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
        PeerMessenger* messenger = m_fixture.net.peer;
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

private:
    ViewFixture m_fixture;
    UserListForm* m_page = nullptr;
    FakePeerLink* m_other = nullptr;
};
} // namespace

int main(int argc, char** argv)
{
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
    return Summary("unreadanswers");
}
