#pragma once

#include <QObject>
#include <QTimer>
#include <climits>

class QTreeWidget;

// The toolbar's "Expand Folders" or "Expand Users" carried out on a results
// page a slice a turn, so that the switch never holds the window on a page
// of 50,000 rows. A slice opens or closes the rows of its kind (the folder
// rows under each user row, or the user rows) of top-level rows in their
// order, within the turn's budget that message handling draws on too
// (TurnBudget), and the next slice goes on from there. After a sort or a
// removal it looks over the page again from its first row; a row already
// as wanted costs a look. Switching again replaces a pass not finished.
// Rows arriving meanwhile come as the switch now says: the page reads it
// as it adds them.
//
// Used on the event-loop thread; a child of the page, which it dies with.
class SearchResultExpandPass : public QObject
{
    Q_OBJECT

public:
    // Rows a slice handles before it looks at the turn's budget, so that a
    // small page is done at once.
    static constexpr int SliceFloor = 2000;

    // A pass over the tree's folder rows, or over its user rows.
    SearchResultExpandPass(QTreeWidget* tree, bool folders, QObject* parent);

    // Opens or closes every row of the pass's kind, in place of a pass not
    // finished; the first slice at once.
    void Start(bool expand);
    bool IsRunning() const { return m_running; }
    // The most rows a slice handles; tests make a pass span turns on a
    // small page.
    void SetSliceRows(int rows) { m_sliceRows = rows; }

private:
    void Slice();

    QTreeWidget* m_tree;
    bool m_folders;
    bool m_expand = true;
    bool m_running = false;
    int m_next = 0;
    int m_sliceRows = INT_MAX;
    QTimer m_slices;
};
