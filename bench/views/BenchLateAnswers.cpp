// Late answers given back on a results page of open folders, as a busy
// search meets them: five big sharers fill the search first with 10,000
// results each, one file a folder, over loopback from addresses of their
// own, the folders open (50,000 open folder rows); then 300 late answerers
// with 100 results each, one file a folder, each from an address of its
// own, arrive over 20 s (15 a second), each taking 100 places back from the
// big sharers. Once with "Expand Folders" left on, once switched off and on
// again midway. From the first late answer until the page has settled: the
// longest turn of the event loop (aim no turn over 100 ms), the turns over
// 100 ms, and the share of that time the window's thread was busy (aim at
// most half); and whether every row ends right: 50,000 files, each late
// user's 100, the big sharers 4,000 each, no folder or user row left
// empty, and the rows selected before still selected, the current one
// still current and, with the switch on at the end, every folder open.
//
// Beside it, a plain QTreeWidget with the same open rows doing the same at
// the same pace: each late user's rows added and opened, the big sharer's
// 100 folder rows taken out (the rest taken out and put back in one go, and
// opened again), and sorted once a second.
#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QThread>
#include <QTreeWidget>
#include <cstdio>
#include <ctime>
#include <vector>

#include "AnsweringPeers.h"
#include "BenchSupport.h"
#include "Data.h"
#include "FakeWire.h"
#include "GeneralFunctions.h"
#include "PeerMessenger.h"
#include "SearchBenchPages.h"
#include "SearchReply.h"
#include "Server.h"
#include "StallProbe.h"
#include "search/SearchForm.h"
#include "search/SearchResultListItem.h"
#include "search/SearchResultsForm.h"

namespace {

const int kBig = 5;
const int kBigResults = 10000;
const int kBigPerReply = 1000;
const int kLate = 300;
const int kLateResults = 100;
const int kLateOverMs = 20000;
const int kSortMs = 1000;

QString BigName(int user)
{
    return QString("big%1").arg(user);
}

QString LateName(int user)
{
    return QString("late%1").arg(user);
}

// A loopback address of its own for each peer.
QHostAddress Address(int peer)
{
    return QHostAddress(QString("127.3.%1.%2").arg(peer / 200).arg(peer % 200 + 1));
}

QString BigFolder(int user, int result)
{
    return QString("music\\%1 album %2").arg(BigName(user)).arg(result);
}

QString LateFolder(int user, int result)
{
    return QString("songs\\%1 set %2").arg(LateName(user)).arg(result);
}

// Results first..first+count of a user, one file a folder.
QByteArray Reply(const QString& user, quint32 ticket, bool big, int index, int first, int count)
{
    QList<QByteArray> files;
    for (int i = first; i < first + count; ++i) {
        const QString folder = big ? BigFolder(index, i) : LateFolder(index, i);
        files << SearchReplyFile(QString("%1\\track %2.mp3").arg(folder).arg(i).toUtf8(), quint64(3000000 + i),
                                 {{0, 320}});
    }
    return CompressedSearchReply(user, ticket, files, 1, 100000 + quint32(index), 0);
}

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The peers, each answering at the time it is given.
class Peers : public AnsweringPeers
{
public:
    struct Answer
    {
        QString name;
        QHostAddress address;
        QByteArray stream;
        int atMs = 0;
    };

    void Send(quint16 port, const QList<Answer>& answers)
    {
        for (const Answer& answer : answers)
            QTimer::singleShot(answer.atMs, Qt::PreciseTimer, this, [this, port, answer] {
                AnsweringPeers::Answer(port, answer.name, answer.address, answer.stream);
            });
    }
};

// What a run cost: the longest turn, the turns over 100 ms, the busy share
// of the time, and how long that time was.
struct Cost
{
    double longestMs = 0;
    int over = 0;
    double busy = 0;
    double seconds = 0;
};

// Measures the event loop of this thread from Start until Stop.
class LoopMeter
{
public:
    LoopMeter() : m_probe(100) {}
    void Start()
    {
        m_probe.Start();
        QApplication::processEvents();
        m_probe.Reset();
        m_cpu = ThreadCpuSeconds();
        m_clock.start();
    }
    Cost Stop()
    {
        Cost cost;
        cost.seconds = Seconds(m_clock);
        cost.busy = (ThreadCpuSeconds() - m_cpu) / cost.seconds;
        cost.longestMs = LongestGapNow(m_probe);
        cost.over = m_probe.StallCount();
        m_probe.Stop();
        return cost;
    }

private:
    StallProbe m_probe;
    QElapsedTimer m_clock;
    double m_cpu = 0;
};

class Bench : public SearchBenchPages
{
public:
    Bench()
    {
        plain->setUniformRowHeights(true);
        m_peers->moveToThread(&m_thread);
        m_thread.start();
    }
    ~Bench()
    {
        QMetaObject::invokeMethod(
            m_peers, [this] { m_peers->Close(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
        delete m_peers;
    }

    void Run()
    {
        const Cost plainCost = PlainRun();
        std::printf("  plain tree: longest turn %.1f ms, %d turns over 100 ms, busy %.0f%% of %.1f s\n",
                    plainCost.longestMs, plainCost.over, plainCost.busy * 100, plainCost.seconds);
        for (const bool toggled : {false, true}) {
            const std::string what = toggled ? "late answers, Expand Folders off and on midway" : "late answers";
            std::printf("  %s:\n", what.c_str());
            QStringList wrong;
            const Cost cost = PageRun(toggled, wrong);
            Figure((what + ": longest turn").c_str(), cost.longestMs, "ms", "<=", 100,
                   Detail("plain tree %.1f ms", plainCost.longestMs));
            Figure((what + ": turns over 100 ms").c_str(), cost.over, "", "<=", 0,
                   Detail("plain tree %d", plainCost.over));
            Figure((what + ": busy share").c_str(), cost.busy * 100, "%", "<=", 50,
                   Detail("of %.1f s; plain tree %.0f%% of %.1f s", cost.seconds, plainCost.busy * 100,
                          plainCost.seconds));
            Figure((what + ": rows not right").c_str(), wrong.size(), "", "<=", 0,
                   qPrintable(QStringList(wrong.mid(0, 4)).join("; ")));
        }
    }

private:
    // The page filled by the big sharers and sorted, a few of their rows
    // that stay selected and one current; the rows to check afterwards.
    SearchResultsForm* FilledPage(QStringList& marked)
    {
        const QString text = QString("late answers %1").arg(++m_searches);
        SearchResultsForm* page = form->CreateSearchForm(gp_server->FileSearch(text, QString()), text, NetworkSearch);
        Show(page);
        QList<Peers::Answer> answers;
        for (int u = 0; u < kBig; ++u) {
            Peers::Answer answer{BigName(u), Address(1000 * m_searches + u), QByteArray(), 0};
            for (int first = 0; first < kBigResults; first += kBigPerReply)
                answer.stream += FakeWire::Message(9, Reply(BigName(u), page->Ticket(), true, u, first, kBigPerReply));
            answers << answer;
        }
        const quint16 port = f.net.peer->ListeningPort();
        QMetaObject::invokeMethod(m_peers, [this, port, answers] { m_peers->Send(port, answers); });
        if (!RunUntil([&] { return FileRows(page->searchResults()) == kBig * kBigResults; }, 120000))
            std::printf("    the big sharers' rows never all came: %d\n", FileRows(page->searchResults()));
        Settle(page);
        // The oldest results stay: the newest are given back first.
        QTreeWidget* tree = page->searchResults();
        QTreeWidgetItem* current = nullptr;
        for (int u = 0; u < tree->topLevelItemCount(); ++u) {
            QTreeWidgetItem* user = tree->topLevelItem(u);
            const QString name = user->text(SearchResultListItem::UserColumn);
            for (int c = 0; c < user->childCount(); ++c) {
                QTreeWidgetItem* folder = user->child(c);
                const QString text = folder->text(SearchResultListItem::FolderColumn);
                for (int keep : {7, 300, 2500})
                    if (text == ReversePathname(BigFolder(name.mid(3).toInt(), keep))) {
                        folder->setSelected(true);
                        marked << name + " " + text;
                        if (keep == 300)
                            current = folder;
                    }
            }
        }
        if (marked.size() != 3 * kBig)
            std::printf("    %d rows marked of %d\n", int(marked.size()), 3 * kBig);
        if (current)
            tree->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
        return page;
    }

    // The late answers at their pace, the switch off and on midway if
    // asked; what the loop cost until the page settled, and what is not
    // right on it.
    Cost PageRun(bool toggle, QStringList& wrong)
    {
        QStringList marked;
        SearchResultsForm* page = FilledPage(marked);
        QTreeWidget* tree = page->searchResults();
        const QString current = tree->currentItem() ? Mark(tree, tree->currentItem()) : QString();
        QList<Peers::Answer> answers;
        for (int u = 0; u < kLate; ++u)
            answers << Peers::Answer{
                LateName(u), Address(1000 * m_searches + kBig + u),
                FakeWire::Message(9, Reply(LateName(u), page->Ticket(), false, u, 0, kLateResults)),
                u * kLateOverMs / kLate};
        const ItemPtr request = d.GetType("search_request")->HasItem(Value(page->Ticket()));
        auto lateStored = [&] {
            int count = 0;
            for (const ItemPtr& reply : request.GetItems("search_results"))
                if (reply["user"].AsString().startsWith("late"))
                    count += reply.CountItems("search_result");
            return count;
        };
        LoopMeter meter;
        meter.Start();
        if (toggle) {
            QTimer::singleShot(kLateOverMs / 3, form,
                               [this, page] { form->OnActionBarTriggered(page, "expand_folders"); });
            QTimer::singleShot(2 * kLateOverMs / 3, form,
                               [this, page] { form->OnActionBarTriggered(page, "expand_folders"); });
        }
        const quint16 port = f.net.peer->ListeningPort();
        QMetaObject::invokeMethod(m_peers, [this, port, answers] { m_peers->Send(port, answers); });
        if (!RunUntil([&] { return lateStored() == kLate * kLateResults; }, kLateOverMs + 60000))
            wrong << QString("only %1 late results stored").arg(lateStored());
        Settle(page);
        const Cost cost = meter.Stop();
        Check(page, marked, current, wrong);
        auto* tabs = form->findChild<QTabWidget*>("searchTabControl");
        form->OnTabCloseRequested(tabs->indexOf(page));
        RunUntil([this] { return !form->IsClosingTabs(); }, 60000);
        return cost;
    }

    // Until the page has taken every row given back out, opened or closed
    // its folders and sorted after the last rows came.
    void Settle(SearchResultsForm* page)
    {
        int sorts = 0;
        QObject context;
        QObject::connect(page->searchResults()->model(), &QAbstractItemModel::layoutChanged, &context,
                         [&] { ++sorts; });
        RunUntil([&] { return sorts > 0 && !page->ChangesWait() && !form->IsExpanding(page); }, kSortMs * 30);
    }

    static QString Mark(QTreeWidget* tree, QTreeWidgetItem* folder)
    {
        return folder->parent()->text(SearchResultListItem::UserColumn) + " " +
               folder->text(SearchResultListItem::FolderColumn) + (tree->currentItem() == folder ? " current" : "");
    }

    static int FileRows(QTreeWidget* tree)
    {
        int rows = 0;
        for (int u = 0; u < tree->topLevelItemCount(); ++u)
            for (int c = 0; c < tree->topLevelItem(u)->childCount(); ++c)
                rows += tree->topLevelItem(u)->child(c)->childCount();
        return rows;
    }

    void Check(SearchResultsForm* page, const QStringList& marked, const QString& current, QStringList& wrong)
    {
        QTreeWidget* tree = page->searchResults();
        QHash<QString, int> files;
        QStringList selected;
        int closed = 0;
        for (int u = 0; u < tree->topLevelItemCount(); ++u) {
            QTreeWidgetItem* user = tree->topLevelItem(u);
            const QString name = user->text(SearchResultListItem::UserColumn);
            if (user->childCount() == 0)
                wrong << name + " has no rows";
            for (int c = 0; c < user->childCount(); ++c) {
                QTreeWidgetItem* folder = user->child(c);
                if (folder->childCount() == 0)
                    wrong << name + " has an empty folder row";
                files[name] += folder->childCount();
                closed += !folder->isExpanded();
                if (folder->isSelected())
                    selected << name + " " + folder->text(SearchResultListItem::FolderColumn);
            }
        }
        if (FileRows(tree) != kBig * kBigResults)
            wrong << QString("%1 file rows").arg(FileRows(tree));
        const int bigKept = (kBig * kBigResults - kLate * kLateResults) / kBig;
        for (int u = 0; u < kBig; ++u)
            if (files.value(BigName(u)) != bigKept)
                wrong << QString("%1 with %2 rows").arg(BigName(u)).arg(files.value(BigName(u)));
        for (int u = 0; u < kLate; ++u)
            if (files.value(LateName(u)) != kLateResults)
                wrong << QString("%1 with %2 rows").arg(LateName(u)).arg(files.value(LateName(u)));
        if (closed > 0)
            wrong << QString("%1 folders closed").arg(closed);
        selected.sort();
        QStringList expected = marked;
        expected.sort();
        if (selected != expected || expected.size() != 3 * kBig)
            wrong << "selected: " + selected.join(", ");
        if (!tree->currentItem() || !tree->currentItem()->parent() || Mark(tree, tree->currentItem()) != current)
            wrong << "current row not kept";
    }

    // The same rows in the plain tree, the same work at the same pace.
    Cost PlainRun()
    {
        plain->clear();
        std::vector<QTreeWidgetItem*> big;
        for (int u = 0; u < kBig; ++u) {
            auto* user = new QTreeWidgetItem(plain, QStringList(BigName(u)));
            for (int i = 0; i < kBigResults; ++i)
                AddFolder(user, BigFolder(u, i), i);
            big.push_back(user);
        }
        plain->expandAll();
        Show(plain);
        int added = 0;
        QElapsedTimer clock;
        QTimer sorter;
        QObject::connect(&sorter, &QTimer::timeout, [this] { plain->sortItems(0, Qt::AscendingOrder); });
        QTimer pace;
        pace.setTimerType(Qt::PreciseTimer);
        QObject::connect(&pace, &QTimer::timeout, [&] {
            // Every answer due by now, as the page would have them.
            while (added < kLate && added * kLateOverMs / kLate <= clock.elapsed()) {
                auto* user = new QTreeWidgetItem(QStringList(LateName(added)));
                for (int i = 0; i < kLateResults; ++i)
                    AddFolder(user, LateFolder(added, i), i);
                plain->addTopLevelItem(user);
                user->setExpanded(true);
                for (int i = 0; i < user->childCount(); ++i)
                    user->child(i)->setExpanded(true);
                QTreeWidgetItem* giver = big[size_t(added % kBig)];
                QList<QTreeWidgetItem*> rows = giver->takeChildren();
                for (int i = int(rows.size()) - kLateResults; i < rows.size(); ++i)
                    delete rows[i];
                rows.erase(rows.end() - kLateResults, rows.end());
                giver->addChildren(rows);
                for (QTreeWidgetItem* row : rows)
                    row->setExpanded(true);
                ++added;
            }
        });
        LoopMeter meter;
        meter.Start();
        clock.start();
        pace.start(5);
        sorter.start(kSortMs);
        RunUntil([&] { return added == kLate; }, kLateOverMs + 60000);
        pace.stop();
        sorter.stop();
        plain->sortItems(0, Qt::AscendingOrder);
        const Cost cost = meter.Stop();
        plain->clear();
        return cost;
    }

    static void AddFolder(QTreeWidgetItem* user, const QString& folder, int i)
    {
        auto* row = new QTreeWidgetItem(user);
        row->setText(SearchResultListItem::FolderColumn, folder);
        auto* file = new QTreeWidgetItem(row);
        file->setText(SearchResultListItem::FileColumn, QString("track %1.mp3").arg(i));
        file->setText(SearchResultListItem::SizeColumn, QString::number(3000000 + i));
    }

    QThread m_thread;
    Peers* m_peers = new Peers;
    int m_searches = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::printf("== Late answers given back on a search results page of open folders\n");
    Bench bench;
    if (!bench.Start()) {
        std::printf("  could not log in to the loopback server\n");
        return 1;
    }
    bench.Run();
    return Summary("late answers");
}
