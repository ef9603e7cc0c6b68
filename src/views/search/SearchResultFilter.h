#pragma once

#include <QSet>
#include <QString>
#include <QStringMatcher>
#include <QVector>

#include "FilterParser.h"

class QModelIndex;
class QTreeWidget;
class QTreeWidgetItem;
class SearchResultListItem;

// Which rows of a results page a filter text shows. A file shows when no
// excluded word is in its shown folder path or its name, every required
// word is in one of the two (a word never straddles them), and its result
// meets the attribute conditions; a folder shows when at least one of its
// files does, and at least the minimum number; a user shows when one of
// its folders does. A flat row shows when its remote folder and name,
// joined by "\", hold the words and its result the conditions. The arrival
// of a reply and a change of the text filter by these same rules, so a row
// shown on arrival stays shown when the same text is applied to the whole
// page.
//
// Rows are tested by the texts they keep in the filter's form and by their
// files' kept attributes, and shown or hidden by their place in the tree,
// however its rows were last sorted. A whole page is filtered in slices by
// SearchResultFilterPass.
class SearchResultFilter
{
public:
    explicit SearchResultFilter(const QString& text);

    // A text in the form rows keep for the filter: case-folded, so that
    // a word is found in it as the language finds it, ignoring case,
    // without folding it again at every key.
    static QString Subject(const QString& text);

    // Whether a flat row shows.
    bool Shows(const SearchResultListItem& flatRow) const;

    // Shows or hides the tree's top-level row at that place: a flat row, or
    // a user row with its folder and file rows. Returns the rows looked at.
    int ApplyToFlatRow(QTreeWidget* tree, int row) const;
    int ApplyToUserRow(QTreeWidget* tree, int row) const;
    // Of a user row filtered by this text before, only the folder rows
    // given with their files, and the user row by all its folders: what a
    // reply added to or took from a big sharer's row costs what it touched.
    int ApplyToFolders(QTreeWidget* tree, int row, const QSet<const QTreeWidgetItem*>& folders) const;

private:
    // A word in the subjects' form, with the table that finds it in one
    // pass over a text.
    typedef QVector<QStringMatcher> Words;

    // Whether every word is in the subject; whether any is.
    static bool HoldsAll(const QString& subject, const Words& words);
    static bool HoldsAny(const QString& subject, const Words& words);
    // Whether a file row, or a flat row, shows, holding the words its
    // folder row does not (a flat row holds them all in its own text).
    bool FileShows(const SearchResultListItem& row, const Words& missing) const;
    // Shows or hides the folder row, at that place under the user row, with
    // its files; whether it shows. Adds the rows looked at to rows.
    bool ApplyToFolder(QTreeWidget* tree, const QTreeWidgetItem& folder, int place, const QModelIndex& user,
                       int& rows) const;
    // Folders null: all of them.
    int ApplyToUser(QTreeWidget* tree, int row, const QSet<const QTreeWidgetItem*>* folders) const;

    FilterParser m_filter;
    Words m_included;
    Words m_excluded;
};
