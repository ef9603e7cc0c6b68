#include <QFile>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>
#include <memory>

#include "Data.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "TestServer.h"
#include "TransferQueueManager.h"
#include "UploadsFixture.h"

namespace {
QByteArray Pattern(int size, quint32 seed = 7)
{
    return TempTree::Pattern(size, seed);
}

int TransientItems()
{
    int count = 0;
    for (const char* type : {"read_position", "bytes_per_second", "last_receipt_time", "last_speed_measurement_time",
                             "upload_thread", "upload_socket", "upload_file"})
        count += int(d.GetType(type)->Count());
    return count;
}
// One end of a loopback connection as the system counts it
// (/proc/net/tcp): its state and the bytes it holds to send and to read.
struct TcpEnd
{
    int state = 0;
    qint64 unsent = 0;
    qint64 unread = 0;
};

bool FindTcpEnd(quint16 local, quint16 remote, TcpEnd& end)
{
    QFile table("/proc/net/tcp");
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 5 || fields[1].split(':').value(1).toUInt(nullptr, 16) != local ||
            fields[2].split(':').value(1).toUInt(nullptr, 16) != remote)
            continue;
        end.state = fields[3].toInt(nullptr, 16);
        end.unsent = fields[4].split(':').value(0).toLongLong(nullptr, 16);
        end.unread = fields[4].split(':').value(1).toLongLong(nullptr, 16);
        return true;
    }
    return false;
}
} // namespace

// An upload from the peer's request to its end, through the real peer
// messaging and file connection, and every way it can end early.
class TestUploadNegotiation : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<UploadsFixture> f;

    void Ask(FakePeerLink* link, const QString& name) { link->SendMessage(43, FakeWire().Str(name).Bytes()); }
    // Waits for the nth transfer request (from 1) and reads it.
    bool NthRequest(FakePeerLink* link, int n, TransferRequest& request)
    {
        return UploadsFixture::WaitFor(link, 40, n) && request.Read(UploadsFixture::Received(link, 40).at(n - 1));
    }
    void Accept(FakePeerLink* link, quint32 token) { link->SendMessage(41, FakeWire().U32(token).U8(1).Bytes()); }
    // Alice's first request, accepted: the file connection we open to her
    // once its token has arrived; null when any step fails.
    FakePeerLink* AcceptedFileLink(FakePeerLink* link, const QString& requested, TransferRequest& request)
    {
        Ask(link, requested);
        if (!NthRequest(link, 1, request))
            return nullptr;
        Accept(link, request.token);
        FakePeerLink* file = f->WaitForFileLink("alice");
        return file && file->WaitForRaw(4) ? file : nullptr;
    }

    // The names refused "File not shared.", sorted; a name refused for
    // another reason is marked.
    QStringList NotShared(FakePeerLink* link)
    {
        QStringList refused;
        for (const QByteArray& body : UploadsFixture::Received(link, 50)) {
            Denial denial;
            refused << (denial.Read(body) && denial.reason == "File not shared." ? denial.name : "?" + denial.reason);
        }
        refused.sort();
        return refused;
    }

private slots:
    void init()
    {
        f.reset(new UploadsFixture);
        QVERIFY(f->Start());
    }
    void cleanup() { f.reset(); }

    void requestedFileArrivesWholeAndLargeOnesReportTheirSpeed()
    {
        const QByteArray content = Pattern(4 * 1048576 + 4321);
        f->WriteFile("Music/Album/song.bin", content);
        f->Share("Music");
        FakePeerLink* link = f->OnlinePeer("alice");
        QVERIFY(link);

        // Another case and doubled separators still name the file; what is
        // read is the file the shares hold, under their own spelling.
        const QString requested = f->Remote("Music/Album/song.bin").toUpper().replace("\\ALBUM", "\\\\ALBUM");
        Ask(link, requested);
        TransferRequest request;
        QVERIFY(NthRequest(link, 1, request));
        QCOMPARE(request.direction, 1u);
        QCOMPARE(request.name, requested);
        QCOMPARE(request.size, quint64(content.size()));
        const ItemPtr entry = UploadsFixture::Entry("alice", requested);
        QCOMPARE(UploadsFixture::Status(entry), QString("requesting"));
        QCOMPARE(entry["transfer_req"].AsUInt(), request.token);

        Accept(link, request.token);
        FakePeerLink* file = f->WaitForFileLink("alice");
        QVERIFY(file);
        QVERIFY(file->WaitForRaw(4));
        QCOMPARE(qFromLittleEndian<quint32>(file->raw.constData()), request.token);
        QCOMPARE(UploadsFixture::Status(entry), QString("uploading"));

        file->SendRaw(FakeWire().U64(0).Bytes());
        QVERIFY(file->WaitForRaw(4 + content.size(), 30000));
        QVERIFY(file->raw.mid(4) == content);
        file->Close();
        QTRY_COMPARE_WITH_TIMEOUT(UploadsFixture::Status(entry), QString("complete"), 30000);
        QCOMPARE(TransientItems(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(f->net.server->Count(121), 1, 30000);
        FakeWire speed(f->net.server->ReceivedMessages(121).at(0).body);
        quint32 bytesPerSecond = 0;
        QVERIFY(speed.ReadU32(bytesPerSecond));
        QVERIFY(bytesPerSecond > 0);
        QVERIFY(UploadsFixture::Received(link, 46).isEmpty());
    }

    void namesDifferingOnlyInCaseAreServedEachWithItsOwnBytes()
    {
        const QByteArray upper = Pattern(626400, 11);
        const QByteArray lower = Pattern(312900, 12);
        f->WriteFile("Twins/A.mp3", upper);
        f->WriteFile("Twins/a.mp3", lower);
        f->Share("Twins");
        FakePeerLink* link = f->OnlinePeer("alice");
        QVERIFY(link);

        int asked = 0;
        QList<FakePeerLink*> seen;
        for (const auto& twin : {qMakePair(QString("Twins/A.mp3"), upper), qMakePair(QString("Twins/a.mp3"), lower)}) {
            const QString requested = f->Remote(twin.first);
            Ask(link, requested);
            TransferRequest request;
            QVERIFY(NthRequest(link, ++asked, request));
            QCOMPARE(request.name, requested);
            QCOMPARE(request.size, quint64(twin.second.size()));
            Accept(link, request.token);
            FakePeerLink* file = f->Peer("alice")->WaitForLink(5000, seen);
            QVERIFY(file && file->opening.type == "F" && file->WaitForRaw(4));
            seen << file;
            file->SendRaw(FakeWire().U64(0).Bytes());
            QVERIFY(file->WaitForRaw(4 + twin.second.size(), 30000));
            QVERIFY(file->raw.mid(4) == twin.second);
            file->Close();
            QTRY_COMPARE_WITH_TIMEOUT(UploadsFixture::Status(UploadsFixture::Entry("alice", requested)),
                                      QString("complete"), 30000);
        }
        // A spelling that fits both is no request for either.
        Ask(link, f->Remote("Twins/A.MP3"));
        QVERIFY(UploadsFixture::WaitFor(link, 50, 1));
        Denial denial;
        QVERIFY(denial.Read(UploadsFixture::Received(link, 50).at(0)));
        QCOMPARE(denial.reason, QString("File not shared."));
    }

    void resumedUploadSendsTheRestAndOneMebibyteReportsNoSpeed()
    {
        const QByteArray content = Pattern(1048576, 3);
        f->WriteFile("share/exact.bin", content);
        f->Share("share");
        FakePeerLink* link = f->OnlinePeer("alice");
        QVERIFY(link);
        const QString requested = f->Remote("share/exact.bin");
        TransferRequest request;
        FakePeerLink* file = AcceptedFileLink(link, requested, request);
        QVERIFY(file);
        file->SendRaw(FakeWire().U64(1000).Bytes());
        QVERIFY(file->WaitForRaw(4 + content.size() - 1000, 30000));
        QVERIFY(file->raw.mid(4) == content.mid(1000));
        file->Close();
        const ItemPtr entry = UploadsFixture::Entry("alice", requested);
        QTRY_COMPARE_WITH_TIMEOUT(UploadsFixture::Status(entry), QString("complete"), 30000);
        QVERIFY(f->ServerCaughtUp());
        QCOMPARE(f->net.server->Count(121), 0);
    }

    void refusedAnswersEndTheUploadAndTheNextStarts()
    {
        f->WriteFile("share/one.bin", Pattern(100));
        f->WriteFile("share/two.bin", Pattern(1000));
        f->Share("share");
        FakePeerLink* alice = f->OnlinePeer("alice");
        FakePeerLink* bob = f->OnlinePeer("bob");
        QVERIFY(alice && bob);
        const QString one = f->Remote("share/one.bin");
        const QString two = f->Remote("share/two.bin");
        Ask(alice, one);
        TransferRequest first;
        QVERIFY(NthRequest(alice, 1, first));
        Ask(bob, two);

        // Tokens that are nobody's, or that belong to another user, change
        // nothing.
        bob->SendMessage(41, FakeWire().U32(first.token).U8(0).Str("not mine").Bytes());
        alice->SendMessage(41, FakeWire().U32(first.token + 1000).U8(0).Str("unknown").Bytes());
        alice->SendMessage(41, FakeWire().U32(first.token).U8(0).Str("Too busy").Bytes());
        const ItemPtr entry = UploadsFixture::Entry("alice", one);
        QTRY_COMPARE_WITH_TIMEOUT(UploadsFixture::Status(entry), QString("denied"), 30000);
        QCOMPARE(entry["denial_reason"].AsString(), QString("Too busy"));
        TransferRequest second;
        QVERIFY(NthRequest(bob, 1, second));
        QCOMPARE(second.name, two);

        // Refused while the bytes flow: the thread stops, nothing tells the
        // peer that the upload failed.
        Accept(bob, second.token);
        FakePeerLink* file = f->WaitForFileLink("bob");
        QVERIFY(file);
        QVERIFY(file->WaitForRaw(4));
        const ItemPtr running = UploadsFixture::Entry("bob", two);
        QCOMPARE(UploadsFixture::Status(running), QString("uploading"));
        bob->SendMessage(41, FakeWire().U32(second.token).U8(0).Str("Cancelled").Bytes());
        QTRY_COMPARE_WITH_TIMEOUT(UploadsFixture::Status(running), QString("denied"), 30000);
        QCOMPARE(TransientItems(), 0);
        QVERIFY(file->WaitForClosed());
        d.RemoveDisconnectedItems();
        QCOMPARE(f->engine->ActiveUploadCount(), 0);
        bob->SendMessage(51, FakeWire().Str(two).Bytes());
        QVERIFY(UploadsFixture::WaitFor(bob, 44, 1));
        QVERIFY(UploadsFixture::Received(bob, 46).isEmpty());
    }

    void acceptedAnswersOnlyCountWhileRequesting()
    {
        f->WriteFile("share/gone.bin", Pattern(10));
        f->WriteFile("share/here.bin", Pattern(10));
        f->Share("share");
        FakePeerLink* link = f->OnlinePeer("alice");
        QVERIFY(link);
        const QString gone = f->Remote("share/gone.bin");
        const QString here = f->Remote("share/here.bin");
        Ask(link, gone);
        Ask(link, here);
        TransferRequest request;
        QVERIFY(NthRequest(link, 1, request));
        QCOMPARE(request.name, gone);

        // The file left the disk after it was queued.
        QVERIFY(QFile::remove(f->Path("share/gone.bin")));
        Accept(link, request.token);
        QVERIFY(UploadsFixture::WaitFor(link, 50, 1));
        Denial denial;
        QVERIFY(denial.Read(UploadsFixture::Received(link, 50).at(0)));
        QCOMPARE(denial.name, gone);
        QCOMPARE(denial.reason, QString("File read error."));
        QCOMPARE(UploadsFixture::Status(UploadsFixture::Entry("alice", gone)), QString("local error"));

        // The next one starts. The peer takes no connections for now, so
        // the upload stays connecting; a repeated acceptance is ignored and
        // opens no second connection.
        QVERIFY(NthRequest(link, 2, request));
        QCOMPARE(request.name, here);
        f->Peer("alice")->StopListening();
        Accept(link, request.token);
        const ItemPtr entry = UploadsFixture::Entry("alice", here);
        QTRY_COMPARE_WITH_TIMEOUT(UploadsFixture::Status(entry), QString("connecting"), 30000);
        QCOMPARE(f->net.peer->AttemptCount(), 1);
        Accept(link, request.token);
        link->SendMessage(51, FakeWire().Str(here).Bytes());
        QVERIFY(UploadsFixture::WaitFor(link, 44, 1));
        QCOMPARE(UploadsFixture::Status(entry), QString("connecting"));
        QCOMPARE(f->net.peer->AttemptCount(), 1);

        // A file connection handed over for a user with nothing connecting
        // is let go at once.
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        auto* stray = new QTcpSocket;
        stray->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        QVERIFY(stray->waitForConnected(5000));
        QPointer<QTcpSocket> watched(stray);
        f->engine->OnFileConnectionAccepted("bob", stray);
        QTRY_VERIFY_WITH_TIMEOUT(watched.isNull(), 30000);
        QCOMPARE(UploadsFixture::Status(entry), QString("connecting"));
    }

    void failedUploadTellsThePeerAndFreesItsValuesOnce()
    {
        f->WriteFile("share/a.bin", Pattern(5000));
        f->Share("share");
        FakePeerLink* link = f->OnlinePeer("alice");
        QVERIFY(link);
        const QString requested = f->Remote("share/a.bin");
        TransferRequest request;
        FakePeerLink* file = AcceptedFileLink(link, requested, request);
        QVERIFY(file);
        const ItemPtr entry = UploadsFixture::Entry("alice", requested);
        QVERIFY(entry["read_position"]);

        // The downloader goes away before it names an offset.
        file->Close();
        QTRY_COMPARE_WITH_TIMEOUT(UploadsFixture::Status(entry), QString("aborted"), 30000);
        QVERIFY(UploadsFixture::WaitFor(link, 46, 1));
        FakeWire failed(UploadsFixture::Received(link, 46).at(0));
        QString name;
        QVERIFY(failed.ReadStr(name) && failed.AtEnd());
        QCOMPARE(name, requested);

        // The values went with their items; a clean-up of the store finds
        // nothing of them left to free a second time.
        QCOMPARE(TransientItems(), 0);
        d.RemoveDisconnectedItems();
        QVERIFY(f->engine->IsFreeToUpload());

        // Asked again, the same entry is queued and runs anew.
        Ask(link, requested);
        QVERIFY(NthRequest(link, 2, request));
        QCOMPARE(UploadsFixture::Entry("alice", requested), entry);
    }

    void anUploadGivenUpLetsGoOfItsConnectionAndWhatWaitsInIt()
    {
        // Everything handed to the system, most of it still waiting there
        // for a downloader that never reads; then the user removes the
        // upload.
        const int size = 1536 * 1024;
        f->WriteFile("share/held.bin", Pattern(size));
        f->Share("share");
        FakePeerLink* link = f->OnlinePeer("alice");
        QVERIFY(link);
        const QString requested = f->Remote("share/held.bin");
        TransferRequest request;
        FakePeerLink* file = AcceptedFileLink(link, requested, request);
        QVERIFY(file);
        file->StopReading();
        file->SendRaw(FakeWire().U64(0).Bytes());
        const quint16 ours = file->Socket()->peerPort();
        const quint16 theirs = file->Socket()->localPort();
        TcpEnd sender, reader;
        const auto handedAll = [&] {
            return FindTcpEnd(ours, theirs, sender) && FindTcpEnd(theirs, ours, reader) &&
                   sender.unsent + reader.unread + file->raw.size() >= 4 + size;
        };
        QVERIFY(QTest::qWaitFor(handedAll, 30000));
        QVERIFY2(sender.unsent > 256 * 1024, qPrintable(QString::number(sender.unsent)));

        f->engine->RemoveUpload(UploadsFixture::Entry("alice", requested));
        // Given up, the connection goes at once with what it held, rather
        // than waiting behind those bytes for a reader that never comes.
        QVERIFY(QTest::qWaitFor([&] { return !FindTcpEnd(ours, theirs, sender); }, 10000));
        QCOMPARE(TransientItems(), 0);
    }

    void removingAndWithdrawingUploads()
    {
        for (const char* name : {"a.bin", "b.bin", "c.bin"})
            f->WriteFile(QString("share/") + name, Pattern(64 * 1024));
        f->Share("share");
        FakePeerLink* alice = f->OnlinePeer("alice");
        FakePeerLink* bob = f->OnlinePeer("bob");
        QVERIFY(alice && bob);
        const QString a = f->Remote("share/a.bin"), b = f->Remote("share/b.bin"), c = f->Remote("share/c.bin");
        Ask(alice, a);
        TransferRequest request;
        QVERIFY(NthRequest(alice, 1, request));
        Accept(alice, request.token);
        FakePeerLink* file = f->WaitForFileLink("alice");
        QVERIFY(file && file->WaitForRaw(4));
        Ask(alice, b);
        Ask(alice, c);
        // alice's entries are ahead of bob's in the line.
        QTRY_COMPARE_WITH_TIMEOUT(f->engine->QueuedUploadCount(), 2, 30000);
        Ask(bob, a);
        Ask(bob, b);
        QTRY_COMPARE_WITH_TIMEOUT(f->engine->QueuedUploadCount(), 4, 30000);

        // A queued entry goes silently.
        f->engine->RemoveUpload(UploadsFixture::Entry("bob", b));
        QVERIFY(!UploadsFixture::Entry("bob", b));

        // Withdrawing alice's shares refuses and removes all her entries,
        // the running one too, and the queue moves on to bob.
        f->engine->UnshareUser("alice");
        QVERIFY(UploadsFixture::WaitFor(alice, 50, 3));
        QCOMPARE(NotShared(alice), QStringList({a, b, c}));
        QCOMPARE(UploadsFixture::Received(alice, 40).size(), 1);
        QVERIFY(file->WaitForClosed());
        QCOMPARE(d.GetType("user")->HasItem("alice").CountItems("upload_entry"), 0);
        QCOMPARE(TransientItems(), 0);
        QVERIFY(NthRequest(bob, 1, request));
        QCOMPARE(request.name, a);

        // Withdrawn users are refused; resharing only lifts the mark.
        Ask(alice, c);
        QVERIFY(UploadsFixture::WaitFor(alice, 50, 4));
        f->engine->ReshareUser("alice");
        QVERIFY(!d.GetType("user")->HasItem("alice").IsConnected("unshared"));
        QCOMPARE(d.GetType("user")->HasItem("alice").CountItems("upload_entry"), 0);
        Ask(alice, c);
        QTRY_VERIFY_WITH_TIMEOUT(UploadsFixture::Entry("alice", c), 30000);

        // A user who shows up at the address of a withdrawn user loses the
        // shares too, through the shared-folders manager.
        const ItemPtr address = d.GetType("user_address")->GetItem("10.0.0.9");
        d.GetType("user")->GetItem("mallory").Connect(address);
        f->engine->UnshareUser("mallory");
        ItemPtr bobItem = d.GetType("user")->HasItem("bob");
        bobItem.Connect(address);
        f->shares->OnUserAddress(bobItem);
        QVERIFY(bobItem.IsConnected("unshared"));
        QVERIFY(!UploadsFixture::Entry("bob", a));
    }

    // The Options page's "Unshare Folder": the folder item goes, then the
    // store's clean-up.
    void unsharingAFolderEndsItsRunningAndQueuedUploads()
    {
        for (const char* name : {"a.bin", "b.bin", "c.bin"})
            f->WriteFile(QString("gone/") + name, Pattern(64 * 1024));
        f->WriteFile("kept/k.bin", Pattern(100));
        ItemPtr gone = f->Share("gone");
        f->Share("kept");
        FakePeerLink* alice = f->OnlinePeer("alice");
        FakePeerLink* bob = f->OnlinePeer("bob");
        QVERIFY(alice && bob);
        const QString a = f->Remote("gone/a.bin"), b = f->Remote("gone/b.bin"), c = f->Remote("gone/c.bin");
        TransferRequest request;
        FakePeerLink* file = AcceptedFileLink(alice, a, request);
        QVERIFY(file);
        Ask(alice, b);
        Ask(alice, c);
        Ask(bob, f->Remote("kept/k.bin"));
        QTRY_COMPARE_WITH_TIMEOUT(f->engine->QueuedUploadCount(), 3, 30000);

        gone.Remove();
        d.RemoveDisconnectedItems();
        QVERIFY(UploadsFixture::WaitFor(alice, 50, 3));
        QCOMPARE(NotShared(alice), QStringList({a, b, c}));
        QVERIFY(file->WaitForClosed());
        QCOMPARE(d.GetType("user")->HasItem("alice").CountItems("upload_entry"), 0);
        QCOMPARE(TransientItems(), 0);
        // The slot goes to what is still shared, and only to that.
        QVERIFY(NthRequest(bob, 1, request));
        QCOMPARE(UploadsFixture::Received(alice, 40).size(), 1);
    }

    void uploadsEndWhenTheirUserMayNoLongerHaveTheFile()
    {
        for (const char* name : {"a.bin", "b.bin", "c.bin"})
            f->WriteFile(QString("club/") + name, Pattern(64 * 1024));
        ItemPtr folder = f->Share("club", false);
        const ItemPtr group = d.GetType("user_list_group")->GetItem("club");
        folder.Connect(group);
        ItemPtr listed = d.GetType("user")->GetItem("alice").NewItem("in_user_list");
        listed.Connect(group);
        FakePeerLink* alice = f->OnlinePeer("alice");
        QVERIFY(alice);
        const QString a = f->Remote("club/a.bin"), b = f->Remote("club/b.bin"), c = f->Remote("club/c.bin");
        Ask(alice, a);
        Ask(alice, b);
        TransferRequest request;
        QVERIFY(NthRequest(alice, 1, request));
        QCOMPARE(request.name, a);
        QTRY_COMPARE_WITH_TIMEOUT(f->engine->QueuedUploadCount(), 1, 30000);

        // Out of the group, and in the same turn the running upload ends:
        // the next one is looked at again before it starts.
        listed.Disconnect(group);
        f->engine->SetUploadEntryStatus(UploadsFixture::Entry("alice", a), "complete");
        f->engine->StartNewUploads();
        QVERIFY(!UploadsFixture::Entry("alice", b));
        QVERIFY(UploadsFixture::WaitFor(alice, 50, 1));
        QCOMPARE(UploadsFixture::Received(alice, 40).size(), 1);
        QCOMPARE(NotShared(alice), QStringList({b}));

        // Back in the group, a running upload ends once the folder's
        // audience no longer takes the group in.
        listed.Connect(group);
        Ask(alice, c);
        QVERIFY(NthRequest(alice, 2, request));
        QCOMPARE(request.name, c);
        Accept(alice, request.token);
        FakePeerLink* file = f->WaitForFileLink("alice");
        QVERIFY(file && file->WaitForRaw(4));
        folder.Disconnect(group);
        QVERIFY(UploadsFixture::WaitFor(alice, 50, 2));
        QCOMPARE(NotShared(alice), QStringList({b, c}));
        QVERIFY(file->WaitForClosed());
        QVERIFY(!UploadsFixture::Entry("alice", c));
        QCOMPARE(TransientItems(), 0);
        QCOMPARE(UploadsFixture::Status(UploadsFixture::Entry("alice", a)), QString("complete"));
    }
};

QTEST_MAIN(TestUploadNegotiation)
#include "TestUploadNegotiation.moc"
