// What our answers may make us hold for a peer that asks and reads nothing:
// its questions wait past the bound and it is closed when it takes nothing
// for long, our own requests all go, and a peer that reads has every answer.
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

// A message connection that name opened to us, registered; its window is
// receiveBuffer bytes when given. Null when any of it fails.
FakePeerLink* Linked(PeerFixture& f, const QString& name, int receiveBuffer = 0)
{
    FakePeer* fake = f.AddPeer(name);
    if (!fake)
        return nullptr;
    fake->SetReceiveBuffer(receiveBuffer);
    FakePeerLink* link = fake->Greet(f.peer->ListeningPort(), false, "P", 1);
    return link && QTest::qWaitFor([&] { return f.peer->MessageConnectionCount(name) == 1; }, 5000) ? link : nullptr;
}

QList<quint32> Codes(FakePeerLink* link)
{
    QList<quint32> codes;
    for (const auto& message : link->messages)
        codes << message.first;
    return codes;
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

    // A small answer not yet handed to the system, a large one behind it:
    // the next answer still goes, whether small or large.
    void questionsBackToBackAreAllAnsweredToAPeerThatReads()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        FakePeerLink* link = Linked(f, "reader");
        QVERIFY(link);
        connect(f.peer, &PeerMessenger::SharedFilesInFolderRequested, this, [&](QString user, quint32 token) {
            MemStream answer = Answer(37, token, 200);
            f.peer->SendMessage(user, answer);
        });
        connect(f.peer, &PeerMessenger::UserInfoRequested, this, [&](QString user) {
            MemStream answer = Answer(16, 0, 5000000);
            f.peer->SendMessage(user, answer);
        });
        connect(f.peer, &PeerMessenger::FileTransferRequested, this,
                [&](QString user, int, uint token) { f.peer->AcceptTransferRequest(user, token, false, 0); });
        f.peer->SetShareListProvider([&](QString user) {
            MemStream list = Answer(5, 0, 5900000);
            f.peer->SendMessage(user, list);
        });
        const QByteArray folder = FakeWire::Message(36, FakeWire().U32(7).Str("music").Bytes());
        const QByteArray info = FakeWire::Message(15, {});
        link->SendRaw(folder + info + FakeWire::Message(40, FakeWire().U32(0).U32(41).Str("a.mp3").Bytes()));
        QVERIFY(link->WaitForMessages(3, 30000));
        QCOMPARE(Codes(link), (QList<quint32>{37, 16, 41}));
        link->SendRaw(folder + info + FakeWire::Message(4, {}));
        QVERIFY(link->WaitForMessages(6, 30000));
        QCOMPARE(Codes(link).mid(3), (QList<quint32>{37, 16, 5}));
        QCOMPARE(link->messages.last().second.size(), 5900000 - 4);
    }

    void answersPastTheBoundWaitWhileOurOwnRequestsAllGo()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        FakePeerLink* link = Linked(f, "mallory");
        QVERIFY(link);
        link->StopReading();
        // Each folder is answered as the shared folders would a large one.
        const int answerSize = 256 * 1024;
        connect(f.peer, &PeerMessenger::SharedFilesInFolderRequested, this, [&](QString user, quint32 token) {
            MemStream answer = Answer(37, token, answerSize);
            f.peer->SendMessage(user, answer);
        });
        // Not a question: it is handled while the questions before it wait.
        QSignalSpy read(f.peer, &PeerMessenger::UploadFailed);
        const int questions = 120;
        for (int i = 0; i < questions; ++i)
            link->SendMessage(36, FakeWire().U32(quint32(i)).Str(QString("folder %1").arg(i)).Bytes());
        link->SendMessage(46, FakeWire().Str("last").Bytes());
        QVERIFY(read.wait(30000));
        // The message being written, the bound, and the answer to the last
        // question let through.
        QVERIFY2(f.peer->UnwrittenBytes("mallory") <= 2 * (answerSize + 4) + WriteBacklog::MaxBacklog,
                 qPrintable(QString::number(f.peer->UnwrittenBytes("mallory"))));
        QVERIFY(f.LogText("Peer Messenger").contains("its questions wait until it reads"));

        // Our own requests are never held back.
        const int requests = 2000;
        for (int i = 0; i < requests; ++i)
            f.peer->QueueDownload("mallory", QString("file %1").arg(i).toStdString());
        link->ResumeReading();
        QTRY_COMPARE_WITH_TIMEOUT(Received(link, 43), requests, 30000);
        // Reading, the peer has every answer, in the order it asked.
        QTRY_COMPARE_WITH_TIMEOUT(Received(link, 37), questions, 30000);
        quint32 token = 0;
        for (const auto& message : link->messages)
            if (message.first == 37)
                QCOMPARE(message.second.left(4), FakeWire().U32(token++).Bytes());
        QVERIFY(f.LogText("Peer Messenger").contains("mallory reads again"));
    }

    // Talking keeps a connection from being idle, but not one that takes
    // none of what waits for it.
    void aPeerTakingNoneOfOurAnswersIsClosedHoweverItTalks()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        // The system takes in what it can at once, and no more.
        FakePeerLink* link = Linked(f, "mallory", 4096);
        QVERIFY(link);
        link->StopReading();
        connect(f.peer, &PeerMessenger::UserInfoRequested, this, [&](QString user) {
            MemStream answer = Answer(16, 0, 8000000);
            f.peer->SendMessage(user, answer);
        });
        QSignalSpy talked(f.peer, &PeerMessenger::UploadFailed);
        link->SendMessage(15, {});
        QTRY_VERIFY_WITH_TIMEOUT(f.peer->UnwrittenBytes("mallory") > 0, 30000);
        auto talk = [&] {
            const int before = talked.count();
            link->SendMessage(46, FakeWire().Str("still here").Bytes());
            return QTest::qWaitFor([&] { return talked.count() > before; }, 5000);
        };
        // The systems on the way have taken what they take: what waits
        // stays the same over a round trip.
        qint64 waiting = -1;
        for (int round = 0; round < 20 && waiting != f.peer->UnwrittenBytes("mallory"); ++round) {
            waiting = f.peer->UnwrittenBytes("mallory");
            QVERIFY(talk());
        }
        QCOMPARE(f.peer->UnwrittenBytes("mallory"), waiting);
        f.Advance(PeerMessenger::StallTimeout - 1000);
        QVERIFY(talk());
        f.Tick();
        QCOMPARE(f.peer->MessageConnectionCount("mallory"), 1);
        f.Advance(1000);
        QVERIFY(talk());
        f.Tick();
        QCOMPARE(f.peer->MessageConnectionCount("mallory"), 0);
        QCOMPARE(f.peer->Answers().Used(), 0);
        QVERIFY(f.LogText("Peer Messenger").contains("it has taken none of the"));
    }

    // A path names a file; one longer than any system allows is not one.
    void aQuestionLongerThanAnyPathIsNotAnswered()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        FakePeerLink* link = Linked(f, "asker");
        QVERIFY(link);
        QSignalSpy queued(f.peer, &PeerMessenger::QueueUploadRequested);
        for (int length : {int(PeerMessenger::MaxQuestion), 100000, 100})
            link->SendMessage(43, FakeWire().StrBytes(QByteArray(length, 'p')).Bytes());
        QTRY_COMPARE_WITH_TIMEOUT(queued.count(), 2, 30000);
        QCOMPARE(queued[0].at(1).toString().size(), 100000);
        QCOMPARE(queued[1].at(1).toString().size(), 100);
        QVERIFY(f.LogText("Peer Messenger").contains("longer than any path or folder name"));
        QCOMPARE(f.peer->Answers().Used(), 0);
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
