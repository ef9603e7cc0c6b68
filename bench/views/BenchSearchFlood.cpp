// Search replies past what one search keeps, sent over loopback by peers on
// a thread of their own, as fast as the sockets take them, to a results page
// shown on the Search page; the peers connect forty at once, each from a
// loopback address of its own unless they model one host. Each flood's
// figures are
// the client's growth above its memory at rest (the peak resident size
// while the replies arrive and the page sorts them) and the longest stall
// of its event loop, beside the same bytes sent by the same peers to a
// ticket nobody asked for (read and dropped) and the idle loop:
//   - one peer answering with 100,000 results in 100 replies and with
//     1,000,000 in 1,000, and 1,000 peers answering with 1,000 each; aims:
//     under 150 MB, no more held at 1,000,000 than at 100,000 (within 1.5x), no
//     stall over 100 ms, what the bounds keep shown (the search's whole
//     room, which one peer alone fills) and the rest counted as left out;
//   - one reply of 25,000 results, and one that inflates to just under
//     the 8 MiB a reply may inflate to, of minimal records (over 380,000 of
//     them); aims the same;
//   - honest searches, 100 peers with 30 results each and a busy one of
//     500 peers with 100 each, the busy one also on a page of flat rows:
//     every result shown and none left out, as before there was a bound;
//     under 150 MB, no stall over 100 ms; the flat page of 50,000 rows
//     then sorted by each column both ways as its header is clicked, and
//     the busy pages of 50,000 rows, grouped and flat, filtered as a filter
//     is typed a key at a time and cleared; no stall over 100 ms;
//   - a big sharer answering first with 56,000 results in four replies,
//     then 100 peers with 30 each: the hundred's every result shown, the
//     big one filling the rest of the search, what it gave up and what
//     found no place counted as left out;
//   - the same big sharer first, then 24 peers with a user's share each,
//     on a page grouped and flat: each takes its share back from the big
//     one's rows on the page; the 24's every result shown, the big one
//     keeping a user's share, no stall over 100 ms;
//   - one host answering first under 25 names with 2,000 results each,
//     filling the search, then 100 peers at addresses of their own with 30
//     each: the hundred's every result shown, the host's names giving the
//     places up alike, none over a user's share.
#include <QApplication>
#include <QHash>
#include <QHeaderView>
#include <QLineEdit>
#include <QSet>
#include <QThread>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "AnsweringPeers.h"
#include "BenchSupport.h"
#include "Data.h"
#include "FakeWire.h"
#include "PeerMessages.h"
#include "PeerMessenger.h"
#include "SearchReply.h"
#include "Server.h"
#include "Settings.h"
#include "StallProbe.h"
#include "TabWidget.h"
#include "ViewFixture.h"
#include "search/SearchForm.h"
#include "search/SearchResultListItem.h"
#include "search/SearchResultsForm.h"

namespace {

// Connections opened at once from one address.
const int kOpeningAtOnce = 40;

// A filter typed on a page of the peers' replies: some tracks, less one
// peer's.
const QString kTypedFilter = QStringLiteral("track 4 -17");

// What a flood cost: the peak resident growth above the memory at rest, the
// heap still held once it is over, the longest stall, and what the page
// holds.
struct Cost
{
    double peakMb = 0;
    double heldMb = 0;
    double stallMs = 0;
    int rows = 0;
    // The results kept, by user.
    QHash<QString, int> kept;
    qint64 leftOut = 0;
    bool done = false;
};

// A reply of count files in a folder of the user's.
QByteArray Reply(const QString& user, quint32 ticket, int reply, int count)
{
    QList<QByteArray> files;
    for (int i = 0; i < count; ++i)
        files << SearchReplyFile(QString("music\\%1 album %2\\track %3.mp3").arg(user).arg(reply).arg(i).toUtf8(),
                                 quint64(3000000 + i), {{0, 320}});
    return CompressedSearchReply(user, ticket, files, 1, 100000, 0);
}

int FileRows(QTreeWidget* tree, bool flat)
{
    if (flat)
        return tree->topLevelItemCount();
    int rows = 0;
    for (int u = 0; u < tree->topLevelItemCount(); ++u)
        for (int f = 0; f < tree->topLevelItem(u)->childCount(); ++f)
            rows += tree->topLevelItem(u)->child(f)->childCount();
    return rows;
}

// The peers' side: each wave of peers answers at once.
class Senders : public AnsweringPeers
{
public:
    void Answer(quint16 port, const QStringList& names, const QList<QHostAddress>& addresses,
                const std::vector<QByteArray>& streams)
    {
        for (int i = 0; i < names.size(); ++i)
            AnsweringPeers::Answer(port, names[i], addresses[i], streams[size_t(i)]);
    }
};

// A reply's bytes from a peer (by index), its number among that peer's
// replies and the ticket it answers; empty when the peer has no such reply.
typedef std::function<QByteArray(int peer, int reply, quint32 ticket)> Build;

class Bench
{
public:
    Bench()
    {
        form = new SearchForm;
        f.AddPage(form, "Search");
        form->Init();
        m_senders->moveToThread(&m_thread);
        m_thread.start();
    }
    ~Bench()
    {
        QMetaObject::invokeMethod(
            m_senders, [this] { m_senders->Close(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
        delete m_senders;
    }

    bool Start()
    {
        if (!f.Start())
            return false;
        f.tabs->setCurrentWidget(form);
        return true;
    }

    void Idle()
    {
        StallProbe probe;
        probe.Start();
        RunUntil([] { return false; }, 1000);
        m_idleMs = LongestGapNow(probe);
        std::printf("  idle loop: longest stall %.1f ms; resident at rest %.1f MB\n", m_idleMs, ResidentMegabytes());
    }

    void Honest()
    {
        std::printf("  an honest search: 100 peers with 30 results each:\n");
        HonestFigures("honest", 100, 30);
        std::printf("  a busy honest search: 500 peers with 100 results each:\n");
        HonestFigures("busy honest", 500, 100);
        std::printf("  the busy honest search on a page of flat rows, then sorted as its headers are clicked:\n");
        HonestFigures("busy honest, flat", 500, 100, true);
    }

    void BigThenMany()
    {
        std::printf("  a big sharer first, 56,000 results in 4 replies, then 100 peers with 30 each:\n");
        Scenario(101, OwnAddress);
        auto build = [this](int p, int r, quint32 ticket) {
            if (p == 0)
                return Reply(Name(p), ticket, r, 14000);
            return r == 0 ? Reply(Name(p), ticket, r, 30) : QByteArray();
        };
        const int limit = f.net.peer->SearchResultLimit();
        const int sent = 4 * 14000 + 3000;
        const Cost unasked = Flood(4, build, sent, 0, false, 1);
        const Cost asked = Flood(4, build, sent, limit, true, 1);
        const int big = asked.kept.value(Name(0));
        Figure("big then many: the many's rows / their results", double(asked.rows - big) / 3000, "x", ">=", 1,
               Detail("%d rows of theirs", asked.rows - big));
        Figure("big then many: the big one's rows / the places left", double(big) / (limit - 3000), "x", ">=", 1,
               Detail("%d rows, %lld left out", big, asked.leftOut));
        Figure("big then many: shown + left out / sent", asked.done ? double(asked.rows + asked.leftOut) / sent : 0,
               "x", ">=", 1);
        Figure("big then many: growth above rest", asked.peakMb, "MB", "<", 150,
               Detail("dropped unasked: +%.1f MB", unasked.peakMb));
        Figure("big then many: longest stall", asked.stallMs, "ms", "<", 100,
               Detail("dropped unasked %.1f ms, idle loop %.1f ms", unasked.stallMs, m_idleMs));
    }

    void BigThenShares()
    {
        const int share = f.net.peer->SearchResultUserLimit();
        const int limit = f.net.peer->SearchResultLimit();
        const int others = limit / share - 1;
        const int sent = 4 * 14000 + others * share;
        auto build = [this, share](int p, int r, quint32 ticket) {
            if (p == 0)
                return Reply(Name(p), ticket, r, 14000);
            return r == 0 ? Reply(Name(p), ticket, r, share) : QByteArray();
        };
        for (const bool flat : {false, true}) {
            const std::string what = flat ? "big then shares, flat" : "big then shares";
            std::printf("  a big sharer first, 56,000 results in 4 replies, then %d peers with %d each%s:\n", others,
                        share, flat ? ", on a page of flat rows" : "");
            Scenario(others + 1, OwnAddress);
            SetSetting("use_old_style_search_results", flat ? "yes" : "no");
            const Cost unasked = Flood(4, build, sent, 0, false, 1);
            const Cost asked = Flood(4, build, sent, limit, true, 1);
            SetSetting("use_old_style_search_results", "no");
            const int big = asked.kept.value(Name(0));
            Figure((what + ": the others' rows / their results").c_str(), double(asked.rows - big) / (others * share),
                   "x", ">=", 1, Detail("%d rows of theirs", asked.rows - big));
            Figure((what + ": the big one's rows / one user's share").c_str(), double(big) / share, "x", ">=", 1,
                   Detail("%d rows, %lld left out", big, asked.leftOut));
            Figure((what + ": shown + left out / sent").c_str(),
                   asked.done ? double(asked.rows + asked.leftOut) / sent : 0, "x", ">=", 1);
            Figure((what + ": growth above rest").c_str(), asked.peakMb, "MB", "<", 150,
                   Detail("dropped unasked: +%.1f MB", unasked.peakMb));
            Figure((what + ": longest stall").c_str(), asked.stallMs, "ms", "<", 100,
                   Detail("dropped unasked %.1f ms, idle loop %.1f ms", unasked.stallMs, m_idleMs));
        }
    }

    void ManyNamesThenMany()
    {
        std::printf("  one host first, 25 names with 2,000 results each, then 100 peers at addresses of their own\n"
                    "  with 30 each:\n");
        const int names = 25, fromEach = 2000;
        const QHostAddress host("127.0.0.9");
        Scenario(names + 100, [=](int p) { return p < names ? host : OwnAddress(p); });
        auto build = [=](int p, int r, quint32 ticket) {
            return r > 0 ? QByteArray() : Reply(Name(p), ticket, r, p < names ? fromEach : 30);
        };
        const int sent = names * fromEach + 3000;
        const int limit = f.net.peer->SearchResultLimit();
        const Cost unasked = Flood(1, build, sent, 0, false, names);
        const Cost asked = Flood(1, build, sent, limit, true, names);
        int hostRows = 0, most = 0, fewest = fromEach;
        for (int p = 0; p < names; ++p) {
            hostRows += asked.kept.value(Name(p));
            most = std::max(most, asked.kept.value(Name(p)));
            fewest = std::min(fewest, asked.kept.value(Name(p)));
        }
        Figure("one host's names, then many: the many's rows / their results", double(asked.rows - hostRows) / 3000,
               "x", ">=", 1, Detail("%d rows of theirs", asked.rows - hostRows));
        Figure("one host's names, then many: the host's rows / the places left", double(hostRows) / (limit - 3000), "x",
               ">=", 1, Detail("%d rows, %lld left out", hostRows, asked.leftOut));
        Figure("one host's names, then many: fewest rows of a name / most", double(fewest) / std::max(most, 1), "x",
               ">=", 0.95, Detail("%d against %d rows", fewest, most));
        Figure("one host's names, then many: shown + left out / sent",
               asked.done ? double(asked.rows + asked.leftOut) / sent : 0, "x", ">=", 1);
        Figure("one host's names, then many: growth above rest", asked.peakMb, "MB", "<", 150,
               Detail("dropped unasked: +%.1f MB", unasked.peakMb));
        Figure("one host's names, then many: longest stall", asked.stallMs, "ms", "<", 100,
               Detail("dropped unasked %.1f ms, idle loop %.1f ms", unasked.stallMs, m_idleMs));
    }

    void OnePeer()
    {
        std::printf("  one peer, 100,000 results in 100 replies of 1,000, then 1,000,000 in 1,000 (%.1f MB on the "
                    "wire):\n",
                    Reply("peer", 1, 0, 1000).size() * 1000 / 1048576.0);
        Scenario(1);
        auto build = [this](int p, int r, quint32 ticket) { return Reply(Name(p), ticket, r, 1000); };
        const Cost tenth = Figures("1 peer x 100,000", 100, build, 100000, Kept(1, 100000));
        const Cost whole = Figures("1 peer x 1,000,000", 1000, build, 1000000, Kept(1, 1000000));
        // What is held once the flood is over: both keep the search's whole
        // room.
        Figure("1 peer: held at 1,000,000 / at 100,000", whole.heldMb / std::max(tenth.heldMb, 0.1), "x", "<=", 1.5,
               Detail("%.1f MB against %.1f MB (peaks +%.1f MB, +%.1f MB)", whole.heldMb, tenth.heldMb, whole.peakMb,
                      tenth.peakMb));
    }

    void ManyPeers()
    {
        std::printf("  1,000 peers, 1,000 results each in one reply:\n");
        Scenario(1000, OwnAddress);
        Figures(
            "1,000 peers x 1,000", 1, [this](int p, int r, quint32 ticket) { return Reply(Name(p), ticket, r, 1000); },
            1000000, Kept(1000, 1000));
    }

    void HugeReplies()
    {
        std::printf("  one reply of 25,000 results:\n");
        Scenario(1);
        Figures(
            "one reply of 25,000", 1, [this](int p, int r, quint32 ticket) { return Reply(Name(p), ticket, r, 25000); },
            25000, Kept(1, 25000));

        // u8, a one-letter name, u64, no extension, no attributes.
        const QByteArray record = FakeWire().File("x", 1).Bytes();
        const int records = (PeerMessages::SearchReplyInflateLimit - 64) / record.size();
        auto build = [&](int p, int, quint32 ticket) {
            FakeWire body;
            body.Str(Name(p)).U32(ticket).U32(quint32(records));
            for (int i = 0; i < records; ++i)
                body.Raw(record);
            return FakeWire::Compress(body.U8(1).U32(1000).U32(0).U32(0).Bytes());
        };
        std::printf("  one reply of %d minimal records, just within what a reply may inflate to (%.2f MB on the "
                    "wire):\n",
                    records, build(0, 0, 1).size() / 1048576.0);
        Figures("one reply of minimal records", 1, build, records, Kept(1, records));
    }

private:
    // The peers of each scenario have names of their own.
    QString Name(int peer) const { return QString("peer%1-%2").arg(m_scenario).arg(peer); }
    // A loopback address for each of many peers, 127.1.0.1 on.
    static QHostAddress OwnAddress(int peer)
    {
        return QHostAddress(QString("127.1.%1.%2").arg(peer / 200).arg(peer % 200 + 1));
    }

    // What the bounds keep of peers, each at an address of its own, sending
    // each results apiece: while places are free a peer fills them, and
    // none of those that fill the search first is over a share when one
    // peer answers alone or each sends less than a share.
    int Kept(int peers, int each) const
    {
        return int(std::min<qint64>(f.net.peer->SearchResultLimit(), qint64(peers) * each));
    }

    // Peers at addresses of their own that each send a reply of results: all
    // shown, none left out. A flat page is then sorted as its headers are
    // clicked.
    void HonestFigures(const std::string& what, int peers, int results, bool flat = false)
    {
        Scenario(peers, OwnAddress);
        auto build = [this, results](int p, int r, quint32 ticket) { return Reply(Name(p), ticket, r, results); };
        const int sent = peers * results;
        SetSetting("use_old_style_search_results", flat ? "yes" : "no");
        const Cost unasked = Flood(1, build, sent, 0, false);
        double sortMs = 0, filterMs = 0;
        // The busy search's whole page, as its results leave it sorted.
        const bool busy = sent >= 50000;
        const Cost asked = Flood(1, build, sent, sent, true, 0, [&](SearchResultsForm* page) {
            if (flat)
                sortMs = ClickEveryHeader(page);
            if (busy)
                filterMs = LongestStallTyping(
                    kTypedFilter, [page](const QString& text) { page->filterEdit()->setText(text); },
                    [page] { return !page->IsFiltering(); });
        });
        SetSetting("use_old_style_search_results", "no");
        Figure((what + ": rows shown / results sent").c_str(), double(asked.rows) / sent, "x", ">=", 1,
               Detail("%d rows, %lld left out", asked.rows, asked.leftOut));
        Figure((what + ": results left out").c_str(), double(asked.leftOut), "", "<=", 0);
        Figure((what + ": growth above rest").c_str(), asked.peakMb, "MB", "<", 150,
               Detail("dropped unasked: +%.1f MB", unasked.peakMb));
        Figure((what + ": longest stall").c_str(), asked.stallMs, "ms", "<", 100,
               Detail("dropped unasked %.1f ms, idle loop %.1f ms", unasked.stallMs, m_idleMs));
        if (flat)
            Figure((what + ": longest stall of a header click").c_str(), sortMs, "ms", "<", 100,
                   Detail("%d rows, every column both ways", asked.rows));
        if (busy)
            Figure((what + ": longest stall of a filter key").c_str(), filterMs, "ms", "<", 100,
                   Detail("%d rows, \"%s\" typed and cleared", asked.rows, qPrintable(kTypedFilter)));
    }

    // Each column's header clicked twice, a click a turn, as a user sorts
    // the page; the longest stall of the event loop meanwhile.
    double ClickEveryHeader(SearchResultsForm* page)
    {
        QHeaderView* header = page->searchResults()->header();
        StallProbe probe;
        probe.Start();
        QApplication::processEvents();
        probe.Reset();
        for (int click = 0; click < 2 * SearchResultListItem::ColumnCount; ++click) {
            const int column = click / 2;
            const int beats = probe.BeatCount();
            QTimer::singleShot(0, header, [header, column] {
                // As the header does on a click: turns its indicator, then
                // says so.
                const bool again =
                    header->sortIndicatorSection() == column && header->sortIndicatorOrder() == Qt::DescendingOrder;
                header->setSortIndicator(column, again ? Qt::AscendingOrder : Qt::DescendingOrder);
                emit header->sectionClicked(column);
            });
            // The click, the view's layout after it, and a beat.
            RunUntil([&] { return probe.BeatCount() > beats + 3; }, 10000);
        }
        return LongestGapNow(probe);
    }

    // Peers of their own for a scenario, each at the address given (by
    // default one for all).
    void Scenario(
        int peers, std::function<QHostAddress(int)> address = [](int) { return QHostAddress::LocalHost; })
    {
        ++m_scenario;
        m_peers = peers;
        m_address = std::move(address);
    }

    SearchResultsForm* Search(const QString& text)
    {
        SearchResultsForm* page = form->CreateSearchForm(gp_server->FileSearch(text, QString()), text, NetworkSearch);
        form->findChild<QTabWidget*>("searchTabControl")->setCurrentWidget(page);
        QApplication::processEvents();
        return page;
    }

    void Close(SearchResultsForm* page)
    {
        auto* tabs = form->findChild<QTabWidget*>("searchTabControl");
        form->OnTabCloseRequested(tabs->indexOf(page));
        // The next figure measures its own work alone.
        RunUntil([this] { return !form->IsClosingTabs(); }, 60000);
    }

    // The replies to a ticket nobody asked for, then to the page, and the
    // figures.
    Cost Figures(const char* what, int perPeer, const Build& build, int sent, int kept)
    {
        const Cost unasked = Flood(perPeer, build, sent, 0, false);
        const Cost asked = Flood(perPeer, build, sent, kept, true);
        Figure((std::string(what) + ": growth above rest").c_str(), asked.peakMb, "MB", "<", 150,
               Detail("dropped unasked: +%.1f MB", unasked.peakMb));
        Figure((std::string(what) + ": longest stall").c_str(), asked.stallMs, "ms", "<", 100,
               Detail("dropped unasked %.1f ms, idle loop %.1f ms", unasked.stallMs, m_idleMs));
        Figure((std::string(what) + ": shown + left out / sent").c_str(),
               asked.done && asked.rows == kept ? double(asked.rows + asked.leftOut) / sent : 0, "x", ">=", 1,
               Detail("%d rows (bound %d), %lld left out", asked.rows, kept, asked.leftOut));
        return asked;
    }

    // Every peer's replies (made by build for a ticket) sent at once, each
    // peer's in order and last a marker reply to a search of its own; over
    // when every marker has arrived, the results kept (expected of them)
    // are all on the page and the page has sorted them, then after(page)
    // is done. Unasked, the replies go to a ticket nobody asked for. The
    // first answerFirst peers are done before the others begin.
    Cost Flood(int perPeer, const Build& build, int sent, int expected, bool asked, int answerFirst = 0,
               const std::function<void(SearchResultsForm*)>& after = {})
    {
        SearchResultsForm* page = Search(QString("flood %1").arg(++m_floods));
        SearchResultsForm* marker = Search(QString("marker %1").arg(m_floods));
        const quint32 ticket = asked ? page->Ticket() : 0xfffffff0u - quint32(m_floods);
        std::vector<QByteArray> streams(static_cast<size_t>(m_peers));
        for (int p = 0; p < m_peers; ++p) {
            for (int r = 0; r < perPeer; ++r) {
                const QByteArray reply = build(p, r, ticket);
                if (!reply.isEmpty())
                    streams[size_t(p)] += FakeWire::Message(9, reply);
            }
            streams[size_t(p)] += FakeWire::Message(
                9, CompressedSearchReply(Name(p), marker->Ticket(), {SearchReplyFile("m\\marker.mp3", 1)}));
        }
        form->findChild<QTabWidget*>("searchTabControl")->setCurrentWidget(page);
        const ItemPtr request = d.GetType("search_request")->HasItem(Value(page->Ticket()));
        // The page sorts a second after results come: the flood is over with
        // the sort after the last of them.
        int sorts = 0, sortsAtLastResults = 0;
        QObject context;
        QObject::connect(page->searchResults()->model(), &QAbstractItemModel::layoutChanged, &context,
                         [&] { ++sorts; });
        QObject::connect(f.net.peer, &PeerMessenger::SearchResults, &context, [&](ItemPtr results) {
            if (results["search_request"] == request)
                sortsAtLastResults = sorts;
        });
        QObject::connect(f.net.peer, &PeerMessenger::MoreSearchResults, &context,
                         [&](ItemPtr, const ItemList&) { sortsAtLastResults = sorts; });
        // The peers whose every reply has come.
        QSet<QString> finished;
        const ItemPtr markerRequest = d.GetType("search_request")->HasItem(Value(marker->Ticket()));
        QObject::connect(f.net.peer, &PeerMessenger::SearchResults, &context, [&](ItemPtr results) {
            if (results["search_request"] == markerRequest)
                finished << results["user"].AsString();
        });
        Settle();

        Cost cost;
        const double rest = ResidentMegabytes();
        const size_t heapBefore = HeapInUse();
        double peak = rest;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] { peak = std::max(peak, ResidentMegabytes()); });
        sampler.start(20);
        StallProbe probe;
        probe.Start();
        QApplication::processEvents();
        probe.Reset();
        // A wave of connections opened at once; the next as soon as they are
        // in (or done), or once done for those answering first.
        const quint16 port = f.net.peer->ListeningPort();
        for (int first = 0; first < m_peers;) {
            const int end = std::min(first < answerFirst ? answerFirst : m_peers, first + kOpeningAtOnce);
            QStringList names;
            QList<QHostAddress> addresses;
            for (int p = first; p < end; ++p) {
                names << Name(p);
                addresses << m_address(p);
            }
            const std::vector<QByteArray> wave(streams.begin() + first, streams.begin() + end);
            QMetaObject::invokeMethod(
                m_senders, [this, port, names, addresses, wave] { m_senders->Answer(port, names, addresses, wave); });
            RunUntil(
                [&] {
                    return std::all_of(names.begin(), names.end(), [&](const QString& name) {
                        return finished.contains(name) ||
                               (end > answerFirst && f.net.peer->MessageConnectionCount(name) > 0);
                    });
                },
                30000);
            first = end;
        }
        auto kept = [&] {
            int count = 0;
            for (const ItemPtr& reply : request.GetItems("search_results"))
                count += reply.CountItems("search_result");
            return count;
        };
        // A page of many rows takes them in a change at a time: over once
        // none waits.
        cost.done = RunUntil(
            [&] {
                return finished.size() == m_peers &&
                       (!asked || (kept() == expected && sorts > sortsAtLastResults && !page->ChangesWait()));
            },
            120000);
        if (!cost.done)
            std::printf("    never over: %d of %d peers done, %d kept, %d sorts (%d at the last results)\n",
                        int(finished.size()), m_peers, kept(), sorts, sortsAtLastResults);
        peak = std::max(peak, ResidentMegabytes());
        cost.stallMs = LongestGapNow(probe);
        cost.peakMb = peak - rest;
        cost.heldMb = (double(HeapInUse()) - double(heapBefore)) / 1048576.0;
        cost.rows = FileRows(page->searchResults(), page->HasFlatRows());
        for (const ItemPtr& reply : request.GetItems("search_results"))
            cost.kept[reply["user"].AsString()] += reply.CountItems("search_result");
        cost.leftOut = f.net.peer->LeftOutSearchResults(request);
        std::printf("    %s: %d sent, %d rows, %lld left out; +%.1f MB peak, %.1f MB held, longest stall %.1f ms\n",
                    asked ? "asked" : "unasked", sent, cost.rows, cost.leftOut, cost.peakMb, cost.heldMb, cost.stallMs);
        std::fflush(stdout);
        if (asked && cost.done && after)
            after(page);
        Close(marker);
        Close(page);
        return cost;
    }

    void Settle()
    {
        for (int i = 0; i < 3; ++i)
            QApplication::processEvents();
        d.RemoveDisconnectedItems();
        HeapInUse();
    }

    ViewFixture f;
    SearchForm* form = nullptr;
    QThread m_thread;
    Senders* m_senders = new Senders;
    int m_peers = 0;
    std::function<QHostAddress(int)> m_address;
    int m_floods = 0;
    int m_scenario = 0;
    double m_idleMs = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::printf("== Search replies past what one search keeps\n");
    Bench bench;
    if (!bench.Start()) {
        std::printf("  could not log in to the loopback server\n");
        return 1;
    }
    bench.Idle();
    bench.Honest();
    bench.BigThenMany();
    bench.BigThenShares();
    bench.ManyNamesThenMany();
    bench.OnePeer();
    bench.ManyPeers();
    bench.HugeReplies();
    return Summary("search flood");
}
