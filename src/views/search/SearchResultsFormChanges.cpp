// How a results page's rows change after they first go in: rows given back
// taken out, rows sorted after arrivals, and on a page of many rows both
// spaced out by the pacer (SearchResultPacer) with the rows that arrive, so
// that answers coming a dozen a second cost the view a few layouts a
// second rather than two an answer.
#include "SearchResultsForm.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

#include "Data.h"
#include "SearchResultExpandPass.h"
#include "SearchResultFilter.h"
#include "SearchResultListItem.h"
#include "TurnBudget.h"
#include "TurnSlice.h"
#include "common/TreeRowStates.h"
#include "ui_SearchResultsForm.h"

namespace {

// Rows that go from under one parent one by one; more are taken out and
// those kept put back at once (TreeRowStates). Each removal the model hears
// of costs it a look at every row the view keeps a place for (each open,
// hidden or selected row), and a take-out is two of them: with the folders
// open or rows hidden, tens of thousands of looks each.
const int kRowsRemovedOneByOne = 32;
const int kTakeOutRemovals = 2;
// Parents whose new rows a sort after arrivals sorts in one by one; with
// more, the whole page is sorted in one go. Each is a change of the rows'
// order the view and its selection hear of on their own.
const int kMostSortedApart = 64;
// Rows that waited that go in at a change however busy the turn: a second
// of a busy search's answers; and how many go in between two looks at the
// turn's budget.
const int kArrivalsFloor = 2000;
const int kArrivalsPart = 250;

} // namespace

// ---------------------------------------------------------------------------
// Pacing a page of many rows

bool SearchResultsForm::IsPaced() const
{
    return m_rows.Count() >= m_pacedRows;
}

qint64 SearchResultsForm::Now() const
{
    if (m_paceClock)
        return m_paceClock();
    static QElapsedTimer steady;
    if (!steady.isValid())
        steady.start();
    return steady.elapsed();
}

void SearchResultsForm::Pace()
{
    const qint64 next = m_pacer.NextAt();
    // A test's clock moves only when the test moves it, and the test then
    // calls for the change itself.
    if (next < 0 || m_paceClock) {
        m_changeTimer.stop();
        return;
    }
    m_changeTimer.start(int(std::max<qint64>(next - Now(), 0)));
}

void SearchResultsForm::ChangeRowsDue()
{
    // The turn's budget counts from here, whatever came before in it.
    TurnBudget::Turn();
    const qint64 now = Now();
    const SearchResultPacer::Change change = m_pacer.Due(now);
    if (change.arrivals) {
        AddWaitingArrivals();
        if (m_pacer.SortDue(now, m_arrivals.Size() > 0)) {
            SortArrived();
            m_pacer.Sorted(now);
        } else {
            m_pacer.SortOwed();
        }
        m_sortJob.Stop();
    }
    // One slice's user rows, one at least: each may cost tens of
    // milliseconds, and so does the view's layout after the change.
    if (change.takeOut) {
        m_takeOutJob.Stop();
        TurnSlice slice(1, m_takeOutJob.MostSteps());
        if (m_takeOutJob.MostSteps() != 0)
            TakeOutSome(slice);
    }
    if (change.Any())
        m_rowsChangedTurn = TurnBudget::Turn();
    // Spaced from the change's end: a change may take tens of milliseconds.
    m_pacer.Made(change, Now(), !m_givenBack.isEmpty(), m_arrivals.Size() > 0);
    Pace();
}

void SearchResultsForm::AddWaitingArrivals()
{
    // Made a part at a time while the turn's budget lasts, as a big
    // sharer's replies waiting behind others may be tens of thousands of
    // rows; and put in the tree and filtered once, as each time costs the
    // size of the folders they go into.
    TurnSlice slice(kArrivalsFloor, m_mostArrivalsPerChange);
    NewRows rows;
    {
        Data::Batch batch(&d);
        while (m_arrivals.Size() > 0 && slice.More()) {
            const ItemList part = m_arrivals.TakeFirst(kArrivalsPart);
            for (const ItemPtr& result : part)
                AddSearchResult(result, rows);
            slice.Step(int(part.size()));
        }
    }
    ShowArrived(rows);
}

// ---------------------------------------------------------------------------
// Rows given back

void SearchResultsForm::RemoveSearchResults(const ItemList& results)
{
    // Read now: the store removes the results right after, and those still
    // waiting to go in with them.
    for (const ItemPtr& result : results)
        if (QTreeWidgetItem* row = RowOf(result))
            m_givenBack << m_rows.KeyOf(row);
    if (m_givenBack.isEmpty())
        return;
    if (IsPaced()) {
        m_pacer.GivenBackWaits();
        Pace();
    } else if (!m_takeOutJob.IsRunning()) {
        m_takeOutJob.StartNextTurn();
    }
}

bool SearchResultsForm::TakeOutGivenBack(TurnSlice& slice)
{
    // Grown to many rows meanwhile: the pacer takes it from here.
    if (IsPaced()) {
        m_pacer.GivenBackWaits();
        Pace();
        return true;
    }
    // One change of the rows a turn; a sort put off for a take-out goes
    // first, lest take-outs on every turn keep the rows unsorted.
    if (m_rowsChangedTurn == TurnBudget::Turn() || m_sortJob.IsRunning())
        return false;
    m_rowsChangedTurn = TurnBudget::Turn();
    return TakeOutSome(slice);
}

bool SearchResultsForm::TakeOutSome(TurnSlice& slice)
{
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    // The rows by the row they hang under: a folder row, or the tree's
    // root for flat rows.
    QList<QTreeWidgetItem*> parents;
    QHash<QTreeWidgetItem*, QSet<QTreeWidgetItem*>> gone;
    for (const RowMirror::Key key : qAsConst(m_givenBack)) {
        QTreeWidgetItem* row = m_rows.Row(key);
        if (!row)
            continue;
        QTreeWidgetItem* parent = row->parent() ? row->parent() : tree->invisibleRootItem();
        QSet<QTreeWidgetItem*>& rows = gone[parent];
        if (rows.isEmpty())
            parents << parent;
        rows.insert(row);
    }
    m_givenBack.clear();
    if (m_flatRows) {
        for (QTreeWidgetItem* parent : parents)
            TakeRows(parent, gone.value(parent), RowsRemovedOneByOne());
        slice.Step();
        return true;
    }
    // The folders by user row.
    QList<QTreeWidgetItem*> users;
    QHash<QTreeWidgetItem*, QList<QTreeWidgetItem*>> foldersOf;
    for (QTreeWidgetItem* folder : parents) {
        QList<QTreeWidgetItem*>& folders = foldersOf[folder->parent()];
        if (folders.isEmpty())
            users << folder->parent();
        folders << folder;
    }
    const int oneByOne = RowsRemovedOneByOne();
    std::shared_ptr<const SearchResultFilter> filter;
    for (QTreeWidgetItem* user : users) {
        if (slice.More()) {
            TakeOutOfUser(user, foldersOf.value(user), gone, oneByOne, filter);
            slice.Step(TurnSlice::StepsPerLook);
            continue;
        }
        for (QTreeWidgetItem* folder : foldersOf.value(user))
            m_givenBack += m_rows.Keys(gone.value(folder).values());
    }
    return m_givenBack.isEmpty();
}

void SearchResultsForm::TakeOutOfUser(QTreeWidgetItem* user, const QList<QTreeWidgetItem*>& folders,
                                      const QHash<QTreeWidgetItem*, QSet<QTreeWidgetItem*>>& gone, int oneByOne,
                                      std::shared_ptr<const SearchResultFilter>& filter)
{
    // What goes from under the user row: the folders left empty, else
    // their files; and how many removals that is row by row.
    QSet<QTreeWidgetItem*> rows;
    QSet<const QTreeWidgetItem*> left;
    int emptied = 0;
    int removals = 0;
    for (QTreeWidgetItem* folder : folders) {
        const QSet<QTreeWidgetItem*> files = gone.value(folder);
        if (files.size() == folder->childCount()) {
            rows.insert(folder);
            ++emptied;
            ++removals;
        } else {
            rows += files;
            left.insert(folder);
            removals += int(files.size()) <= oneByOne ? int(files.size()) : kTakeOutRemovals;
        }
    }
    if (emptied == user->childCount()) {
        m_rows.Remove(user);
        return;
    }
    // Folder by folder while that costs no more than taking the user's
    // folders out and putting them back.
    if (removals <= oneByOne) {
        for (QTreeWidgetItem* folder : folders) {
            if (left.contains(folder))
                TakeRows(folder, gone.value(folder), oneByOne);
            else
                m_rows.Remove(folder);
        }
    } else {
        TakeRows(user, rows, oneByOne);
    }
    // Whether a folder shows depends on how many of its files do, and a
    // user on its folders.
    if (!filter)
        filter = ArrivalFilter();
    FilterUserRow(user, left, *filter);
}

int SearchResultsForm::RowsRemovedOneByOne() const
{
    // The folders stay open while a switch closing them goes over the page.
    const bool foldersOpen =
        !m_flatRows && (PageItem()["expand_folders"].AsString() == QLatin1String("yes") || IsExpanding());
    const bool rowsHidden = !ui->filterEdit->text().isEmpty() || m_filterPass.IsRunning();
    return foldersOpen || rowsHidden ? kTakeOutRemovals : kRowsRemovedOneByOne;
}

bool SearchResultsForm::IsExpanding() const
{
    const QList<SearchResultExpandPass*> passes =
        findChildren<SearchResultExpandPass*>(QString(), Qt::FindDirectChildrenOnly);
    return std::any_of(passes.begin(), passes.end(), [](SearchResultExpandPass* pass) { return pass->IsRunning(); });
}

void SearchResultsForm::TakeRows(QTreeWidgetItem* parent, const QSet<QTreeWidgetItem*>& gone, int oneByOne)
{
    if (gone.size() <= oneByOne) {
        m_rows.Remove(gone.values());
        return;
    }
    TreeRowStates states(ui->searchResultsTreeWidget, parent, gone);
    states.TakeOut();
    m_rows.Remove(gone.values());
    parent->addChildren(states.Kept());
    states.Restore();
}

// ---------------------------------------------------------------------------
// Sorting

void SearchResultsForm::Sort()
{
    m_sorting = true;
    SearchResultListItem::SortTree(ui->searchResultsTreeWidget, m_sortColumn, m_sortOrder);
    m_sorting = false;
    m_sortedWhole = true;
    m_sortedColumn = m_sortColumn;
    m_sortedOrder = m_sortOrder;
    m_rootUnsorted = false;
    m_unsorted.clear();
}

void SearchResultsForm::SortArrived()
{
    if (!m_sortedWhole || m_sortedColumn != m_sortColumn || m_sortedOrder != m_sortOrder ||
        m_unsorted.size() > kMostSortedApart) {
        Sort();
        return;
    }
    // The rest keep the order the last sort gave them: rows taken out or
    // hidden since move none of the others.
    QList<QTreeWidgetItem*> parents;
    if (m_rootUnsorted)
        parents << ui->searchResultsTreeWidget->invisibleRootItem();
    for (const RowMirror::Key key : qAsConst(m_unsorted))
        if (QTreeWidgetItem* row = m_rows.Row(key))
            parents << row;
    m_rootUnsorted = false;
    m_unsorted.clear();
    m_sorting = true;
    SearchResultListItem::SortChildren(ui->searchResultsTreeWidget, parents, m_sortColumn, m_sortOrder);
    m_sorting = false;
}

void SearchResultsForm::SortArrivals()
{
    // On a page of many rows the pacer sorts with the next arrivals.
    if (IsPaced()) {
        m_sortJob.Stop();
        m_pacer.SortOwed();
        Pace();
        return;
    }
    if (SortIfTurnFree())
        m_sortJob.Stop();
    else
        m_sortJob.StartNextTurn();
}

bool SearchResultsForm::SortIfTurnFree()
{
    if (IsPaced()) {
        m_pacer.SortOwed();
        Pace();
        return true;
    }
    if (m_rowsChangedTurn == TurnBudget::Turn())
        return false;
    m_rowsChangedTurn = TurnBudget::Turn();
    SortArrived();
    return true;
}

void SearchResultsForm::OnSectionClicked(int i_column)
{
    // The header has already turned its indicator.
    m_sortColumn = i_column;
    m_sortOrder = ui->searchResultsTreeWidget->header()->sortIndicatorOrder();
    Sort();
}
