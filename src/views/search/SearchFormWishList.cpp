// The wish list view of the Search page: one row per stored search with the
// box that enables it, edited in place; its context menu; and closing the
// result tabs of wish-list searches. The store holds every stored search
// and its state; the rows only mirror it.
#include "SearchForm.h"

#include <QCheckBox>
#include <QIcon>
#include <QMenu>
#include <QSet>
#include <QTreeWidget>

#include "Data.h"
#include "PeerNames.h"
#include "SearchResultsForm.h"
#include "ServerNames.h"
#include "ui_SearchForm.h"

namespace {

const char* const kWish = ServerNames::WishListItem;
const char* const kEnabled = PeerNames::WishListItemEnabled;
const char* const kDiscard = PeerNames::DiscardRepeatedResults;
const char* const kReceived = PeerNames::ReceivedResultsFromUsers;
const char* const kNode = "wish_list_node";
const char* const kBox = "wish_list_node_checkbox";
const int kEnabledColumn = 0;
const int kTextColumn = 1;

} // namespace

void SearchForm::BuildWishListRows()
{
    // One sort at the end rather than one per row: with a check box in
    // every row, sorting them in one by one costs seconds for a thousand.
    ui->wishList->setSortingEnabled(false);
    for (const ItemPtr& item : d.GetType(kWish)->GetItems())
        OnWishListItemAdded(item);
    ui->wishList->setSortingEnabled(true);
}

void SearchForm::OnWishListItemAdded(ItemPtr item)
{
    // One row per stored search, however often it is announced.
    if (!item || m_wishListRows.RowOf(item, kNode))
        return;
    m_buildingWishListRow = true;
    auto* row = new QTreeWidgetItem(ui->wishList);
    row->setText(kTextColumn, item.AsString());
    row->setFlags(row->flags() | Qt::ItemIsEditable);
    auto* box = new QCheckBox;
    // The "Y" under the box is what the column sorts by, never seen.
    box->setAutoFillBackground(true);
    ui->wishList->setItemWidget(row, kEnabledColumn, box);
    row->setTextAlignment(kEnabledColumn, Qt::AlignCenter);
    const bool enabled = item.IsConnected(kEnabled);
    row->setText(kEnabledColumn, enabled ? "Y" : "");
    box->setChecked(enabled);
    ItemPtr node = m_wishListRows.Add(row, kNode);
    node += item;
    node += d.GetType(kBox)->GetItem(Value(box));
    connect(box, &QCheckBox::stateChanged, this, &SearchForm::OnWishListItemCheckStateChanged);
    m_buildingWishListRow = false;
    ShowWishListAction(item.AsString(), true);
}

void SearchForm::OnWishListItemRemoved(ItemPtr item)
{
    // Its page stays open, but has no switch left to set.
    if (SearchResultsForm* page = PageOf(item["search_results_widget"]))
        page->WishListItemRemoved();
    ShowWishListAction(item.AsString(), false);
    if (QTreeWidgetItem* row = m_wishListRows.RowOf(item, kNode))
        DeleteNode(row);
}

ItemPtr SearchForm::WishListItemOf(QTreeWidgetItem* row) const
{
    return m_wishListRows.Item(row, kWish);
}

QTreeWidgetItem* SearchForm::FirstSelectedWishListRow() const
{
    return ui->wishList->selectedItems().value(0);
}

void SearchForm::OnWishListItemCheckStateChanged(int state)
{
    Type* boxes = d.HasType(kBox);
    auto* box = qobject_cast<QCheckBox*>(sender());
    const ItemPtr node = boxes && box ? boxes->HasItem(Value(box))[kNode] : ItemPtr();
    ItemPtr item = node[kWish];
    QTreeWidgetItem* row = m_wishListRows.Row(node);
    if (!item || !row)
        return;
    if (state == Qt::Checked) {
        item += d.GetType(kEnabled)->GetGlobalNullItem();
        row->setText(kEnabledColumn, "Y");
    } else if (state == Qt::Unchecked) {
        item.Disconnect(kEnabled);
        row->setText(kEnabledColumn, "");
    }
}

void SearchForm::OnWishListItemChanged(QTreeWidgetItem*, int column)
{
    if (column != kTextColumn || m_buildingWishListRow)
        return;
    QList<QTreeWidgetItem*> rows;
    for (int i = 0; i < ui->wishList->topLevelItemCount(); ++i)
        rows << ui->wishList->topLevelItem(i);
    Type* wishes = d.GetType(kWish);

    // Stored searches no row shows any more go. Texts compare without their
    // outer blanks, so a row that gained or lost a blank keeps its search
    // with its switches and filter.
    QSet<QString> shown;
    for (QTreeWidgetItem* row : rows)
        shown.insert(row->text(kTextColumn).trimmed());
    Data::Batch batch(&d);
    for (ItemPtr item : wishes->GetItems()) {
        if (shown.contains(item.AsString().trimmed()))
            continue;
        // Its row may now show another search: it stays for that.
        item.Disconnect(kNode);
        item.Remove();
    }

    // Rows showing a text no search has yet get a new one.
    for (QTreeWidgetItem* row : rows) {
        const QString text = row->text(kTextColumn).trimmed();
        if (text.isEmpty()) {
            QueueDeleteNode(row);
            return;
        }
        ItemPtr node = m_wishListRows.Node(row);
        if (const ItemPtr own = node[kWish]) {
            if (own.AsString().trimmed() == text && row->text(kTextColumn) != own.AsString()) {
                // The row shows exactly what it searches for.
                m_buildingWishListRow = true;
                row->setText(kTextColumn, own.AsString());
                m_buildingWishListRow = false;
            }
            continue;
        }
        if (wishes->HasItem(text))
            continue;
        ItemPtr item = wishes->GetItem(text);
        node += item;
        ShowWishListAction(text, true);
        if (auto* box = qobject_cast<QCheckBox*>(ui->wishList->itemWidget(row, kEnabledColumn)))
            if (box->isChecked())
                item += d.GetType(kEnabled)->GetGlobalNullItem();
        if (row->text(kTextColumn) != text) {
            m_buildingWishListRow = true;
            row->setText(kTextColumn, text);
            m_buildingWishListRow = false;
        }
    }

    // A row left without a search (its text is another row's) goes.
    for (QTreeWidgetItem* row : rows)
        if (!WishListItemOf(row))
            QueueDeleteNode(row);
}

void SearchForm::QueueDeleteNode(QTreeWidgetItem* row)
{
    // A key, not the row: the row may be gone by the time the call runs,
    // and another may stand at its address.
    const RowMirror::Key key = m_wishListRows.KeyOf(row);
    QMetaObject::invokeMethod(
        this,
        [this, key] {
            QTreeWidgetItem* row = m_wishListRows.Row(key);
            if (row && !WishListItemOf(row))
                DeleteNode(row);
        },
        Qt::QueuedConnection);
}

void SearchForm::OnWishListContextMenuRequested(QPoint point)
{
    QTreeWidgetItem* row = ui->wishList->itemAt(point);
    if (!row)
        return;
    const bool discarding = WishListItemOf(row).IsConnected(kDiscard);
    QMenu menu;
    menu.addAction(QIcon(":/icons/search_icon"), tr("Manual Search"), this, &SearchForm::OnManualSearch);
    menu.addAction(QIcon(":/icons/duplicate_icon"),
                   discarding ? tr("Show Repeated Results") : tr("Discard Repeated Results"), this,
                   &SearchForm::OnDiscardRepeatedResultsClicked);
    menu.addAction(QIcon(":/icons/wishlist_icon"), tr("Remove Wish List Search"), this,
                   &SearchForm::OnRemoveWishListItemRequested);
    // The entries act on the selection as it is when one is chosen.
    menu.exec(ui->wishList->viewport()->mapToGlobal(point));
}

void SearchForm::OnDiscardRepeatedResultsClicked()
{
    ItemPtr item = WishListItemOf(FirstSelectedWishListRow());
    if (!item)
        return;
    if (item.IsConnected(kDiscard)) {
        // Switching it on again starts from nobody.
        item.Disconnect(kDiscard);
        item[kReceived].Remove();
        return;
    }
    item += d.GetType(kDiscard)->GetGlobalNullItem();
    item += d.GetType(kReceived)->NewItem();
}

void SearchForm::OnRemoveWishListItemRequested()
{
    // Texts, not rows or items: each removal deletes a row.
    QStringList texts;
    for (QTreeWidgetItem* row : ui->wishList->selectedItems())
        if (const ItemPtr item = WishListItemOf(row))
            texts << item.AsString();
    Type* wishes = d.GetType(kWish);
    for (const QString& text : texts)
        wishes->HasItem(text).Remove();
}

void SearchForm::OnWishTabCloseRequested(int tabIndex)
{
    // The stored search stays: its next results open a new tab.
    CloseResultTab(ui->wishListTabControl, tabIndex);
}

void SearchForm::OnAddToWishListClicked()
{
    if (SearchResultsForm* page = GetCurrentSearchResultsForm())
        ToggleWishList(page);
}
