// The distributed network's server messages: the bytes the client sends,
// what it makes of the server's answers, and the test server's choice of
// parent candidates and delivery of network-wide searches that the engine
// tests rely on. Other users speak through RawClient.
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <memory>

#include "RawClient.h"
#include "Server.h"
#include "ServerFixture.h"
#include "TestMessage.h"
#include "TestServer.h"

namespace {
QByteArray Report(bool hasParent, const QString& root, quint32 level, quint32 children, quint32 limit,
                  quint32 depth = 0)
{
    return TestMessage().U8(hasParent ? 1 : 0).Str(root).U32(level).U32(children).U32(limit).U32(depth).Body();
}

QByteArray Search(const QString& user, quint32 ticket, const QString& text)
{
    return TestMessage().Str(user).U32(ticket).Str(text).Body();
}
} // namespace

class TestServerDistributed : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ServerFixture> f;
    QList<RawClient*> users;

    void Inject(quint32 code, const QByteArray& body) { QVERIFY(f->server->Send("alice", code, body)); }

    // Waits until the client has handled everything injected so far.
    void Settle()
    {
        QSignalSpy admin(f->client, &Server::AdminMessage);
        Inject(66, TestMessage().Str("settle").Body());
        QVERIFY(admin.wait(30000));
    }

    RawClient* User(const QString& name)
    {
        auto* user = new RawClient(f->server->Port(), this);
        users.append(user);
        return user->Login(name) ? user : nullptr;
    }

    // A user logged in with its report already read by the server.
    RawClient* Node(const QString& name, const QByteArray& report)
    {
        RawClient* user = User(name);
        if (!user)
            return nullptr;
        user->Send(1101, report);
        return Reported(name) ? user : nullptr;
    }

    bool Reported(const QString& name)
    {
        return QTest::qWaitFor([&] { return f->server->Distributed(name).reported; }, 30000);
    }

    // Alice's state as the client sent it and the server has read it.
    bool AliceReports(bool hasParent, const QString& root, quint32 level, quint32 children, quint32 limit,
                      quint32 depth)
    {
        f->client->SendDistributedState(hasParent, root, level, children, limit, depth);
        const QByteArray body = Report(hasParent, root, level, children, limit, depth);
        return QTest::qWaitFor(
            [&] {
                const auto reports = f->server->ReceivedMessages(1101);
                return std::any_of(reports.begin(), reports.end(), [&](const TestServer::Received& report) {
                    return report.user == "alice" && report.body == body;
                });
            },
            30000);
    }

    QStringList Candidates()
    {
        QSignalSpy candidates(f->client, &Server::DistributedParentCandidates);
        f->client->GetDistributedParentCandidates();
        if (!candidates.wait(30000))
            return {"no answer"};
        return candidates.at(0).at(0).toStringList();
    }

private slots:
    void init()
    {
        f.reset(new ServerFixture);
        QVERIFY(f->Login());
    }
    void cleanup()
    {
        qDeleteAll(users);
        users.clear();
        f.reset();
    }

    void requestsAndTheReportAsTheServerKeepsIt()
    {
        f->client->GetDistributedParentCandidates();
        QVERIFY(f->WaitForCount(1100, 1));
        QCOMPARE(f->LastBody(1100), QByteArray());

        f->client->SendDistributedState(true, QString::fromUtf8("gr\xc3\xbcn root"), 3, 2, 5, 7);
        QVERIFY(f->WaitForCount(1101, 1));
        QCOMPARE(f->LastBody(1101), Report(true, QString::fromUtf8("gr\xc3\xbcn root"), 3, 2, 5, 7));
        const TestServer::DistributedReport kept = f->server->Distributed("alice");
        QVERIFY(kept.reported);
        QVERIFY(kept.hasParent);
        QCOMPARE(kept.branchRoot, QString::fromUtf8("gr\xc3\xbcn root"));
        QCOMPARE((QList<quint32>{kept.level, kept.childCount, kept.childLimit, kept.depth}),
                 (QList<quint32>{3, 2, 5, 7}));

        f->client->SendDistributedState(false, "alice", 0, 0, 2, 0);
        QVERIFY(f->WaitForCount(1101, 2));
        QCOMPARE(f->LastBody(1101), Report(false, "alice", 0, 0, 2, 0));

        // Nothing goes out while logged out, and the server forgets the
        // report with the connection.
        f->client->Disconnect();
        f->client->GetDistributedParentCandidates();
        f->client->SendDistributedState(false, "alice", 0, 0, 2, 0);
        QVERIFY(f->Login());
        QVERIFY(!f->server->Distributed("alice").reported);
        f->client->GetUserStats("marker");
        QVERIFY(f->WaitForCount(36, 1));
        QCOMPARE(f->server->Count(1100), 1);
        QCOMPARE(f->server->Count(1101), 2);
    }

    void candidateListsAndSearchesReachTheirSignals()
    {
        QSignalSpy candidates(f->client, &Server::DistributedParentCandidates);
        QSignalSpy distributed(f->client, &Server::DistributedSearch);
        QSignalSpy direct(f->client, &Server::DirectFileSearch);
        Inject(1100, TestMessage().U32(2).Str("bob").Str("carol").Body());
        Inject(1100, TestMessage().U32(0).Body());
        Inject(1102, Search("bob", 0xfffffffe, "two words"));
        // Malformed: a count far beyond the body, a list cut short, a
        // search without its text.
        Inject(1100, TestMessage().U32(0x40000000).Str("x").Body());
        Inject(1100, TestMessage().U32(2).Str("bob").Body());
        Inject(1102, TestMessage().Str("bob").U32(1).Body());
        Settle();

        QCOMPARE(candidates.count(), 2);
        QCOMPARE(candidates.at(0).at(0).toStringList(), (QStringList{"bob", "carol"}));
        QCOMPARE(candidates.at(1).at(0).toStringList(), QStringList());
        QCOMPARE(distributed.count(), 1);
        QCOMPARE(distributed.at(0), (QVariantList{"bob", 0xfffffffeu, "two words"}));
        QCOMPARE(direct.count(), 0);
        QVERIFY(f->client->IsConnected());
    }

    void candidatesHaveRoomAndLieOutsideTheAskersBranch()
    {
        RawClient* bob = Node("bob", Report(false, "bob", 0, 0, 2));
        QVERIFY(bob);
        QVERIFY(Node("erin", Report(true, "zed", 2, 1, 4)));
        QVERIFY(Node("gina", Report(true, "x", 1, 0, 2)));
        QVERIFY(Node("amy", Report(true, "y", 1, 1, 3)));
        QVERIFY(Node("carol", Report(true, "alice", 1, 0, 3)));         // in the asker's branch
        RawClient* dave = Node("dave", Report(false, "dave", 0, 2, 2)); // full
        QVERIFY(dave);
        QVERIFY(User("frank"));                                                              // never reported
        QVERIFY(Node("hugo", Report(true, "hugo2", TestServer::MaxDistributedLevel, 0, 4))); // counted up in a loop
        QVERIFY(AliceReports(false, "alice", 0, 0, 2, 0));

        // Lowest level first, then by name; never the asker.
        QCOMPARE(Candidates(), (QStringList{"bob", "amy", "gina", "erin"}));

        // A new report replaces the old one; a user who leaves is forgotten.
        dave->Send(1101, Report(false, "dave", 0, 1, 2));
        users.removeOne(bob);
        delete bob;
        QTRY_COMPARE(Candidates(), (QStringList{"dave", "amy", "gina", "erin"}));

        // At most ten, the deepest left out.
        for (int i = 0; i < 8; ++i)
            QVERIFY(Node(QString("n%1").arg(i), Report(true, "root", 3, 0, 2)));
        QCOMPARE(Candidates(), (QStringList{"dave", "amy", "gina", "erin", "n0", "n1", "n2", "n3", "n4", "n5"}));
    }

    // Two clients stuck in a loop report without end; the server keeps
    // the latest reports only.
    void aFloodOfReportsKeepsTheServerBounded()
    {
        RawClient* bob = User("bob");
        QVERIFY(bob);
        f->server->ClearReceived();
        const int sent = TestServer::MaxKeptMessages + 500;
        for (int i = 1; i <= sent; ++i)
            bob->Send(1101, Report(true, "alice", quint32(i), 0, 2));
        const QByteArray last = Report(true, "alice", quint32(sent), 0, 2);
        QTRY_VERIFY_WITH_TIMEOUT(!f->server->AllReceived().isEmpty() && f->server->AllReceived().last().body == last,
                                 60000);
        QCOMPARE(f->server->AllReceived().size(), TestServer::MaxKeptMessages);
        QCOMPARE(f->server->AllReceived().first().body, Report(true, "alice", 501, 0, 2));
    }

    void networkSearchesReachOnlyTheRoots()
    {
        RawClient* root = Node("bob", Report(false, "bob", 0, 1, 2));     // a root with children
        RawClient* lone = Node("carol", Report(false, "carol", 0, 0, 2)); // a root without
        RawClient* below = Node("erin", Report(true, "bob", 1, 0, 2));    // in bob's tree
        RawClient* silent = User("dave");                                 // never reported
        RawClient* asker = User("frank");
        QVERIFY(root && lone && below && silent && asker);
        QSignalSpy direct(f->client, &Server::DirectFileSearch);
        QSignalSpy distributed(f->client, &Server::DistributedSearch);
        QSignalSpy chat(f->client, &Server::PrivateChat);
        QVERIFY(AliceReports(true, "bob", 1, 0, 2, 0));

        // The wish-list search travels the same way; a chat behind both
        // shows that nothing else is coming.
        asker->Send(26, TestMessage().U32(5).Str("abc").Body());
        asker->Send(103, TestMessage().U32(6).Str("def").Body());
        asker->Send(
            149, TestMessage().U32(5).Str("alice").Str("bob").Str("carol").Str("dave").Str("erin").Str("end").Body());
        for (RawClient* user : {root, lone, below, silent})
            QVERIFY(user->WaitFor(22));
        QTRY_COMPARE(chat.count(), 1);
        for (RawClient* user : {root, lone, silent}) {
            QByteArray body;
            QVERIFY(user->WaitFor(26, &body));
            QCOMPARE(body, Search("frank", 5, "abc"));
            QVERIFY(user->WaitFor(26, &body));
            QCOMPARE(body, Search("frank", 6, "def"));
        }
        QByteArray body;
        QVERIFY(root->WaitFor(1102, &body));
        QCOMPARE(body, Search("frank", 5, "abc"));
        QVERIFY(root->WaitFor(1102, &body));
        QCOMPARE(body, Search("frank", 6, "def"));
        for (RawClient* user : {lone, below, silent})
            QVERIFY(!user->Has(1102));
        QVERIFY(!below->Has(26));
        QCOMPARE(direct.count(), 0);
        QCOMPARE(distributed.count(), 0);

        // User searches still reach a user below a root.
        asker->Send(42, TestMessage().Str("erin").U32(7).Str("ghi").Body());
        QVERIFY(below->WaitFor(26, &body));
        QCOMPARE(body, Search("frank", 7, "ghi"));

        // A root's own search reaches its tree through it, never itself as
        // a search to answer.
        root->Send(26, TestMessage().U32(8).Str("jkl").Body());
        QVERIFY(root->WaitFor(1102, &body));
        QCOMPARE(body, Search("bob", 8, "jkl"));
        QVERIFY(lone->WaitFor(26, &body));
        QCOMPARE(body, Search("bob", 8, "jkl"));
        QVERIFY(!root->Has(26));

        // Alice as a root with children: the search to answer and the one
        // to pass down.
        QVERIFY(AliceReports(false, "alice", 0, 1, 2, 1));
        asker->Send(26, TestMessage().U32(9).Str("mno").Body());
        QTRY_COMPARE(distributed.count(), 1);
        QCOMPARE(distributed.at(0), (QVariantList{"frank", 9u, "mno"}));
        QTRY_COMPARE(direct.count(), 1);
        QCOMPARE(direct.at(0), (QVariantList{"frank", 9u, "mno"}));
    }
};

QTEST_MAIN(TestServerDistributed)
#include "TestServerDistributed.moc"
