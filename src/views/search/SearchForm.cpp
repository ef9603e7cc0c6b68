#include "SearchForm.h"

#include <QCheckBox>
#include <QCompleter>
#include <QDateTime>
#include <QHeaderView>
#include <QLineEdit>
#include <QMetaType>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "DataSaver.h"
#include "FocusHelpers.h"
#include "PeerMessenger.h"
#include "PeerNames.h"
#include "SearchResultsForm.h"
#include "Server.h"
#include "ServerNames.h"
#include "SizeManager.h"
#include "TransferNames.h"
#include "ui_SearchForm.h"

SearchForm* searchForm = nullptr;

namespace {

const int kHistoryLength = 20;
const QString kRoomPrefix = QStringLiteral("Room: ");

// Declares the relation as the view's tables read: one item of a is linked
// to aHolds items of b, one item of b to bHolds items of a.
void Relate(const char* a, const char* b, OneOrMany aHolds, OneOrMany bHolds, bool owns = false)
{
    d.GetType(a)->RelateToType(d.GetType(b), bHolds, aHolds, owns);
}

} // namespace

SearchForm::SearchForm(QWidget* parent) : QWidget(parent), ui(new Ui_SearchForm)
{
    ui->setupUi(this);
    searchForm = this;
    ui->wishList->setHeaderLabels(QStringList() << tr("Wish List Item"));
    ui->horizontalLayout_2->setContentsMargins(0, 0, 0, 0);
    // The history is offered below the box, never written into it: text
    // completed inline would be sent by Return as if the user had typed it.
    if (QCompleter* completer = ui->searchEdit->completer())
        completer->setCompletionMode(QCompleter::PopupCompletion);
    connect(ui->searchButton, &QPushButton::clicked, this, &SearchForm::OnSearchEntered);
    connect(ui->searchEdit->lineEdit(), &QLineEdit::returnPressed, this, &SearchForm::OnSearchEntered);
}

SearchForm::~SearchForm()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    delete ui;
    ui = nullptr;
    if (searchForm == this)
        searchForm = nullptr;
}

// ---------------------------------------------------------------------------
// Start-up

void SearchForm::Init()
{
    if (peerMessenger) {
        connect(peerMessenger, &PeerMessenger::SearchResults, this, &SearchForm::OnUserSearchResults);
        connect(peerMessenger, &PeerMessenger::MoreSearchResults, this, &SearchForm::OnMoreSearchResults);
        connect(peerMessenger, &PeerMessenger::SearchResultsLeftOut, this, &SearchForm::OnSearchResultsLeftOut);
    }

    DeclareTypes();

    connect(ui->searchTabControl, &QTabWidget::tabCloseRequested, this, &SearchForm::OnTabCloseRequested);
    connect(ui->wishListTabControl, &QTabWidget::tabCloseRequested, this, &SearchForm::OnWishTabCloseRequested);
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &SearchForm::OnActionBarTriggered);

    AddActions();

    ui->wishList->setColumnCount(2);
    ui->wishList->setColumnWidth(0, 20);
    ui->wishList->header()->setSectionResizeMode(QHeaderView::Fixed);
    ui->wishList->setHeaderLabels(QStringList() << QString() << tr("Wish List Search"));

    d.NewType("wish_list_node", 0, false, true);
    d.NewType("wish_list_node_checkbox", 0, false, true);
    Relate(ServerNames::WishListItem, "wish_list_node", one, one);
    Relate("wish_list_node", "wish_list_node_checkbox", one, one);
    d.NewType("wish_list_item_filter_text", 2, false, true);
    if (dataSaver)
        dataSaver->AddSavedType("wish_list_item_filter_text");
    Relate(ServerNames::WishListItem, "wish_list_item_filter_text", one, many);

    if (actionBar) {
        actionBar->AddSetAction("wish_list", "enable_all_wish_list_items", tr("Enable All Wish List Searches"),
                                ":/icons/wishlist_icon", false);
        actionBar->AddSetAction("wish_list", "disable_all_wish_list_items", tr("Disable All Wish List Searches"),
                                ":/icons/wishlist_icon", false);
        actionBar->RegisterWidget(ui->wishList, "wish_list");
    }
    ui->wishList->setSortingEnabled(true);
    ui->wishList->sortItems(1, Qt::AscendingOrder);

    Relate(ServerNames::SearchRequestText, TransferNames::DownloadEntry, many, one);
    if (dataSaver) {
        dataSaver->AddSavedByConnectionType(ServerNames::SearchRequestText, TransferNames::DownloadEntry);
        dataSaver->AddDataLoadedEventHandler(this);
    }

    RegisterWidgetForTabFocus(ui->searchEdit, 1);
    RegisterWidgetForTabFocus(ui->wishList, 1);

    d.NewType("saved_filter", 0, false, true);
    if (dataSaver)
        dataSaver->AddSavedType("saved_filter");

    ui->searchTargetBox->addItem(tr("All"));
    ui->searchTargetBox->addItem(tr("User List"));

    {
        PathNode* entered = new PathNode(&d, ServerNames::Room);
        new PathNode(entered, ServerNames::InRoom, 2);
        d.AddPathEventHandler(entered, new EventHandler<SearchForm, ItemPtr>(this, &SearchForm::OnEnteredRoom));
        PathNode* left = new PathNode(&d, ServerNames::Room);
        new PathNode(left, ServerNames::InRoom, 5);
        d.AddPathEventHandler(left, new EventHandler<SearchForm, ItemPtr>(this, &SearchForm::OnLeftRoom));
    }

    ui->tab->Init();

    connect(ui->wishList, &QTreeWidget::itemChanged, this, &SearchForm::OnWishListItemChanged);
    qRegisterMetaType<QTreeWidgetItem*>("QTreeWidgetItem*");

    d.NewType("search_record", 0, false, true);
    d.NewType("search_time", 2, false, true);
    Relate("search_record", "search_time", one, many);
    if (dataSaver) {
        dataSaver->AddSavedType("search_record");
        dataSaver->AddSavedType("search_time");
    }
    d.GetType("search_record")
        ->AddItemRemovedHandler(new EventHandler<SearchForm, ItemPtr>(this, &SearchForm::OnSearchRecordItemRemoved));
}

void SearchForm::DeclareTypes()
{
    d.NewType("search_results_widget", 0, false, true);
    d.NewType("search_results_widget_alerted", 2, true, true);
    Relate("search_results_widget", ServerNames::SearchRequest, many, one);
    Relate("search_results_widget", ServerNames::WishListItem, one, one);
    Relate("search_results_widget", "search_results_widget_alerted", one, many);
    d.NewType("expand_folders", 2, false, true);
    d.NewType("expand_users", 2, false, true);
    Relate("search_results_widget", "expand_folders", one, many);
    Relate("search_results_widget", "expand_users", one, many);

    d.NewType("search_results_user_node", 1, false, true);
    d.NewType("search_results_folder_node", 1, false, true);
    d.NewType("search_result_node", 1, false, true);
    // A tab owns its user rows' items, which own their folder rows' items;
    // file rows' items go with their rows.
    Relate("search_results_widget", "search_results_user_node", many, one, true);
    Relate("search_results_user_node", ServerNames::User, one, many);
    Relate("search_results_user_node", "search_results_folder_node", many, one, true);
    Relate("search_results_folder_node", PeerNames::SearchResultFileFolder, one, many);
    Relate("search_result_node", PeerNames::SearchResult, one, one);
    Relate("search_result_node", "search_results_folder_node", one, many);

    d.GetType(ServerNames::WishListItem)
        ->AddItemRemovedHandler(new EventHandler<SearchForm, ItemPtr>(this, &SearchForm::OnWishListItemRemoved));
}

void SearchForm::AddActions()
{
    if (!actionBar)
        return;
    struct Action
    {
        const char* set;
        const char* id;
        QString text;
        const char* icon;
    };
    const Action actions[] = {
        {"search_results", "order_by_available", tr("Order by Available"), ":/icons/search_icon"},
        {"search_results", "order_by_fastest", tr("Order by Fastest"), ":/icons/search_icon"},
        {"search_results", "expand_folders", tr("Expand Folders"), ":/icons/search_icon"},
        {"search_results", "expand_users", tr("Expand Users"), ":/icons/search_icon"},
        {"search_results", "add_remove_wishlist", tr("Add to Wishlist"), ":/icons/wishlist_icon"},
        {"search_results", "reenter_search", tr("Re-enter Search"), ":/icons/circular_arrow_icon"},
        {"search_results", "stop_search", tr("Stop Search"), ":/icons/stop_icon"},
        {"search_results_old", "add_remove_wishlist", tr("Add to Wishlist"), ":/icons/wishlist_icon"},
        {"search_results_old", "reenter_search", tr("Re-enter Search"), ":/icons/circular_arrow_icon"},
        {"search_results_old", "stop_search", tr("Stop Search"), ":/icons/stop_icon"},
    };
    for (const Action& action : actions)
        actionBar->AddSetAction(action.set, action.id, action.text, action.icon, false);
}

void SearchForm::DataLoaded()
{
    BuildWishListRows();

    const QList<int> sizes{width() - 200, 200};
    ui->searchSplitter->setSizes(sizes);
    if (sizeManager)
        sizeManager->RegisterSplitter("wish_list_splitter", ui->searchSplitter, sizes);

    for (const ItemPtr& record : d.GetType("search_record")->GetItems().SortNumericBy("search_time", false))
        ui->searchEdit->addItem(record.AsString());
    ui->searchEdit->clearEditText();
}

// ---------------------------------------------------------------------------
// Entering a search

void SearchForm::OnSearchEntered()
{
    const QString text = ui->searchEdit->lineEdit()->text().trimmed();
    if (text.isEmpty() || !gp_server)
        return;
    const QString target = ui->searchTargetBox->currentText();
    if (target == tr("All")) {
        RunNetworkSearch(text);
    } else if (target == tr("User List")) {
        CreateSearchForm(gp_server->SearchUserList(text), text, UserListSearch);
    } else if (target.startsWith(kRoomPrefix)) {
        const QString room = target.mid(kRoomPrefix.size());
        CreateSearchForm(gp_server->SearchRoom(room, text), text, RoomSearch);
    }
    RecordSearch(text);
    ui->searchEdit->lineEdit()->clear();
}

SearchResultsForm* SearchForm::RunNetworkSearch(const QString& text)
{
    const unsigned int ticket = gp_server->FileSearch(text, QString());
    gp_server->GetSearchCorrelations(text);
    return CreateSearchForm(ticket, text, NetworkSearch);
}

void SearchForm::RecordSearch(QString text)
{
    text = text.trimmed();
    if (text.isEmpty())
        return;
    Type* records = d.GetType("search_record");
    // Its removal handler takes the old entry out of the box; its time goes
    // with it.
    records->HasItem(text).RemoveWithLoneValues({"search_time"});
    ItemPtr record = records->GetItem(text);
    ui->searchEdit->insertItem(0, text);
    record += d.GetType("search_time")->GetItem(Value(QDateTime::currentMSecsSinceEpoch()));

    const ItemList oldestFirst = records->GetItems().SortNumericBy("search_time", true);
    for (size_t i = 0; i + kHistoryLength < oldestFirst.size(); ++i)
        ItemPtr(oldestFirst[i]).RemoveWithLoneValues({"search_time"});
}

void SearchForm::OnSearchRecordItemRemoved(ItemPtr record)
{
    const int index = ui->searchEdit->findText(record.AsString(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        ui->searchEdit->removeItem(index);
}

void SearchForm::OnEnteredRoom(ItemPtr room)
{
    ui->searchTargetBox->addItem(kRoomPrefix + room.AsString());
}

void SearchForm::OnLeftRoom(ItemPtr room)
{
    const int index =
        ui->searchTargetBox->findText(kRoomPrefix + room.AsString(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        ui->searchTargetBox->removeItem(index);
}

// ---------------------------------------------------------------------------
// Closing result tabs

void SearchForm::OnTabCloseRequested(int tabIndex)
{
    CloseResultTab(ui->searchTabControl, tabIndex);
}

void SearchForm::CloseResultTab(QTabWidget* tabs, int tabIndex)
{
    auto* page = qobject_cast<SearchResultsForm*>(tabs->widget(tabIndex));
    if (!page)
        return;
    ItemPtr pageItem = d.GetType("search_results_widget")->HasItem(Value(page));
    if (!pageItem)
        return;
    const ItemSet requests = pageItem.GetItems(ServerNames::SearchRequest);
    const ItemSet replies = requests.GetItems(PeerNames::SearchResults);
    m_pages.remove(reinterpret_cast<quintptr>(page));
    // The tab goes at once; its rows and its search's answers go a slice a
    // turn, which for 50,000 of them at once would hold the window.
    RowMirror::Taken rows = page->TakeRows();
    {
        Data::Batch batch(&d);
        pageItem.RemoveWithLoneValues({"expand_folders", "expand_users", "search_results_widget_alerted"});
        // Without its request, a late answer to the ticket is dropped.
        for (const ItemPtr& request : requests)
            request.RemoveWithLoneValues({ServerNames::SearchRequestText});
    }
    tabs->removeTab(tabIndex);
    delete page;
    m_release.Add(std::move(rows), replies);
}

void SearchForm::DropResults(ItemPtr searchResults)
{
    Data::Batch batch(&d);
    searchResults.GetItems(PeerNames::SearchResult).Remove();
    searchResults.Remove();
}

// ---------------------------------------------------------------------------
// The wish list's rows

void SearchForm::DeleteNode(QTreeWidgetItem* item)
{
    // The row came through the event queue: only one the wish list still
    // keeps may be deleted.
    ItemPtr node = m_wishListRows.Node(item);
    if (!node)
        return;
    node["wish_list_node_checkbox"].Remove();
    m_wishListRows.Remove(item);
}

void SearchForm::CheckAllWishListItems(bool checked)
{
    // Checking a row's box is what enables or disables its search.
    for (const ItemPtr& item : d.GetType(ServerNames::WishListItem)->GetItems()) {
        QTreeWidgetItem* row = m_wishListRows.Row(item["wish_list_node"]);
        if (!row)
            continue;
        if (auto* box = qobject_cast<QCheckBox*>(ui->wishList->itemWidget(row, 0)))
            box->setChecked(checked);
    }
}
