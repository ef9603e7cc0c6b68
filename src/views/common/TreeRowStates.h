#pragma once

#include <QItemSelection>
#include <QList>
#include <QModelIndex>
#include <QSet>
#include <vector>

class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

// What a tree view keeps of the rows below one row (hidden, open, selected,
// current), which it forgets of rows taken out of the tree: read before they
// are taken out, set again once they are back. So that many rows can leave
// from under a row in one removal and one insertion: the model looks at
// every row the view keeps a place for (each open, hidden or selected row,
// tens of thousands on a page with its folders open) at each removal, which
// row by row is that many looks per row gone.
//
// Used on the event-loop thread, between taking the rows out and putting
// them back, with no other change to the rows below the row meanwhile.
class TreeRowStates
{
public:
    // Reads the states of the rows below parent, at every depth, but the
    // rows in gone and those below them.
    TreeRowStates(QTreeWidget* tree, QTreeWidgetItem* parent, const QSet<QTreeWidgetItem*>& gone);

    // The parent's own rows that stay, in their order.
    const QList<QTreeWidgetItem*>& Kept() const { return m_kept; }
    // Takes every row out from under the parent, the view not told of the
    // selection and current row it loses with them: Restore gives them
    // back.
    void TakeOut();
    // Sets the states again, the kept rows being back under the parent in
    // their order. The selection and the current row go to the tree's
    // record and the selection model, not to the view: told, it would lay
    // the whole page out at once to find where they lie (and scroll to
    // the current row), when the next turn lays out and paints it whole
    // anyway.
    void Restore();

    // Until the next turn lays the view out, rows opened, closed, hidden or
    // shown are only noted; otherwise each opened or closed row moves every
    // row below it in the view's list, which over a page is quadratic.
    static void DeferLayout(QTreeView* view);

private:
    struct State
    {
        bool hidden = false;
        bool expanded = false;
        bool selected = false;
    };
    void Read(QTreeWidgetItem* parent, const QModelIndex& under, const QSet<QTreeWidgetItem*>& gone);
    // The states from next on, for the rows below parent; next moves past
    // them.
    // The selection and the current row, set once every row is open.
    struct Placed
    {
        QItemSelection selected;
        QModelIndex current;
    };
    void Set(QTreeWidgetItem* parent, const QModelIndex& under, size_t& next, Placed& placed);
    // The view deaf to its selection model meanwhile.
    class Quiet;

    QTreeWidget* m_tree;
    QTreeWidgetItem* m_parent;
    QTreeWidgetItem* m_current;
    QList<QTreeWidgetItem*> m_kept;
    // Depth first, as the kept rows lie.
    std::vector<State> m_states;
};
