#pragma once

#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <climits>

#include "DataHandler.h"
#include "DataLoadedEventHandler.h"
#include "ItemPtr.h"
#include "ItemSet.h"
#include "SearchTabRelease.h"
#include "common/RowMirror.h"

class QPoint;
class QTabWidget;
class QTreeWidgetItem;
class SearchResultExpandPass;
class SearchResultsForm;
class Ui_SearchForm;

// The kind of a search and of its result tab.
enum SearchType
{
    NetworkSearch = 0, // target "All", related searches, searches run again
    WishListSearch = 1,
    UserListSearch = 2,
    RoomSearch = 3
};

// The Search page: the search box with its history and targets, one result
// tab per search for manual searches and one per wish-list search that has
// brought results, and the received-searches log. It sends each search,
// opens its tab, hands every user's reply to the tab of its request and
// carries out the toolbar actions of the result tabs.
//
// The wish list's own handlers (its tree, its check boxes, its context
// menu, closing its tabs) belong to the wish list view and are filled in
// there; the slots stand here so that the form and Init wire them once.
class SearchForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit SearchForm(QWidget* parent = nullptr);
    ~SearchForm() override;

    // Declares the view's types, handlers and action sets; before the load.
    void Init();
    void DataLoaded() override;

    // Opens the result tab of a search ticket, or for a wish-list search
    // joins the ticket to that search's tab; returns the tab, or null when a
    // wish-list search no longer exists.
    SearchResultsForm* CreateSearchForm(unsigned int ticket, QString text, SearchType type);
    // The result tab shown in the visible tab control, or null.
    SearchResultsForm* GetCurrentSearchResultsForm();
    // The result tab of a "search_results_widget" item, or null.
    SearchResultsForm* PageOf(ItemPtr pageItem) const;

    // Whether closed tabs' rows and items are still being let go, and
    // whether a page's rows are still being opened or closed by its expand
    // switches: both a slice a turn on large pages.
    bool IsClosingTabs() const { return m_release.IsRunning(); }
    // The slices that let closed tabs go: tests count their turns and steps.
    const SlicedJob& ReleaseJob() const { return m_release.Job(); }
    bool IsExpanding(SearchResultsForm* page) const;
    // The most rows or results a slice of either handles; tests make the
    // work of a small page span turns.
    void SetSliceSize(int size);

    void RecordSearch(QString text);
    void OnEnteredRoom(ItemPtr room);
    void OnLeftRoom(ItemPtr room);
    void OnSearchRecordItemRemoved(ItemPtr record);

    // The wish list view's store handlers, and a row for every stored
    // search at once (after the load).
    void BuildWishListRows();
    void OnWishListItemAdded(ItemPtr item);
    void OnWishListItemRemoved(ItemPtr item);

public slots:
    void OnSearchEntered();
    void OnAddToWishListClicked();
    void OnTabCloseRequested(int tabIndex);
    void OnWishTabCloseRequested(int tabIndex);
    void OnActionBarTriggered(QWidget* widget, QString action);
    void OnUserSearchResults(ItemPtr searchResults);
    void OnMoreSearchResults(ItemPtr searchResults, const ItemList& part);
    void OnSearchResultsLeftOut(ItemPtr request);
    void OnWishListItemCheckStateChanged(int state);
    void OnCorrelationClicked(QTreeWidgetItem* item, int);
    void OnCorrelationDoubleClicked(QTreeWidgetItem* item, int column);
    void OnWishListItemChanged(QTreeWidgetItem* item, int column);
    void DeleteNode(QTreeWidgetItem* item);
    void OnWishListContextMenuRequested(QPoint point);
    void OnManualSearch();
    void OnDiscardRepeatedResultsClicked();
    void OnRemoveWishListItemRequested();

private:
    void DeclareTypes();
    void AddActions();
    // A network-wide search of a text with its related searches.
    SearchResultsForm* RunNetworkSearch(const QString& text);
    // Removes a result tab with its page, the search's requests and answers
    // and the rows' items.
    void CloseResultTab(QTabWidget* tabs, int tabIndex);
    // Results that no tab will show go at once, instead of staying in the
    // store for the rest of the run.
    static void DropResults(ItemPtr searchResults);
    void ToggleExpanded(SearchResultsForm* page, bool folders);
    // The page's pass of one expand switch, made when first needed; and
    // those it has.
    SearchResultExpandPass* ExpandPass(SearchResultsForm* page, bool folders);
    static QList<SearchResultExpandPass*> ExpandPasses(SearchResultsForm* page);
    void Order(SearchResultsForm* page, bool fastest);
    void ToggleWishList(SearchResultsForm* page);
    // The wish-list action of every result tab of a search text says what
    // it would do: add the search, or remove it when listed.
    void ShowWishListAction(const QString& text, bool listed);
    void CheckAllWishListItems(bool checked);
    // The stored search a wish-list row shows, or null.
    ItemPtr WishListItemOf(QTreeWidgetItem* row) const;
    QTreeWidgetItem* FirstSelectedWishListRow() const;
    // Deletes the row later, outside the tree's own notification, if it is
    // still there and still shows no stored search by then.
    void QueueDeleteNode(QTreeWidgetItem* row);

    Ui_SearchForm* ui;
    // The wish list's rows, kept by the wish list view.
    RowMirror m_wishListRows;
    // Set while a row is built or set by the page itself: the tree's change
    // notifications are then not the user's edits.
    bool m_buildingWishListRow = false;
    // The open result tabs by address, so that a page item leads to its page
    // without turning an address back into a pointer.
    QHash<quintptr, QPointer<SearchResultsForm>> m_pages;
    SearchTabRelease m_release;
    int m_expandSliceRows = INT_MAX;
};

extern SearchForm* searchForm;
