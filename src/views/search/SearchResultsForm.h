#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <climits>
#include <functional>
#include <memory>

#include "DataHandler.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "SearchResultFilterPass.h"
#include "SearchResultPacer.h"
#include "SlicedJob.h"
#include "common/KeptItems.h"
#include "common/RowMirror.h"

class QEvent;
class QLineEdit;
class QPoint;
class QShowEvent;
class QTreeWidget;
class QTreeWidgetItem;
class SearchResultFilter;
class SearchResultListItem;
class TurnSlice;
class Ui_SearchResultsForm;

// One search's results: the files other users reported for its ticket,
// grouped by user and folder or as flat rows (fixed when the page is
// built), sorted at most once a second while replies arrive, a file queued
// for download on a double click; from PacedRows rows on, the rows change
// spaced out (SearchResultPacer) while answers keep coming; related searches beside a manual
// search's results, the "Discard Repeated Results" switch on a wish-list
// search's page, and the filter row below.
//
// Every row has a node item keyed by its address, connected to what it
// shows: "search_results_user_node" (to the page's item and the user),
// "search_results_folder_node" (to its user row's node and the folder
// text) and "search_result_node" (to the result and, grouped, to its folder
// row's node). The nodes go with the page.
class SearchResultsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    SearchResultsForm(unsigned int ticket, QWidget* parent);
    ~SearchResultsForm() override;

    // After the search page has set up the tree.
    void Init();

    // One user's reply: its rows, the arrival filter, the wish-list alert
    // and the delayed sort.
    void AddUserSearchResults(ItemPtr searchResults);
    // A later part of a large reply, likewise.
    void AddMoreSearchResults(const ItemList& part);
    // Results the full search gave up to later answerers: their rows go,
    // and folder and user rows left without files with them; the rows that
    // stay keep their order, selection and filter. The rows go on a later
    // turn with every other reply's given back by then, so that a burst of
    // replies costs a user row one removal, not one per reply; on a page of
    // many rows, with the pacer's next take-out. Meanwhile a row whose
    // result is gone shows but offers no file, and results still waiting
    // to go in never do.
    void RemoveSearchResults(const ItemList& results);
    // Says below the rows how many results of the page's search were left
    // out for the bounds on what one search keeps; nothing while none was.
    void ShowLeftOut();
    // One file; returns the user row of the grouped tree, null for a flat
    // row.
    QTreeWidgetItem* AddSearchResult(ItemPtr searchResult);

    QTreeWidget* searchResults() const;
    QLineEdit* filterEdit() const;
    QTreeWidget* CorrelationsWidget() const;

    // Stores the order Sort() uses; does not sort.
    void SetSortingParamters(int column, Qt::SortOrder order);
    int SortColumn() const { return m_sortColumn; }
    Qt::SortOrder SortOrder() const { return m_sortOrder; }

    unsigned int Ticket() const { return m_ticket; }
    QString SearchText() const { return m_searchText; }
    bool IsWishListPage() const { return m_wishListPage; }
    bool HasFlatRows() const { return m_flatRows; }

    // The page's "search_results_widget" item, and its first request.
    ItemPtr PageItem() const;
    ItemPtr Request() const;

    // The rows and their node items; a file row's result, and a result's row.
    const RowMirror& Rows() const { return m_rows; }
    // Takes every row out of the tree, for a closed tab's rows to be let go
    // a slice a turn.
    RowMirror::Taken TakeRows();
    ItemPtr ResultOf(const QTreeWidgetItem* row) const;
    QTreeWidgetItem* RowOf(ItemPtr result) const;
    QTreeWidgetItem* GetNodeUserNode(QTreeWidgetItem* item) const;
    // The user whose reply holds a row: a file row's own reply, else the
    // user row above it.
    QString UserOf(QTreeWidgetItem* row) const;

    // Queues the results' files, in folder and name order: each download
    // remembers the search that found it, and its row shows the download
    // icon. single is what the transfer engine is told about each one, and
    // subfolderSaveLevel how many folders above the file's own it keeps.
    void QueueDownloads(QList<ItemPtr> results, bool single, int subfolderSaveLevel = 0);
    static bool CompareSearchResults(ItemPtr a, ItemPtr b);

    void PopulateCorrelations();
    void OnDiscardRepeatedResultsEnabled(ItemPtr wishListItem);
    void OnDiscardRepeatedResultsDisabled(ItemPtr wishListItem);
    // The page's stored search is gone: its switch has nothing left to set.
    void WishListItemRemoved();

    // Every open page's saved filters box follows the store.
    void OnSavedFilterAdded(ItemPtr filter);
    void OnSavedFilterRemoved(ItemPtr filter);
    // How a filter text is saved: blanks made single, trimmed, lower case.
    static QString NormalisedFilter(const QString& text);
    // Whether a change of the filter text is still being applied to the
    // page, a slice a turn.
    bool IsFiltering() const { return m_filterPass.IsRunning(); }
    // The most rows a slice of the filter looks at, 0 none; tests make a
    // pass span turns on a small page.
    void SetFilterSliceRows(int rows) { m_filterJob.SetMostSteps(rows); }
    // The page's work over turns, each a job of the one runner: tests count
    // the turns it spans and its steps.
    const SlicedJob& FilterJob() const { return m_filterJob; }
    SlicedJob& TakeOutJob() { return m_takeOutJob; }
    const SlicedJob& SortJob() const { return m_sortJob; }

    // From this many rows on, the page adds, sorts and takes out rows
    // spaced out as the pacer says; tests pace a small page.
    static constexpr int PacedRows = 10000;
    void SetPacedRows(int rows) { m_pacedRows = rows; }
    // The most waiting rows one change puts in, whatever the turn's slice
    // would take: tests spread rows over changes of a known count.
    void SetMostArrivalsPerChange(int rows) { m_mostArrivalsPerChange = rows; }
    // The clock the pacer goes by, in milliseconds: a steady one, or a
    // test's that moves only when the test moves it. With a test's, the
    // page sets no timer: the test calls ChangeRowsDue once it moved it.
    void SetPaceClock(std::function<qint64()> clock) { m_paceClock = std::move(clock); }
    bool IsPaced() const;
    // What waits for the pacer: results to go in (their rows not made
    // yet), and rows given back to leave.
    int WaitingArrivals() const { return int(m_arrivals.Size()); }
    int WaitingGivenBack() const { return int(m_givenBack.size()); }
    // Whether any change of the rows still waits or runs: arrivals, a
    // sort after them, rows given back.
    bool ChangesWait() const
    {
        return m_pacer.Waits() || m_takeOutJob.IsRunning() || m_sortJob.IsRunning() || !m_givenBack.isEmpty();
    }
    // Whether the page's rows are still being opened or closed by one of
    // its expand switches (SearchResultExpandPass, the page's children).
    bool IsExpanding() const;

public slots:
    void Sort();
    void OnFilterHelpClicked();
    void OnSearchCorrelations(QString i_searchText);
    void OnFilterTextChanged(QString i_text);
    void OnSaveFilterClicked();
    void OnSavedFiltersBoxIndexChanged(int i_index);
    void OnClearFilterClicked();
    void OnDefaultFilterBoxToggled(bool i_checked);
    void OnContextMenuRequested(QPoint i_point);
    void OnSectionClicked(int i_column);
    void OnResultDoubleClicked(QTreeWidgetItem* ip_result, int i_column);
    void OnDiscardRepeatedResultsToggled(bool i_toggled);

private slots:
    // The sort that follows arriving rows: on this turn unless a take-out
    // had it, else on a later one; on a paced page, the pacer's next
    // arrivals.
    void SortArrivals();
    // The paced page's next change, if it is due: the rows that waited go
    // in and are sorted in, or one slice of the rows given back goes.
    void ChangeRowsDue();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The rows a reply brings, made out of the tree and added to it at once:
    // the view hears of a reply's rows in one go rather than row by row.
    struct NewRows
    {
        QList<QTreeWidgetItem*> top;
        // Rows that go under rows already in the tree, by parent in the
        // order the parents first got one.
        QList<QTreeWidgetItem*> parents;
        QHash<QTreeWidgetItem*, QList<QTreeWidgetItem*>> children;
        // The user and folder rows the reply added to, to open them.
        QList<QTreeWidgetItem*> users;
        QList<QTreeWidgetItem*> folders;
        SearchResultListItem* Child(QTreeWidgetItem* parent);
    };

    // Adds the rows at once, or has them wait for the pacer.
    void AddRows(const ItemList& results);
    void AddRowsNow(const ItemList& results);
    void AddWaitingArrivals();
    // Puts rows made into the tree, filtered and opened as the page's
    // switches say, and filters the folders they went into.
    void ShowArrived(NewRows& rows);
    // What new rows are filtered by: the text being applied, if any, else
    // the filter edit's.
    std::shared_ptr<const SearchResultFilter> ArrivalFilter() const;
    QTreeWidgetItem* AddSearchResult(ItemPtr searchResult, NewRows& rows);
    QTreeWidgetItem* AddFlatRow(ItemPtr result, ItemPtr results, NewRows& rows);
    QTreeWidgetItem* AddTreeRow(ItemPtr result, ItemPtr results, NewRows& rows);
    // Puts the rows into the tree, hides the flat ones the filter does not
    // show and opens the parents as the page's switches say.
    void ShowNewRows(NewRows& rows, const SearchResultFilter& filter);
    // How many rows may go from under one parent one by one before taking
    // all out and putting back those kept costs less: few while the view
    // keeps places for many rows.
    int RowsRemovedOneByOne() const;
    // Deletes the rows gone from below the parent (files, or folders with
    // theirs): up to oneByOne one by one, more in one removal and one
    // insertion of the rows kept, which stay hidden, open, selected or
    // current as they were.
    void TakeRows(QTreeWidgetItem* parent, const QSet<QTreeWidgetItem*>& gone, int oneByOne);
    // The take-out job's slice: one change of the rows a turn, and on a
    // page grown to many rows meanwhile, the pacer's from then on.
    bool TakeOutGivenBack(TurnSlice& slice);
    // Takes the rows given back so far out of the page, user row by user
    // row while the slice lasts; true once none is left. The rest waits.
    bool TakeOutSome(TurnSlice& slice);
    // One user row's given back rows out, by the folder rows they are in.
    void TakeOutOfUser(QTreeWidgetItem* user, const QList<QTreeWidgetItem*>& folders,
                       const QHash<QTreeWidgetItem*, QSet<QTreeWidgetItem*>>& gone, int oneByOne,
                       std::shared_ptr<const SearchResultFilter>& filter);
    // Filters what changed of a user row: the folders given and whether
    // the user row shows.
    void FilterUserRow(QTreeWidgetItem* user, const QSet<const QTreeWidgetItem*>& folders,
                       const SearchResultFilter& filter);
    void RaiseWishListAlert();
    void InitSavedFilters();
    // Starts showing and hiding every row by the filter text, done a slice
    // a turn on a large page.
    void ApplyFilter(const QString& text);
    // Filters on while the slice lasts; true once the page is done.
    bool FilterSome(TurnSlice& slice);
    // All that is left of the filter, at once.
    void FilterWhole();
    // Sorts unless the rows changed on this turn already; whether it did.
    bool SortIfTurnFree();
    // The sort after arrivals: only the rows with new rows below them,
    // unless the page's order is not the last whole sort's.
    void SortArrived();
    // Starts the timer for the pacer's next change, if any waits.
    void Pace();
    qint64 Now() const;
    // The save button's label and the default box for the filter text.
    void UpdateFilterControls(const QString& text);
    // The saved filters box as wide as the form makes it, or as its first
    // entry needs at a larger font.
    void FitSavedFiltersBox();

    Ui_SearchResultsForm* ui;
    int m_sortColumn = 1;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
    unsigned int m_ticket;
    QString m_searchText;
    bool m_wishListPage = false;
    bool m_flatRows = false;
    int m_savedFiltersWidth = 0;
    RowMirror m_rows;
    SearchResultFilterPass m_filterPass;
    SlicedJob m_filterJob;
    // A reply came while the filter was half applied: whether it shows a
    // row is known once it is done.
    bool m_alertWhenFiltered = false;
    // The rows given back and not yet taken out, by key: their results are
    // gone from the store, and a row may go with its tab meanwhile.
    QList<RowMirror::Key> m_givenBack;
    SlicedJob m_takeOutJob;
    // A sort of the arrivals that found its turn taken by a take-out, for a
    // later one; the take-out waits for it.
    SlicedJob m_sortJob;
    // The turn (TurnBudget::Turn) a sort or a take-out last changed the
    // rows on: each costs tens of milliseconds on a big page with its
    // folders open, and so does the view's layout after them, so the two go
    // on turns of their own.
    quint64 m_rowsChangedTurn = 0;

    int m_pacedRows = PacedRows;
    int m_mostArrivalsPerChange = INT_MAX;
    std::function<qint64()> m_paceClock;
    SearchResultPacer m_pacer;
    QTimer m_changeTimer;
    // Results waiting to go in on a paced page, in the order they came;
    // one removed meanwhile leaves.
    KeptItems m_arrivals;
    // The rows with new rows below them since the last sort, by key, and
    // whether the tree's top level has new rows.
    QSet<RowMirror::Key> m_unsorted;
    bool m_rootUnsorted = false;
    // The rows are in the order of a whole sort by this column and order
    // but for rows added since; another sort of the rows clears it.
    bool m_sortedWhole = false;
    int m_sortedColumn = -1;
    Qt::SortOrder m_sortedOrder = Qt::DescendingOrder;
    bool m_sorting = false;
};
