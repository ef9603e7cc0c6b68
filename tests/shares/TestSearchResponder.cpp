#include <QSignalSpy>
#include <QtTest>

#include "DNetManager.h"
#include "Data.h"
#include "FakePeer.h"
#include "FakeWire.h"
#include "FixedSlices.h"
#include "PeerMessenger.h"
#include "Server.h"
#include "Settings.h"
#include "SharedFoldersManager.h"
#include "SharesPeerFixture.h"
#include "SliceTrace.h"
#include "SlicedJob.h"
#include "TestServer.h"

namespace {
// A search reply read with the test's own wire reader.
struct Reply
{
    bool wellFormed = false;
    QString user;
    quint32 token = 0;
    QStringList files;
    quint8 freeSlot = 0;
    quint32 speed = 0;
    quint32 queued = 0;
};

Reply ReadReply(const QByteArray& compressed)
{
    Reply reply;
    FakeWire in(FakeWire::Inflate(compressed));
    quint32 count = 0, names = 1;
    if (!in.ReadStr(reply.user) || !in.ReadU32(reply.token) || !in.ReadU32(count))
        return reply;
    for (quint32 i = 0; i < count; ++i) {
        const QString record = SharesPeerFixture::ReadRecord(in);
        if (record.isEmpty())
            return reply;
        reply.files << record;
    }
    reply.wellFormed = in.ReadU8(reply.freeSlot) && in.ReadU32(reply.speed) && in.ReadU32(reply.queued) &&
                       in.ReadU32(names) && names == 0 && in.AtEnd();
    return reply;
}
} // namespace

// Searches relayed by the test server (and one from the distributed
// network) answered over a real message connection to a fake peer.
class TestSearchResponder : public QObject
{
    Q_OBJECT

    SharesPeerFixture* f = nullptr;
    FakePeer* peer = nullptr;
    FakePeerLink* link = nullptr;
    // Tokens of the searches that were answered, in order.
    QList<quint32> answered;
    quint32 nextToken = 100;

    // Record text of a file below the temporary folder.
    QString Rec(const QString& relative, int size, const QString& extension = "", const QString& attributes = "")
    {
        return QString("%1|%2|%3|%4").arg(f->Remote(relative)).arg(size).arg(extension, attributes);
    }

    // Runs a search from the peer; returns the records of its reply, none when
    // it was not answered.
    QStringList Ask(const QString& text, bool* wasAnswered, Reply* full = nullptr)
    {
        const quint32 token = nextToken++;
        const int result = f->Search(peer, token, text);
        *wasAnswered = result == 1;
        if (result != 1) {
            if (result < 0)
                qWarning("search \"%s\" did not arrive", qPrintable(text));
            return {};
        }
        answered << token;
        if (!link->WaitForMessages(answered.size()))
            return {"<no reply>"};
        const auto& message = link->messages.at(answered.size() - 1);
        Reply reply = ReadReply(message.second);
        if (message.first != 9 || !reply.wellFormed || reply.token != token || reply.user != "me")
            return {"<bad reply>"};
        if (full)
            *full = reply;
        return reply.files;
    }

    // Neither a reply nor a failure to arrive.
    bool Unanswered(const QString& text)
    {
        const quint32 token = nextToken++;
        return f->Search(peer, token, text) == 0;
    }

private slots:
    void init()
    {
        f = new SharesPeerFixture;
        f->net.server->SetUserStats("me", 4321, 0, 0, 0);
        QVERIFY(f->Start());
        link = f->LinkedPeer("peer");
        QVERIFY(link);
        peer = f->net.peers.last();
        answered.clear();

        f->WriteFile("Public/Band A/Help.mp3", 1000);
        f->WriteFile("Public/Band A/so alive.txt", 10);
        f->WriteFile("Public/Band B/help.mp3", 2000);
        f->WriteFile("Public/Band B/Live at Home.ogg", 3000);
        f->WriteFile("Public/Band B/Bandstand.txt", 4);
        f->WriteFile("Public/Band B/my bandstand.txt", 5);
        // Listed first on disk; in byte order after the capitalised names.
        f->WriteFile("Public/Band B/another.txt", 11);
        f->WriteFile("Public/ab/cd/abcd.txt", 6);
        f->WriteFile("Public/lowband/track.txt", 12);
        f->WriteFile("Friends/Band C/friends song.mp3", 7);
        f->WriteFile("Group/Band D/group song.mp3", 8);
        f->WriteFile("Nobody/Band E/hidden song.mp3", 9);
        f->Share("Public").NewItem("shared_public");
        f->Share("Friends").NewItem("shared_userlist");
        f->Share("Group") += d.GetType("user_list_group")->GetItem("close");
        f->Share("Nobody");

        // Audio attributes as the analysis leaves them; the Ogg file's
        // bitrate must not travel, it is not an MP3.
        ItemPtr help = f->manager->GetSharedFileItem(f->Path("Public/Band A/Help.mp3"));
        QVERIFY(help);
        help += d.GetType("bitrate")->GetItem("192");
        help += d.GetType("bitrate_mode")->GetItem("vbr");
        ItemPtr song = f->manager->GetSharedFileItem(f->Path("Friends/Band C/friends song.mp3"));
        QVERIFY(song);
        song += d.GetType("bitrate_mode")->GetItem("cbr");
        ItemPtr live = f->manager->GetSharedFileItem(f->Path("Public/Band B/Live at Home.ogg"));
        QVERIFY(live);
        live += d.GetType("bitrate")->GetItem("128");
    }

    void cleanup()
    {
        delete f;
        f = nullptr;
    }

    void wordsSelectExactlyTheMatchingFiles()
    {
        bool sent = false;
        Reply reply;
        // The upload state before the engine has plugged itself in, and the
        // speed the server reported for us at login.
        QCOMPARE(Ask("help", &sent, &reply), (QStringList{Rec("Public/Band A/Help.mp3", 1000, "mp3", "0=192,2=1"),
                                                          Rec("Public/Band B/help.mp3", 2000, "mp3", "")}));
        QVERIFY(sent);
        QCOMPARE(reply.freeSlot, quint8(0));
        QCOMPARE(reply.queued, 0u);
        QCOMPARE(reply.speed, 4321u);
        QVERIFY(f->net.LogText("Search").contains("Sending search results to user peer for search string help"));
        // Straight after the code: the stream of zlib's one-call compression
        // at level 9, byte for byte.
        const QByteArray stream = link->messages[0].second;
        QCOMPARE(stream, FakeWire::Compress(FakeWire::Inflate(stream)));

        // Folder words match every file below; exclusions and part words
        // look at the name only, case-sensitively against lower-case words.
        QCOMPARE(
            Ask("band -help", &sent),
            (QStringList{Rec("Public/Band A/Help.mp3", 1000, "mp3", "0=192,2=1"), Rec("Public/Band A/so alive.txt", 10),
                         Rec("Public/Band B/Bandstand.txt", 4), Rec("Public/Band B/Live at Home.ogg", 3000),
                         Rec("Public/Band B/another.txt", 11), Rec("Public/Band B/my bandstand.txt", 5)}));
        QCOMPARE(Ask("band *live", &sent), QStringList{Rec("Public/Band A/so alive.txt", 10)});
        QCOMPARE(Ask("BAND *Band", &sent), QStringList{Rec("Public/Band B/my bandstand.txt", 5)});
        QCOMPARE(Ask("live ogg", &sent), QStringList{Rec("Public/Band B/Live at Home.ogg", 3000)});
        // The folder's words select, but never exclude or admit as parts.
        QCOMPARE(Ask("track -lowband", &sent), QStringList{Rec("Public/lowband/track.txt", 12)});
        // One word of three characters is enough.
        QCOMPARE(Ask("ab abcd", &sent), QStringList{Rec("Public/ab/cd/abcd.txt", 6)});
        // Asked again, answered again.
        QCOMPARE(Ask("ab abcd", &sent), QStringList{Rec("Public/ab/cd/abcd.txt", 6)});

        // Words nobody has indexed, and the names of users the store does
        // not know, leave the store as it was.
        const size_t items = d.ItemCount();
        const size_t tokens = d.GetType("search_token")->Count();
        QVERIFY(Unanswered("ab cd"));           // no word of three characters
        QVERIFY(Unanswered("*band"));           // part words alone
        QVERIFY(Unanswered("track *lowband"));  // a part word of the folder only
        QVERIFY(Unanswered("alive -alive"));    // everything excluded
        QVERIFY(Unanswered("help nothing"));    // one word indexed nowhere
        QVERIFY(Unanswered("\"band b\""));      // no token holds a space
        QVERIFY(Unanswered("song"));            // only files the peer may not see
        QVERIFY(Unanswered("band \"unclosed")); // rejected by the parser
        QVERIFY(!f->manager->ProcessSearch("somebody new", 1, "song"));
        QCOMPARE(d.GetType("search_token")->Count(), tokens);
        QCOMPARE(d.ItemCount(), items);

        // From the distributed network the same rules apply.
        QSignalSpy processed(f->manager, &SharedFoldersManager::SearchProcessed);
        emit f->dnet->DNetSearchRequest("peer", 7, "alive");
        QCOMPARE(processed.size(), 1);
        QVERIFY(processed.at(0).at(1).toBool());
        QVERIFY(link->WaitForMessages(answered.size() + 1));
        const Reply dnet = ReadReply(link->messages.last().second);
        QVERIFY(dnet.wellFormed);
        QCOMPARE(dnet.token, 7u);
        QCOMPARE(dnet.files, QStringList{Rec("Public/Band A/so alive.txt", 10)});
        answered << 7;

        // Nothing else went out: the next reply is the next search's.
        QCOMPARE(Ask("alive", &sent), QStringList{Rec("Public/Band A/so alive.txt", 10)});
        QCOMPARE(link->messages.size(), answered.size());
    }

    void namesDifferingOnlyInCaseAnswerAsTwoFiles()
    {
        f->WriteFile("Twins/A.mp3", 6264);
        f->WriteFile("Twins/a.mp3", 3129);
        f->Share("Twins").NewItem("shared_public");
        ItemPtr upper = f->manager->GetSharedFileItem(f->Path("Twins/A.mp3"));
        ItemPtr lower = f->manager->GetSharedFileItem(f->Path("Twins/a.mp3"));
        QVERIFY(upper && lower && upper != lower);
        // Each path names its own file; a spelling that fits both names none.
        QCOMPARE(upper["shared_file_size"].AsInt64(), qint64(6264));
        QCOMPARE(lower["shared_file_size"].AsInt64(), qint64(3129));
        QVERIFY(!f->manager->GetSharedFileItem(f->Path("Twins/A.MP3")));

        bool sent = false;
        QCOMPARE(Ask("twins", &sent), (QStringList{Rec("Twins/A.mp3", 6264, "mp3"), Rec("Twins/a.mp3", 3129, "mp3")}));
        QVERIFY(sent);
    }

    void visibilityDecidesWhatIsSent()
    {
        bool sent = false;
        const QString friendsSong = Rec("Friends/Band C/friends song.mp3", 7, "mp3", "2=0");
        const QString groupSong = Rec("Group/Band D/group song.mp3", 8, "mp3");
        ItemPtr user = d.GetType("user")->GetItem("peer");
        QVERIFY(user);

        QVERIFY(Unanswered("song"));
        ItemPtr listed = user.NewItem("in_user_list");
        QCOMPARE(Ask("song", &sent), QStringList{friendsSong});
        listed += d.GetType("user_list_group")->GetItem("other");
        QCOMPARE(Ask("song", &sent), QStringList{friendsSong});
        listed += d.GetType("user_list_group")->GetItem("close");
        QCOMPARE(Ask("song", &sent), (QStringList{friendsSong, groupSong}));

        // Withdrawn: nothing at all, public folders included.
        user.NewItem("unshared");
        QVERIFY(Unanswered("song"));
        QVERIFY(Unanswered("help"));
        user.Disconnect("unshared");
        QCOMPARE(Ask("help", &sent).size(), 2);

        // The upload engine's figures travel with the reply.
        SharedFoldersManager::UploadQueue queue;
        queue.isFreeToUpload = [] { return true; };
        queue.queuedUploadCount = [] { return 7; };
        f->manager->SetUploadQueue(queue);
        Reply reply;
        Ask("alive", &sent, &reply);
        QVERIFY(sent);
        QCOMPARE(reply.freeSlot, quint8(1));
        QCOMPARE(reply.queued, 7u);

        // While finishing uploads before quitting, nothing is answered.
        SetRuntimeSetting("finish_uploads_and_quit", "yes");
        QVERIFY(Unanswered("alive"));
        SetRuntimeSetting("finish_uploads_and_quit", "no");
        QCOMPARE(Ask("alive", &sent).size(), 1);

        // Our own searches come back to us through the network: ignored,
        // not even reported.
        QSignalSpy processed(f->manager, &SharedFoldersManager::SearchProcessed);
        emit f->dnet->DNetSearchRequest("me", 9, "alive");
        f->manager->OnDirectFileSearch("me", 10, "alive");
        QCOMPARE(processed.size(), 0);

        // Nothing went out for them: the next reply is the next search's.
        QCOMPARE(Ask("alive", &sent).size(), 1);
        QCOMPARE(link->messages.size(), answered.size());
    }

    void aSearchManyFilesMatchIsAnsweredInSlicesAsAtOnce()
    {
        f->ShareMany(f->Path("Many"), 30, 100);
        // The same folder under a second share, and a name a part word
        // must keep out: visibility and filters apply in slices too.
        d.GetType("shared_folder")->NewItem(Value(f->Path("Also"))) +=
            d.GetType("shared_file_folder")->HasItem(Value(f->Path("Many/Set 3")));

        // Through the server: answered in slices, reported when sent. The
        // slices end after 256 steps, as a slow machine's turns end them,
        // whatever QV_SLICE_STEPS says; the pass's own slices are counted,
        // not loop turns, which the messages' travel makes anyway.
        const FixedSlices slices(256);
        const SlicedJob& pass = f->manager->SearchPass();
        QSignalSpy processed(f->manager, &SharedFoldersManager::SearchProcessed);
        const int before = link->messages.size();
        peer->SendToServer(42, FakeWire().Str("me").U32(501).Str("many *ogg").Bytes());
        QVERIFY(link->WaitForMessages(before + 1, 30000));
        QCOMPARE(processed.size(), 1);
        QVERIFY(processed.at(0).at(1).toBool());
        QVERIFY2(pass.Slices() > 1, qPrintable(QString("%1 slices").arg(pass.Slices())));
        const QByteArray sliced = link->messages.last().second;
        const Reply reply = ReadReply(sliced);
        QVERIFY(reply.wellFormed);
        QCOMPARE(reply.token, 501u);
        QCOMPARE(reply.files.size(), 1500);

        // At once, the same search gives the very same bytes.
        QVERIFY(f->manager->ProcessSearch("peer", 501, "many *ogg"));
        QVERIFY(link->WaitForMessages(before + 2, 30000));
        QCOMPARE(link->messages.last().second, sliced);
        answered << 501 << 501;
    }

    void aSearchInSlicesSeesTheShareAsItIsThen()
    {
        const QString root = f->Path("Many");
        ItemPtr shared = f->ShareMany(root, 30, 100);
        f->ShareMany(f->Path("Gone"), 1, 10);
        const int before = link->messages.size();
        QSignalSpy processed(f->manager, &SharedFoldersManager::SearchProcessed);
        f->manager->OnDirectFileSearch("peer", 502, "many");
        QCOMPARE(processed.size(), 0);
        // Before the first slice: a file goes, and so does a share.
        d.GetType("shared_file_folder")->HasItem(Value(root + "/Set 7")).GetItems("shared_file").First().Remove();
        d.GetType("shared_folder")->HasItem(Value(f->Path("Gone"))).Remove();
        QVERIFY(link->WaitForMessages(before + 1, 30000));
        const Reply reply = ReadReply(link->messages.last().second);
        QVERIFY(reply.wellFormed);
        QCOMPARE(reply.files.size(), 2999);
        QVERIFY(reply.files.filter("Gone").isEmpty());
        QCOMPARE(processed.size(), 1);
        answered << 502;
        Q_UNUSED(shared);
    }

    void aSearchGoesAFewFoldersATurnAndSeesWhatGoesMidway()
    {
        const QString root = f->Path("Many");
        f->ShareMany(root, 30, 100);
        f->ShareMany(f->Path("Gone"), 1, 10);
        SlicedJob& pass = f->manager->SearchPass();
        // Each folder of 100 files weighs 101 steps: two a turn.
        pass.SetMostSteps(200);
        const int before = link->messages.size();
        QSignalSpy processed(f->manager, &SharedFoldersManager::SearchProcessed);
        f->manager->OnDirectFileSearch("peer", 503, "many");
        QVERIFY(SliceTrace::NextTurn());
        QVERIFY(SliceTrace::NextTurn());
        QCOMPARE(pass.LastSliceSteps(), 202);
        // Between two slices: a folder not yet gone through loses its
        // files, one gone through loses them too, and a share goes.
        d.GetType("shared_file_folder")->HasItem(Value(root + "/Set 20")).GetItems("shared_file").Remove();
        d.GetType("shared_file_folder")->HasItem(Value(root + "/Set 1")).GetItems("shared_file").Remove();
        d.GetType("shared_folder")->HasItem(Value(f->Path("Gone"))).Remove();
        const QList<int> steps = SliceTrace::StepsUntilDone(pass);
        // The 27 folders left take 13 turns, the emptied and the hidden one
        // a step each; the last turn hands the reply to its builder.
        QCOMPARE(steps.size(), 14);
        // A folder is gone through whole once begun: at most 100 steps over.
        for (int step : steps)
            QVERIFY2(step > 0 && step < 200 + 101, qPrintable(QString::number(step)));
        QVERIFY(link->WaitForMessages(before + 1, 30000));
        const Reply reply = ReadReply(link->messages.last().second);
        QVERIFY(reply.wellFormed);
        // What was gathered stays; what went before it was reached does not.
        QCOMPARE(reply.files.size(), 2900);
        QCOMPARE(reply.files.filter("many 1 ").size(), 100);
        QVERIFY(reply.files.filter("many 20 ").isEmpty());
        QVERIFY(reply.files.filter("Gone").isEmpty());
        QCOMPARE(processed.size(), 1);
        answered << 503;
    }

    void aBurstOfLargeSearchesIsBounded()
    {
        f->ShareMany(f->Path("Many"), 30, 100);
        QSignalSpy processed(f->manager, &SharedFoldersManager::SearchProcessed);
        for (quint32 token = 600; token < 640; ++token)
            f->manager->OnDirectFileSearch("peer", token, "many");
        // Those beyond the waiting line are turned away at once.
        QCOMPARE(processed.size(), 8);
        for (const auto& call : processed)
            QVERIFY(!call.at(1).toBool());
        QTRY_COMPARE_WITH_TIMEOUT(processed.size(), 40, 60000);
        QVERIFY(link->WaitForMessages(32, 30000));
        for (quint32 token = 600; token < 632; ++token)
            answered << token;
    }

    void aWithdrawalFollowsTheAddress()
    {
        // Both fake peers are at 127.0.0.1, so they share one address item.
        f->manager->Init();
        QStringList unshared;
        SharedFoldersManager::UploadQueue queue;
        queue.unshareUser = [&](QString name) {
            unshared << name;
            d.GetType("user")->GetItem(name).NewItem("unshared");
        };
        f->manager->SetUploadQueue(queue);

        ItemPtr user = d.GetType("user")->GetItem("peer");
        f->net.client->GetPeerAddress("peer");
        QTRY_VERIFY_WITH_TIMEOUT(user["user_address"], 30000);
        QVERIFY(unshared.isEmpty());
        user.NewItem("unshared");

        FakePeerLink* otherLink = f->LinkedPeer("other");
        QVERIFY(otherLink);
        FakePeer* other = f->net.peers.last();
        ItemPtr otherUser = d.GetType("user")->GetItem("other");
        bool sent = false;
        peer = other;
        link = otherLink;
        QCOMPARE(Ask("help", &sent).size(), 2);

        f->net.client->GetPeerAddress("other");
        QTRY_COMPARE_WITH_TIMEOUT(unshared, QStringList{"other"}, 30000);
        QVERIFY(Unanswered("help"));
        // Withdrawing the second touched nothing of the first, and
        // re-sharing the first leaves the second withdrawn.
        user.Disconnect("unshared");
        QVERIFY(otherUser.IsConnected("unshared"));
        QVERIFY(Unanswered("help"));

        // Without the engine, the mark alone is set.
        f->manager->SetUploadQueue({});
        otherUser.Disconnect("unshared");
        user.NewItem("unshared");
        FakePeer* third = f->net.AddPeer("third");
        QVERIFY(third);
        f->net.client->GetPeerAddress("third");
        QTRY_VERIFY_WITH_TIMEOUT(d.GetType("user")->HasItem("third").IsConnected("unshared"), 30000);
        QCOMPARE(unshared, QStringList{"other"});
    }
};

QTEST_MAIN(TestSearchResponder)
#include "TestSearchResponder.moc"
