// What one search keeps of the replies peers send it: up to a bound, the
// rest counted as left out and never stored; a large reply stored a part a
// turn; a reply that would inflate past its own limit dropped whole.
#include <QtTest>

#include "Data.h"
#include "FakePeer.h"
#include "FakePeerLink.h"
#include "FakeWire.h"
#include "PeerFixture.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "SearchReply.h"
#include "SearchResultIntake.h"
#include "Server.h"
#include "TurnCounter.h"

namespace {
// count files named "<first>.mp3" on, in one folder.
QList<QByteArray> Files(int first, int count)
{
    QList<QByteArray> files;
    for (int i = first; i < first + count; ++i)
        files << SearchReplyFile(QString("\\music\\%1.mp3").arg(i).toUtf8(), quint64(i));
    return files;
}

ItemPtr Request(quint32 ticket)
{
    return d.GetType("search_request")->HasItem(Value(ticket));
}

// The file names a request holds, in the order stored.
QStringList Names(ItemPtr request)
{
    QStringList names;
    for (const ItemPtr& reply : request.GetItems("search_results"))
        for (const ItemPtr& result : reply.GetItems("search_result"))
            names << result["search_result_file_name"].AsString();
    return names;
}

QStringList Numbered(int first, int count)
{
    QStringList names;
    for (int i = first; i < first + count; ++i)
        names << QString("%1.mp3").arg(i);
    return names;
}
} // namespace

class TestSearchResultBound : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        f = new PeerFixture;
        QVERIFY(f->Start());
        QVERIFY(f->AddPeer("peer"));
        link = f->peers.first()->Greet(f->peer->ListeningPort(), false, "P", 1);
        QVERIFY(link);
        connect(f->peer, &PeerMessenger::SearchResults, this, [this] { ++replies; });
        connect(f->peer, &PeerMessenger::MoreSearchResults, this, [this] { ++parts; });
        connect(f->peer, &PeerMessenger::SearchResultsLeftOut, this,
                [this](ItemPtr request) { leftOutTickets << request.AsUInt(); });
    }
    void cleanup()
    {
        delete f;
        f = nullptr;
        replies = parts = 0;
        leftOutTickets.clear();
    }

    void aSearchKeepsResultsUpToItsBoundAndCountsTheRest()
    {
        f->peer->SetSearchResultLimit(10);
        const quint32 a = f->client->FileSearch("a", QString());
        const quint32 b = f->client->FileSearch("b", QString());
        link->SendMessage(9, CompressedSearchReply("peer", a, Files(0, 6)));
        link->SendMessage(9, CompressedSearchReply("peer", a, Files(6, 7)));
        link->SendMessage(9, CompressedSearchReply("peer", a, Files(13, 2)));
        link->SendMessage(9, CompressedSearchReply("peer", b, Files(0, 6)));
        QTRY_COMPARE_WITH_TIMEOUT(replies, 3, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(leftOutTickets.size(), 2, 30000);

        // The first ten that came are kept; another search has its own.
        QCOMPARE(Names(Request(a)), Numbered(0, 10));
        QCOMPARE(f->peer->LeftOutSearchResults(Request(a)), qint64(5));
        QCOMPARE(leftOutTickets, (QList<uint>{a, a}));
        QCOMPARE(Names(Request(b)), Numbered(0, 6));
        QCOMPARE(f->peer->LeftOutSearchResults(Request(b)), qint64(0));
        QCOMPARE(int(d.GetType("search_result")->Count()), 16);

        // Results the views let go of make room again.
        Request(a).GetItems("search_results").First().Remove();
        d.RemoveDisconnectedItems();
        link->SendMessage(9, CompressedSearchReply("peer", a, Files(20, 8)));
        QTRY_COMPARE_WITH_TIMEOUT(replies, 4, 30000);
        QCOMPARE(Names(Request(a)), Numbered(6, 4) + Numbered(20, 6));
        QCOMPARE(f->peer->LeftOutSearchResults(Request(a)), qint64(7));

        // A wish-list search's tickets share one bound, as they share a page.
        const quint32 first = f->client->FileSearch("wish", "wish");
        const quint32 second = f->client->FileSearch("wish", "wish");
        link->SendMessage(9, CompressedSearchReply("peer", first, Files(0, 8)));
        link->SendMessage(9, CompressedSearchReply("peer", second, Files(8, 8)));
        QTRY_COMPARE_WITH_TIMEOUT(replies, 6, 30000);
        QCOMPARE(Names(Request(second)), Numbered(8, 2));
        QCOMPARE(f->peer->LeftOutSearchResults(Request(second)), qint64(6));

        // A stopped search drops what comes, with nothing left out to tell.
        Request(b) += d.GetType("search_stopped")->GetGlobalNullItem();
        link->SendMessage(9, CompressedSearchReply("peer", b, Files(6, 20)));
        link->SendMessage(9, CompressedSearchReply("peer", a, Files(40, 1)));
        QTRY_COMPARE_WITH_TIMEOUT(f->peer->LeftOutSearchResults(Request(a)), qint64(8), 30000);
        QCOMPARE(f->peer->LeftOutSearchResults(Request(b)), qint64(0));
        QCOMPARE(Names(Request(b)), Numbered(0, 6));
    }

    void aLargeReplyIsStoredAPartATurn()
    {
        const int size = 2 * SearchResultIntake::PartSize + 500;
        const quint32 ticket = f->client->FileSearch("large", QString());
        TurnCounter turns;
        QList<int> partSizes;
        ItemPtr first;
        connect(f->peer, &PeerMessenger::SearchResults, this, [&](ItemPtr results) {
            first = results;
            partSizes << results.CountItems("search_result");
            turns.Count();
        });
        connect(f->peer, &PeerMessenger::MoreSearchResults, this, [&](ItemPtr results, const ItemList& part) {
            QCOMPARE(results, first);
            partSizes << int(part.size());
            turns.Count();
        });
        link->SendMessage(9, CompressedSearchReply("peer", ticket, Files(0, size)));
        QTRY_COMPARE_WITH_TIMEOUT(parts, 2, 30000);
        QCOMPARE(partSizes, (QList<int>{SearchResultIntake::PartSize, SearchResultIntake::PartSize, 500}));
        QCOMPARE(turns.MostInOneTurn(), 1);
        // One reply, whole and in order.
        QCOMPARE(Request(ticket).CountItems("search_results"), 1);
        QCOMPARE(Names(Request(ticket)), Numbered(0, size));

        // A search closed while parts wait stores nothing more of them.
        const quint32 closed = f->client->FileSearch("closed", QString());
        connect(f->peer, &PeerMessenger::SearchResults, this, [&](ItemPtr results) {
            if (results["search_request"] == Request(closed))
                Request(closed).Remove();
        });
        link->SendMessage(9, CompressedSearchReply("peer", closed, Files(0, size)));
        // Parts are stored oldest reply first: once this one's are in, the
        // closed one's turn has passed.
        link->SendMessage(9, CompressedSearchReply("peer", ticket, Files(0, size)));
        QTRY_COMPARE_WITH_TIMEOUT(parts, 4, 30000);
        d.RemoveDisconnectedItems();
        QCOMPARE(replies, 3);
        QCOMPARE(int(d.GetType("search_result")->Count()), 2 * size);
    }

    void aReplyPastItsOwnInflateLimitIsDroppedUnread()
    {
        const quint32 ticket = f->client->FileSearch("huge", QString());
        f->peer->SetSearchResultLimit(10);
        // Far more records than a search keeps: those past it are counted.
        QList<QByteArray> many;
        for (int i = 0; i < 200000; ++i)
            many << SearchReplyFile("a", 1);
        link->SendMessage(9, CompressedSearchReply("peer", ticket, many));
        QTRY_COMPARE_WITH_TIMEOUT(f->peer->LeftOutSearchResults(Request(ticket)), qint64(199990), 30000);
        QCOMPARE(Request(ticket).GetItems("search_results").First().CountItems("search_result"), 10);

        // One record of a name long enough to pass the limit.
        const QByteArray name(PeerMessages::SearchReplyInflateLimit, 'x');
        link->SendMessage(9, CompressedSearchReply("peer", ticket, {SearchReplyFile(name, 1)}));
        QVERIFY(link->WaitForClosed());
        QCOMPARE(replies, 1);
        QVERIFY(f->LogText("Peer Messenger")
                    .contains(QString("inflates past %1 bytes").arg(PeerMessages::SearchReplyInflateLimit)));
    }

private:
    PeerFixture* f = nullptr;
    FakePeerLink* link = nullptr;
    int replies = 0;
    int parts = 0;
    QList<uint> leftOutTickets;
};

QTEST_MAIN(TestSearchResultBound)
#include "TestSearchResultBound.moc"
