// A peer's messages that arrive together (a share list's worth of replies,
// hundreds of search results at once) are handled in slices across turns
// of the event loop, in their order; a close right behind them still lets
// them all through first, and dropping or deleting the connection mid-burst
// leaves nothing behind to run.
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <memory>

#include "PeerConnection.h"
#include "TestMessage.h"
#include "TurnBudget.h"
#include "TurnCounter.h"

namespace {
constexpr int Burst = 5000;

QByteArray Framed(const QByteArray& content)
{
    return TestMessage().U32(quint32(content.size())).Body() + content;
}

QByteArray Opening()
{
    return Framed(TestMessage().U8(1).Str("peer").Str("P").U32(7).Body());
}

// Messages whose code counts up from 0, each with a text of textLength.
QByteArray MessageFlood(int count, int textLength)
{
    QByteArray bytes;
    const QString padding(textLength, 'x');
    for (int i = 0; i < count; ++i)
        bytes += Framed(TestMessage().U32(quint32(i)).Str(padding).Body());
    return bytes;
}

QByteArray MessageBurst(int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += Framed(TestMessage().U32(quint32(1000 + i)).Str("x").Body());
    return bytes;
}

// An accepted message connection and the socket at the other end.
struct Pair
{
    QTcpServer listener;
    std::unique_ptr<QTcpSocket> far{new QTcpSocket};
    QPointer<PeerConnection> near;
    QObject owner;

    bool Open()
    {
        if (!listener.listen(QHostAddress::LocalHost))
            return false;
        far->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        if (!listener.waitForNewConnection(5000) || !far->waitForConnected(5000))
            return false;
        near = new PeerConnection(
            listener.nextPendingConnection(), false, [] { return qint64(0); }, &owner);
        QObject::connect(near, &PeerConnection::OpeningReceived, near, [this] { near->BeginMessages(); });
        far->write(Opening());
        return QTest::qWaitFor([this] { return near && near->GetState() == PeerConnection::State::Open; }, 30000);
    }
};
} // namespace

class TestPeerBursts : public QObject
{
    Q_OBJECT

private slots:
    void aBurstIsHandledWholeInOrderAcrossTurnsAndTheCloseComesLast()
    {
        Pair p;
        QVERIFY(p.Open());
        TurnCounter turns;
        QList<quint32> codes;
        int endedAfter = -1;
        connect(p.near, &PeerConnection::MessageReceived, this, [&](quint32 code) {
            codes << code;
            turns.Count();
        });
        connect(p.near, &PeerConnection::Ended, this, [&] { endedAfter = codes.size(); });
        p.far->write(MessageBurst(Burst));
        p.far->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(endedAfter >= 0, 60000);
        QCOMPARE(endedAfter, Burst);
        for (int i = 0; i < Burst; ++i)
            QCOMPARE(codes[i], quint32(1000 + i));
        const int most = turns.MostInOneTurn();
        // A turn's budget may be spent across the edge of a timer's turn.
        QVERIFY2(most <= 2 * TurnBudget::MaxMessages, qPrintable(QString("%1 in one turn").arg(most)));
    }

    // A peer sending faster than the client handles is slowed by TCP rather
    // than buffered for; what it sent before it closed is still handled.
    void aFloodIsReadNoFasterThanItIsHandledAndAllOfItInOrder()
    {
        Pair p;
        QVERIFY(p.Open());
        const int textLength = 1000;
        const int count = int(12 * PeerConnection::MaxUnreadBytes / textLength);
        int handled = 0;
        int outOfOrder = 0;
        int endedAfter = -1;
        qint64 most = 0;
        connect(p.near, &PeerConnection::MessageReceived, this, [&](quint32 code) {
            if (code != quint32(handled++))
                ++outOfOrder;
            most = qMax(most, p.near->UnreadBytes());
        });
        connect(p.near, &PeerConnection::Ended, this, [&] { endedAfter = handled; });
        p.far->write(MessageFlood(count, textLength));
        p.far->disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(endedAfter >= 0, 60000);
        QCOMPARE(endedAfter, count);
        QCOMPARE(outOfOrder, 0);
        QVERIFY2(most <= PeerConnection::MaxUnreadBytes, qPrintable(QString("%1 bytes unread").arg(most)));
    }

    // A message longer than the bound (a share list) is read whole, and what
    // follows it is not held back.
    void aMessageLargerThanTheBoundGetsThroughInItsPlace()
    {
        Pair p;
        QVERIFY(p.Open());
        QList<quint32> codes;
        QByteArray largeBody;
        qint64 most = 0;
        connect(p.near, &PeerConnection::MessageReceived, this, [&](quint32 code, const QByteArray& body) {
            codes << code;
            if (code == 5)
                largeBody = body;
            most = qMax(most, p.near->UnreadBytes());
        });
        const QByteArray large = TestMessage().Str(QString(int(3 * PeerConnection::MaxBacklog), 'y')).Body();
        const QByteArray largeFrame = Framed(TestMessage().U32(5).Body() + large);
        p.far->write(MessageBurst(3) + largeFrame + MessageBurst(3));
        QTRY_COMPARE_WITH_TIMEOUT(codes.size(), 7, 30000);
        QCOMPARE(codes, (QList<quint32>{1000, 1001, 1002, 5, 1000, 1001, 1002}));
        QCOMPARE(largeBody, large);
        QVERIFY(most <= largeFrame.size() + PeerConnection::SocketBufferLimit);
    }

    void droppingOrDeletingMidBurstStopsIt()
    {
        for (const bool drop : {true, false}) {
            Pair p;
            QVERIFY(p.Open());
            int handled = 0;
            bool ended = false;
            connect(p.near, &PeerConnection::MessageReceived, this, [&] {
                if (++handled != 1)
                    return;
                // After the first slice, from outside the handler.
                QTimer::singleShot(0, this, [&] {
                    if (drop)
                        p.near->Drop();
                    else
                        delete p.near;
                });
            });
            connect(p.near, &PeerConnection::Ended, this, [&] { ended = true; });
            p.far->write(MessageBurst(Burst));
            QTRY_VERIFY_WITH_TIMEOUT(p.far->state() == QAbstractSocket::UnconnectedState || !p.near, 30000);
            if (drop)
                QTRY_COMPARE_WITH_TIMEOUT(p.far->state(), QAbstractSocket::UnconnectedState, 30000);
            QVERIFY(handled < Burst);
            QVERIFY(!ended);
        }
    }
};

QTEST_MAIN(TestPeerBursts)
#include "TestPeerBursts.moc"
