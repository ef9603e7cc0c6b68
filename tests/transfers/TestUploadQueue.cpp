#include <QtTest>
#include <memory>

#include "Data.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "TestServer.h"
#include "TransferQueueManager.h"
#include "UploadsFixture.h"

// Which requests of other users join the upload queue, and what the peers
// are told: the refusals with their reasons, the per-user limits, place in
// line, the user's own offers and the empty-share check.
class TestUploadQueue : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<UploadsFixture> f;

    void Ask(FakePeerLink* link, const QString& name) { link->SendMessage(43, FakeWire().Str(name).Bytes()); }
    // The last refusal the peer received, once there are count of them.
    Denial NthDenial(FakePeerLink* link, int count)
    {
        Denial denial;
        if (UploadsFixture::WaitFor(link, 50, count))
            denial.Read(UploadsFixture::Received(link, 50).at(count - 1));
        return denial;
    }
    // The place the peer is told for a name; -1 when no answer came before
    // the answer for the marker name, which must have a place.
    int PlaceInLine(FakePeerLink* link, const QString& name, const QString& marker)
    {
        const int before = UploadsFixture::Received(link, 44).size();
        link->SendMessage(51, FakeWire().Str(name).Bytes());
        link->SendMessage(51, FakeWire().Str(marker).Bytes());
        if (!UploadsFixture::WaitFor(link, 44, before + 1))
            return -2;
        FakeWire in(UploadsFixture::Received(link, 44).at(before));
        QString answered;
        quint32 place = 0;
        if (!in.ReadStr(answered) || !in.ReadU32(place) || !in.AtEnd())
            return -3;
        // Answers come in the order of the questions: when the first is the
        // marker's, the name got none.
        if (answered != name)
            return -1;
        return UploadsFixture::WaitFor(link, 44, before + 2) ? int(place) : -2;
    }

private slots:
    void init()
    {
        f.reset(new UploadsFixture);
        QVERIFY(f->Start());
    }
    void cleanup() { f.reset(); }

    void namesOutsideTheVisibleSharesAreNotShared()
    {
        f->WriteFile("pub/a.bin", "a");
        f->WriteFile("private/p.bin", "p");
        f->WriteFile("outside/secret.bin", "secret");
        f->Share("pub");
        f->Share("private", false);
        FakePeerLink* link = f->OnlinePeer("eve");
        QVERIFY(link);

        const QStringList names = {
            f->Remote("pub/missing.bin"),
            f->Remote("private/p.bin"),
            f->Remote("pub") + "\\..\\outside\\secret.bin",
            "..\\..\\outside\\secret.bin",
            "..\\..\\..\\..\\..\\..\\etc\\passwd",
            f->Path("outside/secret.bin"),
            f->Remote("outside/secret.bin"),
            "\\etc\\passwd",
            "/etc/passwd",
        };
        int count = 0;
        for (const QString& name : names) {
            Ask(link, name);
            const Denial denial = NthDenial(link, ++count);
            QCOMPARE(denial.name, name);
            QCOMPARE(denial.reason, QString("File not shared."));
            // A refused name leaves nothing behind in the store.
            QVERIFY(!d.GetType("filename_as_requested")->HasItem(Value(name)));
        }
        QCOMPARE(d.GetType("upload_entry")->Count(), size_t(0));
        QVERIFY(UploadsFixture::Received(link, 40).isEmpty());

        // A name of the share itself is taken.
        Ask(link, f->Remote("pub/a.bin"));
        QVERIFY(UploadsFixture::WaitFor(link, 40, 1));
    }

    void pendingShutdownRefusesSharedFilesOnly()
    {
        f->WriteFile("pub/a.bin", "a");
        f->Share("pub");
        FakePeerLink* link = f->OnlinePeer("alice");
        QVERIFY(link);
        SetRuntimeSetting("finish_uploads_and_quit", "yes");
        Ask(link, f->Remote("pub/a.bin"));
        QCOMPARE(NthDenial(link, 1).reason, QString("Pending shutdown."));
        Ask(link, f->Remote("pub/b.bin"));
        QCOMPARE(NthDenial(link, 2).reason, QString("File not shared."));
        SetRuntimeSetting("finish_uploads_and_quit", "no");
        Ask(link, f->Remote("pub/a.bin"));
        QVERIFY(UploadsFixture::WaitFor(link, 40, 1));
    }

    void perUserLimitsCountQueuedEntriesOnly()
    {
        for (int i = 1; i <= 5; ++i)
            f->WriteFile(QString("pub/f%1.bin").arg(i), "x");
        f->Share("pub");
        FakePeerLink* link = f->OnlinePeer("alice");
        QVERIFY(link);
        SetSetting("max_queued_uploads_per_user_enabled", "yes");
        SetSetting("max_queued_uploads_per_user", "2");

        // The first one runs and does not count; two more fill the limit.
        for (int i = 1; i <= 3; ++i)
            Ask(link, f->Remote(QString("pub/f%1.bin").arg(i)));
        Ask(link, f->Remote("pub/f4.bin"));
        Denial denial = NthDenial(link, 1);
        QCOMPARE(denial.name, f->Remote("pub/f4.bin"));
        QCOMPARE(denial.reason, QString("Too many files"));
        QCOMPARE(f->engine->QueuedUploadCount(), 2);
        QCOMPARE(UploadsFixture::Received(link, 40).size(), 1);

        // Asking again for a queued or running file is answered by nothing;
        // a finished entry is queued again whatever the limits say.
        Ask(link, f->Remote("pub/f2.bin"));
        Ask(link, f->Remote("pub/f1.bin"));
        QCOMPARE(PlaceInLine(link, f->Remote("pub/f3.bin"), f->Remote("pub/f3.bin")), 2);
        QCOMPARE(UploadsFixture::Received(link, 50).size(), 1);
        const ItemPtr first = UploadsFixture::Entry("alice", f->Remote("pub/f1.bin"));
        f->engine->SetUploadEntryStatus(first, "complete");
        Ask(link, f->Remote("pub/f1.bin"));
        TransferRequest again;
        QVERIFY(UploadsFixture::WaitFor(link, 40, 2));
        QVERIFY(again.Read(UploadsFixture::Received(link, 40).at(1)));
        QCOMPARE(again.name, f->Remote("pub/f1.bin"));
        QCOMPARE(f->engine->QueuedUploadCount(), 2);
        QCOMPARE(UploadsFixture::Received(link, 50).size(), 1);
    }

    void megabyteLimitIsInWholeMegabytesOfTheQueue()
    {
        f->WriteFile("pub/busy.bin", "x");
        f->SparseFile("pub/big.bin", 500LL * 1048576 + 1048575);
        f->WriteFile("pub/one.bin", "1");
        f->WriteFile("pub/more.bin", "m");
        f->SparseFile("pub/huge.bin", 6LL * 1024 * 1048576);
        f->Share("pub");
        FakePeerLink* alice = f->OnlinePeer("alice");
        FakePeerLink* bob = f->OnlinePeer("bob");
        QVERIFY(alice && bob);
        SetSetting("max_queued_mb_per_user_enabled", "yes");
        SetSetting("max_queued_mb_per_user", "500");

        // alice takes the only slot, so bob's entries stay queued.
        Ask(alice, f->Remote("pub/busy.bin"));
        QVERIFY(UploadsFixture::WaitFor(alice, 40, 1));
        Ask(bob, f->Remote("pub/big.bin"));
        Ask(bob, f->Remote("pub/one.bin"));
        Ask(bob, f->Remote("pub/more.bin"));
        const Denial denial = NthDenial(bob, 1);
        QCOMPARE(denial.name, f->Remote("pub/more.bin"));
        QCOMPARE(denial.reason, QString("Too many megabytes"));
        QCOMPARE(f->engine->QueuedUploadCount(), 2);

        // Whatever the file's own size, it is announced whole.
        SetSetting("max_queued_mb_per_user_enabled", "no");
        f->engine->RemoveUpload(UploadsFixture::Entry("alice", f->Remote("pub/busy.bin")));
        f->engine->RemoveUpload(UploadsFixture::Entry("bob", f->Remote("pub/big.bin")));
        f->engine->RemoveUpload(UploadsFixture::Entry("bob", f->Remote("pub/one.bin")));
        Ask(bob, f->Remote("pub/huge.bin"));
        TransferRequest request;
        QVERIFY(f->WaitForRequest(bob, f->Remote("pub/huge.bin"), request));
        QCOMPARE(request.size, quint64(6LL * 1024 * 1048576));
    }

    void placeInLineAnswersOnlyTheRequestedName()
    {
        for (const char* name : {"a.bin", "b.bin", "c.bin"})
            f->WriteFile(QString("pub/") + name, "x");
        f->Share("pub");
        FakePeerLink* link = f->OnlinePeer("alice");
        QVERIFY(link);
        const QString a = f->Remote("pub/a.bin"), b = f->Remote("pub/b.bin"), c = f->Remote("pub/c.bin");
        Ask(link, a);
        Ask(link, b);
        Ask(link, c);
        QTRY_COMPARE_WITH_TIMEOUT(f->engine->QueuedUploadCount(), 2, 30000);

        // a got place 1, was renumbered 0 when it started; the slot was then
        // taken, so b and c followed on from it.
        QCOMPARE(PlaceInLine(link, a, a), 0);
        QCOMPARE(PlaceInLine(link, b, b), 1);
        QCOMPARE(PlaceInLine(link, c, c), 2);

        // Another spelling of the name, or a name never queued, gets no
        // answer, and the question leaves no item behind.
        QString slashed = b;
        slashed.replace('\\', '/');
        QCOMPARE(PlaceInLine(link, slashed, c), -1);
        QCOMPARE(PlaceInLine(link, "never\\queued.bin", c), -1);
        QVERIFY(!d.GetType("filename_as_requested")->HasItem(Value(slashed)));
        QVERIFY(!d.GetType("filename_as_requested")->HasItem("never\\queued.bin"));

        // Once the running upload is gone, the queue is numbered from 0.
        f->engine->RemoveUpload(UploadsFixture::Entry("alice", a));
        QCOMPARE(PlaceInLine(link, b, b), 0);
        QCOMPARE(PlaceInLine(link, c, c), 1);
        QCOMPARE(UploadsFixture::Status(UploadsFixture::Entry("alice", b)), QString("requesting"));
    }

    void offeringAFileTellsThePeerAndQueuesIt()
    {
        f->WriteFile("pub/gift.bin", "12345");
        f->WriteFile("private/p.bin", "p");
        f->Share("pub");
        f->Share("private", false);
        FakePeerLink* link = f->OnlinePeer("alice");
        QVERIFY(link);

        f->engine->AddUpload("alice", f->Remote("private/p.bin"));
        f->engine->AddUpload("alice", f->Remote("pub/gift.bin"));
        QVERIFY(UploadsFixture::WaitFor(link, 60, 1));
        FakeWire offer(UploadsFixture::Received(link, 60).at(0));
        QString name;
        quint64 size = 0;
        QVERIFY(offer.ReadStr(name) && offer.ReadU64(size) && offer.AtEnd());
        QCOMPARE(name, f->Remote("pub/gift.bin"));
        QCOMPARE(size, quint64(5));
        QVERIFY(UploadsFixture::WaitFor(link, 40, 1));

        // Offered again: the peer hears of it again, the entry stays one.
        f->engine->AddUpload("alice", f->Remote("pub/gift.bin"));
        QVERIFY(UploadsFixture::WaitFor(link, 60, 2));
        QCOMPARE(d.GetType("upload_entry")->Count(), size_t(1));
        QVERIFY(UploadsFixture::Received(link, 50).isEmpty());
    }

    void peersSharingNothingAreWarnedOnce()
    {
        f->WriteFile("pub/a.bin", "a");
        f->WriteFile("pub/b.bin", "b");
        f->Share("pub");
        SetSetting("check_for_empty_shares", "yes");
        FakePeerLink* alice = f->OnlinePeer("alice");
        FakePeerLink* bob = f->OnlinePeer("bob");
        FakePeerLink* carol = f->OnlinePeer("carol");
        QVERIFY(alice && bob && carol);
        d.GetType("user")->HasItem("bob").NewItem("in_user_list");

        Ask(alice, f->Remote("pub/a.bin"));
        QVERIFY(UploadsFixture::WaitFor(alice, 4, 1));
        QCOMPARE(d.GetType("user")->HasItem("alice")["empty_share_check_status"].AsString(), QString("requested"));
        alice->SendMessage(5, FakeWire::Compress(FakeWire().U32(0).U32(0).Bytes()));
        QTRY_COMPARE_WITH_TIMEOUT(d.GetType("user")->HasItem("alice")["empty_share_check_status"].AsString(),
                                  QString("empty"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(f->net.server->Count(22), 1, 30000);
        FakeWire chat(f->net.server->ReceivedMessages(22).at(0).body);
        QString to, text;
        QVERIFY(chat.ReadStr(to) && chat.ReadStr(text));
        QCOMPARE(to, QString("alice"));
        QCOMPARE(text, GetSetting("empty_share_message"));
        QCOMPARE(d.GetType("user")->HasItem("alice")["sent_empty_share_warning_message"].AsString(), text);

        // Asked once per user; a user on the list is never asked.
        Ask(alice, f->Remote("pub/b.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(UploadsFixture::Entry("alice", f->Remote("pub/b.bin")), 30000);
        Ask(bob, f->Remote("pub/a.bin"));
        QCOMPARE(PlaceInLine(alice, f->Remote("pub/b.bin"), f->Remote("pub/b.bin")), 1);
        QCOMPARE(PlaceInLine(bob, f->Remote("pub/a.bin"), f->Remote("pub/a.bin")), 2);
        QCOMPARE(UploadsFixture::Received(alice, 4).size(), 1);
        QVERIFY(UploadsFixture::Received(bob, 4).isEmpty());

        // A share with something in it, or an empty warning text: no chat.
        SetSetting("empty_share_message", "");
        Ask(carol, f->Remote("pub/a.bin"));
        QVERIFY(UploadsFixture::WaitFor(carol, 4, 1));
        carol->SendMessage(5, FakeWire::Compress(FakeWire().U32(0).U32(0).Bytes()));
        QTRY_COMPARE_WITH_TIMEOUT(d.GetType("user")->HasItem("carol")["empty_share_check_status"].AsString(),
                                  QString("empty"), 30000);
        // Asked again as the engine asks.
        d.GetType("user")->HasItem("alice").Connect(d.GetType("empty_share_check_status")->GetItem("requested"));
        f->net.peer->GetUserSharedFiles("alice");
        QVERIFY(UploadsFixture::WaitFor(alice, 4, 2));
        alice->SendMessage(5, FakeWire::Compress(FakeWire().U32(1).Str("music").U32(0).U32(0).Bytes()));
        QTRY_COMPARE_WITH_TIMEOUT(d.GetType("user")->HasItem("alice")["empty_share_check_status"].AsString(),
                                  QString("not_empty"), 30000);
        QVERIFY(f->ServerCaughtUp());
        QCOMPARE(f->net.server->Count(22), 1);
        // The queued uploads stay queued throughout.
        QCOMPARE(f->engine->QueuedUploadCount(), 3);
    }
};

QTEST_MAIN(TestUploadQueue)
#include "TestUploadQueue.moc"
