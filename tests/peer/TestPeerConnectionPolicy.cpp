// Which peer connections to keep, asked of the policy directly with times
// the test chooses.
#include <QtTest>

#include "PeerConnectionPolicy.h"

class TestPeerConnectionPolicy : public QObject
{
    Q_OBJECT

private slots:
    void theCapLeavesAReserveUnderTheOpenFilesLimit();
    void onlyMessageConnectionsAreIdleOrMakeRoom();
    void connectionsBeingOpenedAreBoundedInAllAndPerAddress();
    void onlyConnectionsThatStaySilentCountPerAddress();
    void whatMovesIsActivityWhatWeQueueIsNot();
    void aReaderMayPauseForMinutesBeforeItStalls();
    void aSlowReadersSystemTakesInStepsItsPaceExplains();
};

void TestPeerConnectionPolicy::theCapLeavesAReserveUnderTheOpenFilesLimit()
{
    // A desktop's usual limit: half for peers, half kept.
    QCOMPARE(PeerConnectionPolicy::ForOpenFiles(1024).connections, 512);
    for (qint64 limit : {qint64(300), qint64(4096), qint64(1) << 40}) {
        const PeerConnectionPolicy::Limits limits = PeerConnectionPolicy::ForOpenFiles(limit);
        QVERIFY2(limits.connections + PeerConnectionPolicy::ReservedFiles <= limit, qPrintable(QString::number(limit)));
        QVERIFY(limits.opening > 0 && limits.opening <= limits.connections / 2);
    }
    // Too few files for a reserve still leaves a few connections.
    QCOMPARE(PeerConnectionPolicy::ForOpenFiles(64).connections, PeerConnectionPolicy::MinConnections);
}

void TestPeerConnectionPolicy::onlyMessageConnectionsAreIdleOrMakeRoom()
{
    const qint64 idle = PeerConnectionPolicy::IdleTime;
    PeerConnectionPolicy policy({4, 2, 2});
    QObject a, b, ours, opening;
    policy.AddOpening(&a, "10.0.0.1", 0);
    policy.Named(&a, 0);
    policy.AddOpening(&b, "10.0.0.2", 0);
    policy.Named(&b, 0);
    policy.AddOutgoing(&ours, 0);
    QVERIFY(!policy.IsFull());
    policy.AddOpening(&opening, "10.0.0.3", 0);
    QVERIFY(policy.IsFull());
    // Equally idle: the first named goes; a message either way puts one at
    // the back.
    QCOMPARE(policy.LongestIdle(), &a);
    policy.MessagePassed(&a, 10);
    QCOMPARE(policy.LongestIdle(), &b);
    QCOMPARE(policy.IdleAt(idle + 9), std::vector<QObject*>{&b});

    // Our own attempts and connections still opening are never chosen,
    // however old: they have time limits of their own.
    policy.Remove(&a);
    policy.Remove(&b);
    QCOMPARE(policy.LongestIdle(), nullptr);
    QVERIFY(policy.IdleAt(3 * idle).empty());
    policy.Named(&ours, 20);
    QCOMPARE(policy.LongestIdle(), &ours);
}

void TestPeerConnectionPolicy::connectionsBeingOpenedAreBoundedInAllAndPerAddress()
{
    PeerConnectionPolicy policy({20, 4, 2});
    QObject first, second, third, fourth, fifth;
    policy.AddOpening(&first, "10.0.0.1", 0);
    policy.AddOpening(&second, "10.0.0.1", 10);
    // Our answers to relayed requests count every one being opened.
    QVERIFY(!policy.MayOpenFrom("10.0.0.1"));
    QVERIFY(policy.MayOpenFrom("10.0.0.2"));
    // Once its opening names it, a connection no longer counts as opening.
    policy.Named(&first, 20);
    policy.Named(&first, 30);
    QVERIFY(policy.MayOpenFrom("10.0.0.1"));
    QCOMPARE(policy.OpeningCount(), 1);

    // In all: the address opening the most gives up its oldest, even when
    // another's is older.
    policy.AddOpening(&third, "10.0.0.2", 40);
    policy.AddOpening(&fourth, "10.0.0.2", 50);
    QVERIFY(!policy.OpeningIsFull());
    policy.AddOpening(&fifth, "10.0.0.3", 60);
    QVERIFY(policy.OpeningIsFull());
    QCOMPARE(policy.OpeningToClose(), &third);
    policy.Remove(&third);
    // As many each: the oldest of them all.
    QCOMPARE(policy.OpeningToClose(), &second);
    QVERIFY(!policy.OpeningIsFull());

    // An IPv4 peer on a dual-stack port is the same address.
    QCOMPARE(PeerConnectionPolicy::AddressOf(QHostAddress("::ffff:10.0.0.2")), QString("10.0.0.2"));
    QCOMPARE(PeerConnectionPolicy::AddressOf(QHostAddress("2001:db8::1")), QString("2001:db8::1"));
}

void TestPeerConnectionPolicy::onlyConnectionsThatStaySilentCountPerAddress()
{
    const qint64 grace = PeerConnectionPolicy::OpeningGrace;
    PeerConnectionPolicy policy({100, 50, 2});
    std::vector<QObject> crowd(6), other(3);
    // A crowd behind one address opening at once is not silent, however
    // many: none of it is beyond the bound.
    for (size_t i = 0; i < crowd.size(); ++i)
        policy.AddOpening(&crowd[i], "10.0.0.1", qint64(i));
    for (size_t i = 0; i < other.size(); ++i)
        policy.AddOpening(&other[i], "10.0.0.2", grace);
    QVERIFY(policy.SilentBeyondBound(grace - 1).empty());

    // Those that stay silent are: all but the two silent shortest, those
    // silent longest first; another address's are not yet silent.
    policy.Named(&crowd[1], grace);
    const std::vector<QObject*> beyond = policy.SilentBeyondBound(grace + 4, "10.0.0.1");
    QCOMPARE(beyond, (std::vector<QObject*>{&crowd[0], &crowd[2]}));
    QCOMPARE(policy.SilentBeyondBound(grace + 4), beyond);
    QVERIFY(policy.SilentBeyondBound(grace + 4, "10.0.0.2").empty());
    QCOMPARE(policy.SilentBeyondBound(2 * grace), (std::vector<QObject*>{&crowd[0], &crowd[2], &crowd[3], &other[0]}));

    // The order they were added in, whichever was named first.
    QVERIFY(policy.AddedBefore(&crowd[0], &crowd[1]));
    QVERIFY(!policy.AddedBefore(&crowd[1], &crowd[0]));
    policy.Remove(&crowd[0]);
    QVERIFY(policy.AddedBefore(&crowd[1], &crowd[0]));
}

void TestPeerConnectionPolicy::whatMovesIsActivityWhatWeQueueIsNot()
{
    const qint64 stall = PeerConnectionPolicy::StallTime;
    PeerConnectionPolicy policy({8, 4, 4});
    QObject a, b;
    policy.Named(&a, 0);
    policy.Named(&b, 0);
    // Our answers queued for a: not activity, and a stall from then on that
    // a's talking does not end; its taking them does.
    policy.Queued(&a, 10);
    policy.MessagePassed(&b, 5);
    QCOMPARE(policy.LongestIdle(), &a);
    policy.MessagePassed(&a, 20);
    QCOMPARE(policy.NotTakingFor(&a, 10 + stall), stall);
    QCOMPARE(policy.StalledAt(10 + stall), std::vector<QObject*>{&a});
    policy.Taken(&a, 30, 100, true);
    QVERIFY(policy.StalledAt(29 + stall).empty());
    QCOMPARE(policy.StalledAt(30 + stall), std::vector<QObject*>{&a});
    policy.Taken(&a, 40, 200, false);
    QVERIFY(policy.StalledAt(40 + 2 * stall).empty());
    QCOMPARE(policy.NotTakingFor(&a, 40 + 2 * stall), 0);
    QCOMPARE(policy.LongestIdle(), &b);
    // Reading resumed after a wait counts for silence, not for idleness.
    QCOMPARE(policy.SilentFor(&b, 100), 95);
    policy.ReadingResumed(&b, 100);
    QCOMPARE(policy.SilentFor(&b, 100), 0);
    QCOMPARE(policy.LongestIdle(), &b);
}

void TestPeerConnectionPolicy::aReaderMayPauseForMinutesBeforeItStalls()
{
    // A reader takes part of a list, pauses a minute and a half, and goes
    // on: it never stalls. One that pauses past five minutes does.
    PeerConnectionPolicy policy({8, 4, 4});
    QObject pauser, gone;
    policy.Named(&pauser, 0);
    policy.Named(&gone, 0);
    policy.Queued(&pauser, 0);
    policy.Queued(&gone, 0);
    policy.Taken(&pauser, 10000, 100000, true);
    policy.Taken(&gone, 10000, 100000, true);
    for (qint64 at = 10000; at <= 10000 + 95000; at += 30000)
        QVERIFY(policy.StalledAt(at).empty());
    policy.Taken(&pauser, 10000 + 95000, 200000, true);
    QCOMPARE(policy.StalledAt(10000 + 5 * 60000 - 1), std::vector<QObject*>());
    QCOMPARE(policy.StalledAt(10000 + 5 * 60000), std::vector<QObject*>{&gone});
    QCOMPARE(policy.StalledAt(10000 + 95000 + 5 * 60000 - 1), std::vector<QObject*>{&gone});
    QCOMPARE(policy.NotTakingFor(&pauser, 10000 + 95000 + 5 * 60000), qint64(5 * 60000));
}

void TestPeerConnectionPolicy::aSlowReadersSystemTakesInStepsItsPaceExplains()
{
    const qint64 stall = 10000;
    PeerConnectionPolicy policy({8, 4, 4});
    QObject slow, silent;
    policy.Named(&slow, 0);
    policy.Named(&silent, 0);
    policy.Queued(&slow, 0);
    policy.Queued(&silent, 0);
    // Nothing taken yet: the plain stall time.
    QVERIFY(!policy.RoomStalled(&silent, stall - 1, stall));
    QVERIFY(policy.RoomStalled(&silent, stall, stall));
    // About 6 KiB a second, taken 256,000 bytes at a time, one step seen
    // as two acknowledgements close together.
    policy.Taken(&slow, 2000, 16000, true);
    policy.Taken(&slow, 40000, 200000, true);
    policy.Taken(&slow, 40500, 256000 + 16000, true);
    // The step lasted 256,000 / 272,000 of the 40.5 s the wait has lasted.
    const qint64 paced = qint64(256000) * 40500 / 272000;
    QVERIFY(!policy.RoomStalled(&slow, 40500 + stall + paced - 1, stall));
    QVERIFY(policy.RoomStalled(&slow, 40500 + stall + paced + 1, stall));
    // All taken: nothing waits, nothing stalls; the next wait is its own.
    policy.Taken(&slow, 50000, 300000, false);
    QVERIFY(!policy.RoomStalled(&slow, 500000, stall));
    policy.Queued(&slow, 500000);
    QVERIFY(policy.RoomStalled(&slow, 500000 + stall, stall));
    // However slow, it may pause no longer than the stall time.
    const qint64 later = 500000 + 600000;
    policy.Taken(&slow, later, 300000 + 1000000, true);
    QVERIFY(!policy.RoomStalled(&slow, later + stall + PeerConnectionPolicy::StallTime - 1, stall));
    QVERIFY(policy.RoomStalled(&slow, later + stall + PeerConnectionPolicy::StallTime, stall));
}

QTEST_GUILESS_MAIN(TestPeerConnectionPolicy)
#include "TestPeerConnectionPolicy.moc"
