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
    void whatMovesIsActivityWhatWeQueueIsNot();
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
    PeerConnectionPolicy policy({10, 3, 2});
    QObject first, second, third, fourth;
    policy.AddOpening(&first, "10.0.0.1", 0);
    policy.AddOpening(&second, "10.0.0.1", 10);
    QVERIFY(!policy.MayOpenFrom("10.0.0.1"));
    QVERIFY(policy.MayOpenFrom("10.0.0.2"));
    // Once its opening names it, a connection no longer counts as opening.
    policy.Named(&first, 20);
    policy.Named(&first, 30);
    QVERIFY(policy.MayOpenFrom("10.0.0.1"));
    QCOMPARE(policy.OpeningCount(), 1);

    // In all: the oldest still opening is the one to close.
    policy.AddOpening(&third, "10.0.0.2", 40);
    QVERIFY(!policy.OpeningIsFull());
    policy.AddOpening(&fourth, "10.0.0.3", 50);
    QVERIFY(policy.OpeningIsFull());
    QCOMPARE(policy.OldestOpening(), &second);
    policy.Remove(&second);
    QCOMPARE(policy.OldestOpening(), &third);
    QVERIFY(!policy.OpeningIsFull());

    // An IPv4 peer on a dual-stack port is the same address.
    QCOMPARE(PeerConnectionPolicy::AddressOf(QHostAddress("::ffff:10.0.0.2")), QString("10.0.0.2"));
    QCOMPARE(PeerConnectionPolicy::AddressOf(QHostAddress("2001:db8::1")), QString("2001:db8::1"));
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
    policy.Taken(&a, 30, true);
    QVERIFY(policy.StalledAt(29 + stall).empty());
    QCOMPARE(policy.StalledAt(30 + stall), std::vector<QObject*>{&a});
    policy.Taken(&a, 40, false);
    QVERIFY(policy.StalledAt(40 + 2 * stall).empty());
    QCOMPARE(policy.NotTakingFor(&a, 40 + 2 * stall), 0);
    QCOMPARE(policy.LongestIdle(), &b);
    // Reading resumed after a wait counts for silence, not for idleness.
    QCOMPARE(policy.SilentFor(&b, 100), 95);
    policy.ReadingResumed(&b, 100);
    QCOMPARE(policy.SilentFor(&b, 100), 0);
    QCOMPARE(policy.LongestIdle(), &b);
}

QTEST_GUILESS_MAIN(TestPeerConnectionPolicy)
#include "TestPeerConnectionPolicy.moc"
