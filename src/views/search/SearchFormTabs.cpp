// The result tabs of the Search page: opening one per search, routing each
// user's reply to its tab, and the toolbar actions and related searches of
// the tabs.
#include "SearchForm.h"

#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QTreeWidget>
#include <algorithm>

#include "ActionSetToolBar.h"
#include "Data.h"
#include "GeneralFunctions.h"
#include "PeerNames.h"
#include "SearchResultExpandPass.h"
#include "SearchResultListItem.h"
#include "SearchResultsForm.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "SizeManager.h"
#include "common/ColumnWidths.h"
#include "ui_SearchForm.h"

namespace {

const char* const kOn = " [on]";
const char* const kOff = " [off]";

QString TabIcon(SearchType type)
{
    switch (type) {
    case UserListSearch:
        return ":/icons/users_icon";
    case RoomSearch:
        return ":/icons/room_icon";
    case WishListSearch:
        return ":/icons/wishlist_icon";
    default:
        return ":/icons/search_icon";
    }
}

void SetActionText(QWidget* page, const char* id, const QString& text)
{
    if (actionBar)
        actionBar->SetWidgetActionText(page, id, text);
}

} // namespace

SearchResultsForm* SearchForm::CreateSearchForm(unsigned int ticket, QString text, SearchType type)
{
    ItemPtr request = d.GetType(ServerNames::SearchRequest)->HasItem(Value(ticket));
    ItemPtr wish;
    if (type == WishListSearch) {
        wish = d.GetType(ServerNames::WishListItem)->HasItem(text);
        if (!wish)
            return nullptr;
        // A wish-list search keeps one tab, which gathers every ticket.
        if (ItemPtr existing = wish["search_results_widget"]) {
            if (request)
                existing += request;
            return PageOf(existing);
        }
    }

    auto* page = new SearchResultsForm(ticket, this);
    QTreeWidget* tree = page->searchResults();
    tree->setColumnCount(SearchResultListItem::ColumnCount);
    tree->setHeaderLabels(QStringList() << tr("User") << tr("Free") << tr("K/s") << tr("Folder") << tr("File")
                                        << tr("Size") << tr("Attributes"));
    ColumnWidths::Set(tree, {100, 40, 40, 150, 170, 70, tree->header()->defaultSectionSize()},
                      {QString(), "12", "1787.1", QString(), QString(), "88,012,345", "320 CBR, 6m28s"});
    ColumnWidths::AlignRight(tree, {SearchResultListItem::SpeedColumn, SearchResultListItem::SizeColumn});
    tree->setUniformRowHeights(true);
    tree->header()->setStretchLastSection(false);
    tree->header()->setSectionsMovable(false);
    tree->expandAll();

    // A lone "&" would be taken for a shortcut mark and vanish.
    QString title = text;
    title.replace(QLatin1Char('&'), QLatin1String("&&"));
    QTabWidget* tabs = type == WishListSearch ? ui->wishListTabControl : ui->searchTabControl;
    tabs->addTab(page, QIcon(TabIcon(type)), title);

    ItemPtr pageItem = d.GetType("search_results_widget")->GetItem(Value(page));
    m_pages.insert(reinterpret_cast<quintptr>(page), page);
    if (request)
        pageItem += request;

    if (type == WishListSearch) {
        pageItem += wish;
        const QString filter = wish["wish_list_item_filter_text"].AsString();
        if (!filter.isEmpty())
            page->filterEdit()->setText(filter);
    }
    const QString defaultFilter = GetSetting("default_search_filter");
    if (!defaultFilter.isEmpty() && page->filterEdit()->text().isEmpty())
        page->filterEdit()->setText(defaultFilter);

    if (type == WishListSearch || d.GetType(ServerNames::WishListItem)->HasItem(text)) {
        SetActionText(page, "add_remove_wishlist", tr("Remove from Wish List"));
    }
    if (type == WishListSearch) {
        if (actionBar)
            actionBar->SetWidgetActionHidden(page, "stop_search", true);
    }
    SetActionText(page, "order_by_available", tr("Order by Available") + kOn);
    SetActionText(page, "order_by_fastest", tr("Order by Fastest"));
    SetActionText(page, "expand_folders", tr("Expand Folders") + kOn);
    SetActionText(page, "expand_users", tr("Expand Users") + kOn);
    pageItem += d.GetType("expand_folders")->GetItem("yes");
    pageItem += d.GetType("expand_users")->GetItem("yes");

    page->SetSortingParamters(SearchResultListItem::FreeColumn, Qt::DescendingOrder);
    // Wish-list tabs appear without taking the user away from anything.
    if (type != WishListSearch)
        FocusWidget(tree);
    if (sizeManager)
        sizeManager->RegisterTreeWidget("search_results", tree);
    page->Init();

    connect(page->CorrelationsWidget(), &QTreeWidget::itemClicked, this, &SearchForm::OnCorrelationClicked);
    connect(page->CorrelationsWidget(), &QTreeWidget::itemDoubleClicked, this, &SearchForm::OnCorrelationDoubleClicked);
    return page;
}

SearchResultsForm* SearchForm::PageOf(ItemPtr pageItem) const
{
    if (!pageItem)
        return nullptr;
    return m_pages.value(quintptr(pageItem.AsUInt64())).data();
}

SearchResultsForm* SearchForm::GetCurrentSearchResultsForm()
{
    QTabWidget* tabs = nullptr;
    if (ui->searchTabControl->isVisible())
        tabs = ui->searchTabControl;
    else if (ui->wishListTabControl->isVisible())
        tabs = ui->wishListTabControl;
    return tabs ? qobject_cast<SearchResultsForm*>(tabs->currentWidget()) : nullptr;
}

void SearchForm::OnUserSearchResults(ItemPtr searchResults)
{
    ItemPtr request = searchResults[ServerNames::SearchRequest];
    ItemPtr pageItem = request["search_results_widget"];
    if (!pageItem && request.IsConnected(ServerNames::WishListItem)) {
        const ItemPtr text = request[ServerNames::SearchRequestText];
        const ItemPtr wish = d.GetType(ServerNames::WishListItem)->HasItem(text.AsStdString());
        if (wish && wish.IsConnected(PeerNames::WishListItemEnabled))
            CreateSearchForm(request.AsUInt(), text.AsString(), WishListSearch);
        pageItem = request["search_results_widget"];
    }
    SearchResultsForm* page = PageOf(pageItem);
    if (!page) {
        DropResults(searchResults);
        return;
    }
    page->AddUserSearchResults(searchResults);
}

void SearchForm::OnMoreSearchResults(ItemPtr searchResults, const ItemList& part)
{
    SearchResultsForm* page = PageOf(searchResults[ServerNames::SearchRequest]["search_results_widget"]);
    if (!page) {
        DropResults(searchResults);
        return;
    }
    page->AddMoreSearchResults(part);
}

void SearchForm::OnSearchResultsLeftOut(ItemPtr request)
{
    if (SearchResultsForm* page = PageOf(request["search_results_widget"]))
        page->ShowLeftOut();
}

// ---------------------------------------------------------------------------
// Toolbar actions

void SearchForm::OnActionBarTriggered(QWidget* widget, QString action)
{
    if (widget == ui->wishList) {
        if (action == "enable_all_wish_list_items")
            CheckAllWishListItems(true);
        else if (action == "disable_all_wish_list_items")
            CheckAllWishListItems(false);
        return;
    }
    // Other views may use the same action names.
    auto* page = qobject_cast<SearchResultsForm*>(widget);
    if (!page)
        return;
    if (action == "expand_folders" || action == "expand_users") {
        ToggleExpanded(page, action == "expand_folders");
    } else if (action == "order_by_available" || action == "order_by_fastest") {
        Order(page, action == "order_by_fastest");
    } else if (action == "add_remove_wishlist" || action == "stop_search" || action == "reenter_search") {
        SearchResultsForm* current = GetCurrentSearchResultsForm();
        if (!current)
            return;
        if (action == "add_remove_wishlist") {
            ToggleWishList(current);
        } else if (action == "stop_search") {
            ItemPtr request = current->Request();
            if (request)
                request += d.GetType(PeerNames::SearchStopped)->GetGlobalNullItem();
            SetActionText(current, "stop_search", tr("Search Stopped"));
        } else {
            ui->searchEdit->lineEdit()->setText(current->Request()[ServerNames::SearchRequestText].AsString());
            ui->searchEdit->setFocus();
        }
    }
}

void SearchForm::ToggleExpanded(SearchResultsForm* page, bool folders)
{
    ItemPtr pageItem = page->PageItem();
    if (!pageItem)
        return;
    const char* type = folders ? "expand_folders" : "expand_users";
    const bool expand = pageItem[type].AsString() == QLatin1String("no");
    pageItem += d.GetType(type)->GetItem(expand ? "yes" : "no");
    SetActionText(page, type, (folders ? tr("Expand Folders") : tr("Expand Users")) + (expand ? kOn : kOff));
    // A slice a turn on a large page; rows arriving meanwhile come opened
    // or closed by the switch as just set.
    ExpandPass(page, folders)->Start(expand);
}

SearchResultExpandPass* SearchForm::ExpandPass(SearchResultsForm* page, bool folders)
{
    const QString name = folders ? QStringLiteral("expand_folders") : QStringLiteral("expand_users");
    auto* pass = page->findChild<SearchResultExpandPass*>(name, Qt::FindDirectChildrenOnly);
    if (!pass) {
        pass = new SearchResultExpandPass(page->searchResults(), folders, page);
        pass->setObjectName(name);
    }
    pass->SetSliceRows(m_expandSliceRows);
    return pass;
}

QList<SearchResultExpandPass*> SearchForm::ExpandPasses(SearchResultsForm* page)
{
    return page->findChildren<SearchResultExpandPass*>(QString(), Qt::FindDirectChildrenOnly);
}

bool SearchForm::IsExpanding(SearchResultsForm* page) const
{
    return page->IsExpanding();
}

void SearchForm::SetSliceSize(int size)
{
    m_release.SetSliceSize(size);
    m_expandSliceRows = size;
    for (const QPointer<SearchResultsForm>& page : qAsConst(m_pages))
        if (page)
            for (SearchResultExpandPass* pass : ExpandPasses(page))
                pass->SetSliceRows(size);
}

void SearchForm::Order(SearchResultsForm* page, bool fastest)
{
    SetActionText(page, "order_by_available", tr("Order by Available") + (fastest ? "" : kOn));
    SetActionText(page, "order_by_fastest", tr("Order by Fastest") + (fastest ? kOn : ""));
    page->SetSortingParamters(fastest ? SearchResultListItem::SpeedColumn : SearchResultListItem::FreeColumn,
                              Qt::DescendingOrder);
    page->Sort();
}

void SearchForm::ToggleWishList(SearchResultsForm* page)
{
    // Does what the action's text says: the text follows whether the
    // search is on the wish list (ShowWishListAction).
    const ItemPtr request = page->Request();
    const std::string text = request[ServerNames::SearchRequestText].AsStdString();
    Type* wishes = d.GetType(ServerNames::WishListItem);
    if (ItemPtr listed = wishes->HasItem(text)) {
        listed.Remove();
        return;
    }
    ItemPtr wish = wishes->GetItem(text);
    wish += d.GetType(PeerNames::WishListItemEnabled)->GetGlobalNullItem();
    OnWishListItemAdded(wish);
}

void SearchForm::ShowWishListAction(const QString& text, bool listed)
{
    for (const QPointer<SearchResultsForm>& page : qAsConst(m_pages))
        if (page && page->SearchText() == text)
            SetActionText(page, "add_remove_wishlist", listed ? tr("Remove from Wish List") : tr("Add to Wishlist"));
}

// ---------------------------------------------------------------------------
// Related searches and searches run again

void SearchForm::OnCorrelationClicked(QTreeWidgetItem* item, int)
{
    if (item)
        ui->searchEdit->lineEdit()->setText(item->text(0));
}

void SearchForm::OnCorrelationDoubleClicked(QTreeWidgetItem* item, int)
{
    if (!item || !gp_server)
        return;
    RunNetworkSearch(item->text(0));
    ui->searchEdit->lineEdit()->clear();
}

void SearchForm::OnManualSearch()
{
    const QList<QTreeWidgetItem*> selected = ui->wishList->selectedItems();
    if (selected.isEmpty() || !gp_server)
        return;
    const QString text = selected.first()->text(1);
    d.GetType(ServerNames::WishListItem)->GetItem(text);
    CreateSearchForm(gp_server->FileSearch(text, QString()), text, NetworkSearch);
}
