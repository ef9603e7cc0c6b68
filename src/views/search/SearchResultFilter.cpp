#include "SearchResultFilter.h"

#include <QTreeWidgetItem>

#include "PeerNames.h"
#include "SearchResultListItem.h"

namespace {

// Every change of a row's visibility makes the tree lay out all its rows
// again; a row that keeps its state need not cost that.
void SetHidden(QTreeWidgetItem* row, bool hidden)
{
    if (row->isHidden() != hidden)
        row->setHidden(hidden);
}

} // namespace

SearchResultFilter::SearchResultFilter(const QString& text)
{
    m_filter.Parse(text);
}

bool SearchResultFilter::Shows(const QString& remoteFolder, const QString& fileName, ItemPtr result) const
{
    return m_filter.IsMatching(remoteFolder + QLatin1Char('\\') + fileName, nullptr, result) == FilterParser::Matching;
}

void SearchResultFilter::ApplyToFlatRow(QTreeWidgetItem* row, ItemPtr result) const
{
    SetHidden(row, !Shows(result[PeerNames::SearchResultFileFolder].AsString(),
                          row->text(SearchResultListItem::FileColumn), result));
}

void SearchResultFilter::Apply(QTreeWidgetItem* userRow, const ResultOf& resultOf) const
{
    bool anyFolderShown = false;
    for (int f = 0; f < userRow->childCount(); ++f) {
        QTreeWidgetItem* folderRow = userRow->child(f);
        // The folder's path takes the words it holds; the files must hold
        // the rest.
        FilterParser remainder;
        if (m_filter.IsMatching(folderRow->text(SearchResultListItem::FolderColumn), &remainder, ItemPtr()) ==
            FilterParser::Rejected) {
            SetHidden(folderRow, true);
            continue;
        }
        const bool needsResult = remainder.HasAttributes();
        int shown = 0;
        for (int i = 0; i < folderRow->childCount(); ++i) {
            QTreeWidgetItem* fileRow = folderRow->child(i);
            const ItemPtr result = needsResult ? resultOf(fileRow) : ItemPtr();
            const bool show = remainder.IsMatching(fileRow->text(SearchResultListItem::FileColumn), nullptr, result) ==
                              FilterParser::Matching;
            SetHidden(fileRow, !show);
            if (show)
                ++shown;
        }
        const bool showFolder = shown > 0 && shown >= remainder.MinFilesInFolder();
        SetHidden(folderRow, !showFolder);
        anyFolderShown = anyFolderShown || showFolder;
    }
    SetHidden(userRow, !anyFolderShown);
}
