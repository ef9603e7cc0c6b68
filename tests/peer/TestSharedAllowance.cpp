// What all peers together may make us hold, and that every way of letting
// go gives it back: no counter may leak.
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

#include "FakePeerLink.h"
#include "FakeWire.h"
#include "MemStream.h"
#include "PeerFixture.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "SharedAllowance.h"

namespace {
// A message connection of name's, up; one that reads nothing takes in only
// a few KiB (its window is settled on the bound socket before connecting).
FakePeerLink* Link(PeerFixture& f, QObject* owner, const QString& name, bool reading)
{
    auto* socket = new QTcpSocket;
    auto* link = new FakePeerLink(socket, false, false, owner);
    if (!socket->bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress))
        return nullptr;
    if (!reading) {
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        link->StopReading();
    }
    socket->connectToHost(QHostAddress::LocalHost, f.peer->ListeningPort());
    link->SendGreeting(name, "P", 1);
    return QTest::qWaitFor([&] { return f.peer->MessageConnectionCount(name) == 1; }, 30000) ? link : nullptr;
}
} // namespace

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

    // Peers holding the longest messages unfinished fill the room; a later
    // large share list waits until they go, here by idling.
    void largeMessagesPastTheTotalWaitForThoseHoldingItToGo()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        const SharedAllowance& room = f.peer->LargeMessages();
        const qint64 beyond = 4 + qint64(PeerMessages::MaxFrameLength) - PeerConnection::MaxBacklog;
        const int holding = int(PeerMessenger::LargeMessageAllowance / beyond);
        QObject peers;
        for (int i = 0; i <= holding; ++i) {
            FakePeerLink* link = Link(f, &peers, QString("holder%1").arg(i), true);
            QVERIFY(link);
            link->SendRaw(FakeWire().U32(PeerMessages::MaxFrameLength).U32(PeerMessages::SharedFileList).Bytes() +
                          QByteArray(int(PeerConnection::MaxBacklog), 'x'));
        }
        QTRY_COMPARE_WITH_TIMEOUT(room.Waiting(), 1, 30000);
        f.Advance(PeerMessenger::IdleTimeout);
        int listed = -1;
        connect(f.peer, &PeerMessenger::UserShare, this,
                [&](QString, FileInfoMap& share) { listed = int(share["\\music"].size()); });
        FakePeerLink* honest = Link(f, &peers, "honest", true);
        QVERIFY(honest);
        // Random names: large compressed too.
        QByteArray names(40000 * 64, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(names.data()), names.size() / 4);
        FakeWire list;
        list.U32(1).Str("\\music").U32(40000);
        for (int i = 0; i < 40000; ++i)
            list.File(names.mid(i * 64, 64).toHex(), quint64(i));
        const QByteArray compressed = FakeWire::Compress(list.U32(0).Bytes());
        QVERIFY(compressed.size() > 2 * PeerConnection::MaxBacklog);
        honest->SendMessage(PeerMessages::SharedFileList, compressed);
        QTRY_COMPARE_WITH_TIMEOUT(room.Waiting(), 2, 30000);
        QCOMPARE(room.Used(), holding * beyond);
        QCOMPARE(listed, -1);

        f.Tick();
        QTRY_COMPARE_WITH_TIMEOUT(listed, 40000, 30000);
        QCOMPARE(room.Used(), 0);
        QCOMPARE(room.Waiting(), 0);
        QCOMPARE(f.peer->MessageConnectionCount("honest"), 1);
    }

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
        connect(f.peer, &PeerMessenger::UploadPlaceInLineRequested, this, [&] { ++handled; });
        QObject peers;
        QList<FakePeerLink*> links;
        for (int i = 0; i < 20; ++i) {
            links << Link(f, &peers, QString("name%1").arg(i), false);
            QVERIFY(links.last());
            links.last()->SendRaw(FakeWire::Message(PeerMessages::UserInfoRequest, {}).repeated(2) +
                                  FakeWire::Message(PeerMessages::PlaceInLineRequest, FakeWire().Str("x").Bytes()));
        }
        QTRY_COMPARE_WITH_TIMEOUT(handled, 20, 20000);
        qint64 unwritten = 0;
        for (int i = 0; i < 20; ++i)
            unwritten += f.peer->UnwrittenBytes(QString("name%1").arg(i));
        QVERIFY(unwritten <= PeerMessenger::AnswerAllowance);
        // None built past the one refused, nor queued for a user not there.
        QCOMPARE(built, int(PeerMessenger::AnswerAllowance / size) + 1);
        QVERIFY(f.LogText("Peer Messenger").contains("dropping one of"));
        f.peer->SendMessage("away", reply);
        QCOMPARE(f.peer->UnsentMessageCount("away"), 0);

        // Written, an answer gives its room back; the next is built again.
        const qint64 before = answers.Used();
        links[0]->ResumeReading();
        QTRY_VERIFY_WITH_TIMEOUT(answers.Used() == before - size, 20000);
        links[0]->SendMessage(PeerMessages::UserInfoRequest, {});
        QTRY_COMPARE_WITH_TIMEOUT(links[0]->messages.size(), 2, 20000);

        qDeleteAll(links);
        QTRY_COMPARE_WITH_TIMEOUT(answers.Used(), 0, 30000);
        // Waiting for a connection counts too, until it expires.
        f.peer->SendMessage("away", reply);
        QCOMPARE(answers.Used(), size);
        f.Advance(PeerMessenger::UnsentMessageLifetime);
        f.Tick();
        QCOMPARE(answers.Used(), 0);
    }
};

QTEST_MAIN(TestSharedAllowance)
#include "TestSharedAllowance.moc"
