#include "SearchResultFilter.h"

#include <QTreeWidget>

#include "SearchResultListItem.h"

namespace {

// Every row of a page is one of these; another reads as a row with no text.
const SearchResultListItem& RowOf(const QTreeWidgetItem* row)
{
    static const SearchResultListItem blank;
    const SearchResultListItem* page = SearchResultListItem::Of(row);
    return page ? *page : blank;
}

// By place rather than by row: the tree finds a row it is handed by
// searching its siblings when they were sorted since it last looked, which
// over a whole page of 50,000 rows took half a second. Only a change costs
// the view a layout. Returns whether the row shows.
bool SetRowHidden(QTreeWidget* tree, int row, const QModelIndex& parent, bool hidden)
{
    if (tree->isRowHidden(row, parent) != hidden)
        tree->setRowHidden(row, parent, hidden);
    return !hidden;
}

} // namespace

SearchResultFilter::SearchResultFilter(const QString& text)
{
    m_filter.Parse(text);
    for (const QString& word : m_filter.GetIncludedWords())
        m_included << QStringMatcher(Subject(word));
    for (const QString& word : m_filter.GetExcludedWords())
        m_excluded << QStringMatcher(Subject(word));
}

QString SearchResultFilter::Subject(const QString& text)
{
    // Folding both sides finds exactly what a search ignoring case finds.
    return text.toCaseFolded();
}

bool SearchResultFilter::HoldsAll(const QString& subject, const Words& words)
{
    for (const QStringMatcher& word : words)
        if (word.indexIn(subject) < 0)
            return false;
    return true;
}

bool SearchResultFilter::HoldsAny(const QString& subject, const Words& words)
{
    for (const QStringMatcher& word : words)
        if (word.indexIn(subject) >= 0)
            return true;
    return false;
}

bool SearchResultFilter::Shows(const SearchResultListItem& flatRow) const
{
    return FileShows(flatRow, m_included);
}

bool SearchResultFilter::FileShows(const SearchResultListItem& row, const Words& missing) const
{
    if (row.HasFile() && !m_filter.AttributesMatch(row.Attributes()))
        return false;
    return !HoldsAny(row.FilterText(), m_excluded) && HoldsAll(row.FilterText(), missing);
}

int SearchResultFilter::ApplyToFlatRow(QTreeWidget* tree, int row) const
{
    SetRowHidden(tree, row, QModelIndex(), !Shows(RowOf(tree->topLevelItem(row))));
    return 1;
}

int SearchResultFilter::ApplyToUserRow(QTreeWidget* tree, int row) const
{
    return ApplyToUser(tree, row, nullptr);
}

int SearchResultFilter::ApplyToFolders(QTreeWidget* tree, int row, const QSet<const QTreeWidgetItem*>& folders) const
{
    return ApplyToUser(tree, row, &folders);
}

int SearchResultFilter::ApplyToUser(QTreeWidget* tree, int row, const QSet<const QTreeWidgetItem*>* folders) const
{
    const QTreeWidgetItem* user = tree->topLevelItem(row);
    if (!user)
        return 0;
    int rows = 1 + user->childCount();
    const QModelIndex userIndex = tree->model()->index(row, 0);
    bool anyFolderShown = false;
    for (int f = 0; f < user->childCount(); ++f) {
        const bool shown = !folders || folders->contains(user->child(f))
                               ? ApplyToFolder(tree, *user->child(f), f, userIndex, rows)
                               : !tree->isRowHidden(f, userIndex);
        anyFolderShown = shown || anyFolderShown;
    }
    SetRowHidden(tree, row, QModelIndex(), !anyFolderShown);
    return rows;
}

bool SearchResultFilter::ApplyToFolder(QTreeWidget* tree, const QTreeWidgetItem& row, int f,
                                       const QModelIndex& userIndex, int& rows) const
{
    const SearchResultListItem& folder = RowOf(&row);
    // The folder's path takes the words it holds; the files must hold the
    // rest.
    if (HoldsAny(folder.FilterText(), m_excluded))
        return SetRowHidden(tree, f, userIndex, true);
    Words missing;
    for (const QStringMatcher& word : m_included)
        if (word.indexIn(folder.FilterText()) < 0)
            missing << word;
    const QModelIndex folderIndex = tree->model()->index(f, 0, userIndex);
    rows += folder.childCount();
    int shown = 0;
    for (int i = 0; i < folder.childCount(); ++i)
        shown += SetRowHidden(tree, i, folderIndex, !FileShows(RowOf(folder.child(i)), missing));
    return SetRowHidden(tree, f, userIndex, !(shown > 0 && shown >= m_filter.MinFilesInFolder()));
}
