// Which peer connections to keep, asked of the policy directly with times
// the test chooses.
#include <QtTest>
#include <algorithm>

#include "PeerConnectionPolicy.h"

class TestPeerConnectionPolicy : public QObject
{
    Q_OBJECT

private slots:
    void theCapLeavesAReserveUnderTheOpenFilesLimit();
    void theConnectionIdleLongestMakesRoom();
    void idleMeansNoWholeMessageForTheIdleTime();
    void connectionsBeingOpenedAreBoundedInAllAndPerAddress();
};

void TestPeerConnectionPolicy::theCapLeavesAReserveUnderTheOpenFilesLimit()
{
    // A desktop's usual limit: half for peers, half kept.
    const PeerConnectionPolicy::Limits desktop = PeerConnectionPolicy::ForOpenFiles(1024);
    QCOMPARE(desktop.connections, 512);
    QCOMPARE(desktop.opening, 256);

    for (qint64 limit : {qint64(300), qint64(600), qint64(4096), qint64(65536), qint64(1048576), qint64(1) << 40}) {
        const PeerConnectionPolicy::Limits limits = PeerConnectionPolicy::ForOpenFiles(limit);
        QVERIFY2(limits.connections + PeerConnectionPolicy::ReservedFiles <= limit, qPrintable(QString::number(limit)));
        QVERIFY(limits.connections <= PeerConnectionPolicy::MaxConnections);
        QVERIFY(limits.opening > 0 && limits.opening <= limits.connections / 2);
    }
    // Too few files for a reserve still leaves a few connections.
    QCOMPARE(PeerConnectionPolicy::ForOpenFiles(64).connections, PeerConnectionPolicy::MinConnections);
    QVERIFY(PeerConnectionPolicy::ForOpenFiles(64).opening > 0);
}

void TestPeerConnectionPolicy::theConnectionIdleLongestMakesRoom()
{
    PeerConnectionPolicy policy({5, 2, 2});
    QObject a, b, c, ours, opening;
    policy.AddOpening(&a, "10.0.0.1", 0);
    policy.Named(&a, 0);
    policy.AddOpening(&b, "10.0.0.2", 10);
    policy.Named(&b, 10);
    policy.AddOutgoing(&ours, 15);
    policy.AddOpening(&c, "10.0.0.3", 20);
    policy.Named(&c, 20);
    QVERIFY(!policy.IsFull());
    policy.AddOpening(&opening, "10.0.0.4", 25);
    QVERIFY(policy.IsFull());
    QCOMPARE(policy.LongestIdle(), &a);

    // A message either way puts a connection at the back.
    policy.MessagePassed(&a, 30);
    QCOMPARE(policy.LongestIdle(), &b);
    policy.MessagePassed(&b, 40);
    QCOMPARE(policy.LongestIdle(), &c);
    // A time running back does not make one look older than it is.
    policy.MessagePassed(&c, 50);
    policy.MessagePassed(&c, 5);
    QCOMPARE(policy.LongestIdle(), &a);

    // Equally idle: the first named goes.
    policy.MessagePassed(&b, 30);
    QCOMPARE(policy.LongestIdle(), &a);

    // Our own attempts and connections still opening are never chosen.
    policy.Remove(&a);
    policy.Remove(&b);
    policy.Remove(&c);
    QCOMPARE(policy.Count(), 2);
    QCOMPARE(policy.LongestIdle(), nullptr);
    policy.Named(&ours, 60);
    QCOMPARE(policy.LongestIdle(), &ours);
}

void TestPeerConnectionPolicy::idleMeansNoWholeMessageForTheIdleTime()
{
    const qint64 idle = PeerConnectionPolicy::IdleTime;
    PeerConnectionPolicy policy({10, 5, 5});
    QObject quiet, talking, opening, ours;
    policy.AddOpening(&quiet, "10.0.0.1", 0);
    policy.Named(&quiet, 100);
    policy.AddOpening(&talking, "10.0.0.2", 0);
    policy.Named(&talking, 100);
    policy.AddOpening(&opening, "10.0.0.3", 0);
    policy.AddOutgoing(&ours, 0);

    policy.MessagePassed(&talking, 100 + idle - 1);
    QVERIFY(policy.IdleAt(100 + idle - 1).empty());
    QCOMPARE(policy.IdleAt(100 + idle), std::vector<QObject*>{&quiet});
    // Long after: only message connections are ever idle; the others have
    // their own time limits.
    std::vector<QObject*> later = policy.IdleAt(100 + 3 * idle);
    std::sort(later.begin(), later.end());
    std::vector<QObject*> both{&quiet, &talking};
    std::sort(both.begin(), both.end());
    QCOMPARE(later, both);
    policy.Remove(&quiet);
    QCOMPARE(policy.IdleAt(100 + idle), std::vector<QObject*>());
}

void TestPeerConnectionPolicy::connectionsBeingOpenedAreBoundedInAllAndPerAddress()
{
    PeerConnectionPolicy policy({10, 3, 2});
    QObject first, second, third, fourth;
    QVERIFY(policy.MayOpenFrom("10.0.0.1"));
    policy.AddOpening(&first, "10.0.0.1", 0);
    policy.AddOpening(&second, "10.0.0.1", 10);
    QVERIFY(!policy.MayOpenFrom("10.0.0.1"));
    QVERIFY(policy.MayOpenFrom("10.0.0.2"));
    QVERIFY(!policy.OpeningIsFull());

    // Once its opening names it, a connection no longer counts as opening.
    policy.Named(&first, 20);
    QVERIFY(policy.MayOpenFrom("10.0.0.1"));
    QCOMPARE(policy.OpeningCount(), 1);
    policy.Named(&first, 30);
    QCOMPARE(policy.OpeningCount(), 1);
    policy.AddOpening(&third, "10.0.0.1", 40);
    QVERIFY(!policy.MayOpenFrom("10.0.0.1"));
    policy.Remove(&second);
    QVERIFY(policy.MayOpenFrom("10.0.0.1"));

    // In all: the oldest still opening is the one to close.
    policy.AddOpening(&second, "10.0.0.2", 50);
    policy.AddOpening(&fourth, "10.0.0.3", 60);
    QVERIFY(policy.OpeningIsFull());
    QCOMPARE(policy.OldestOpening(), &third);
    policy.Remove(&third);
    QCOMPARE(policy.OldestOpening(), &second);
    QVERIFY(!policy.OpeningIsFull());

    // An IPv4 peer on a dual-stack port is the same address.
    QCOMPARE(PeerConnectionPolicy::AddressOf(QHostAddress("::ffff:10.0.0.2")), QString("10.0.0.2"));
    QCOMPARE(PeerConnectionPolicy::AddressOf(QHostAddress("10.0.0.2")), QString("10.0.0.2"));
    QCOMPARE(PeerConnectionPolicy::AddressOf(QHostAddress("2001:db8::1")), QString("2001:db8::1"));
}

QTEST_GUILESS_MAIN(TestPeerConnectionPolicy)
#include "TestPeerConnectionPolicy.moc"
