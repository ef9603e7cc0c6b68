// What one search keeps of the replies peers send it: up to a bound, the
// rest counted as left out and never stored; free places filled by
// whoever answers, and given back by those over a user's or an address's
// share once later answerers need them; a busy search kept whole however
// its peers crowd in; a large reply stored a part a turn; a reply that
// would inflate past its own limit dropped whole.
#include <QtTest>
#include <algorithm>
#include <numeric>

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

// The results a request holds, by user.
QHash<QString, int> ByUser(ItemPtr request)
{
    QHash<QString, int> kept;
    for (const ItemPtr& reply : request.GetItems("search_results"))
        kept[reply["user"].AsString()] += reply.CountItems("search_result");
    return kept;
}

// A loopback address of its own for each of many peers.
QString OwnAddress(int peer)
{
    return QString("127.1.%1.%2").arg(peer / 200).arg(peer % 200 + 1);
}

bool AllClosed(const QList<FakePeerLink*>& links)
{
    return std::all_of(links.begin(), links.end(), [](FakePeerLink* l) { return l && l->IsClosed(); });
}

// Peers that answer a search as soon as they are connected: each opens a
// connection of its own from its address, greets, sends its reply and
// closes, all written at once.
class Answering
{
public:
    Answering(PeerFixture* f) : m_fake(new FakePeer("crowd")), m_port(f->peer->ListeningPort())
    {
        f->peers.append(m_fake);
    }
    FakePeerLink* Answer(const QString& user, quint32 ticket, const QList<QByteArray>& files,
                         const QString& address = "127.0.0.1")
    {
        m_fake->SetSourceAddress(QHostAddress(address));
        FakePeerLink* link = m_fake->StartConnecting(m_port, false);
        if (link) {
            link->SendGreeting(user, "P", 1);
            link->SendMessage(9, CompressedSearchReply(user, ticket, files));
            link->Close();
        }
        return link;
    }

private:
    FakePeer* m_fake;
    quint16 m_port;
};
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

    void aBigSharerFillsFreePlacesAndGivesThemBackToLaterAnswerers()
    {
        const int limit = f->peer->SearchResultLimit();
        const int share = f->peer->SearchResultUserLimit();
        QCOMPARE(share, SearchResultIntake::DefaultUserLimit);
        Answering peers(f);
        // A big sharer answers first, alone: it fills the search.
        const quint32 ticket = f->client->FileSearch("live", QString());
        link->SendMessage(9, CompressedSearchReply("peer", ticket, Files(0, 1500)));
        link->SendMessage(9, CompressedSearchReply("peer", ticket, Files(1500, limit + 6000 - 1500)));
        QTRY_COMPARE_WITH_TIMEOUT(f->peer->LeftOutSearchResults(Request(ticket)), qint64(6000), 30000);
        // A hundred users after it, thirty results each, are all kept: the
        // big sharer's newest results make room, those still waiting to be
        // stored first.
        for (int i = 0; i < 100; ++i)
            peers.Answer(QString("user%1").arg(i), ticket, Files(0, 30), OwnAddress(i));
        QTRY_COMPARE_WITH_TIMEOUT(ByUser(Request(ticket)).size(), 101, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(ByUser(Request(ticket)).value("peer"), limit - 3000, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(Names(Request(ticket)).size(), limit, 30000);
        QHash<QString, int> kept = ByUser(Request(ticket));
        for (int i = 0; i < 100; ++i)
            QCOMPARE(kept.value(QString("user%1").arg(i)), 30);
        QCOMPARE(Names(Request(ticket)).mid(0, limit - 3000), Numbered(0, limit - 3000));
        QCOMPARE(f->peer->LeftOutSearchResults(Request(ticket)), qint64(9000));
        QCOMPARE(int(d.GetType("search_result")->Count()), limit);

        // A later big sharer takes back no more than its share.
        peers.Answer("late", ticket, Files(0, 5000), OwnAddress(100));
        QTRY_COMPARE_WITH_TIMEOUT(ByUser(Request(ticket)).value("late"), share, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(f->peer->LeftOutSearchResults(Request(ticket)), qint64(9000 + 5000), 30000);
        QCOMPARE(ByUser(Request(ticket)).value("peer"), limit - 3000 - share);
        QCOMPARE(Names(Request(ticket)).size(), limit);

        // A wish-list search's tickets share one search: places taken back
        // on one are counted left out on the other.
        f->peer->SetSearchResultLimit(10);
        f->peer->SetSearchResultUserLimit(4);
        const quint32 first = f->client->FileSearch("wish", "wish");
        const quint32 second = f->client->FileSearch("wish", "wish");
        link->SendMessage(9, CompressedSearchReply("peer", first, Files(0, 8)));
        QTRY_COMPARE_WITH_TIMEOUT(Names(Request(first)), Numbered(0, 8), 30000);
        peers.Answer("other", second, Files(8, 8), OwnAddress(101));
        QTRY_COMPARE_WITH_TIMEOUT(f->peer->LeftOutSearchResults(Request(second)), qint64(4), 30000);
        QCOMPARE(Names(Request(second)), Numbered(8, 4));
        QCOMPARE(Names(Request(first)), Numbered(0, 6));
        QCOMPARE(f->peer->LeftOutSearchResults(Request(first)), qint64(2));
    }

    void manyNamesAtOneAddressGiveBackWhatTheAddressHoldsPastItsShare()
    {
        const int userShare = f->peer->SearchResultUserLimit();
        const int share = f->peer->SearchResultAddressLimit();
        QCOMPARE(share, SearchResultIntake::DefaultAddressLimit);
        const int limit = f->peer->SearchResultLimit();
        const int names = limit / userShare;
        Answering peers(f);
        // One host answers first under enough made-up names, each with a
        // user's whole share, to fill the search together.
        const quint32 ticket = f->client->FileSearch("live", QString());
        const QString host = "127.0.0.9";
        QList<FakePeerLink*> links;
        for (int i = 0; i < names; ++i)
            links << peers.Answer(QString("made-up%1").arg(i), ticket, Files(i * userShare, userShare), host);
        QVERIFY(QTest::qWaitFor([&] { return AllClosed(links); }, 30000));
        QTRY_COMPARE_WITH_TIMEOUT(Names(Request(ticket)).size(), limit, 30000);
        QCOMPARE(f->peer->LeftOutSearchResults(Request(ticket)), qint64(0));

        // A hundred peers at addresses of their own, after it: all kept,
        // the host's names giving up alike.
        links.clear();
        for (int i = 0; i < 100; ++i)
            links << peers.Answer(QString("user%1").arg(i), ticket, Files(0, 30), OwnAddress(i));
        QVERIFY(QTest::qWaitFor([&] { return AllClosed(links); }, 30000));
        QTRY_COMPARE_WITH_TIMEOUT(f->peer->LeftOutSearchResults(Request(ticket)), qint64(3000), 30000);
        QHash<QString, int> kept = ByUser(Request(ticket));
        for (int i = 0; i < 100; ++i)
            QCOMPARE(kept.value(QString("user%1").arg(i)), 30);
        for (int i = 0; i < names; ++i)
            QCOMPARE(kept.value(QString("made-up%1").arg(i)), userShare - 3000 / names);
        QCOMPARE(Names(Request(ticket)).size(), limit);

        // What the views let go of one name is free for another at that
        // address; once the search is full again, the address, far over its
        // share, has no place for more: another name there takes its places
        // from the host's names.
        for (ItemPtr reply : Request(ticket).GetItems("search_results"))
            if (reply["user"].AsString() == "made-up0")
                reply.Remove();
        d.RemoveDisconnectedItems();
        const int freed = userShare - 3000 / names;
        peers.Answer("neighbour", ticket, Files(0, freed), host);
        QTRY_COMPARE_WITH_TIMEOUT(ByUser(Request(ticket)).value("neighbour"), freed, 30000);
        peers.Answer("neighbour2", ticket, Files(0, 10), host);
        QTRY_COMPARE_WITH_TIMEOUT(f->peer->LeftOutSearchResults(Request(ticket)), qint64(3000 + 10), 30000);
        QCOMPARE(Names(Request(ticket)).size(), limit);
        // The places it has are the host's own names'.
        QCOMPARE(ByUser(Request(ticket)).value("neighbour2"), 10);
        kept = ByUser(Request(ticket));
        QCOMPARE(std::accumulate(kept.begin(), kept.end(), 0), limit);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(kept.value(QString("user%1").arg(i)), 30);
    }

    // A second user behind a big sharer's address, under its own share,
    // takes places back from the big one as a user anywhere else does; with
    // the address at its share it takes them there alone, so the address
    // holds no more, even while a sender elsewhere is further over.
    void aUserBehindABigSharersAddressTakesPlacesBackWithinTheAddress()
    {
        f->peer->SetSearchResultLimit(100);
        f->peer->SetSearchResultUserLimit(20);
        f->peer->SetSearchResultAddressLimit(40);
        auto* intake = f->peer->findChild<SearchResultIntake*>();
        QVERIFY(intake);
        auto take = [&](quint32 ticket, const QString& user, const QString& address, int count) {
            PeerMessages::SearchReplyBody body;
            body.token = ticket;
            for (int i = 0; i < count; ++i)
                body.files.emplace_back(QString("\\%1\\%2.mp3").arg(user).arg(i).toStdString(), 1000);
            intake->Take({user, address}, body);
        };
        auto atAddress = [](ItemPtr request, const QStringList& users) {
            int held = 0;
            const QHash<QString, int> kept = ByUser(request);
            for (const QString& user : users)
                held += kept.value(user);
            return held;
        };

        // The big sharer alone fills the search; a user at its address and
        // one elsewhere each take their share back from it.
        const quint32 alone = f->client->FileSearch("alone", QString());
        take(alone, "big", "127.0.0.5", 130);
        QCOMPARE(ByUser(Request(alone)).value("big"), 100);
        QCOMPARE(intake->Room(alone, {"neighbour", "127.0.0.5"}), 20u);
        take(alone, "neighbour", "127.0.0.5", 30);
        QCOMPARE(ByUser(Request(alone)).value("neighbour"), 20);
        QCOMPARE(atAddress(Request(alone), {"big", "neighbour"}), 100);
        take(alone, "stranger", "127.0.0.6", 30);
        QCOMPARE(ByUser(Request(alone)), (QHash<QString, int>{{"big", 60}, {"neighbour", 20}, {"stranger", 20}}));
        // Under its share no more: nothing more for the neighbour.
        QCOMPARE(intake->Room(alone, {"neighbour", "127.0.0.5"}), 0u);

        // The address at its share: the neighbour's places come from the big
        // sharer, not from one further over elsewhere.
        const quint32 shared = f->client->FileSearch("shared", QString());
        take(shared, "big", "127.0.0.7", 40);
        take(shared, "far", "127.0.0.8", 60);
        take(shared, "neighbour", "127.0.0.7", 30);
        QCOMPARE(ByUser(Request(shared)), (QHash<QString, int>{{"big", 20}, {"far", 60}, {"neighbour", 20}}));
        QCOMPARE(f->peer->LeftOutSearchResults(Request(shared)), qint64(10 + 20));
        QCOMPARE(Names(Request(shared)).size(), 100);
    }

    // Names as far over their host's share give places up a step at a
    // time: a reply claiming fewer takes them from one name, whose rows a
    // page then takes out at once, rather than a place from each; over
    // more replies the names still end alike to within a step.
    void aClaimIsMetByOneOfThoseAsFarOver()
    {
        const int step = SearchResultIntake::GiveUpStep;
        f->peer->SetSearchResultLimit(5 * 2 * step);
        f->peer->SetSearchResultUserLimit(5 * 2 * step);
        f->peer->SetSearchResultAddressLimit(step);
        Answering peers(f);
        const quint32 ticket = f->client->FileSearch("alike", QString());
        QList<FakePeerLink*> links;
        for (int i = 0; i < 5; ++i)
            links << peers.Answer(QString("name%1").arg(i), ticket, Files(0, 2 * step), "127.0.0.9");
        QVERIFY(QTest::qWaitFor([&] { return AllClosed(links); }, 30000));
        QTRY_COMPARE_WITH_TIMEOUT(Names(Request(ticket)).size(), 5 * 2 * step, 30000);
        auto held = [ticket] {
            QList<int> names;
            const QHash<QString, int> kept = ByUser(Request(ticket));
            for (int i = 0; i < 5; ++i)
                names << kept.value(QString("name%1").arg(i));
            std::sort(names.begin(), names.end());
            return names;
        };
        peers.Answer("user0", ticket, Files(0, step / 2), OwnAddress(0));
        QTRY_COMPARE_WITH_TIMEOUT(ByUser(Request(ticket)).value("user0"), step / 2, 30000);
        QCOMPARE(held(), QList<int>({2 * step - step / 2, 2 * step, 2 * step, 2 * step, 2 * step}));
        for (int i = 1; i < 8; ++i)
            peers.Answer(QString("user%1").arg(i), ticket, Files(0, step / 2), OwnAddress(i));
        QTRY_COMPARE_WITH_TIMEOUT(ByUser(Request(ticket)).size(), 5 + 8, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(ByUser(Request(ticket)).value("user7"), step / 2, 30000);
        QVERIFY(held().last() - held().first() <= step);
        QCOMPARE(Names(Request(ticket)).size(), 5 * 2 * step);
    }

    void aBusySearchFromPeersCrowdingInAtOnceIsKeptWhole()
    {
        const int users = 500, each = 100, wave = 40;
        QCOMPARE(users * each, f->peer->SearchResultLimit());
        Answering peers(f);
        const quint32 ticket = f->client->FileSearch("popular", QString());
        // Forty connect at once, each from an address of its own, then the
        // next forty.
        QList<FakePeerLink*> links;
        for (int first = 0; first < users; first += wave) {
            for (int i = first; i < qMin(users, first + wave); ++i)
                links << peers.Answer(QString("user%1").arg(i), ticket, Files(i * each, each), OwnAddress(i));
            QVERIFY(QTest::qWaitFor([&] { return AllClosed(links); }, 10000));
            f->Advance(50);
        }
        QTRY_COMPARE_WITH_TIMEOUT(Names(Request(ticket)).size(), users * each, 60000);
        QCOMPARE(ByUser(Request(ticket)).size(), users);
        QCOMPARE(f->peer->LeftOutSearchResults(Request(ticket)), qint64(0));

        // Full: the next user's reply is left out whole.
        peers.Answer("late", ticket, Files(0, 5));
        QTRY_COMPARE_WITH_TIMEOUT(f->peer->LeftOutSearchResults(Request(ticket)), qint64(5), 30000);
        QCOMPARE(replies, users);
    }

    void aLargeReplyIsStoredAPartATurn()
    {
        const int size = 2 * SearchResultIntake::PartSize + 500;
        f->peer->SetSearchResultUserLimit(2 * size);
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
