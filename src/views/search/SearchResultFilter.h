#pragma once

#include <QString>
#include <functional>

#include "FilterParser.h"
#include "ItemPtr.h"

class QTreeWidgetItem;

// Which rows of a results page a filter text shows. A file shows when no
// excluded word is in its shown folder path or its name, every required
// word is in one of the two (a word never straddles them), and its result
// meets the attribute conditions; a folder shows when at least one of its
// files does, and at least the minimum number; a user shows when one of
// its folders does. The arrival of a reply and a change of the text filter
// by these same rules, so a row shown on arrival stays shown when the
// same text is applied to the whole page.
class SearchResultFilter
{
public:
    // A file row's "search_result", asked for only when the filter has
    // attribute conditions.
    typedef std::function<ItemPtr(const QTreeWidgetItem*)> ResultOf;

    explicit SearchResultFilter(const QString& text);

    // A flat row: the remote folder and the file name, joined by "\".
    bool Shows(const QString& remoteFolder, const QString& fileName, ItemPtr result) const;

    // Shows or hides a user row of the grouped tree with its folder and file
    // rows.
    void Apply(QTreeWidgetItem* userRow, const ResultOf& resultOf) const;
    // Shows or hides a flat row showing this result.
    void ApplyToFlatRow(QTreeWidgetItem* row, ItemPtr result) const;

private:
    FilterParser m_filter;
};
