#pragma once

#include <QObject>
#include <QTimer>
#include <climits>

#include "SearchResultPassPlace.h"

class QTreeWidget;

// The toolbar's "Expand Folders" or "Expand Users" carried out on a results
// page a slice a turn, so that the switch never holds the window on a page
// of 50,000 rows. A slice opens or closes the rows of its kind (the folder
// rows under each user row, or the user rows) in their order, within the
// turn's budget that message handling draws on too (TurnBudget), and the
// next slice goes on from there (SearchResultPassPlace), be it among one
// big sharer's folders: a page taking places back between two slices moves
// the place with the rows, and after a sort the pass looks over the page
// again, passing over the user rows it did. Switching again replaces a pass
// not finished. Rows arriving meanwhile come as the switch now says: the
// page reads it as it adds them.
//
// Used on the event-loop thread; a child of the page, which it dies with.
class SearchResultExpandPass : public QObject
{
    Q_OBJECT

public:
    // Rows a slice opens or closes before it looks at the turn's budget, so
    // that a small page is done at once.
    static constexpr int SliceFloor = 2000;

    // A pass over the tree's folder rows, or over its user rows.
    SearchResultExpandPass(QTreeWidget* tree, bool folders, QObject* parent);

    // Opens or closes every row of the pass's kind, in place of a pass not
    // finished; the first slice at once.
    void Start(bool expand);
    bool IsRunning() const { return m_running; }
    // The most rows a slice opens or closes; tests make a pass span turns on
    // a small page.
    void SetSliceRows(int rows) { m_sliceRows = rows; }

private:
    void Slice();

    QTreeWidget* m_tree;
    bool m_folders;
    bool m_expand = true;
    bool m_running = false;
    int m_number = 0;
    int m_sliceRows = INT_MAX;
    SearchResultPassPlace m_place;
    QTimer m_slices;
};
