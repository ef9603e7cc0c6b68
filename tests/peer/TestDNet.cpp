#include <QtTest>
#include <algorithm>

#include "DNetManager.h"
#include "FakePeer.h"
#include "FakeWire.h"
#include "PeerFixture.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "TestServer.h"

// The server connection with the distributed network's messages, as
// docs/protocol.md describes them, standing in for them on the wire: the
// test plays the server's side.
class DNetServer : public Server
{
    Q_OBJECT

public:
    struct State
    {
        bool hasParent;
        QString branchRoot;
        quint32 level;
        quint32 children;
        quint32 childLimit;
        quint32 depth;
    };
    int candidateRequests = 0;
    QList<State> states;

public slots:
    void GetDistributedParentCandidates() { ++candidateRequests; }
    void SendDistributedState(bool hasParent, QString branchRoot, quint32 level, quint32 children,
                              quint32 childLimit, quint32 depth)
    {
        states.append({hasParent, branchRoot, level, children, childLimit, depth});
    }

signals:
    void DistributedParentCandidates(QStringList users);
    void DistributedSearch(QString user, quint32 token, QString text);
};

// A node of the distributed network between real "D" connections: a fake
// parent above, fake children below.
class TestDNet : public QObject
{
    Q_OBJECT

private slots:
    void searchesComeDownFromTheParentAndGoOnToChildren();
    void childrenAreBoundedAndLinksEndCleanly();
};

namespace
{
QString Frame(const QPair<quint8, QByteArray>& frame)
{
    FakeWire in(frame.second);
    QString text;
    quint32 number = 0;
    if (frame.first == 3 && in.ReadStr(text))
        return "leader " + text;
    if (frame.first == 1)
    {
        QString user;
        in.ReadStr(user) && in.ReadU32(number) && in.ReadStr(text);
        return QString("search %1 %2 %3").arg(user).arg(number).arg(text);
    }
    in.ReadU32(number);
    return QString(frame.first == 2 ? "level %1" : "depth %1").arg(number);
}

QStringList Frames(FakePeerLink* link)
{
    QStringList frames;
    for (const auto& frame : link->linkFrames)
        frames << Frame(frame);
    return frames;
}
} // namespace

void TestDNet::searchesComeDownFromTheParentAndGoOnToChildren()
{
    DNetServer* server = nullptr;
    PeerFixture f([&] { return server = new DNetServer; });
    QVERIFY(f.Start());
    DNetManager dnet;
    QSignalSpy searches(&dnet, &DNetManager::DNetSearchRequest);
    FakePeer* walled = f.AddPeer("walled", false, false);
    FakePeer* parent = f.AddPeer("parent");
    QVERIFY(walled && parent);
    walled->SetRelayPolicy(FakePeer::RelayPolicy::Refuse);

    // No parent: the tick asks for candidates; unreachable ones are passed
    // over, our own name is never tried.
    f.Tick();
    QCOMPARE(server->candidateRequests, 1);
    emit server->DistributedParentCandidates({"me", "walled", "parent"});
    FakePeerLink* up = parent->WaitForLink();
    QVERIFY(up);
    QCOMPARE(up->opening.type, QString("D"));
    QTRY_VERIFY_WITH_TIMEOUT(dnet.HasParent(), 5000);
    QCOMPARE(dnet.Parent(), QString("parent"));
    QVERIFY(up->WaitForLinkFrames(1));
    QCOMPARE(Frames(up), QStringList{"depth 0"});

    up->SendLinkFrame(2, FakeWire().U32(3).Bytes());
    up->SendLinkFrame(3, FakeWire().Str("root").Bytes());
    QTRY_COMPARE_WITH_TIMEOUT(dnet.BranchRoot(), QString("root"), 5000);
    QCOMPARE(dnet.Level(), 4u);
    const DNetServer::State reported = server->states.last();
    QVERIFY(reported.hasParent);
    QCOMPARE(reported.branchRoot, QString("root"));
    QCOMPARE(reported.level, 4u);

    // While there is a parent the tick asks for nothing.
    f.Tick();
    QCOMPARE(server->candidateRequests, 1);

    // A child joins and is told where it stands.
    FakePeer* child = f.AddPeer("child");
    QVERIFY(child);
    FakePeerLink* down = child->Greet(f.peer->ListeningPort(), false, "D", 1);
    QVERIFY(down);
    QVERIFY(down->WaitForLinkFrames(2));
    QCOMPARE(Frames(down), (QStringList{"level 4", "leader root"}));
    QCOMPARE(dnet.Children(), QStringList{"child"});

    // A child may join through the relay too: we connect to it.
    FakePeer* relayedChild = f.AddPeer("relayedchild");
    QVERIFY(relayedChild);
    relayedChild->RequestRelay("me", 77, "D");
    FakePeerLink* relayedDown = relayedChild->WaitForLink();
    QVERIFY(relayedDown);
    QCOMPARE(relayedDown->opening.kind, quint8(0));
    QCOMPARE(relayedDown->opening.token, 77u);
    QVERIFY(relayedDown->WaitForLinkFrames(2));
    QCOMPARE(Frames(relayedDown), (QStringList{"level 4", "leader root"}));
    QCOMPARE(dnet.Children(), (QStringList{"child", "relayedchild"}));

    // A search from the parent is ours to answer and goes on to the child,
    // split across writes as it may arrive.
    const QByteArray search = FakeWire::LinkFrame(1, FakeWire().Str("asker").U32(9).Str("some text").Bytes());
    up->SendRaw(search.left(5));
    QTest::qWait(20);
    up->SendRaw(search.mid(5));
    QVERIFY(searches.wait(5000));
    QCOMPARE(searches[0], QVariantList({"asker", 9u, "some text"}));
    QVERIFY(down->WaitForLinkFrames(3));
    QCOMPARE(Frames(down).last(), QString("search asker 9 some text"));
    QVERIFY(relayedDown->WaitForLinkFrames(3));
    QCOMPARE(Frames(relayedDown).last(), QString("search asker 9 some text"));

    // The depth below us travels up.
    down->SendLinkFrame(4, FakeWire().U32(2).Bytes());
    QVERIFY(up->WaitForLinkFrames(2));
    QCOMPARE(Frames(up).last(), QString("depth 3"));
    QCOMPARE(dnet.ChildDepth(), 3u);

    // Searches the server hands a branch root are not ours while we have a
    // parent.
    emit server->DistributedSearch("other", 1, "text");
    QTest::qWait(50);
    QCOMPARE(down->linkFrames.size(), 3);

    // Losing the parent: the children hear that we are a root now, the
    // server hears it too, and the next tick asks again.
    up->Close();
    QTRY_VERIFY_WITH_TIMEOUT(!dnet.HasParent(), 5000);
    QVERIFY(down->WaitForLinkFrames(5));
    QCOMPARE(Frames(down).mid(3), (QStringList{"level 0", "leader me"}));
    QVERIFY(!server->states.last().hasParent);
    QCOMPARE(server->states.last().branchRoot, QString("me"));
    f.Tick();
    QCOMPARE(server->candidateRequests, 2);

    // As a root we pass the server's searches down, but they are not
    // searches to answer here.
    emit server->DistributedSearch("other", 1, "text");
    QVERIFY(down->WaitForLinkFrames(6));
    QCOMPARE(Frames(down).last(), QString("search other 1 text"));
    QCOMPARE(searches.count(), 1);
}

void TestDNet::childrenAreBoundedAndLinksEndCleanly()
{
    DNetServer* server = nullptr;
    PeerFixture f([&] { return server = new DNetServer; });
    QVERIFY(f.Start());
    DNetManager dnet;
    SetSetting("upload_speed", "0");
    QCOMPARE(dnet.ChildLimit(), DNetManager::MinChildren);
    SetSetting("upload_speed", QString::number(5 * DNetManager::BytesPerSecondPerChild));
    QCOMPARE(dnet.ChildLimit(), 5);
    SetSetting("upload_speed", "100000000");
    QCOMPARE(dnet.ChildLimit(), DNetManager::MaxChildren);
    SetSetting("upload_speed", "0");

    FakePeer* kids = f.AddPeer("kid");
    QVERIFY(kids);
    QList<FakePeerLink*> links;
    for (int i = 0; i < 3; ++i)
    {
        // Distinct users: the same user linking again replaces its link.
        FakePeer* kid = i == 0 ? kids : f.AddPeer(QString("kid%1").arg(i));
        QVERIFY(kid);
        links << kid->Greet(f.peer->ListeningPort(), false, "D", quint32(i));
        QVERIFY(links.last());
        if (i < 2)
            QVERIFY(links.last()->WaitForLinkFrames(2));
    }
    QVERIFY(links[2]->WaitForClosed());
    QCOMPARE(dnet.Children().size(), 2);
    QCOMPARE(server->states.last().children, 2u);
    QCOMPARE(server->states.last().childLimit, 2u);

    // A frame that cannot be a frame ends that child's link only.
    links[0]->SendRaw(FakeWire().U32(DNetManager::MaxFrameLength + 1).Raw("x").Bytes());
    QVERIFY(links[0]->WaitForClosed());
    QTRY_COMPARE_WITH_TIMEOUT(dnet.Children(), QStringList{"kid1"}, 5000);
    QCOMPARE(server->states.last().children, 1u);

    // A parent we did not ask for is not taken; one we asked for that sends
    // a broken search loses its link.
    FakePeer* stranger = f.AddPeer("stranger");
    QVERIFY(stranger);
    f.peer->RequestDNetConnectionToUser("stranger");
    QTRY_VERIFY_WITH_TIMEOUT(!stranger->links.isEmpty() && std::all_of(stranger->links.begin(), stranger->links.end(),
                                                                        [](FakePeerLink* l) { return l->IsClosed(); }),
                             5000);
    QVERIFY(!dnet.HasParent());
    const QList<FakePeerLink*> unasked = stranger->links;

    f.Tick();
    emit server->DistributedParentCandidates({"stranger"});
    FakePeerLink* up = stranger->WaitForLink(5000, unasked);
    QVERIFY(up);
    QTRY_VERIFY_WITH_TIMEOUT(dnet.HasParent(), 5000);
    up->SendLinkFrame(1, FakeWire().Str("asker").U32(1).Bytes());
    QVERIFY(up->WaitForClosed());
    QTRY_VERIFY_WITH_TIMEOUT(!dnet.HasParent(), 5000);
}

QTEST_MAIN(TestDNet)
#include "TestDNet.moc"
