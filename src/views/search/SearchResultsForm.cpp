#include "SearchResultsForm.h"

#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QMenu>
#include <QShowEvent>
#include <QTreeWidget>
#include <algorithm>
#include <memory>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "DelayedInvoker.h"
#include "EventToolBar.h"
#include "FocusHelpers.h"
#include "GeneralFunctions.h"
#include "PeerMessenger.h"
#include "PeerNames.h"
#include "SearchResultCells.h"
#include "SearchResultFilter.h"
#include "SearchResultListItem.h"
#include "SearchResultMenuOptions.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "SizeManager.h"
#include "TransferQueueManager.h"
#include "TurnSlice.h"
#include "common/PeerText.h"
#include "ui_SearchResultsForm.h"
#include "users/UserMenuOptions.h"

namespace {

const char* const kUserNode = "search_results_user_node";
const char* const kFolderNode = "search_results_folder_node";
const char* const kResultNode = "search_result_node";
const int kSortDelay = 1000;

ItemPtr Both(ItemPtr a, ItemPtr b, const char* type)
{
    if (!a || !b)
        return ItemPtr();
    ItemSet pair;
    pair.insert(a);
    pair.insert(b);
    // Starts from the smaller side: a page may hold thousands of users.
    return d.GetItemSubset(pair, type).First();
}

// Whether the tree shows the row: neither it nor a row above it is hidden.
bool IsShown(const QTreeWidgetItem* row)
{
    if (!row)
        return false;
    for (; row; row = row->parent())
        if (row->isHidden())
            return false;
    return true;
}

} // namespace

SearchResultsForm::SearchResultsForm(unsigned int ticket, QWidget* parent)
    : QWidget(parent), ui(new Ui_SearchResultsForm), m_ticket(ticket),
      m_filterJob(SearchResultFilterPass::SliceFloor, [this](TurnSlice& slice) { return FilterSome(slice); }),
      // A user row's removal may cost tens of milliseconds on a page with
      // its folders open: one at least a turn, more while the budget lasts.
      m_takeOutJob(1, [this](TurnSlice& slice) { return TakeOutGivenBack(slice); }),
      m_sortJob(1, [this](TurnSlice& slice) {
          const bool sorted = SortIfTurnFree();
          slice.Step(sorted ? 1 : 0);
          return sorted;
      })
{
    ui->setupUi(this);
    m_savedFiltersWidth = ui->savedFiltersBox->maximumWidth();
    FitSavedFiltersBox();
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    // Rows are sorted only by Sort(): sorting at every insertion would cost
    // a sort per row.
    tree->setSortingEnabled(false);

    const ItemPtr request = d.GetType(ServerNames::SearchRequest)->HasItem(Value(ticket));
    m_searchText = request[ServerNames::SearchRequestText].AsString();
    m_wishListPage = request.IsConnected(ServerNames::WishListItem);

    ui->correlationsWidget->hide();
    ui->correlationsWidget->setHeaderLabels(QStringList() << tr("related searches"));

    if (!m_wishListPage) {
        PopulateCorrelations();
        if (gp_server)
            connect(gp_server, &Server::SearchCorrelations, this, &SearchResultsForm::OnSearchCorrelations);
        ui->discardRepeatedResultsBox->hide();
    } else {
        const ItemPtr wish = request[ServerNames::WishListItem];
        if (wish.IsConnected(PeerNames::DiscardRepeatedResults))
            ui->discardRepeatedResultsBox->setChecked(true);
        connect(ui->discardRepeatedResultsBox, &QCheckBox::toggled, this,
                &SearchResultsForm::OnDiscardRepeatedResultsToggled);
        PathNode* enabled = new PathNode(wish);
        new PathNode(enabled, PeerNames::DiscardRepeatedResults, 2);
        d.AddPathEventHandler(enabled, new EventHandler<SearchResultsForm, ItemPtr>(
                                           this, &SearchResultsForm::OnDiscardRepeatedResultsEnabled));
        PathNode* disabled = new PathNode(wish);
        new PathNode(disabled, PeerNames::DiscardRepeatedResults, 5);
        d.AddPathEventHandler(disabled, new EventHandler<SearchResultsForm, ItemPtr>(
                                            this, &SearchResultsForm::OnDiscardRepeatedResultsDisabled));
    }

    m_flatRows = IsSettingOn("use_old_style_search_results");
    QHeaderView* header = tree->header();
    header->setSortIndicatorShown(true);
    if (!m_flatRows) {
        if (actionBar)
            actionBar->RegisterWidget(this, "search_results");
        header->setSectionsClickable(false);
    } else {
        if (actionBar)
            actionBar->RegisterWidget(this, "search_results_old");
        header->setSectionsClickable(true);
        connect(header, &QHeaderView::sectionClicked, this, &SearchResultsForm::OnSectionClicked);
    }

    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree, &QWidget::customContextMenuRequested, this, &SearchResultsForm::OnContextMenuRequested);
    connect(tree, &QTreeWidget::itemDoubleClicked, this, &SearchResultsForm::OnResultDoubleClicked);
    tree->setExpandsOnDoubleClick(true);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::GivingUpSearchResults, this,
                [this](ItemPtr reply, const ItemList& results) {
                    const ItemPtr page = PageItem();
                    if (page && reply[ServerNames::SearchRequest]["search_results_widget"] == page)
                        RemoveSearchResults(results);
                });

    m_filterPass.Follow(tree->model(), this);
    // Anyone else's sort of the rows leaves the next sort after arrivals
    // nothing to go on but the whole page.
    connect(tree->model(), &QAbstractItemModel::layoutChanged, this, [this] {
        if (!m_sorting)
            m_sortedWhole = false;
    });
    m_changeTimer.setSingleShot(true);
    connect(&m_changeTimer, &QTimer::timeout, this, &SearchResultsForm::ChangeRowsDue);
}

SearchResultsForm::~SearchResultsForm()
{
    // The tree empties its model after the page's members are gone.
    disconnect(ui->searchResultsTreeWidget->model(), nullptr, this, nullptr);
    delete ui;
}

void SearchResultsForm::Init()
{
    RegisterWidgetForTabFocus(ui->searchResultsTreeWidget, 2);
    InitSavedFilters();
}

QTreeWidget* SearchResultsForm::searchResults() const
{
    return ui->searchResultsTreeWidget;
}

QLineEdit* SearchResultsForm::filterEdit() const
{
    return ui->filterEdit;
}

QTreeWidget* SearchResultsForm::CorrelationsWidget() const
{
    return ui->correlationsWidget;
}

void SearchResultsForm::SetSortingParamters(int column, Qt::SortOrder order)
{
    m_sortColumn = column;
    m_sortOrder = order;
}

ItemPtr SearchResultsForm::PageItem() const
{
    Type* pages = d.HasType("search_results_widget");
    return pages ? pages->HasItem(Value(this)) : ItemPtr();
}

ItemPtr SearchResultsForm::Request() const
{
    return PageItem()[ServerNames::SearchRequest];
}

ItemPtr SearchResultsForm::ResultOf(const QTreeWidgetItem* row) const
{
    const ItemPtr node = m_rows.Node(row);
    return node.GetType() == d.GetType(kResultNode) ? node[PeerNames::SearchResult] : ItemPtr();
}

RowMirror::Taken SearchResultsForm::TakeRows()
{
    m_givenBack.clear();
    m_takeOutJob.Stop();
    m_arrivals.Clear();
    m_pacer.Clear();
    m_changeTimer.stop();
    return m_rows.TakeAll(ui->searchResultsTreeWidget);
}

QTreeWidgetItem* SearchResultsForm::RowOf(ItemPtr result) const
{
    return m_rows.RowOf(result, kResultNode);
}

QTreeWidgetItem* SearchResultsForm::GetNodeUserNode(QTreeWidgetItem* item) const
{
    if (!item)
        return nullptr;
    const ItemPtr node = m_rows.Node(item);
    if (node.GetType() == d.GetType(kUserNode))
        return item;
    if (node.GetType() == d.GetType(kFolderNode))
        return item->parent();
    return item->parent() ? item->parent()->parent() : nullptr;
}

QString SearchResultsForm::UserOf(QTreeWidgetItem* row) const
{
    if (const ItemPtr result = ResultOf(row))
        return result[PeerNames::SearchResults][ServerNames::User].AsString();
    // A folder row's user is its own user row's, never that of another
    // reply holding the same folder text.
    return m_rows.Item(GetNodeUserNode(row), ServerNames::User).AsString();
}

// ---------------------------------------------------------------------------
// Adding replies

void SearchResultsForm::AddUserSearchResults(ItemPtr searchResults)
{
    AddRows(searchResults.GetItems(PeerNames::SearchResult).List());
}

void SearchResultsForm::AddMoreSearchResults(const ItemList& part)
{
    AddRows(part);
}

std::shared_ptr<const SearchResultFilter> SearchResultsForm::ArrivalFilter() const
{
    // While a change of the text is being applied, new rows come filtered
    // by it already and the pass goes by them.
    if (std::shared_ptr<const SearchResultFilter> running = m_filterPass.Filter())
        return running;
    return std::make_shared<const SearchResultFilter>(ui->filterEdit->text());
}

void SearchResultsForm::AddRows(const ItemList& results)
{
    // On a page of many rows, rows that come soon after others wait to go
    // in with those after them (SearchResultPacer); so do rows behind any
    // still waiting, to keep their order.
    const qint64 now = Now();
    if (m_arrivals.Size() > 0 || (IsPaced() && !m_pacer.AtOnce(now))) {
        for (const ItemPtr& result : results)
            m_arrivals.Add(result);
        m_pacer.RowsWait();
        Pace();
        return;
    }
    AddRowsNow(results);
    if (IsPaced()) {
        // In at once, and sorted in with the next ones.
        SearchResultPacer::Change arrivals;
        arrivals.arrivals = true;
        m_pacer.Made(arrivals, now, !m_givenBack.isEmpty());
        m_pacer.SortOwed();
        Pace();
    } else if (delayedInvoker) {
        delayedInvoker->Invoke(this, "SortArrivals", kSortDelay);
    }
}

void SearchResultsForm::AddRowsNow(const ItemList& results)
{
    NewRows rows;
    {
        Data::Batch batch(&d);
        for (const ItemPtr& result : results)
            AddSearchResult(result, rows);
    }
    ShowArrived(rows);
}

void SearchResultsForm::ShowArrived(NewRows& rows)
{
    // Parsed once for the rows rather than once per file.
    const std::shared_ptr<const SearchResultFilter> filter = ArrivalFilter();
    // The folders the rows went into, by user row: rows that waited go in
    // for many users at once.
    QList<QTreeWidgetItem*> users;
    QHash<QTreeWidgetItem*, QSet<const QTreeWidgetItem*>> folders;
    {
        Data::Batch batch(&d);
        ShowNewRows(rows, *filter);
        for (QTreeWidgetItem* user : qAsConst(rows.users))
            if (!folders.contains(user)) {
                users << user;
                folders[user];
            }
        for (const QTreeWidgetItem* folder : qAsConst(rows.folders))
            folders[folder->parent()].insert(folder);
    }
    // Only the arriving users' rows, and each once however many parts the
    // rows came in: a folder is filtered whole, and refiltering the whole
    // page per reply would cost the page's size each time.
    for (QTreeWidgetItem* user : qAsConst(users))
        FilterUserRow(user, folders.value(user), *filter);
    RaiseWishListAlert();
}

void SearchResultsForm::FilterUserRow(QTreeWidgetItem* user, const QSet<const QTreeWidgetItem*>& folders,
                                      const SearchResultFilter& filter)
{
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    const int place = tree->indexOfTopLevelItem(user);
    // Only the folders a reply touched, so that a big sharer's row costs
    // what changed; a row that a running pass has not reached, whole.
    if (m_filterPass.IsDone(user))
        filter.ApplyToFolders(tree, place, folders);
    else
        filter.ApplyToUserRow(tree, place);
    m_filterPass.Done(user);
}

void SearchResultsForm::ShowLeftOut()
{
    if (!peerMessenger)
        return;
    qint64 leftOut = 0;
    for (const ItemPtr& request : PageItem().GetItems(ServerNames::SearchRequest))
        leftOut += peerMessenger->LeftOutSearchResults(request);
    if (leftOut == 0)
        return;
    const QString perSearch = CommafyNumber(peerMessenger->SearchResultLimit());
    const QString perUser = CommafyNumber(peerMessenger->SearchResultUserLimit());
    const QString perAddress = CommafyNumber(peerMessenger->SearchResultAddressLimit());
    const QString why = tr("a search keeps at most %1, and once it is full, results past %2 per user or %3 per "
                           "address make room for others.")
                            .arg(perSearch, perUser, perAddress);
    ui->leftOutLabel->setText(leftOut == 1 ? tr("1 result was left out: %1").arg(why)
                                           : tr("%1 results were left out: %2").arg(CommafyNumber(leftOut), why));
    ui->leftOutLabel->show();
}

QTreeWidgetItem* SearchResultsForm::AddSearchResult(ItemPtr searchResult)
{
    NewRows rows;
    QTreeWidgetItem* userRow = AddSearchResult(searchResult, rows);
    ShowNewRows(rows, *ArrivalFilter());
    return userRow;
}

QTreeWidgetItem* SearchResultsForm::AddSearchResult(ItemPtr searchResult, NewRows& rows)
{
    const ItemPtr results = searchResult[PeerNames::SearchResults];
    if (m_flatRows)
        return AddFlatRow(searchResult, results, rows);
    return AddTreeRow(searchResult, results, rows);
}

SearchResultListItem* SearchResultsForm::NewRows::Child(QTreeWidgetItem* parent)
{
    // Under a row the tree shows, a row would be announced to the view on
    // its own; it waits to be added with the others instead.
    if (!parent->treeWidget())
        return new SearchResultListItem(parent);
    auto* row = new SearchResultListItem;
    QList<QTreeWidgetItem*>& waiting = children[parent];
    if (waiting.isEmpty())
        parents << parent;
    waiting << row;
    return row;
}

void SearchResultsForm::ShowNewRows(NewRows& rows, const SearchResultFilter& filter)
{
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    for (QTreeWidgetItem* parent : rows.parents)
        parent->addChildren(rows.children.value(parent));
    tree->addTopLevelItems(rows.top);
    // What the next sort after arrivals sorts: the rows with new rows below
    // them; a single row below another needs none.
    m_rootUnsorted = m_rootUnsorted || !rows.top.isEmpty();
    for (const QList<QTreeWidgetItem*>* above : {&rows.users, &rows.folders})
        for (QTreeWidgetItem* row : *above)
            if (row->childCount() > 1)
                m_unsorted.insert(m_rows.KeyOf(row));
    if (m_flatRows) {
        // A row can be hidden only once it is in the tree, where the new
        // ones are last.
        const int count = tree->topLevelItemCount();
        for (int i = count - int(rows.top.size()); i < count; ++i) {
            filter.ApplyToFlatRow(tree, i);
            m_filterPass.Done(tree->topLevelItem(i));
        }
        return;
    }
    // A row the user closed opens again when more arrives for it while the
    // switch is on.
    const ItemPtr page = PageItem();
    if (page["expand_users"].AsString() == QLatin1String("yes"))
        for (QTreeWidgetItem* row : rows.users)
            row->setExpanded(true);
    if (page["expand_folders"].AsString() == QLatin1String("yes"))
        for (QTreeWidgetItem* row : rows.folders)
            row->setExpanded(true);
}

QTreeWidgetItem* SearchResultsForm::AddFlatRow(ItemPtr result, ItemPtr results, NewRows& rows)
{
    auto* row = new SearchResultListItem;
    row->setText(SearchResultListItem::UserColumn, SearchResultCells::User(results));
    row->setText(SearchResultListItem::FreeColumn, SearchResultCells::Free(results));
    row->setText(SearchResultListItem::SpeedColumn, SearchResultCells::Speed(results));
    row->setText(SearchResultListItem::FolderColumn, SearchResultCells::Folder(result));
    row->setText(SearchResultListItem::FileColumn, SearchResultCells::File(result));
    row->setText(SearchResultListItem::SizeColumn, SearchResultCells::Size(result));
    row->setText(SearchResultListItem::AttributesColumn, SearchResultCells::Attributes(result));
    // A flat row is filtered by its remote path, not the reversed one shown.
    row->KeepKeys(result, SearchResultFilter::Subject(result[PeerNames::SearchResultFileFolder].AsString() +
                                                      QLatin1Char('\\') + row->text(SearchResultListItem::FileColumn)));
    row->setFlags(row->flags() | Qt::ItemNeverHasChildren);
    m_rows.Add(row, kResultNode) += result;
    rows.top << row;
    return nullptr;
}

QTreeWidgetItem* SearchResultsForm::AddTreeRow(ItemPtr result, ItemPtr results, NewRows& rows)
{
    ItemPtr page = PageItem();
    const ItemPtr user = results[ServerNames::User];
    if (!page || !user)
        return nullptr;

    ItemPtr userNode = Both(page, user, kUserNode);
    QTreeWidgetItem* userRow = m_rows.Row(userNode);
    if (!userRow) {
        auto* row = new SearchResultListItem;
        rows.top << row;
        row->setText(SearchResultListItem::UserColumn, user.AsString());
        userNode = m_rows.Add(row, kUserNode);
        page += userNode;
        userNode += user;
        // A user answering again keeps the figures of the first answer.
        row->setText(SearchResultListItem::FreeColumn, SearchResultCells::Free(results));
        row->setTextAlignment(SearchResultListItem::FreeColumn, Qt::AlignHCenter | Qt::AlignVCenter);
        row->setText(SearchResultListItem::SpeedColumn, SearchResultCells::Speed(results));
        row->KeepKeys(ItemPtr(), QString());
        userRow = row;
    }
    if (rows.users.isEmpty() || rows.users.last() != userRow)
        rows.users << userRow;

    // Two users' folders of the same path are two rows.
    const ItemPtr folder = result[PeerNames::SearchResultFileFolder];
    ItemPtr folderNode = Both(userNode, folder, kFolderNode);
    QTreeWidgetItem* folderRow = m_rows.Row(folderNode);
    if (!folderRow) {
        SearchResultListItem* row = rows.Child(userRow);
        row->setText(SearchResultListItem::FolderColumn, SearchResultCells::Folder(result));
        row->KeepKeys(ItemPtr(), SearchResultFilter::Subject(row->text(SearchResultListItem::FolderColumn)));
        folderRow = row;
        folderNode = m_rows.Add(folderRow, kFolderNode);
        userNode += folderNode;
        if (folder)
            folderNode += folder;
    }
    if (rows.folders.isEmpty() || rows.folders.last() != folderRow)
        rows.folders << folderRow;

    SearchResultListItem* fileRow = rows.Child(folderRow);
    fileRow->setText(SearchResultListItem::FileColumn, SearchResultCells::File(result));
    fileRow->setText(SearchResultListItem::SizeColumn, SearchResultCells::Size(result));
    fileRow->setText(SearchResultListItem::AttributesColumn, SearchResultCells::Attributes(result));
    fileRow->KeepKeys(result, SearchResultFilter::Subject(fileRow->text(SearchResultListItem::FileColumn)));
    // The view's layout of the page then passes over file rows without
    // looking up whether each is open: a third of its cost on a page of
    // open folders.
    fileRow->setFlags(fileRow->flags() | Qt::ItemNeverHasChildren);

    ItemPtr node = m_rows.Add(fileRow, kResultNode);
    node += result;
    node += folderNode;
    return userRow;
}

void SearchResultsForm::RaiseWishListAlert()
{
    ItemPtr page = PageItem();
    const ItemPtr wish = page[ServerNames::WishListItem];
    if (!wish || page.IsConnected("search_results_widget_alerted"))
        return;
    if (m_filterPass.IsRunning()) {
        m_alertWhenFiltered = true;
        return;
    }
    // Results all hidden by the filter are not worth an alert yet.
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    bool shown = false;
    for (int i = 0; i < tree->topLevelItemCount() && !shown; ++i)
        shown = !tree->isRowHidden(i, QModelIndex());
    if (!shown)
        return;
    if (eventToolBar)
        eventToolBar->AddEvent(PeerText::Title(wish.AsString()), ":/icons/wishlist_icon", this, QString(), "wishlist",
                               false);
    page += d.GetType("search_results_widget_alerted")->GetGlobalNullItem();
}

// ---------------------------------------------------------------------------
// Downloading

void SearchResultsForm::OnResultDoubleClicked(QTreeWidgetItem* ip_result, int)
{
    // A user or folder row only opens or closes, which the tree does.
    const ItemPtr result = ResultOf(ip_result);
    if (result)
        QueueDownloads({result}, true);
}

bool SearchResultsForm::CompareSearchResults(ItemPtr a, ItemPtr b)
{
    const std::string folderA = a[PeerNames::SearchResultFileFolder].AsStdString();
    const std::string folderB = b[PeerNames::SearchResultFileFolder].AsStdString();
    if (folderA == folderB)
        return a[PeerNames::SearchResultFileName].AsStdString() < b[PeerNames::SearchResultFileName].AsStdString();
    return folderA < folderB;
}

void SearchResultsForm::QueueDownloads(QList<ItemPtr> results, bool single, int subfolderSaveLevel)
{
    if (!transferQueueManager)
        return;
    std::stable_sort(results.begin(), results.end(), &SearchResultsForm::CompareSearchResults);
    for (const ItemPtr& result : results) {
        const ItemPtr reply = result[PeerNames::SearchResults];
        const ItemPtr text = reply[ServerNames::SearchRequest][ServerNames::SearchRequestText];
        ItemPtr entry = transferQueueManager->AddDownload(
            reply[ServerNames::User].AsString(), result[PeerNames::SearchResultFileName].AsStdString(),
            result[PeerNames::SearchResultFileFolder].AsStdString(), result[PeerNames::FileSize].AsInt64(), single,
            subfolderSaveLevel);
        // The download remembers the search that found it.
        if (entry && text)
            entry += text;
        if (QTreeWidgetItem* row = RowOf(result))
            row->setIcon(SearchResultListItem::FileColumn, QIcon(":/icons/download_icon"));
    }
}

// ---------------------------------------------------------------------------
// Related searches

void SearchResultsForm::OnSearchCorrelations(QString i_searchText)
{
    if (i_searchText == m_searchText)
        PopulateCorrelations();
}

void SearchResultsForm::PopulateCorrelations()
{
    QTreeWidget* list = ui->correlationsWidget;
    list->clear();
    list->hide();
    Type* texts = d.HasType(ServerNames::SearchRequestText);
    const ItemPtr text = texts ? texts->HasItem(m_searchText) : ItemPtr();
    const ItemList related =
        text.GetItems(ServerNames::SearchCorrelation).SortNumericBy(ServerNames::CorrelationRank, false);
    if (related.empty())
        return;
    for (const ItemPtr& correlation : related)
        new QTreeWidgetItem(list, QStringList() << correlation[ServerNames::CorrelationText].AsString());
    list->show();
    const QList<int> sizes{width() - 150, 150};
    ui->splitter->setSizes(sizes);
    if (sizeManager)
        sizeManager->RegisterSplitter("correlations_splitter", ui->splitter, sizes);
}

// ---------------------------------------------------------------------------
// Discarding repeated results of a wish-list search

void SearchResultsForm::OnDiscardRepeatedResultsToggled(bool i_toggled)
{
    const ItemPtr request = d.GetType(ServerNames::SearchRequest)->HasItem(Value(m_ticket));
    ItemPtr wish = request[ServerNames::WishListItem];
    if (!wish)
        return;
    if (!i_toggled) {
        wish.Disconnect(PeerNames::DiscardRepeatedResults);
        wish[PeerNames::ReceivedResultsFromUsers].Remove();
        return;
    }
    if (wish.IsConnected(PeerNames::DiscardRepeatedResults))
        return;
    wish += d.GetType(PeerNames::DiscardRepeatedResults)->GetGlobalNullItem();
    ItemPtr received = d.GetType(PeerNames::ReceivedResultsFromUsers)->NewItem();
    wish += received;
    // Every user this page shows, whichever of its tickets they answered.
    ItemSet requests = PageItem().GetItems(ServerNames::SearchRequest);
    if (request)
        requests.insert(request);
    for (const ItemPtr& answer : requests.GetItems(PeerNames::SearchResults))
        if (ItemPtr user = answer[ServerNames::User])
            received += user;
}

void SearchResultsForm::OnDiscardRepeatedResultsEnabled(ItemPtr)
{
    ui->discardRepeatedResultsBox->setChecked(true);
}

void SearchResultsForm::OnDiscardRepeatedResultsDisabled(ItemPtr)
{
    ui->discardRepeatedResultsBox->setChecked(false);
}

void SearchResultsForm::WishListItemRemoved()
{
    ui->discardRepeatedResultsBox->setEnabled(false);
}

void SearchResultsForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(this);
}

void SearchResultsForm::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The user's font comes after the page is made.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        FitSavedFiltersBox();
}

// ---------------------------------------------------------------------------
// The context menu

void SearchResultsForm::OnContextMenuRequested(QPoint i_point)
{
    QTreeWidget* tree = ui->searchResultsTreeWidget;
    QTreeWidgetItem* row = tree->itemAt(i_point);
    if (!row)
        return;
    // The menu acts on what the filter shows: the rest of a half-applied
    // filter first, and no menu for a row it hides.
    const RowMirror::Key key = m_rows.KeyOf(row);
    FilterWhole();
    row = m_rows.Row(key);
    if (!IsShown(row))
        return;
    QMenu menu;
    // Keeps the page and the texts it needs, never the row: the menu runs
    // an event loop of its own.
    SearchResultMenuOptions options(&menu, row);
    // The user's entries follow the result's; by name, as rows may go while
    // the menu is open.
    UserMenuOptions userOptions(&menu, UserOf(row), nullptr);
    if (menu.isEmpty())
        return;
    menu.exec(tree->viewport()->mapToGlobal(i_point));
}
