// Messages that arrive together (a busy room, a server catching up) are
// handled in slices across turns of the event loop, in their order, and a
// connection that ends or an engine that goes mid-burst leaves nothing
// behind to run.
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

#include "Server.h"
#include "ServerFixture.h"
#include "TestMessage.h"
#include "TestServer.h"
#include "TurnBudget.h"
#include "TurnCounter.h"

namespace {
constexpr int Burst = 5000;

QByteArray AdminBurst(int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += TestMessage::Frame(66, TestMessage().Str(QString("line %1").arg(i)).Body());
    return bytes;
}

QByteArray ChatFlood(int count, int textLength)
{
    QByteArray bytes;
    const QString padding(textLength, 'x');
    for (int i = 0; i < count; ++i)
        bytes += TestMessage::Frame(13, TestMessage().Str("room").Str("bob").Str(QString::number(i) + padding).Body());
    return bytes;
}

// Another reader that every third turn takes the whole turn's budget
// before the sockets are read, so a connection sometimes finds it spent
// with bytes waiting and nothing else to announce them.
class BudgetHog : public QObject
{
public:
    BudgetHog() { Queue(); }

private:
    void Queue()
    {
        QMetaObject::invokeMethod(
            this,
            [this] {
                // Asking first begins the turn, so that its end is queued
                // before the next visit and each visit opens a turn.
                const bool take = ++m_turns % 3 == 0;
                while (!TurnBudget::Exhausted() && take)
                    TurnBudget::Spend();
                Queue();
            },
            Qt::QueuedConnection);
    }

    int m_turns = 0;
};

} // namespace

class TestServerBursts : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ServerFixture> f;

private slots:
    void init() { f.reset(new ServerFixture); }
    void cleanup() { f.reset(); }

    void aBurstInOneWriteIsHandledWholeInOrderAcrossTurns()
    {
        QVERIFY(f->Login());
        TurnCounter turns;
        QStringList texts;
        connect(f->client, &Server::AdminMessage, this, [&](const QString& text) {
            texts << text;
            turns.Count();
        });
        QVERIFY(f->server->SendRaw("alice", AdminBurst(Burst)));
        QTRY_COMPARE_WITH_TIMEOUT(texts.size(), Burst, 60000);
        for (int i = 0; i < Burst; ++i)
            QCOMPARE(texts[i], QString("line %1").arg(i));
        const int most = turns.MostInOneTurn();
        // A turn's budget may be spent across the edge of a timer's turn.
        QVERIFY2(most <= 2 * TurnBudget::MaxMessages, qPrintable(QString("%1 in one turn").arg(most)));
        QVERIFY(turns.TurnsWithAny() >= Burst / (2 * TurnBudget::MaxMessages));
        QVERIFY(f->client->IsConnected());
    }

    void aDisconnectMidBurstDropsTheRestAndTheNextLoginStartsClean()
    {
        QVERIFY(f->Login());
        QStringList texts;
        const int stopAt = TurnBudget::MaxMessages + 10;
        connect(f->client, &Server::AdminMessage, this, [&](const QString& text) {
            texts << text;
            if (texts.size() == stopAt)
                f->client->Disconnect();
        });
        QVERIFY(f->server->SendRaw("alice", AdminBurst(Burst)));
        QTRY_VERIFY_WITH_TIMEOUT(!f->client->IsConnected(), 30000);
        QVERIFY(f->Login());
        QVERIFY(f->server->Send("alice", 66, TestMessage().Str("after").Body()));
        QTRY_COMPARE_WITH_TIMEOUT(texts.size(), stopAt + 1, 30000);
        QCOMPARE(texts.last(), QString("after"));
        QCOMPARE(texts.at(stopAt - 1), QString("line %1").arg(stopAt - 1));
    }

    // Being logged in elsewhere behind a burst, then closed: the burst and
    // the news are handled before the end, so there is no reconnection.
    void whatCameBeforeTheServerClosedIsHandledFirst()
    {
        QVERIFY(f->Login());
        QStringList texts;
        connect(f->client, &Server::AdminMessage, this, [&](const QString& text) { texts << text; });
        QSignalSpy elsewhere(f->client, &Server::LoggedInElsewhere);
        // Small enough to arrive in one read, large enough for several turns.
        const int burst = 4 * TurnBudget::MaxMessages;
        QVERIFY(f->server->SendRaw("alice", AdminBurst(burst) + TestMessage::Frame(41, QByteArray())));
        QVERIFY(f->server->Hangup("alice"));
        QTRY_VERIFY_WITH_TIMEOUT(!f->client->IsConnected(), 30000);
        QCOMPARE(texts.size(), burst);
        QCOMPARE(texts.last(), QString("line %1").arg(burst - 1));
        QCOMPARE(elsewhere.count(), 1);
        QVERIFY(!f->client->IsAbruptlyDisconnected());
    }

    // A server sending faster than the client handles is slowed by TCP
    // rather than buffered for; a turn whose budget another reader took
    // leaves nothing waiting unannounced; what came before the close counts.
    void aFloodIsReadNoFasterThanItIsHandledAndAllOfItInOrder()
    {
        QVERIFY(f->Login());
        const int textLength = 1000;
        const int count = int(12 * Server::MaxUnreadBytes / textLength);
        int handled = 0;
        int outOfOrder = 0;
        qint64 most = 0;
        connect(f->client, &Server::RoomChat, this, [&](const QString&, const QString&, const QString& text) {
            if (!text.startsWith(QString::number(handled++) + 'x'))
                ++outOfOrder;
            most = qMax(most, f->client->UnreadBytes());
        });
        QSignalSpy elsewhere(f->client, &Server::LoggedInElsewhere);
        BudgetHog hog;
        // A server closing with the client's ports unread would reset the
        // connection, and the reset would drop what is still on its way.
        QVERIFY(f->WaitForCount(2, 1));
        QVERIFY(f->server->SendRaw("alice", ChatFlood(count, textLength) + TestMessage::Frame(41, QByteArray())));
        QVERIFY(f->server->Hangup("alice"));
        QTRY_VERIFY_WITH_TIMEOUT(!f->client->IsConnected(), 60000);
        QCOMPARE(handled, count);
        QCOMPARE(outOfOrder, 0);
        QCOMPARE(elsewhere.count(), 1);
        QVERIFY2(most <= Server::MaxUnreadBytes, qPrintable(QString("%1 bytes unread").arg(most)));
    }

    // A message longer than the bound (a long room or user list) is read
    // whole, and what follows it is not held back.
    void aMessageLargerThanTheBoundGetsThroughInItsPlace()
    {
        QVERIFY(f->Login());
        QStringList texts;
        qint64 most = 0;
        connect(f->client, &Server::AdminMessage, this, [&](const QString& text) {
            texts << text;
            most = qMax(most, f->client->UnreadBytes());
        });
        const QString large(int(3 * Server::MaxBacklog), 'y');
        const QByteArray largeFrame = TestMessage::Frame(66, TestMessage().Str(large).Body());
        QVERIFY(f->server->SendRaw("alice", AdminBurst(3) + largeFrame + AdminBurst(3)));
        QTRY_COMPARE_WITH_TIMEOUT(texts.size(), 7, 30000);
        QCOMPARE(texts.at(3), large);
        QCOMPARE(texts.at(4), QString("line 0"));
        QCOMPARE(texts.last(), QString("line 2"));
        QVERIFY(most <= largeFrame.size() + Server::SocketBufferLimit);
    }

    void theEngineGoingMidBurstLeavesNothingToRun()
    {
        QVERIFY(f->Login());
        int handled = 0;
        connect(f->client, &Server::AdminMessage, this, [&] {
            if (++handled == 1)
                QTimer::singleShot(0, this, [&] {
                    delete f->client;
                    f->client = nullptr;
                });
        });
        QVERIFY(f->server->SendRaw("alice", AdminBurst(Burst)));
        QTRY_VERIFY_WITH_TIMEOUT(!f->client, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!f->server->IsLoggedIn("alice"), 30000);
        QVERIFY(handled < Burst);
    }
};

QTEST_MAIN(TestServerBursts)
#include "TestServerBursts.moc"
