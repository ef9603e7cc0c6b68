// The one line of share-list requests, peer messaging's: requests are handed
// to the provider one at a time, and the line moves on whatever the
// provider does. Each asker is a peer at an address of its own.
#include <QtTest>

#include "FakePeerLink.h"
#include "MemStream.h"
#include "PeerFixture.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"

namespace {
MemStream Answer(quint32 code, int size)
{
    MemStream message;
    message.Write(code);
    message.Append(QByteArray(size - 4, char(code)));
    return message;
}
} // namespace

class TestShareListLine : public QObject
{
    Q_OBJECT

private slots:
    // The one line of share lists always moves on: a request handed over
    // that the provider says nothing about gives way once its bound has
    // passed, one whose asker leaves gives way at once, and a list the
    // provider sends late still goes.
    void theLineOfShareListsMovesOnWhenTheProviderSaysNothing()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        QStringList handed;
        f.peer->SetShareListProvider([&](QString user) { handed << user; });
        QObject peers;
        QList<FakePeerLink*> askers;
        for (const QString& name : {"silent", "leaving", "last"}) {
            askers << f.Link(&peers, name, PeerFixture::Reading::All, 41 + askers.size());
            QVERIFY(askers.last());
            askers.last()->SendMessage(PeerMessages::SharedFileListRequest, {});
        }
        QTRY_COMPARE_WITH_TIMEOUT(handed, QStringList{"silent"}, 30000);
        f.Advance(PeerMessenger::HandedShareListTimeout);
        f.Tick();
        QTRY_COMPARE_WITH_TIMEOUT(handed, (QStringList{"silent", "leaving"}), 30000);
        askers[1]->Close();
        QTRY_COMPARE_WITH_TIMEOUT(handed, (QStringList{"silent", "leaving", "last"}), 30000);
        MemStream list = Answer(PeerMessages::SharedFileList, 1000);
        f.peer->SendMessage("silent", list);
        QVERIFY(askers[0]->WaitForMessages(1, 30000));
        QCOMPARE(askers[0]->messages[0].first, quint32(PeerMessages::SharedFileList));
    }

    // Lists sent at once to browsers that never read: they never take the
    // last part of our answers' room, and the next list waiting for room
    // lets other answers that fit go first, so a folder's contents larger
    // than a small answer, asked for meanwhile, is answered at once rather
    // than after a stall time.
    void listsSentAtOnceLeaveRoomForOtherAnswers()
    {
        PeerFixture f;
        QVERIFY(f.Start());
        const qint64 room = 32 * 1024 * 1024;
        f.peer->SetAnswerAllowance(room);
        f.peer->SetShareListProvider([&](QString user) {
            MemStream list = Answer(PeerMessages::SharedFileList, 6000 * 1000);
            f.peer->SendMessage(user, list);
        });
        connect(f.peer, &PeerMessenger::SharedFilesInFolderRequested, [&](QString user, quint32, QString) {
            MemStream contents = Answer(PeerMessages::FolderContents, 2000 * 1000);
            f.peer->SendMessage(user, contents);
        });
        QObject peers;
        FakePeerLink* reader = f.Link(&peers, "reader", PeerFixture::Reading::All, 40);
        QVERIFY(reader);
        reader->SendMessage(PeerMessages::FolderContentsRequest, QByteArray(8, '\0'));
        QVERIFY(reader->WaitForMessages(1, 30000));
        for (int i = 0; i < 20; ++i) {
            FakePeerLink* mute = f.Link(&peers, QString("mute%1").arg(i), PeerFixture::Reading::Nothing, 41 + i);
            QVERIFY(mute);
            mute->SendMessage(PeerMessages::SharedFileListRequest, {});
        }
        // More than the system takes of each is held: the line comes to wait
        // for room, and what the lists left free is the headroom.
        QTRY_VERIFY_WITH_TIMEOUT(f.peer->Answers().Waiting() > 0, 30000);
        const qint64 free = room - f.peer->Answers().Used();
        QVERIFY2(free >= room / PeerMessenger::ShareListHeadroomDivisor,
                 qPrintable(QString("%1 bytes free").arg(free)));
        reader->SendMessage(PeerMessages::FolderContentsRequest, QByteArray(8, '\0'));
        QVERIFY(reader->WaitForMessages(2, 30000));
        QCOMPARE(reader->messages[1].first, quint32(PeerMessages::FolderContents));
    }
};

QTEST_MAIN(TestShareListLine)
#include "TestShareListLine.moc"
