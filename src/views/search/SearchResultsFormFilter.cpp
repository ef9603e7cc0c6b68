// The filter row of a results page: the whole page filtered as the text
// changes, the saved filters that every open page shares, the default
// filter new pages start with, and the filter help.
#include "SearchResultsForm.h"

#include <QComboBox>
#include <QLineEdit>
#include <QStyleOptionComboBox>
#include <QTreeWidget>
#include <memory>

#include "Data.h"
#include "FilterHelpDialog.h"
#include "SearchResultFilter.h"
#include "ServerNames.h"
#include "Settings.h"
#include "TurnSlice.h"
#include "ui_SearchResultsForm.h"

namespace {

const char* const kSavedFilter = "saved_filter";
const char* const kDefaultFilter = "default_search_filter";

} // namespace

QString SearchResultsForm::NormalisedFilter(const QString& text)
{
    return text.simplified().toLower();
}

void SearchResultsForm::InitSavedFilters()
{
    Type* saved = d.GetType(kSavedFilter);
    for (const ItemPtr& filter : saved->GetItems())
        ui->savedFiltersBox->addItem(filter.AsString());
    saved->AddItemAddedHandler(
        new EventHandler<SearchResultsForm, ItemPtr>(this, &SearchResultsForm::OnSavedFilterAdded));
    saved->AddItemRemovedHandler(
        new EventHandler<SearchResultsForm, ItemPtr>(this, &SearchResultsForm::OnSavedFilterRemoved));
}

void SearchResultsForm::OnFilterTextChanged(QString i_text)
{
    // A wish-list search keeps its filter for the pages it opens later.
    if (ItemPtr wish = PageItem()[ServerNames::WishListItem]) {
        if (i_text.isEmpty())
            wish.Disconnect("wish_list_item_filter_text");
        else
            wish += d.GetType("wish_list_item_filter_text")->GetItem(i_text);
    }
    ApplyFilter(i_text);
    UpdateFilterControls(i_text);
}

void SearchResultsForm::ApplyFilter(const QString& text)
{
    // A text typed while the last was still being applied replaces it.
    m_filterPass.Start(std::make_shared<const SearchResultFilter>(text));
    m_filterJob.Start();
}

bool SearchResultsForm::FilterSome(TurnSlice& slice)
{
    if (!m_filterPass.Run(ui->searchResultsTreeWidget, m_flatRows, slice))
        return false;
    if (m_alertWhenFiltered) {
        m_alertWhenFiltered = false;
        RaiseWishListAlert();
    }
    return true;
}

void SearchResultsForm::FilterWhole()
{
    m_filterJob.Stop();
    TurnSlice whole = TurnSlice::Whole();
    FilterSome(whole);
}

void SearchResultsForm::UpdateFilterControls(const QString& text)
{
    const bool saved = !d.GetType(kSavedFilter)->HasItem(NormalisedFilter(text)).IsNull();
    ui->saveFilterButton->setText(saved ? tr("Remove Filter") : tr("Save Filter"));
    // Only the very text is the default: no case or blanks are forgiven.
    // Set without a click, so the default itself is left alone.
    ui->defaultFilterBox->setChecked(!text.isEmpty() && GetSetting(kDefaultFilter) == text);
}

void SearchResultsForm::FitSavedFiltersBox()
{
    // Fixed, so that a long saved filter never widens the row.
    QComboBox* box = ui->savedFiltersBox;
    QStyleOptionComboBox option;
    option.initFrom(box);
    const QFontMetrics metrics = box->fontMetrics();
    const QSize text(metrics.horizontalAdvance(box->itemText(0)), metrics.height());
    const int needed = box->style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, box).width();
    box->setFixedWidth(qMax(m_savedFiltersWidth, needed));
}

void SearchResultsForm::OnClearFilterClicked()
{
    ui->filterEdit->clear();
}

void SearchResultsForm::OnSaveFilterClicked()
{
    const QString normalised = NormalisedFilter(ui->filterEdit->text());
    Type* saved = d.GetType(kSavedFilter);
    if (ItemPtr existing = saved->HasItem(normalised))
        existing.Remove();
    else if (!normalised.isEmpty())
        saved->GetItem(normalised);
}

void SearchResultsForm::OnSavedFilterAdded(ItemPtr filter)
{
    ui->savedFiltersBox->addItem(filter.AsString());
    // A saved filter changes no row, only what the controls say.
    UpdateFilterControls(ui->filterEdit->text());
}

void SearchResultsForm::OnSavedFilterRemoved(ItemPtr filter)
{
    // Entry 0 is the box's title, whatever a saved filter is called.
    const QString text = filter.AsString();
    for (int i = 1; i < ui->savedFiltersBox->count(); ++i) {
        if (ui->savedFiltersBox->itemText(i) == text) {
            ui->savedFiltersBox->removeItem(i);
            break;
        }
    }
    UpdateFilterControls(ui->filterEdit->text());
}

void SearchResultsForm::OnSavedFiltersBoxIndexChanged(int i_index)
{
    if (i_index <= 0)
        return;
    ui->filterEdit->setText(ui->savedFiltersBox->itemText(i_index));
    ui->savedFiltersBox->setCurrentIndex(0);
}

void SearchResultsForm::OnDefaultFilterBoxToggled(bool i_checked)
{
    const QString text = ui->filterEdit->text();
    if (i_checked && text.isEmpty()) {
        ui->defaultFilterBox->setChecked(false);
        return;
    }
    if (i_checked)
        SetSetting(kDefaultFilter, text);
    else
        RemoveSetting(kDefaultFilter);
}

void SearchResultsForm::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}
