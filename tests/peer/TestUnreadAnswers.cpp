// What our answers may make us hold for a peer that asks and reads nothing:
// answers past the bound are dropped and logged, our own requests all go,
// and once the peer reads it is answered again.
#include <QSignalSpy>
#include <QtTest>

#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "MemStream.h"
#include "PeerFixture.h"
#include "PeerMessenger.h"
#include "WriteBacklog.h"

namespace {
const qint64 MiB = 1024 * 1024;

// A message of size bytes: the code, the token, then filling, as a large
// answer (sent as it is built: nothing on the way compresses it).
MemStream Answer(quint32 code, quint32 token, int size)
{
    MemStream message;
    message.Write(code);
    message.Write(token);
    message.Append(QByteArray(size - 8, 'x'));
    return message;
}

int Received(FakePeerLink* link, quint32 code)
{
    int count = 0;
    for (const auto& message : link->messages)
        count += message.first == code;
    return count;
}
} // namespace

class TestUnreadAnswers : public QObject
{
    Q_OBJECT

private slots:
    void theBoundCountsWhatWaitsBehindTheMessageBeingWritten()
    {
        WriteBacklog backlog;
        // A picture larger than the bound is being written; one answer of
        // any size may still follow it, then nothing that passes the bound.
        backlog.Queued(16, 6 * MiB);
        QVERIFY(backlog.Fits(5 * MiB, 6 * MiB));
        backlog.Queued(5, 3 * MiB);
        QVERIFY(backlog.Fits(MiB, 9 * MiB));
        QVERIFY(!backlog.Fits(MiB + 1, 9 * MiB));
        QVERIFY(backlog.Waits(16, 9 * MiB));
        // Half of the picture gone: still the one being written.
        QVERIFY(!backlog.Fits(MiB + 1, 6 * MiB));
        QVERIFY(backlog.Waits(16, 6 * MiB));
        // Gone whole: the list is the one being written, nothing behind it.
        QVERIFY(!backlog.Waits(16, 3 * MiB));
        QVERIFY(backlog.Fits(8 * MiB, 3 * MiB));
        QVERIFY(backlog.Waits(5, 1));
        QVERIFY(!backlog.Waits(5, 0));
    }

    void answersPastTheBoundAreDroppedWhileOurOwnRequestsAllGo()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        FakePeer* fake = f.AddPeer("mallory");
        QVERIFY(fake);
        FakePeerLink* link = fake->Greet(f.peer->ListeningPort(), false, "P", 1);
        QVERIFY(link);
        QTRY_COMPARE_WITH_TIMEOUT(f.peer->MessageConnectionCount("mallory"), 1, 30000);
        link->StopReading();
        // Each folder is answered as the shared folders would a large one.
        const int answerSize = 256 * 1024;
        connect(f.peer, &PeerMessenger::SharedFilesInFolderRequested, this, [&](QString user, quint32 token) {
            MemStream answer = Answer(37, token, answerSize);
            f.peer->SendMessage(user, answer);
        });
        QSignalSpy handled(f.peer, &PeerMessenger::UploadPlaceInLineRequested);
        const int questions = 120;
        for (int i = 0; i < questions; ++i)
            link->SendMessage(36, FakeWire().U32(quint32(i)).Str(QString("folder %1").arg(i)).Bytes());
        link->SendMessage(51, FakeWire().Str("last").Bytes());
        QVERIFY(handled.wait(30000));
        QVERIFY2(f.peer->UnwrittenBytes("mallory") <= answerSize + 4 + WriteBacklog::MaxBacklog,
                 qPrintable(QString::number(f.peer->UnwrittenBytes("mallory"))));
        QVERIFY(f.LogText("Peer Messenger").contains("dropping further answers to it"));

        // Our own requests are never dropped.
        const int requests = 2000;
        for (int i = 0; i < requests; ++i)
            f.peer->QueueDownload("mallory", QString("file %1").arg(i).toStdString());
        link->ResumeReading();
        QTRY_COMPARE_WITH_TIMEOUT(Received(link, 43), requests, 20000);
        const int answered = Received(link, 37);
        QVERIFY2(answered > 0 && answered < questions, qPrintable(QString("%1 of %2").arg(answered).arg(questions)));

        // Reading again, the peer is answered again.
        link->SendMessage(36, FakeWire().U32(999).Str("again").Bytes());
        QTRY_COMPARE_WITH_TIMEOUT(Received(link, 37), answered + 1, 30000);
        QCOMPARE(link->messages.last().second.left(4), FakeWire().U32(999).Bytes());
        QVERIFY(f.LogText("Peer Messenger").contains("mallory reads again"));
    }

    void answersWaitingForAConnectionAreBoundedToo()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        // Search answers to a user who is not there wait for a connection
        // that will not come; a megabyte each, four fit.
        for (int i = 0; i < 10; ++i) {
            MemStream answer = Answer(9, quint32(i), int(MiB));
            f.peer->SendMessage("away", answer);
        }
        QCOMPARE(f.peer->UnsentMessageCount("away"), 4);
        QCOMPARE(f.peer->UnwrittenBytes("away"), 4 * MiB);
        f.peer->GetUserInfo("away");
        QCOMPARE(f.peer->UnsentMessageCount("away"), 5);
    }
};

QTEST_MAIN(TestUnreadAnswers)
#include "TestUnreadAnswers.moc"
