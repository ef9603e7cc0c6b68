#include <QtTest>

#include "Data.h"
#include "DataSaver.h"
#include "FakePeer.h"
#include "FakeWire.h"
#include "PeerFixture.h"
#include "PeerMessenger.h"
#include "SearchReply.h"
#include "Server.h"
#include "Settings.h"

// Every message we send and every message we read, over a real message
// connection from a fake peer.
class TestPeerMessages : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void sendOperationsPutTheirBytesOnTheWire();
    void receivedMessagesBecomeSignals();
    void shareListRequestsAreAnswered();
    void malformedInputClosesTheConnection();
    void searchResultsBecomeItems();
    void searchResultsThatAreDropped();
    void wishListRepeatsAreThrownAway();

private:
    // A new message connection from the fake peer, registered at our end.
    FakePeerLink* NewLink();
    // True once the connection still serves: a user-information request
    // sent after everything else arrives.
    bool StillServes(FakePeerLink* link);

    PeerFixture* f = nullptr;
    FakePeer* fake = nullptr;
    FakePeerLink* link = nullptr;
    quint32 nextToken = 1;
};

void TestPeerMessages::init()
{
    f = new PeerFixture;
    QVERIFY(f->Start());
    fake = f->AddPeer("peer");
    QVERIFY(fake);
    link = NewLink();
    QVERIFY(link);
}

void TestPeerMessages::cleanup()
{
    delete f;
    f = nullptr;
}

FakePeerLink* TestPeerMessages::NewLink()
{
    const int before = f->peer->MessageConnectionCount("peer");
    FakePeerLink* opened = fake->Greet(f->peer->ListeningPort(), false, "P", nextToken++);
    if (!opened)
        return nullptr;
    for (int i = 0; i < 500 && f->peer->MessageConnectionCount("peer") == before; ++i)
        QTest::qWait(10);
    return f->peer->MessageConnectionCount("peer") > before ? opened : nullptr;
}

bool TestPeerMessages::StillServes(FakePeerLink* target)
{
    QSignalSpy requested(f->peer, &PeerMessenger::UserInfoRequested);
    target->SendMessage(15, {});
    return requested.wait(30000) && !target->IsClosed();
}

void TestPeerMessages::sendOperationsPutTheirBytesOnTheWire()
{
    SetSetting("transfer_req_counter", "41");
    f->peer->GetUserSharedFiles("peer");
    f->peer->GetUserInfo("peer");
    f->peer->QueueDownload("peer", "music\\a.mp3");
    f->peer->QueueUpload("peer", QString::fromUtf8("music\\b\xc3\xa9.mp3"), 5000000000LL);
    QCOMPARE(f->peer->RequestUpload("peer", "c.mp3", 12), 41u);
    QCOMPARE(f->peer->RequestUpload("peer", "c.mp3", 13), 42u);
    QCOMPARE(GetSetting("transfer_req_counter"), QString("43"));
    f->peer->AcceptTransferRequest("peer", 7, false, 0);
    f->peer->AcceptTransferRequest("peer", 8, true, 99);
    f->peer->DenyTransferRequest("peer", 9, "Cancelled");
    f->peer->SendUploadPlaceInLine("peer", "d.mp3", 3);
    f->peer->DenyUpload("peer", "e.mp3", "File not shared.");
    MemStream failed;
    failed.Write(quint32(46));
    failed.Write(std::string("f.mp3"));
    f->peer->SendMessage("peer", failed);
    MemStream place;
    place.Write(quint32(51));
    place.Write(std::string("g.mp3"));
    f->peer->SendMessageToUser("peer", place);
    // The counter is 32 bits wide and wraps.
    SetSetting("transfer_req_counter", "4294967295");
    QCOMPARE(f->peer->RequestUpload("peer", "h.mp3", 1), 4294967295u);
    QCOMPARE(GetSetting("transfer_req_counter"), QString("0"));

    const QList<QPair<quint32, QByteArray>> expected = {
        {4, {}},
        {15, {}},
        {43, FakeWire().Str("music\\a.mp3").Bytes()},
        {60, FakeWire().Str(QString::fromUtf8("music\\b\xc3\xa9.mp3")).U64(5000000000ULL).Bytes()},
        {40, FakeWire().U32(1).U32(41).Str("c.mp3").U64(12).Bytes()},
        {40, FakeWire().U32(1).U32(42).Str("c.mp3").U64(13).Bytes()},
        {41, FakeWire().U32(7).U8(1).Bytes()},
        {41, FakeWire().U32(8).U8(1).U64(99).Bytes()},
        {41, FakeWire().U32(9).U8(0).Str("Cancelled").Bytes()},
        {44, FakeWire().Str("d.mp3").U32(3).Bytes()},
        {50, FakeWire().Str("e.mp3").Str("File not shared.").Bytes()},
        {46, FakeWire().Str("f.mp3").Bytes()},
        {51, FakeWire().Str("g.mp3").Bytes()},
        {40, FakeWire().U32(1).U32(4294967295u).Str("h.mp3").U64(1).Bytes()},
    };
    QVERIFY(link->WaitForMessages(expected.size()));
    QCOMPARE(link->messages, expected);
}

void TestPeerMessages::receivedMessagesBecomeSignals()
{
    QStringList events;
    PeerMessenger* p = f->peer;
    // The share list below answers this; the one after it answers nothing.
    p->GetUserSharedFiles("peer");
    connect(p, &PeerMessenger::FileTransferRequested, this,
            [&](QString user, int direction, uint token, std::string path, qint64 size) {
                events << QString("request %1 %2 %3 %4 %5")
                              .arg(user)
                              .arg(direction)
                              .arg(token)
                              .arg(QString::fromStdString(path))
                              .arg(size);
            });
    connect(p, &PeerMessenger::FileTransferResponse, this,
            [&](QString user, uint token, bool allowed, bool sizePresent, qint64 size, QString reason) {
                events << QString("response %1 %2 %3 %4 %5 %6")
                              .arg(user)
                              .arg(token)
                              .arg(allowed)
                              .arg(sizePresent)
                              .arg(size)
                              .arg(reason);
            });
    connect(p, &PeerMessenger::QueueUploadRequested, this,
            [&](QString user, QString file) { events << QString("queue %1 %2").arg(user, file); });
    connect(p, &PeerMessenger::DownloadPlaceInLine, this, [&](QString user, std::string path, int place) {
        events << QString("place %1 %2 %3").arg(user, QString::fromStdString(path)).arg(place);
    });
    connect(p, &PeerMessenger::UploadFailed, this, [&](QString user, std::string path) {
        events << QString("failed %1 %2").arg(user, QString::fromStdString(path));
    });
    connect(p, &PeerMessenger::UploadDenied, this, [&](QString user, std::string path, QString reason) {
        events << QString("denied %1 %2 %3").arg(user, QString::fromStdString(path), reason);
    });
    connect(p, &PeerMessenger::UploadPlaceInLineRequested, this,
            [&](QString user, QString file) { events << QString("place? %1 %2").arg(user, file); });
    connect(p, &PeerMessenger::QueueDownloadRequested, this, [&](QString user, std::string path, qint64 size) {
        events << QString("offer %1 %2 %3").arg(user, QString::fromStdString(path)).arg(size);
    });
    connect(p, &PeerMessenger::SharedFilesInFolderRequested, this, [&](QString user, quint32 token, QString folder) {
        events << QString("folder? %1 %2 %3").arg(user).arg(token).arg(folder);
    });
    connect(p, &PeerMessenger::UserInfoRequested, this, [&](QString user) { events << "info? " + user; });
    connect(p, &PeerMessenger::UserInfoReceived, this,
            [&](QString user, QString description, bool hasPicture, char* picture, int length, int uploadSlots,
                int queued, bool freeSlot) {
                events << QString("info %1 %2 %3 %4 %5 %6 %7")
                              .arg(user, description)
                              .arg(hasPicture)
                              .arg(picture ? QString::fromLatin1(picture, length) : QString("null"))
                              .arg(uploadSlots)
                              .arg(queued)
                              .arg(freeSlot);
            });
    connect(p, &PeerMessenger::UserShare, this,
            [&](QString user, std::shared_ptr<FileInfoMap> share, const AttributeTranslationTable& table) {
                QStringList files;
                for (const auto& folder : *share)
                    for (const FileInfo& file : folder.second)
                        files << QString::fromStdString(folder.first + "|" + file.Name()) + "|" +
                                     QString::number(file.Size());
                events << QString("share %1 %2 %3").arg(user, files.join(",")).arg(table.size());
            });
    connect(p, &PeerMessenger::SharedFilesInFolder, this,
            [&](QString user, quint32 token, QString folder, FileInfoMap& folders) {
                events << QString("folder %1 %2 %3 %4")
                              .arg(user)
                              .arg(token)
                              .arg(folder)
                              .arg(folders.begin()->second.begin()->Name().c_str());
            });

    link->SendMessage(40, FakeWire().U32(1).U32(5).Str("a\\b.mp3").U64(123).Bytes());
    link->SendMessage(40, FakeWire().U32(0).U32(6).Str("a\\c.mp3").Bytes());
    link->SendMessage(41, FakeWire().U32(5).U8(1).Bytes());
    link->SendMessage(41, FakeWire().U32(5).U8(1).U64(77).Bytes());
    link->SendMessage(41, FakeWire().U32(6).U8(0).Str("Queued").Bytes());
    link->SendMessage(43, FakeWire().Str(QString::fromUtf8("a\\\xc3\xa9.mp3")).Bytes());
    link->SendMessage(44, FakeWire().Str("a\\b.mp3").U32(4).Bytes());
    link->SendMessage(46, FakeWire().Str("a\\b.mp3").Bytes());
    link->SendMessage(50, FakeWire().Str("a\\b.mp3").Str("Too many files").Bytes());
    link->SendMessage(51, FakeWire().Str("a\\b.mp3").Bytes());
    link->SendMessage(60, FakeWire().Str("a\\d.mp3").U64(5000000000ULL).Bytes());
    link->SendMessage(36, FakeWire().U32(12).Str("\\music").Bytes());
    link->SendMessage(999, FakeWire().Str("from a later version").Bytes());
    link->SendMessage(15, {});
    link->SendMessage(16, FakeWire().Str("about me").U8(1).U32(3).Raw("PNG").U32(2).U32(7).U8(1).Bytes());
    link->SendMessage(16, FakeWire().Str("").U8(0).U32(1).U32(0).U8(0).Bytes());
    link->SendMessage(5, FakeWire::Compress(FakeWire()
                                                .U32(1)
                                                .Str("\\music")
                                                .U32(2)
                                                .File("b.mp3", 2)
                                                .File("a.mp3", 1)
                                                .U32(1)
                                                .U32(0)
                                                .Str("bitrate")
                                                .Bytes()));
    link->SendMessage(5, FakeWire::Compress(FakeWire().U32(1).Str("\\unasked").U32(1).File("c.mp3", 3).U32(0).Bytes()));
    link->SendMessage(
        37, FakeWire::Compress(
                FakeWire().U32(12).Str("\\music").U32(1).Str("\\music").U32(1).File("a.mp3", 1).U32(0).Bytes()));

    const QStringList expected = {
        "request peer 1 5 a\\b.mp3 123",
        "request peer 0 6 a\\c.mp3 0",
        "response peer 5 1 0 0 ",
        "response peer 5 1 1 77 ",
        "response peer 6 0 0 0 Queued",
        QString::fromUtf8("queue peer a\\\xc3\xa9.mp3"),
        "place peer a\\b.mp3 4",
        "failed peer a\\b.mp3",
        "denied peer a\\b.mp3 Too many files",
        "place? peer a\\b.mp3",
        "offer peer a\\d.mp3 5000000000",
        "folder? peer 12 \\music",
        "info? peer",
        "info peer about me 1 PNG 2 7 1",
        "info peer  0 null 1 0 0",
        "share peer \\music|a.mp3|1,\\music|b.mp3|2 1",
        "folder peer 12 \\music a.mp3",
    };
    QTRY_COMPARE_WITH_TIMEOUT(events.size(), expected.size(), 30000);
    QCOMPARE(events, expected);
    // The unknown code was only logged.
    QVERIFY(f->LogText("Peer Messenger").contains("Ignoring message 999"));
    QVERIFY(!link->IsClosed());
}

void TestPeerMessages::shareListRequestsAreAnswered()
{
    // Nothing provides a share list yet: an empty one goes back.
    link->SendMessage(4, {});
    QVERIFY(link->WaitForMessages(1));
    QCOMPARE(link->messages[0].first, 5u);
    QCOMPARE(FakeWire::Inflate(link->messages[0].second), FakeWire().U32(0).U32(0).Bytes());

    QStringList askedBy;
    f->peer->SetShareListProvider([&](QString user) {
        askedBy << user;
        MemStream message;
        message.Write(quint32(5));
        message.Append(FakeWire::Compress(FakeWire().U32(1).Str("\\x").U32(0).U32(0).Bytes()));
        f->peer->SendMessage(user, message);
    });
    link->SendMessage(4, {});
    QVERIFY(link->WaitForMessages(2));
    QCOMPARE(askedBy, QStringList{"peer"});
    QCOMPARE(FakeWire::Inflate(link->messages[1].second), FakeWire().U32(1).Str("\\x").U32(0).U32(0).Bytes());
}

void TestPeerMessages::malformedInputClosesTheConnection()
{
    int emitted = 0;
    connect(f->peer, &PeerMessenger::DownloadPlaceInLine, this, [&] { ++emitted; });
    connect(f->peer, &PeerMessenger::UserInfoReceived, this, [&] { ++emitted; });
    connect(f->peer, &PeerMessenger::UserShare, this, [&] { ++emitted; });
    connect(f->peer, &PeerMessenger::SearchResults, this, [&] { ++emitted; });
    connect(f->peer, &PeerMessenger::SharedFilesInFolder, this, [&] { ++emitted; });
    const quint32 ticket = f->client->FileSearch("song", QString());

    struct Case
    {
        const char* name;
        QByteArray bytes; // sent raw on a fresh link
    };
    const QList<Case> cases = {
        {"place without its number", FakeWire::Message(44, FakeWire().Str("a\\b.mp3").Bytes())},
        {"user info without its last byte", FakeWire::Message(16, FakeWire().Str("d").U8(0).U32(1).U32(0).Bytes())},
        {"picture longer than the message",
         FakeWire::Message(16, FakeWire().Str("d").U8(1).U32(1000).Raw("PNG").U32(1).U32(0).U8(0).Bytes())},
        {"folder count beyond the data",
         FakeWire::Message(5, FakeWire::Compress(FakeWire().U32(1000000).Str("\\x").U32(0).Bytes()))},
        {"file count beyond the data",
         FakeWire::Message(9, FakeWire::Compress(SearchReply("peer", ticket, {}).replace(12, 4, "\xff\xff\xff\x0f")))},
        {"search results under another user's name",
         FakeWire::Message(
             9, FakeWire::Compress(SearchReply("someone else", ticket, {SearchReplyFile("\\a\\b.mp3", 1)})))},
        {"compressed body that is not zlib", FakeWire::Message(37, "garbage")},
        {"frame over the limit", FakeWire().U32(10485761).U32(15).Raw(QByteArray(64, 'x')).Bytes()},
        {"frame too short for its code", FakeWire().U32(2).Raw("xx").Bytes()},
    };
    for (const Case& c : cases) {
        FakePeerLink* target = NewLink();
        QVERIFY2(target, c.name);
        f->peer->GetUserSharedFiles("peer");
        target->SendRaw(c.bytes);
        QVERIFY2(target->WaitForClosed(), c.name);
    }
    QCOMPARE(emitted, 0);
    // The first connection was never involved.
    QVERIFY(StillServes(link));

    // Compressed messages that inflate past the cap are dropped with their
    // connection: each of the three kinds.
    f->peer->SetInflateLimit(1 << 20);
    const QByteArray bomb = FakeWire::Compress(QByteArray((1 << 20) + 1, '\0'));
    for (quint32 code : {5u, 9u, 37u}) {
        FakePeerLink* target = NewLink();
        QVERIFY(target);
        f->peer->GetUserSharedFiles("peer");
        target->SendMessage(code, bomb);
        QVERIFY(target->WaitForClosed());
    }
    QCOMPARE(emitted, 0);
    QCOMPARE(f->LogText("Peer Messenger").count("inflates past 1048576 bytes"), 3);

    // A frame right at the limit is read (and its unknown code ignored).
    FakePeerLink* large = NewLink();
    QVERIFY(large);
    large->SendMessage(12345, QByteArray(10485760 - 4, 'x'));
    QVERIFY(StillServes(large));
}

void TestPeerMessages::searchResultsBecomeItems()
{
    QList<ItemPtr> delivered;
    connect(f->peer, &PeerMessenger::SearchResults, this, [&](ItemPtr results) { delivered << results; });
    const quint32 ticket = f->client->FileSearch("song", QString());
    ItemPtr request = d.GetType("search_request")->HasItem(Value(ticket));
    QVERIFY(request);

    link->SendMessage(
        9, FakeWire::Compress(SearchReply("peer", ticket,
                                          {SearchReplyFile("\\music\\a.mp3", 10, {{0, 192}, {1, 300}, {2, 1}}),
                                           SearchReplyFile("b.txt", 20), SearchReplyFile("\\music\\", 0),
                                           SearchReplyFile("\\music\\AC/DC live.mp3", 30, {{2, 0}})},
                                          0, 2048, 7)));
    QTRY_COMPARE_WITH_TIMEOUT(delivered.size(), 1, 30000);
    ItemPtr results = delivered[0];
    QCOMPARE(results["search_request"], request);
    QCOMPARE(results["user"].AsString(), QString("peer"));
    QCOMPARE(results["search_results_user_available"].AsString(), QString("no"));
    QCOMPARE(results["search_results_user_speed"].AsString(), QString("2048"));
    QCOMPARE(results["search_results_uploads_in_queue"].AsString(), QString("7"));

    // The record without a file name is left out.
    const ItemList files = results.GetItems("search_result").List();
    QCOMPARE(int(files.size()), 3);
    QCOMPARE(files[0]["search_result_file_name"].AsString(), QString("a.mp3"));
    QCOMPARE(files[0]["search_result_file_folder"].AsString(), QString("\\music"));
    QCOMPARE(files[0]["file_size"].AsString(), QString("10"));
    QCOMPARE(files[0]["bitrate"].AsString(), QString("192"));
    QCOMPARE(files[0]["length_seconds"].AsString(), QString("300"));
    QCOMPARE(files[0]["bitrate_mode"].AsString(), QString("vbr"));
    QCOMPARE(files[1]["search_result_file_name"].AsString(), QString("b.txt"));
    QCOMPARE(files[1]["search_result_file_folder"].AsString(), QString(""));
    QVERIFY(!files[1]["bitrate"] && !files[1]["length_seconds"] && !files[1]["bitrate_mode"]);
    QCOMPARE(files[2]["bitrate_mode"].AsString(), QString("cbr"));
    // A "/" is part of the name as listed, never a separator.
    QCOMPARE(files[2]["search_result_file_name"].AsString(), QString("AC/DC live.mp3"));
    QCOMPARE(files[2]["search_result_file_folder"].AsString(), QString("\\music"));

    // The results belong to the request: the clean-up takes them with it.
    request.Remove();
    d.RemoveDisconnectedItems();
    QCOMPARE(int(d.GetType("search_results")->Count()), 0);
    QCOMPARE(int(d.GetType("search_result")->Count()), 0);
}

void TestPeerMessages::searchResultsThatAreDropped()
{
    int delivered = 0;
    connect(f->peer, &PeerMessenger::SearchResults, this, [&] { ++delivered; });
    const quint32 stopped = f->client->FileSearch("stopped", QString());
    d.GetType("search_request")->HasItem(Value(stopped)) += d.GetType("search_stopped")->GetGlobalNullItem();
    const quint32 open = f->client->FileSearch("open", QString());
    const QByteArray file = SearchReplyFile("\\a\\b.mp3", 1);

    link->SendMessage(9, FakeWire::Compress(SearchReply("peer", 999999, {file})));
    link->SendMessage(9, FakeWire::Compress(SearchReply("peer", stopped, {file})));
    link->SendMessage(9, FakeWire::Compress(SearchReply("peer", open, {})));
    link->SendMessage(9, FakeWire::Compress(SearchReply("peer", open, {SearchReplyFile("\\a\\", 1)})));
    QVERIFY(StillServes(link));
    QCOMPARE(delivered, 0);

    d.GetType("user")->GetItem("peer") += d.GetType("is_ignored")->GetGlobalNullItem();
    link->SendMessage(9, FakeWire::Compress(SearchReply("peer", open, {file})));
    QVERIFY(StillServes(link));
    QCOMPARE(delivered, 0);
    QCOMPARE(int(d.GetType("search_results")->Count()), 0);

    d.GetType("user")->GetItem("peer").Disconnect("is_ignored");
    link->SendMessage(9, FakeWire::Compress(SearchReply("peer", open, {file})));
    QTRY_COMPARE_WITH_TIMEOUT(delivered, 1, 30000);
}

void TestPeerMessages::wishListRepeatsAreThrownAway()
{
    int delivered = 0;
    connect(f->peer, &PeerMessenger::SearchResults, this, [&] { ++delivered; });
    const QByteArray file = SearchReplyFile("\\a\\b.mp3", 1);

    // Without the discard mark every answer is kept.
    const quint32 keep = f->client->FileSearch("keep all", "keep all");
    link->SendMessage(9, FakeWire::Compress(SearchReply("peer", keep, {file})));
    link->SendMessage(9, FakeWire::Compress(SearchReply("peer", keep, {file})));
    QTRY_COMPARE_WITH_TIMEOUT(delivered, 2, 30000);
    QVERIFY(!d.GetType("wish_list_item")->HasItem("keep all")["received_results_from_users"]);

    // With it, a user's first answer is kept and remembered, the next one
    // from the same user thrown away, another user's kept.
    const quint32 once = f->client->FileSearch("once", "once");
    ItemPtr wish = d.GetType("wish_list_item")->HasItem("once");
    wish += d.GetType("discard_repeated_results")->GetGlobalNullItem();
    link->SendMessage(9, FakeWire::Compress(SearchReply("peer", once, {file})));
    QTRY_COMPARE_WITH_TIMEOUT(delivered, 3, 30000);
    ItemPtr received = wish["received_results_from_users"];
    QVERIFY(received);
    QVERIFY(received.IsConnected(d.GetType("user")->HasItem("peer")));

    const quint32 again = f->client->FileSearch("once", "once");
    link->SendMessage(9, FakeWire::Compress(SearchReply("peer", again, {file})));
    QVERIFY(StillServes(link));
    QCOMPARE(delivered, 3);
    QVERIFY(f->LogText("Wish List").contains("Throwing away repeated search results from user peer"));

    FakePeer* other = f->AddPeer("other");
    QVERIFY(other);
    FakePeerLink* otherLink = other->Greet(f->peer->ListeningPort(), false, "P", 1);
    QVERIFY(otherLink);
    otherLink->SendMessage(9, FakeWire::Compress(SearchReply("other", again, {file})));
    QTRY_COMPARE_WITH_TIMEOUT(delivered, 4, 30000);
    QCOMPARE(int(received.GetItems("user").size()), 2);

    // The wish list's marks and who answered are kept in the data file; the
    // results themselves are not.
    const QByteArray saved = f->saver->Serialize();
    d.RemoveAllItems();
    QVERIFY(f->saver->Apply(saved));
    wish = d.GetType("wish_list_item")->HasItem("once");
    QVERIFY(wish.IsConnected("discard_repeated_results"));
    QStringList users;
    for (const ItemPtr& user : wish["received_results_from_users"].GetItems("user"))
        users << user.AsString();
    users.sort();
    QCOMPARE(users, (QStringList{"other", "peer"}));
    QCOMPARE(int(d.GetType("search_results")->Count()), 0);
}

QTEST_MAIN(TestPeerMessages)
#include "TestPeerMessages.moc"
