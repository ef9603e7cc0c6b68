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
};

QTEST_MAIN(TestShareListLine)
#include "TestShareListLine.moc"
