// What all peers together may make us hold, and that every way of letting
// go gives it back: no counter may leak.
#include <QDeadlineTimer>
#include <QtTest>
#include <memory>

#include "FakePeerLink.h"
#include "FakeWire.h"
#include "MemStream.h"
#include "PeerFixture.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "SharedAllowance.h"

class TestSharedAllowance : public QObject
{
    Q_OBJECT

private slots:
    void sharesAreServedInTurnAndGiveBackAllTheyHeld()
    {
        auto allowance = std::make_shared<SharedAllowance>(100);
        QString served;
        SharedAllowance::Share a(allowance), b(allowance), c(allowance), d(allowance);
        QVERIFY(a.Claim(60, {}));
        QVERIFY(!b.Claim(50, [&] { served += 'b'; }));
        // It would fit, but b came first; claiming again keeps b's place.
        QVERIFY(!c.Claim(10, [&] { served += 'c'; }));
        QVERIFY(!b.Claim(50, [&] { served += 'b'; }));
        QVERIFY(a.Claim(30, {}));
        QCOMPARE(served, QString("bc"));
        // A waiting share that goes lets the next through.
        auto gone = std::make_unique<SharedAllowance::Share>(allowance);
        QVERIFY(!gone->Claim(50, {}));
        QVERIFY(!d.Claim(5, [&] { served += 'd'; }));
        gone.reset();
        QCOMPARE(served, QString("bcd"));
        // Moved, a share gives back once; c gives back no more than it held.
        SharedAllowance::Share moved = std::move(b);
        moved = SharedAllowance::Share();
        a.Release();
        c.Remove(100);
        d = SharedAllowance::Share(allowance);
        QCOMPARE(allowance->Used(), 0);
        QCOMPARE(allowance->Waiting(), 0);
    }

    // A claim that yields keeps its turn and is what room is taken back
    // for, but while it does not fit, claims that fit go first, when made
    // and when room comes back; a claim that does not fit still waits
    // behind it.
    void aClaimThatYieldsLetsWhatFitsGoFirst()
    {
        auto allowance = std::make_shared<SharedAllowance>(100);
        using Owner = SharedAllowance::Owner;
        SharedAllowance::Share held(allowance, Owner{"h", "10.0.0.1", 1});
        SharedAllowance::Share list(allowance, Owner{"l", "10.0.0.2", 2});
        SharedAllowance::Share fits(allowance, Owner{"f", "10.0.0.3", 3});
        SharedAllowance::Share large(allowance, Owner{"g", "10.0.0.4", 4});
        SharedAllowance::Share later(allowance, Owner{"k", "10.0.0.5", 5});
        QString served;
        QVERIFY(held.Claim(50, {}));
        QVERIFY(!list.Claim(
            60, [&] { served += 'l'; }, true));
        QCOMPARE(allowance->Shortfall(), 10);
        QVERIFY(fits.Claim(30, {}));
        QVERIFY(!large.Claim(30, [&] { served += 'g'; }));
        QCOMPARE(allowance->Shortfall(), 40);
        // Room back: what fits of those waiting goes while the list lacks.
        fits.Release();
        QCOMPARE(served, QString("g"));
        QVERIFY(!later.Claim(30, [&] { served += 'k'; }));
        held.Release();
        QCOMPARE(served, QString("gl"));
        large.Release();
        QCOMPARE(served, QString("glk"));
        // Not yielding, the same claim keeps what fits waiting behind it.
        list.Release();
        later.Release();
        QVERIFY(held.Claim(50, {}));
        QVERIFY(!list.Claim(60, [&] { served += 'L'; }));
        QVERIFY(!fits.Claim(30, {}));
    }

    // Waiting claims go by what their name and address hold, then in the
    // order they came; room is taken back from a holder that stalled, or
    // from a name holding more than its part through several holders.
    void theRoomIsSharedByNameAndAddress()
    {
        auto allowance = std::make_shared<SharedAllowance>(100);
        using Owner = SharedAllowance::Owner;
        SharedAllowance::Share a1(allowance, Owner{"a", "10.0.0.1", 1}), a2(allowance, Owner{"a", "10.0.0.1", 2});
        SharedAllowance::Share b(allowance, Owner{"b", "10.0.0.2", 3}), c(allowance, Owner{"c", "10.0.0.1", 4});
        SharedAllowance::Share d(allowance, Owner{"d", "10.0.0.4", 5});
        QString served;
        QVERIFY(a1.Claim(50, {}));
        QVERIFY(b.Claim(40, {}));
        QVERIFY(!a2.Claim(20, [&] { served += "a"; }));
        // Later, but its address holds what a's does.
        QVERIFY(!c.Claim(20, [&] { served += "c"; }));
        QVERIFY(!d.Claim(20, [&] { served += "d"; }));
        QCOMPARE(allowance->Shortfall(), 10);
        QCOMPARE(allowance->FairPart(), 25);
        // Nobody stalled, and a holds more than its part through one holder
        // only: nothing to take back.
        auto none = [](quint64) { return false; };
        QCOMPARE(allowance->HolderToTakeBackFrom(none, true), quint64(0));
        QCOMPARE(allowance->HolderToTakeBackFrom([](quint64 holder) { return holder == 3; }, true), quint64(3));
        b.Release();
        QCOMPARE(served, QString("da"));
        // a now holds 70 through two holders while c, at a's address, waits:
        // only a stalled holder gives back to it.
        QCOMPARE(allowance->HolderToTakeBackFrom(none, true), quint64(0));
        a1.Release();
        QCOMPARE(served, QString("dac"));
        // A name over its part through several holders gives back to one
        // that holds nothing.
        SharedAllowance::Share e(allowance, Owner{"e", "10.0.0.5", 6}), a3(allowance, Owner{"a", "10.0.0.9", 7});
        QVERIFY(a3.Claim(40, {}));
        QVERIFY(!e.Claim(30, {}));
        QCOMPARE(allowance->HolderToTakeBackFrom(none, true), quint64(7));
        QCOMPARE(allowance->HolderToTakeBackFrom(none, false), quint64(0));
        // Nor is anything sent unasked for ahead of e.
        QVERIFY(!allowance->Admits(Owner{"f", "10.0.0.6", 8}, 0));

        // A holder that learns its peer's name keeps what it holds: no one
        // waiting is served from room that is still held.
        auto moving = std::make_shared<SharedAllowance>(100);
        SharedAllowance::Share unnamed(moving), waiting(moving, Owner{"g", "10.0.0.7", 9});
        QVERIFY(unnamed.Claim(60, {}));
        bool granted = false;
        QVERIFY(!waiting.Claim(50, [&] { granted = true; }));
        unnamed.SetOwner(Owner{"h", "10.0.0.8", 10});
        QVERIFY(!granted);
        QCOMPARE(moving->Used(), 60);
        QCOMPARE(moving->HeldByName("h"), 60);
    }

    // A small claim that fits goes ahead of larger ones waiting, unless its
    // holder cannot give room back; when room comes back, the first in
    // turn has it if it fits, else a small one that does.
    void smallClaimsThatFitGoAheadOfLargerOnes()
    {
        using Owner = SharedAllowance::Owner;
        auto room = std::make_shared<SharedAllowance>(100, 10);
        SharedAllowance::Share large(room, Owner{"a", "1", 1}), list(room, Owner{"b", "2", 0});
        SharedAllowance::Share reply(room, Owner{"c", "3", 3}), unsent(room, Owner{"d", "4", 0});
        SharedAllowance::Share picture(room, Owner{"e", "5", 5}), later(room, Owner{"f", "6", 6});
        QVERIFY(large.Claim(85, {}));
        QVERIFY(!list.Claim(50, {}));
        QVERIFY(reply.Claim(10, {}));
        QVERIFY(!unsent.Claim(1, {}));
        QVERIFY(!picture.Claim(11, {}));
        bool granted = false;
        QVERIFY(!later.Claim(10, [&] { granted = true; }));
        large.Remove(9);
        QVERIFY(granted);
        QCOMPARE(room->Used(), 96);
        QCOMPARE(room->Waiting(), 3);
    }

    // Peers holding the longest messages unfinished fill the room; a later
    // large share list waits until those that send no more go.
    void largeMessagesPastTheTotalWaitForThoseHoldingItToGo()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        const SharedAllowance& room = f.peer->LargeMessages();
        const qint64 beyond = 4 + qint64(PeerMessages::MaxFrameLength) - PeerConnection::MaxBacklog;
        const int holding = int(PeerMessenger::LargeMessageAllowance / beyond);
        QObject peers;
        QList<FakePeerLink*> holders;
        for (int i = 0; i <= holding; ++i) {
            holders << f.Link(&peers, QString("holder%1").arg(i), PeerFixture::Reading::All);
            QVERIFY(holders.last());
            holders.last()->SendRaw(
                FakeWire().U32(PeerMessages::MaxFrameLength).U32(PeerMessages::SharedFileList).Bytes() +
                QByteArray(int(PeerConnection::MaxBacklog), 'x'));
        }
        QTRY_COMPARE_WITH_TIMEOUT(room.Waiting(), 1, 30000);
        int listed = -1;
        connect(f.peer, &PeerMessenger::UserShare, this,
                [&](QString, std::shared_ptr<FileInfoMap> share) { listed = int((*share)["\\music"].size()); });
        FakePeerLink* honest = f.Link(&peers, "honest", PeerFixture::Reading::All);
        QVERIFY(honest);
        f.peer->GetUserSharedFiles("honest");
        const QByteArray compressed = FakeWire::RandomShareList("\\music", 40000, 64, 7);
        QVERIFY(compressed.size() > 2 * PeerConnection::MaxBacklog);
        honest->SendMessage(PeerMessages::SharedFileList, compressed);
        QTRY_COMPARE_WITH_TIMEOUT(room.Waiting(), 2, 30000);
        QCOMPARE(room.Used(), holding * beyond);
        QCOMPARE(listed, -1);

        // Long before they would be idle, those sending nothing more give
        // the room back that those waiting need, in turn.
        f.Advance(PeerMessenger::RoomStallTimeout);
        f.Tick();
        QTRY_COMPARE_WITH_TIMEOUT(listed, 40000, 30000);
        QCOMPARE(f.peer->MessageConnectionCount("honest"), 1);
        auto closed = [&] {
            return int(std::count_if(holders.begin(), holders.end(), [](FakePeerLink* l) { return l->IsClosed(); }));
        };
        QTRY_COMPARE_WITH_TIMEOUT(closed(), 2, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(room.Used(), (holding - 1) * beyond, 30000);
        QCOMPARE(room.Waiting(), 0);
    }

    // More long messages at once than the room holds, each sent whole at
    // once: every one is read, none closed for the room.
    void longMessagesPastTheRoomSentWholeAllArrive()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        int read = 0;
        connect(f.peer, &PeerMessenger::UploadFailed, this, [&] { ++read; });
        const int names = 10;
        const QByteArray message = FakeWire::Message(99, QByteArray(9000000, 'm')) +
                                   FakeWire::Message(PeerMessages::UploadFailed, FakeWire().Str("x").Bytes());
        QVERIFY(names * (message.size() - PeerConnection::MaxBacklog) > PeerMessenger::LargeMessageAllowance);
        QObject peers;
        QList<FakePeerLink*> links;
        for (int i = 0; i < names; ++i) {
            links << f.Link(&peers, QString("sender%1").arg(i), PeerFixture::Reading::All);
            QVERIFY(links.last());
        }
        for (FakePeerLink* link : links)
            link->SendRaw(message);
        QTRY_COMPARE_WITH_TIMEOUT(read, names, 30000);
        for (int i = 0; i < names; ++i)
            QCOMPARE(f.peer->MessageConnectionCount(QString("sender%1").arg(i)), 1);
        QCOMPARE(f.peer->LargeMessages().Used(), 0);
    }

    // Names asking and never reading fill the room for answers; the
    // questions of the rest wait for their turn, and a name that reads has
    // its answer once the stalled ones have gone.
    void namesNotReadingOurAnswersHoldAtMostTheTotal()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        const SharedAllowance& answers = f.peer->Answers();
        // Our user information, built afresh for each request, its picture
        // larger than the system takes in for a connection.
        MemStream reply;
        reply.Write(quint32(PeerMessages::UserInfoReply));
        reply.Append(QByteArray(8000000, 'p'));
        const qint64 size = 4 + reply.GetBytes().size();
        int built = 0;
        connect(f.peer, &PeerMessenger::UserInfoRequested, this, [&](QString user) {
            ++built;
            f.peer->SendMessage(user, reply);
        });
        int handled = 0;
        connect(f.peer, &PeerMessenger::UploadFailed, this, [&] { ++handled; });
        QObject peers;
        QList<FakePeerLink*> links;
        const int names = 20;
        for (int i = 0; i < names; ++i) {
            links << f.Link(&peers, QString("name%1").arg(i), PeerFixture::Reading::Nothing);
            QVERIFY(links.last());
            links.last()->SendRaw(FakeWire::Message(PeerMessages::UserInfoRequest, {}).repeated(2) +
                                  FakeWire::Message(PeerMessages::UploadFailed, FakeWire().Str("x").Bytes()));
        }
        QTRY_COMPARE_WITH_TIMEOUT(handled, names, 30000);
        // What the system took of an answer is no longer ours to hold: as
        // many are built as fit beside what the sockets still hold.
        QTRY_COMPARE_WITH_TIMEOUT(built + answers.Waiting(), names, 30000);
        QVERIFY2(built >= int(PeerMessenger::AnswerAllowance / size) && built < names,
                 qPrintable(QString::number(built)));
        auto unwritten = [&] {
            qint64 held = 0;
            for (int i = 0; i < names; ++i)
                held += f.peer->UnwrittenBytes(QString("name%1").arg(i));
            return held;
        };
        QTRY_COMPARE_WITH_TIMEOUT(answers.Used(), unwritten(), 30000);
        QVERIFY(answers.Used() <= PeerMessenger::AnswerAllowance);
        const int fit = built;

        // A name that reads waits its turn, behind those that asked first.
        FakePeerLink* reader = f.Link(&peers, "reader", PeerFixture::Reading::All);
        QVERIFY(reader);
        reader->SendMessage(PeerMessages::UserInfoRequest, {});
        QTRY_COMPARE_WITH_TIMEOUT(answers.Waiting(), names - fit + 1, 30000);
        // Each round the holders that took nothing for the stall time go and
        // those next in turn are answered; a busy machine may need more
        // rounds, as answers are built and queued later on the clock.
        QDeadlineTimer deadline(60000);
        while (reader->messages.isEmpty() && !deadline.hasExpired()) {
            f.Advance(PeerMessenger::RoomStallTimeout);
            f.Tick();
            reader->WaitForMessages(1, 1000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(reader->messages.size(), 1, 30000);
        QCOMPARE(reader->messages.first().second.size(), int(size - 8));
        QVERIFY(f.LogText("Peer Messenger").contains("which others wait for"));

        qDeleteAll(links);
        QTRY_COMPARE_WITH_TIMEOUT(answers.Used(), 0, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(answers.Waiting(), 0, 30000);
    }

    // As many that read asking at once: every one is answered in turn.
    void namesReadingOurAnswersAreAllAnswered()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        MemStream reply;
        reply.Write(quint32(PeerMessages::UserInfoReply));
        reply.Append(QByteArray(8000000, 'p'));
        connect(f.peer, &PeerMessenger::UserInfoRequested, this,
                [&](QString user) { f.peer->SendMessage(user, reply); });
        QObject peers;
        QList<FakePeerLink*> links;
        for (int i = 0; i < 20; ++i) {
            links << f.Link(&peers, QString("name%1").arg(i), PeerFixture::Reading::All);
            QVERIFY(links.last());
        }
        for (FakePeerLink* link : links)
            link->SendMessage(PeerMessages::UserInfoRequest, {});
        for (FakePeerLink* link : links)
            QVERIFY(link->WaitForMessages(1, 30000));
        QTRY_COMPARE_WITH_TIMEOUT(f.peer->Answers().Used(), 0, 30000);
    }
};

QTEST_MAIN(TestSharedAllowance)
#include "TestSharedAllowance.moc"
