// Rows given back on a results page of 50,000 rows, one file a folder:
// four big sharers with 10,000 results each beside 100 users with 100, and
// later answerers taking their places back from the big ones, 100 a reply
// as a full search does (the newest files of a big sharer's reply first),
// 24 replies in a row, "Expand Folders" on (about 50,000 open folder rows)
// and off. Until every row given back has left the page: the longest turn
// of the event loop, aim no turn over 100 ms; and whether what stays is
// as it was (open, selected, current). Beside it, a plain QTreeWidget of
// the same rows taking the same rows out with plain calls in one go a
// reply (the kept rows taken out and put back, open again), so that a
// miss shows how much of it is Qt's.
#include <QApplication>
#include <QElapsedTimer>
#include <QSet>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>

#include "BenchSupport.h"
#include "Data.h"
#include "DelayedInvoker.h"
#include "SearchBenchPages.h"
#include "SearchBenchRows.h"
#include "Server.h"
#include "Settings.h"
#include "StallProbe.h"
#include "search/SearchResultListItem.h"
#include "search/SearchResultsForm.h"

namespace {

const int kBig = 4;
const int kBigFiles = 10000;
const int kSmall = 100;
const int kSmallFiles = 100;
const int kPerReply = 100;
const int kReplies = 24;

class Bench : public SearchBenchPages
{
public:
    Bench() { plain->setUniformRowHeights(true); }

    // The page, folders open or closed as the switch says, and the plain
    // tree of the same rows alike; the big sharers' replies.
    SearchResultsForm* NewPage(bool open, std::vector<ItemPtr>& big)
    {
        SetSetting("use_old_style_search_results", "no");
        const QString text = QString("given back %1").arg(++m_searches);
        SearchResultsForm* page = form->CreateSearchForm(gp_server->FileSearch(text, QString()), text, NetworkSearch);
        plain->clear();
        DelayedInvoker* invoker = delayedInvoker;
        delayedInvoker = nullptr;
        big.clear();
        for (int u = 0; u < kBig + kSmall; ++u) {
            const int files = u < kBig ? kBigFiles : kSmallFiles;
            ItemPtr reply = MakeReply(page->Ticket(), u, files, files);
            if (u < kBig)
                big.push_back(reply);
            form->OnUserSearchResults(reply);
            AddPlainReply(plain, u, files, false, files);
        }
        delayedInvoker = invoker;
        // A page this big takes the rows in a change at a time.
        RunUntil([page] { return !page->ChangesWait(); }, 60000);
        page->Sort();
        Show(page);
        if (!open) {
            form->OnActionBarTriggered(page, "expand_folders");
            RunUntil([&] { return !form->IsExpanding(page); }, 60000);
            for (int u = 0; u < plain->topLevelItemCount(); ++u)
                for (int c = 0; c < plain->topLevelItem(u)->childCount(); ++c)
                    plain->topLevelItem(u)->child(c)->setExpanded(false);
        }
        Show(plain);
        Show(page);
        return page;
    }

    // What the page shows of the rows that stay: a line a row with its
    // open, selected and current marks.
    static QStringList Kept(QTreeWidget* tree)
    {
        QStringList rows;
        for (int u = 0; u < tree->topLevelItemCount(); ++u) {
            QTreeWidgetItem* user = tree->topLevelItem(u);
            for (int c = 0; c < user->childCount(); ++c) {
                QTreeWidgetItem* folder = user->child(c);
                rows << user->text(SearchResultListItem::UserColumn) +
                            folder->text(SearchResultListItem::FolderColumn) + (folder->isExpanded() ? " open" : "") +
                            (folder->isSelected() ? " selected" : "") +
                            (tree->currentItem() == folder ? " current" : "");
            }
        }
        return rows;
    }

    // A few rows of each big sharer selected, one current, all of them
    // rows that stay.
    static void Select(QTreeWidget* tree)
    {
        QTreeWidgetItem* current = nullptr;
        for (int u = 0; u < tree->topLevelItemCount(); ++u) {
            QTreeWidgetItem* user = tree->topLevelItem(u);
            if (user->childCount() < kBigFiles)
                continue;
            for (int c = 0; c < 3; ++c)
                user->child(c * 100)->setSelected(true);
            current = user->child(50);
        }
        if (current)
            tree->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    }

    // Replies of 100 places each taken back from the big sharers in turn,
    // a reply every few turns of the loop, until the page has let every
    // row go; the longest turn.
    double GiveBack(SearchResultsForm* page, std::vector<ItemPtr>& big, QStringList& kept)
    {
        QTreeWidget* tree = page->searchResults();
        StallProbe probe;
        probe.Start();
        QApplication::processEvents();
        probe.Reset();
        for (int r = 0; r < kReplies; ++r) {
            ItemPtr reply = big[size_t(r % kBig)];
            const ItemList stored = reply.GetItems("search_result").List();
            const ItemList gone(stored.end() - kPerReply, stored.end());
            page->RemoveSearchResults(gone);
            {
                Data::Batch batch(&d);
                for (ItemPtr result : gone)
                    result.Remove();
            }
            const int beats = probe.BeatCount();
            RunUntil([&] { return probe.BeatCount() > beats + 3; }, 10000);
        }
        RunUntil([&] { return !page->ChangesWait(); }, 120000);
        const double longest = LongestGapNow(probe);
        kept = Kept(tree);
        return longest;
    }

    // The same rows out of the plain tree, in one go a reply: the big
    // sharer's folder rows taken out, the kept put back and opened again.
    double PlainGiveBack(bool open)
    {
        Select(plain);
        StallProbe probe;
        probe.Start();
        QApplication::processEvents();
        probe.Reset();
        for (int r = 0; r < kReplies; ++r) {
            QTreeWidgetItem* user = plain->topLevelItem(r % kBig);
            QList<QTreeWidgetItem*> rows = user->takeChildren();
            for (int i = int(rows.size()) - kPerReply; i < rows.size(); ++i)
                delete rows[i];
            rows.erase(rows.end() - kPerReply, rows.end());
            user->addChildren(rows);
            // Opened again while the view only notes it, laid out once,
            // then selected again.
            plain->setRowHidden(0, QModelIndex(), false);
            if (open)
                for (QTreeWidgetItem* row : rows)
                    row->setExpanded(true);
            for (int c = 0; c < 3; ++c)
                user->child(c * 100)->setSelected(true);
            const int beats = probe.BeatCount();
            RunUntil([&] { return probe.BeatCount() > beats + 3; }, 10000);
        }
        return LongestGapNow(probe);
    }

    void Run()
    {
        for (bool open : {true, false}) {
            std::vector<ItemPtr> big;
            SearchResultsForm* page = NewPage(open, big);
            QTreeWidget* tree = page->searchResults();
            Select(tree);
            const QStringList before = Kept(tree);
            Show(plain);
            const double plainMs = PlainGiveBack(open);
            Show(page);
            QStringList after;
            const double longest = GiveBack(page, big, after);
            // A kept row whose marks changed shows as a row gone and a row
            // come.
            const QSet<QString> was(before.begin(), before.end()), is(after.begin(), after.end());
            int gone = 0, changed = 0;
            for (const QString& row : before)
                gone += !is.contains(row);
            for (const QString& row : after)
                changed += !was.contains(row);
            const std::string what =
                Detail("rows given back, 50,000 rows a file a folder, Expand Folders %s", open ? "on" : "off");
            Figure((what + ": longest turn").c_str(), longest, "ms", "<=", 100,
                   Detail("plain tree %.1f ms (%.1fx)", plainMs, longest / std::max(plainMs, 0.1)));
            Figure((what + ": rows not as they were").c_str(), double(changed + std::abs(gone - kReplies * kPerReply)),
                   "", "<=", 0, Detail("%d of %d rows gone", gone, int(before.size())));
            auto* tabs = form->findChild<QTabWidget*>("searchTabControl");
            form->OnTabCloseRequested(tabs->indexOf(page));
            RunUntil([this] { return !form->IsClosingTabs(); }, 60000);
        }
    }

private:
    int m_searches = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::printf("== Rows given back on a search results page\n");
    Bench bench;
    if (!bench.Start()) {
        std::printf("  could not log in to the loopback server\n");
        return 1;
    }
    bench.Run();
    return Summary("search given back");
}
