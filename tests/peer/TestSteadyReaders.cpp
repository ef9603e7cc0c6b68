// Peers reading our answers at a steady pace, however slowly, alone, among
// others or in a browse storm: each keeps its connection and has its list
// whole, a search reply or a user's information is not held behind share
// lists, and one that takes nothing is still cut within the bound. Each
// reader reads its own socket, from an address of its own, at a pace
// counted on the fixture's clock, so that minutes of the messenger's time
// pass in seconds; the lists are larger than the system takes at once.
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>
#include <functional>

#include "FakePeerLink.h"
#include "MemStream.h"
#include "PeerFixture.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"

namespace {
const qint64 KiB = 1024;
const int ListBytes = 7500000;
const qint64 StepMs = 500;

MemStream Answer(quint32 code, int size)
{
    MemStream message;
    message.Write(code);
    message.Append(QByteArray(size - 4, char(code)));
    return message;
}

// What a reader reads of a message: its length field, then the message.
QByteArray Framed(const MemStream& message)
{
    QByteArray framed(4, 0);
    qToLittleEndian<quint32>(quint32(message.GetBytes().size()), framed.data());
    return framed + message.GetBytes();
}

// A message of bytes unlike their neighbours, so that a reader's copy
// shows any byte lost, repeated or out of order.
MemStream Varied(quint32 code, int size)
{
    MemStream message;
    message.Write(code);
    QByteArray body(size - 4, 0);
    QRandomGenerator(size).generate(reinterpret_cast<quint32*>(body.data()),
                                    reinterpret_cast<quint32*>(body.data()) + body.size() / 4);
    message.Append(body);
    return message;
}

struct Reader
{
    QTcpSocket* socket;
    // Bytes a second of the fixture's clock.
    qint64 pace;
    qint64 taken = 0;
    qint64 owed = 0;
    // What it read, when kept.
    QByteArray* received = nullptr;
    bool Whole() const { return taken == 4 + ListBytes; }
};

// What each reader took, and why the messenger closed what it closed: the
// message of a failed check, so that a run that fails tells which.
QByteArray Account(PeerFixture& f, const QList<Reader>& readers)
{
    QStringList lines;
    for (int i = 0; i < readers.size(); ++i)
        lines << QString("reader %1 at %2 B/s took %3 of %4, %5")
                     .arg(i)
                     .arg(readers[i].pace)
                     .arg(readers[i].taken)
                     .arg(4 + ListBytes)
                     .arg(readers[i].socket->state() == QAbstractSocket::ConnectedState ? "open" : "closed");
    for (const QString& line : f.LogText("Peer Messenger").split('\n'))
        if (line.contains("losing") || line.contains("ended"))
            lines << line;
    return lines.join('\n').toUtf8();
}

// A paced reader from 127.0.0.host that asked for our list, once more of
// it waits than the systems on the way took; null when any of it fails.
FakePeerLink* Asking(PeerFixture& f, QObject* owner, const QString& name, int host)
{
    FakePeerLink* link = f.Link(owner, name, PeerFixture::Reading::Paced, host);
    if (link)
        link->SendMessage(PeerMessages::SharedFileListRequest, {});
    return link && QTest::qWaitFor([&] { return f.peer->UnwrittenBytes(name) > 0; }, 30000) ? link : nullptr;
}

// Moves the fixture's clock on a step at a time, for ms or until done():
// each reader takes its pace's share, waiting for it once its list has
// begun, and the half-minute tick runs on the half minute. False when a
// reader waited in vain.
bool Run(PeerFixture& f, QList<Reader>& readers, qint64 ms, const std::function<bool()>& done = {})
{
    for (const qint64 end = f.now + ms; f.now < end && !(done && done());) {
        for (Reader& r : readers) {
            auto open = [&] { return r.socket->state() == QAbstractSocket::ConnectedState; };
            r.owed = std::min(r.owed + r.pace * StepMs / 1000, 4 + ListBytes - r.taken);
            if ((r.taken == 0 && r.socket->bytesAvailable() == 0) || !open())
                r.owed = 0;
            while (r.owed > 0) {
                // Asked for more than it holds, the socket takes more from
                // the system.
                const QByteArray read = r.socket->read(r.owed);
                if (r.received)
                    r.received->append(read);
                const qint64 got = read.size();
                r.taken += got;
                r.owed -= got;
                if (r.owed > 0 && !open())
                    r.owed = 0;
                else if (r.owed > 0 &&
                         !QTest::qWaitFor([&] { return r.socket->bytesAvailable() > 0 || !open(); }, 30000))
                    return false;
            }
        }
        f.Advance(StepMs);
        if (f.now % PeerMessenger::AttemptTimeout == 0)
            f.Tick();
        QCoreApplication::processEvents();
    }
    return true;
}
} // namespace

class TestSteadyReaders : public QObject
{
    Q_OBJECT

private slots:
    // The system takes megabytes at once and drains them at the reader's
    // pace with nothing to tell it: a reader at 10 KiB/s alone still counts
    // as taking, however many stall times pass.
    void aLoneSlowReaderHasTheWholeList()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        MemStream list = Answer(PeerMessages::SharedFileList, ListBytes);
        f.peer->SetShareListProvider([&](QString user) { f.peer->SendMessage(user, list); });
        QObject peers;
        FakePeerLink* slow = Asking(f, &peers, "slow", 21);
        QVERIFY(slow);
        QList<Reader> readers{{slow->Socket(), 10 * KiB}};
        QVERIFY2(Run(f, readers, 2 * PeerMessenger::StallTimeout), Account(f, readers).constData());
        QVERIFY2(f.peer->MessageConnectionCount("slow") == 1, Account(f, readers).constData());
        // The point made, the rest at a faster pace.
        readers[0].pace = 100 * KiB;
        QVERIFY2(Run(f, readers, 600000, [&] { return readers[0].Whole(); }), Account(f, readers).constData());
        QVERIFY2(readers[0].Whole(), Account(f, readers).constData());
    }

    // Readers from 10 to 100 KiB/s hold room while a list waits for it:
    // only what our side still holds of each list counts, and every
    // reader keeps its connection and has its list whole.
    void steadyReadersAtAnyPaceKeepTheirListsWhileOthersWaitForRoom()
    {
        PeerFixture f;
        f.peer->SetAnswerAllowance(16 * 1024 * KiB);
        QVERIFY(f.Start());
        MemStream list = Answer(PeerMessages::SharedFileList, ListBytes);
        f.peer->SetShareListProvider([&](QString user) { f.peer->SendMessage(user, list); });
        QObject peers;
        QList<Reader> readers;
        // However much of a list the system takes at once, the fifth waits.
        for (const qint64 pace : {100, 40, 20, 10, 100}) {
            FakePeerLink* link = f.Link(&peers, QString("reader%1").arg(readers.size()), PeerFixture::Reading::Paced,
                                        31 + readers.size());
            QVERIFY(link);
            link->SendMessage(PeerMessages::SharedFileListRequest, {});
            readers.append({link->Socket(), pace * KiB});
        }
        QTRY_VERIFY_WITH_TIMEOUT(f.peer->Answers().Waiting() > 0, 30000);
        qint64 held = 0;
        for (int i = 0; i < readers.size(); ++i)
            held += f.peer->UnwrittenBytes(QString("reader%1").arg(i));
        QCOMPARE(f.peer->Answers().Used(), held);

        QVERIFY2(Run(f, readers, 18 * PeerMessenger::RoomStallTimeout), Account(f, readers).constData());
        for (Reader& reader : readers)
            reader.pace = 100 * KiB;
        auto whole = [&] {
            return std::all_of(readers.begin(), readers.end(), [](const Reader& r) { return r.Whole(); });
        };
        QVERIFY2(Run(f, readers, 600000, whole), Account(f, readers).constData());
        QVERIFY2(whole(), Account(f, readers).constData());
    }

    // A reader that stops reading mid-list for a minute and a half, with
    // nobody waiting for the room its list holds, keeps its connection and
    // then has the rest byte for byte.
    void aReaderThatPausesWhileNobodyWaitsKeepsItsList()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        MemStream list = Varied(PeerMessages::SharedFileList, ListBytes);
        f.peer->SetShareListProvider([&](QString user) { f.peer->SendMessage(user, list); });
        QObject peers;
        FakePeerLink* pauser = Asking(f, &peers, "pauser", 70);
        QVERIFY(pauser);
        QByteArray received;
        QList<Reader> readers{{pauser->Socket(), 200 * KiB}};
        readers[0].received = &received;
        QVERIFY2(Run(f, readers, 10000), Account(f, readers).constData());
        // What waits is more than the systems on the way hold: the pause
        // is one of taking none of it.
        QVERIFY(f.peer->UnwrittenBytes("pauser") > 0);
        readers[0].pace = 0;
        QVERIFY2(Run(f, readers, 95000), Account(f, readers).constData());
        QVERIFY2(f.peer->MessageConnectionCount("pauser") == 1, Account(f, readers).constData());
        readers[0].pace = 200 * KiB;
        QVERIFY2(Run(f, readers, 600000, [&] { return readers[0].Whole(); }), Account(f, readers).constData());
        QVERIFY(received == Framed(list));
    }

    // The same pause while another waits for the room the paused list
    // holds: once the pause is past what its pace explains, the room is
    // taken back from it, long before a pause alone would end it, and the
    // other has its list.
    void aReaderThatPausesWhileOthersWaitGivesItsRoomBack()
    {
        PeerFixture f;
        // Room for the first list as asked, not for two.
        f.peer->SetAnswerAllowance(4 + PeerMessages::MaxFrameLength);
        QVERIFY(f.Start());
        MemStream list = Varied(PeerMessages::SharedFileList, ListBytes);
        f.peer->SetShareListProvider([&](QString user) { f.peer->SendMessage(user, list); });
        QObject peers;
        FakePeerLink* pauser = Asking(f, &peers, "pauser", 71);
        QVERIFY(pauser);
        QList<Reader> readers{{pauser->Socket(), 200 * KiB}};
        QVERIFY2(Run(f, readers, 1000), Account(f, readers).constData());
        FakePeerLink* waiter = f.Link(&peers, "waiter", PeerFixture::Reading::Paced, 72);
        QVERIFY(waiter);
        waiter->SendMessage(PeerMessages::SharedFileListRequest, {});
        QTRY_VERIFY_WITH_TIMEOUT(f.peer->Answers().Waiting() > 0, 30000);
        QByteArray received;
        readers[0].pace = 0;
        readers.append({waiter->Socket(), 200 * KiB});
        readers[1].received = &received;
        const qint64 paused = f.now;
        QVERIFY2(Run(f, readers, 95000, [&] { return f.peer->MessageConnectionCount("pauser") == 0; }),
                 Account(f, readers).constData());
        QVERIFY2(f.peer->MessageConnectionCount("pauser") == 0, Account(f, readers).constData());
        QVERIFY(f.now - paused < PeerMessenger::StallTimeout);
        QVERIFY(f.LogText("Peer Messenger").contains("Closing a connection of pauser"));
        QVERIFY2(Run(f, readers, 600000, [&] { return readers[1].Whole(); }), Account(f, readers).constData());
        QVERIFY(received == Framed(list));
    }

    // Lists asked for by many at once are built one at a time, each a
    // while: room is claimed for one only when its turn comes, so a search
    // reply and a user's information go out meanwhile.
    void aBrowseStormHoldsNoSearchReplyOrUserInformationBack()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        QStringList building;
        f.peer->SetShareListProvider([&](QString user) { building << user; });
        connect(f.peer, &PeerMessenger::UserInfoRequested, this, [&](QString user) {
            MemStream info = Answer(PeerMessages::UserInfoReply, 2000);
            f.peer->SendMessage(user, info);
        });
        QObject peers;
        QList<FakePeerLink*> browsers;
        for (int i = 0; i < 8; ++i) {
            browsers << f.Link(&peers, QString("browser%1").arg(i), PeerFixture::Reading::All, 41 + i);
            QVERIFY(browsers.last());
            browsers.last()->SendMessage(PeerMessages::SharedFileListRequest, {});
        }
        FakePeerLink* probe = f.Link(&peers, "probe", PeerFixture::Reading::All, 60);
        QVERIFY(probe);
        QTRY_VERIFY_WITH_TIMEOUT(!building.isEmpty(), 30000);
        MemStream reply = Answer(PeerMessages::FileSearchResult, 3000);
        for (int i = 1; i <= 12; ++i) {
            if (i % 6)
                f.peer->SendMessageToUser("probe", reply);
            else
                probe->SendMessage(PeerMessages::UserInfoRequest, {});
            QTRY_COMPARE_WITH_TIMEOUT(probe->messages.size(), i, 30000);
            QCOMPARE(probe->messages.last().first, quint32(i % 6 ? 9 : 16));
        }
        // Then every list, one at a time.
        MemStream list = Answer(PeerMessages::SharedFileList, ListBytes);
        for (int sent = 0; sent < browsers.size(); ++sent) {
            QTRY_COMPARE_WITH_TIMEOUT(building.size(), 1, 30000);
            f.peer->SendMessage(building.takeFirst(), list);
        }
        for (FakePeerLink* browser : browsers)
            QVERIFY(browser->WaitForMessages(1, 30000));
    }
};

QTEST_MAIN(TestSteadyReaders)
#include "TestSteadyReaders.moc"
