#include <QtTest>
#include <algorithm>

#include "DNetManager.h"
#include "FakePeer.h"
#include "FakeWire.h"
#include "PeerFixture.h"
#include "PeerMessenger.h"
#include "ReadBacklog.h"
#include "Server.h"
#include "Settings.h"
#include "TestMessage.h"
#include "TestServer.h"
#include "TurnBudget.h"
#include "TurnCounter.h"

// A node of the distributed network between real "D" connections: a fake
// parent above, fake children below; and the link frames it writes and
// reads, without sockets.
class TestDNet : public QObject
{
    Q_OBJECT

private slots:
    void searchesComeDownFromTheParentAndGoOnToChildren();
    void childrenAreBoundedAndLinksEndCleanly();
    void aParentFromOurOwnBranchIsDroppedAndLevelsStayBounded();
    void aBurstOfSearchesIsHandledInOrderAcrossTurnsBeforeTheLinkEnds();
    void aFloodFromTheParentIsReadNoFasterThanItIsHandled();
    void linkFramesAndTheirReader();
};

namespace {
QString Frame(const QPair<quint8, QByteArray>& frame)
{
    FakeWire in(frame.second);
    QString text;
    quint32 number = 0;
    if (frame.first == 3 && in.ReadStr(text))
        return "leader " + text;
    if (frame.first == 1) {
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

// Long enough for any exchange over loopback on a loaded machine.
const int kWaitMs = 30000;

// The link the node took as its parent, among the parent's links not seen
// before. A candidate is tried directly and through the relay at once, and
// the link that loses is closed; only the one taken hears our depth.
FakePeerLink* ParentLink(FakePeer* parent, const QList<FakePeerLink*>& seen = {})
{
    FakePeerLink* taken = nullptr;
    const bool found = QTest::qWaitFor(
        [&] {
            for (FakePeerLink* link : parent->links)
                if (!seen.contains(link) && !link->linkFrames.isEmpty())
                    taken = link;
            return taken != nullptr;
        },
        kWaitMs);
    return found ? taken : nullptr;
}

QByteArray Names(const QStringList& names)
{
    TestMessage body;
    body.U32(quint32(names.size()));
    for (const QString& name : names)
        body.Str(name);
    return body.Body();
}

// The tick asks for candidates and the server names the fake parent: the
// parent's end of the link once the node has taken it, or null.
FakePeerLink* TakeParent(PeerFixture& f, DNetManager& dnet, FakePeer* parent)
{
    f.Tick();
    if (!QTest::qWaitFor([&] { return f.server->Count(1100) == 1; }, kWaitMs) ||
        !f.server->Send("me", 1100, Names({"parent"})))
        return nullptr;
    FakePeerLink* up = ParentLink(parent);
    return up && dnet.HasParent() ? up : nullptr;
}
} // namespace

void TestDNet::searchesComeDownFromTheParentAndGoOnToChildren()
{
    PeerFixture f;
    QVERIFY(f.Start());
    DNetManager dnet;
    QSignalSpy searches(&dnet, &DNetManager::DNetSearchRequest);
    FakePeer* walled = f.AddPeer("walled", false, false);
    FakePeer* parent = f.AddPeer("parent");
    QVERIFY(walled && parent);
    walled->SetRelayPolicy(FakePeer::RelayPolicy::Refuse);

    // No parent: the tick asks for candidates; unreachable ones are passed
    // over, our own name is never tried. (Nobody has reported to the server,
    // so its own answer is empty and comes before the list put in here.)
    f.Tick();
    QTRY_COMPARE_WITH_TIMEOUT(f.server->Count(1100), 1, kWaitMs);
    QVERIFY(f.server->Send("me", 1100, Names({"me", "walled", "parent"})));
    FakePeerLink* up = ParentLink(parent);
    QVERIFY(up);
    QVERIFY(!up->IsAccepted() || up->opening.type == "D");
    QVERIFY(dnet.HasParent());
    QCOMPARE(dnet.Parent(), QString("parent"));
    QCOMPARE(Frames(up), QStringList{"depth 0"});

    up->SendLinkFrame(2, FakeWire().U32(3).Bytes());
    up->SendLinkFrame(3, FakeWire().Str("root").Bytes());
    QTRY_COMPARE_WITH_TIMEOUT(dnet.BranchRoot(), QString("root"), kWaitMs);
    QCOMPARE(dnet.Level(), 4u);
    QTRY_COMPARE_WITH_TIMEOUT(f.server->Distributed("me").level, 4u, kWaitMs);
    QVERIFY(f.server->Distributed("me").hasParent);
    QCOMPARE(f.server->Distributed("me").branchRoot, QString("root"));

    // While there is a parent the tick asks for nothing.
    f.Tick();
    QVERIFY(f.ServerCaughtUp(kWaitMs));
    QCOMPARE(f.server->Count(1100), 1);

    // A child joins and is told where it stands.
    FakePeer* child = f.AddPeer("child");
    QVERIFY(child);
    FakePeerLink* down = child->Greet(f.peer->ListeningPort(), false, "D", 1);
    QVERIFY(down);
    QVERIFY(down->WaitForLinkFrames(2, kWaitMs));
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
    QVERIFY(relayedDown->WaitForLinkFrames(2, kWaitMs));
    QCOMPARE(Frames(relayedDown), (QStringList{"level 4", "leader root"}));
    QCOMPARE(dnet.Children(), (QStringList{"child", "relayedchild"}));

    // A search from the parent is ours to answer and goes on to the child,
    // split across writes as it may arrive.
    const QByteArray search = FakeWire::LinkFrame(1, FakeWire().Str("asker").U32(9).Str("some text").Bytes());
    up->SendRaw(search.left(5));
    QTRY_COMPARE_WITH_TIMEOUT(dnet.UnreadBytes(), qint64(5), kWaitMs);
    up->SendRaw(search.mid(5));
    QVERIFY(searches.wait(kWaitMs));
    QCOMPARE(searches[0], QVariantList({"asker", 9u, "some text"}));
    QVERIFY(down->WaitForLinkFrames(3, kWaitMs));
    QCOMPARE(Frames(down).last(), QString("search asker 9 some text"));
    QVERIFY(relayedDown->WaitForLinkFrames(3, kWaitMs));
    QCOMPARE(Frames(relayedDown).last(), QString("search asker 9 some text"));

    // The depth below us travels up.
    down->SendLinkFrame(4, FakeWire().U32(2).Bytes());
    QVERIFY(up->WaitForLinkFrames(2, kWaitMs));
    QCOMPARE(Frames(up).last(), QString("depth 3"));
    QCOMPARE(dnet.ChildDepth(), 3u);
    QTRY_COMPARE_WITH_TIMEOUT(f.server->Distributed("me").depth, 3u, kWaitMs);
    QCOMPARE(f.server->Distributed("me").childCount, 2u);

    // Searches the server hands a branch root are not ours while we have a
    // parent.
    QSignalSpy admin(f.client, &Server::AdminMessage);
    QVERIFY(f.server->Send("me", 1102, TestMessage().Str("other").U32(1).Str("text").Body()));
    QVERIFY(f.server->Send("me", 66, TestMessage().Str("after the search").Body()));
    QVERIFY(admin.wait(kWaitMs));
    // Handled before the message after it: had it gone down, it would come
    // before the parent's next search.
    up->SendLinkFrame(1, FakeWire().Str("asker").U32(10).Str("next").Bytes());
    QVERIFY(down->WaitForLinkFrames(4, kWaitMs));
    QCOMPARE(Frames(down).last(), QString("search asker 10 next"));

    // Losing the parent: the children hear that we are a root now, the
    // server hears it too, and the next tick asks again.
    up->Close();
    QTRY_VERIFY_WITH_TIMEOUT(!dnet.HasParent(), kWaitMs);
    QVERIFY(down->WaitForLinkFrames(6, kWaitMs));
    QCOMPARE(Frames(down).mid(4), (QStringList{"level 0", "leader me"}));
    QTRY_VERIFY_WITH_TIMEOUT(!f.server->Distributed("me").hasParent, kWaitMs);
    QCOMPARE(f.server->Distributed("me").branchRoot, QString("me"));
    QCOMPARE(f.server->Distributed("me").level, 0u);
    f.Tick();
    QTRY_COMPARE_WITH_TIMEOUT(f.server->Count(1100), 2, kWaitMs);

    // As a root with children we get another user's network-wide search
    // from the server twice: to answer (26) and to pass down (1102), which
    // is not a search to answer here.
    QSignalSpy direct(f.client, &Server::DirectFileSearch);
    FakePeer* other = f.AddPeer("other");
    QVERIFY(other);
    other->SendToServer(26, FakeWire().U32(1).Str("text").Bytes());
    QVERIFY(down->WaitForLinkFrames(7, kWaitMs));
    QCOMPARE(Frames(down).last(), QString("search other 1 text"));
    QTRY_COMPARE_WITH_TIMEOUT(direct.count(), 1, kWaitMs);
    QCOMPARE(direct[0], QVariantList({"other", 1u, "text"}));
    QCOMPARE(searches.count(), 2);
}

void TestDNet::childrenAreBoundedAndLinksEndCleanly()
{
    PeerFixture f;
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
    for (int i = 0; i < 3; ++i) {
        // Distinct users: the same user linking again replaces its link.
        FakePeer* kid = i == 0 ? kids : f.AddPeer(QString("kid%1").arg(i));
        QVERIFY(kid);
        links << kid->Greet(f.peer->ListeningPort(), false, "D", quint32(i));
        QVERIFY(links.last());
        if (i < 2)
            QVERIFY(links.last()->WaitForLinkFrames(2, kWaitMs));
    }
    QVERIFY(links[2]->WaitForClosed(kWaitMs));
    QCOMPARE(dnet.Children().size(), 2);
    QVERIFY(f.ServerCaughtUp(kWaitMs));
    QCOMPARE(f.server->Distributed("me").childCount, 2u);
    QCOMPARE(f.server->Distributed("me").childLimit, 2u);

    // A frame that cannot be a frame ends that child's link only.
    links[0]->SendRaw(FakeWire().U32(DNetManager::MaxFrameLength + 1).Raw("x").Bytes());
    QVERIFY(links[0]->WaitForClosed(kWaitMs));
    QTRY_COMPARE_WITH_TIMEOUT(dnet.Children(), QStringList{"kid1"}, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.server->Distributed("me").childCount, 1u, kWaitMs);

    // A parent we did not ask for is not taken; one we asked for that sends
    // a broken search loses its link.
    FakePeer* stranger = f.AddPeer("stranger");
    QVERIFY(stranger);
    f.peer->RequestDNetConnectionToUser("stranger");
    QTRY_VERIFY_WITH_TIMEOUT(!stranger->links.isEmpty() && std::all_of(stranger->links.begin(), stranger->links.end(),
                                                                       [](FakePeerLink* l) { return l->IsClosed(); }),
                             kWaitMs);
    QVERIFY(!dnet.HasParent());
    const QList<FakePeerLink*> unasked = stranger->links;

    // The stranger reports a free place, so the server names it.
    stranger->SendToServer(1101, FakeWire().U8(0).Str("stranger").U32(0).U32(0).U32(4).U32(0).Bytes());
    QTRY_VERIFY_WITH_TIMEOUT(f.server->Distributed("stranger").reported, kWaitMs);
    f.Tick();
    FakePeerLink* up = ParentLink(stranger, unasked);
    QVERIFY(up);
    QVERIFY(dnet.HasParent());
    QCOMPARE(dnet.Parent(), QString("stranger"));
    up->SendLinkFrame(1, FakeWire().Str("asker").U32(1).Bytes());
    QVERIFY(up->WaitForClosed(kWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(!dnet.HasParent(), kWaitMs);
}

// Two clients that each took the other as parent counted their levels up
// without end; every sign of such a loop ends the link that brings it.
void TestDNet::aParentFromOurOwnBranchIsDroppedAndLevelsStayBounded()
{
    PeerFixture f;
    QVERIFY(f.Start());
    DNetManager dnet;
    FakePeer* kid = f.AddPeer("kid");
    FakePeer* up = f.AddPeer("up");
    QVERIFY(kid && up);
    FakePeerLink* down = kid->Greet(f.peer->ListeningPort(), false, "D", 1);
    QVERIFY(down && down->WaitForLinkFrames(2, kWaitMs));

    QList<FakePeerLink*> seen;
    // Offers "up" as parent until it links, then waits for its depth frame.
    auto takeUp = [&]() -> FakePeerLink* {
        const int asked = f.server->Count(1100);
        f.Tick();
        if (!QTest::qWaitFor([&] { return f.server->Count(1100) > asked; }, kWaitMs))
            return nullptr;
        // Our own child is never tried, even when the server names it.
        if (!f.server->Send("me", 1100, Names({"kid", "up"})))
            return nullptr;
        FakePeerLink* link = ParentLink(up, seen);
        if (!link || !dnet.HasParent())
            return nullptr;
        seen << link;
        return link;
    };
    auto droppedAsRoot = [&](FakePeerLink* link) {
        return link->WaitForClosed(kWaitMs) && QTest::qWaitFor([&] { return !dnet.HasParent(); }, kWaitMs) &&
               dnet.Level() == 0 && dnet.BranchRoot() == "me";
    };

    // The parent names us, or our own child, as its branch root.
    FakePeerLink* link = takeUp();
    QVERIFY(link);
    QCOMPARE(kid->links.size(), 1);
    link->SendLinkFrame(3, FakeWire().Str("me").Bytes());
    QVERIFY(droppedAsRoot(link));
    QTRY_VERIFY_WITH_TIMEOUT(f.server->Distributed("me").reported && !f.server->Distributed("me").hasParent, kWaitMs);

    link = takeUp();
    QVERIFY(link);
    link->SendLinkFrame(3, FakeWire().Str("kid").Bytes());
    QVERIFY(droppedAsRoot(link));

    // A level within bounds is taken and passed down; one past it is a
    // loop, and nothing past the bound ever reaches a child or the server.
    link = takeUp();
    QVERIFY(link);
    link->SendLinkFrame(2, FakeWire().U32(DNetManager::MaxLevel - 1).Bytes());
    link->SendLinkFrame(3, FakeWire().Str("root").Bytes());
    QTRY_COMPARE_WITH_TIMEOUT(dnet.Level(), DNetManager::MaxLevel, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(f.server->Distributed("me").level, DNetManager::MaxLevel, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(Frames(down).contains(QString("level %1").arg(DNetManager::MaxLevel)), kWaitMs);

    // Our branch root asking to become our child would close a loop too.
    FakePeer* root = f.AddPeer("root");
    QVERIFY(root);
    FakePeerLink* rootDown = root->Greet(f.peer->ListeningPort(), false, "D", 2);
    QVERIFY(rootDown && rootDown->WaitForClosed(kWaitMs));
    QCOMPARE(dnet.Children(), QStringList{"kid"});

    link->SendLinkFrame(2, FakeWire().U32(DNetManager::MaxLevel).Bytes());
    QVERIFY(droppedAsRoot(link));
    QTRY_COMPARE_WITH_TIMEOUT(f.server->Distributed("me").level, 0u, kWaitMs);
    for (const QString& frame : Frames(down))
        if (frame.startsWith("level "))
            QVERIFY2(frame.mid(6).toUInt() <= DNetManager::MaxLevel, qPrintable(frame));

    // A child claiming a depth no tree has ends its own link only.
    down->SendLinkFrame(4, FakeWire().U32(DNetManager::MaxLevel).Bytes());
    QVERIFY(down->WaitForClosed(kWaitMs));
    QTRY_VERIFY_WITH_TIMEOUT(dnet.Children().isEmpty(), kWaitMs);
    QCOMPARE(dnet.ChildDepth(), 0u);
}

// Each search from the parent is a search of our shares: a burst of them
// must not hold the window for its whole length.
void TestDNet::aBurstOfSearchesIsHandledInOrderAcrossTurnsBeforeTheLinkEnds()
{
    PeerFixture f;
    QVERIFY(f.Start());
    DNetManager dnet;
    FakePeer* parent = f.AddPeer("parent");
    FakePeer* child = f.AddPeer("child");
    QVERIFY(parent && child);
    FakePeerLink* down = child->Greet(f.peer->ListeningPort(), false, "D", 1);
    QVERIFY(down && down->WaitForLinkFrames(2, kWaitMs));
    FakePeerLink* up = TakeParent(f, dnet, parent);
    QVERIFY(up);
    QVERIFY(down->WaitForLinkFrames(4, kWaitMs));

    const int burst = 2000;
    TurnCounter turns;
    QStringList texts;
    bool parentWhenLast = false;
    connect(&dnet, &DNetManager::DNetSearchRequest, this, [&](QString, quint32, QString text) {
        texts << text;
        turns.Count();
        parentWhenLast = dnet.HasParent();
    });
    QByteArray bytes;
    for (int i = 0; i < burst; ++i)
        bytes += FakeWire::LinkFrame(1, FakeWire().Str("asker").U32(quint32(i)).Str(QString("text %1").arg(i)).Bytes());
    up->SendRaw(bytes);
    up->Close();
    QTRY_VERIFY_WITH_TIMEOUT(!dnet.HasParent(), 30000);
    QCOMPARE(texts.size(), burst);
    for (int i = 0; i < burst; ++i)
        QCOMPARE(texts[i], QString("text %1").arg(i));
    QVERIFY(parentWhenLast);
    QVERIFY2(turns.MostInOneTurn() <= 2 * TurnBudget::MaxMessages, qPrintable(QString::number(turns.MostInOneTurn())));
    // Passed down whole and in order, then the news that we are a root.
    QVERIFY(down->WaitForLinkFrames(4 + burst + 2, 30000));
    const QStringList frames = Frames(down);
    QCOMPARE(frames.at(4), QString("search asker 0 text 0"));
    QCOMPARE(frames.at(3 + burst), QString("search asker %1 text %1").arg(burst - 1));
    QCOMPARE(frames.mid(4 + burst), (QStringList{"level 0", "leader me"}));
}

// A parent sending faster than we handle is slowed by TCP rather than
// buffered for; what it sent before it closed is still handled, in order.
void TestDNet::aFloodFromTheParentIsReadNoFasterThanItIsHandled()
{
    PeerFixture f;
    QVERIFY(f.Start());
    DNetManager dnet;
    FakePeer* parent = f.AddPeer("parent");
    QVERIFY(parent);
    FakePeerLink* up = TakeParent(f, dnet, parent);
    QVERIFY(up);

    const QString padding(8000, 'x');
    // Four times the bound is plenty: each search is logged whole, which is
    // slow in a sanitized build.
    const int count = int(4 * ReadBacklog::MaxUnreadBytes / padding.size());
    int handled = 0;
    int outOfOrder = 0;
    qint64 most = 0;
    connect(&dnet, &DNetManager::DNetSearchRequest, this, [&](QString, quint32 token) {
        if (token != quint32(handled++))
            ++outOfOrder;
        most = qMax(most, dnet.UnreadBytes());
    });
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += FakeWire::LinkFrame(1, FakeWire().Str("asker").U32(quint32(i)).Str(padding).Bytes());
    up->SendRaw(bytes);
    up->Close();
    QTRY_VERIFY_WITH_TIMEOUT(!dnet.HasParent(), 60000);
    QCOMPARE(handled, count);
    QCOMPARE(outOfOrder, 0);
    QVERIFY2(most <= ReadBacklog::MaxUnreadBytes, qPrintable(QString("%1 bytes unread").arg(most)));
}

void TestDNet::linkFramesAndTheirReader()
{
    QCOMPARE(DNetManager::Search("asker", 12, "some text"),
             FakeWire::LinkFrame(1, FakeWire().Str("asker").U32(12).Str("some text").Bytes()));
    QCOMPARE(DNetManager::Number(DNetManager::LevelFrame, 3), FakeWire::LinkFrame(2, FakeWire().U32(3).Bytes()));
    QCOMPARE(DNetManager::Name(DNetManager::GroupLeaderFrame, "root"),
             FakeWire::LinkFrame(3, FakeWire().Str("root").Bytes()));
    QCOMPARE(DNetManager::Number(DNetManager::ChildDepthFrame, 2), FakeWire::LinkFrame(4, FakeWire().U32(2).Bytes()));

    const QByteArray body = FakeWire().Str("asker").U32(12).Str("some text").Bytes();
    QString user, text;
    quint32 token = 0;
    QVERIFY(DNetManager::ReadSearch(body, user, token, text));
    QCOMPARE(user, QString("asker"));
    QCOMPARE(token, 12u);
    QCOMPARE(text, QString("some text"));
    for (int length = 0; length < body.size(); ++length)
        QVERIFY(!DNetManager::ReadSearch(body.left(length), user, token, text));
}

QTEST_MAIN(TestDNet)
#include "TestDNet.moc"
