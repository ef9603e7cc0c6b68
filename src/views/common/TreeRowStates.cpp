#include "TreeRowStates.h"

#include <QItemSelection>
#include <QTreeWidget>

namespace {

// The model's index of a row, found by its place among its siblings; the
// root's is the invalid index.
QModelIndex IndexOf(QTreeWidget* tree, QTreeWidgetItem* row)
{
    if (!row || row == tree->invisibleRootItem())
        return QModelIndex();
    QTreeWidgetItem* parent = row->parent();
    const int place = parent ? parent->indexOfChild(row) : tree->indexOfTopLevelItem(row);
    return tree->model()->index(place, 0, IndexOf(tree, parent));
}

} // namespace

class TreeRowStates::Quiet
{
public:
    explicit Quiet(QTreeView* view) : m_view(view), m_selection(view->selectionModel())
    {
        if (!m_selection)
            return;
        // The view's own slots only: the tree's record of which rows are
        // selected still hears of the selection.
        m_selectionHeard = QObject::disconnect(m_selection, SIGNAL(selectionChanged(QItemSelection, QItemSelection)),
                                               m_view, SLOT(selectionChanged(QItemSelection, QItemSelection)));
        m_currentHeard = QObject::disconnect(m_selection, SIGNAL(currentChanged(QModelIndex, QModelIndex)), m_view,
                                             SLOT(currentChanged(QModelIndex, QModelIndex)));
    }
    ~Quiet()
    {
        if (m_selectionHeard)
            QObject::connect(m_selection, SIGNAL(selectionChanged(QItemSelection, QItemSelection)), m_view,
                             SLOT(selectionChanged(QItemSelection, QItemSelection)));
        if (m_currentHeard)
            QObject::connect(m_selection, SIGNAL(currentChanged(QModelIndex, QModelIndex)), m_view,
                             SLOT(currentChanged(QModelIndex, QModelIndex)));
    }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    QTreeView* m_view;
    QItemSelectionModel* m_selection;
    bool m_selectionHeard = false;
    bool m_currentHeard = false;
};

TreeRowStates::TreeRowStates(QTreeWidget* tree, QTreeWidgetItem* parent, const QSet<QTreeWidgetItem*>& gone)
    : m_tree(tree), m_parent(parent), m_current(tree->currentItem())
{
    Read(parent, IndexOf(tree, parent), gone);
    for (int i = 0; i < parent->childCount(); ++i)
        if (!gone.contains(parent->child(i)))
            m_kept << parent->child(i);
}

void TreeRowStates::Read(QTreeWidgetItem* parent, const QModelIndex& under, const QSet<QTreeWidgetItem*>& gone)
{
    // By place, never by row: a row looks itself up among its siblings.
    QAbstractItemModel* model = m_tree->model();
    for (int i = 0; i < parent->childCount(); ++i) {
        QTreeWidgetItem* row = parent->child(i);
        if (gone.contains(row))
            continue;
        const QModelIndex index = model->index(i, 0, under);
        State state;
        state.hidden = m_tree->isRowHidden(i, under);
        state.expanded = row->childCount() > 0 && m_tree->isExpanded(index);
        state.selected = row->isSelected();
        m_states.push_back(state);
        if (row->childCount() > 0)
            Read(row, index, gone);
    }
}

void TreeRowStates::TakeOut()
{
    Quiet quiet(m_tree);
    m_parent->takeChildren();
}

void TreeRowStates::Restore()
{
    DeferLayout(m_tree);
    size_t next = 0;
    Placed placed;
    Set(m_parent, IndexOf(m_tree, m_parent), next, placed);
    // Last, lest the view hear of them before every row is open again.
    Quiet quiet(m_tree);
    if (!placed.selected.isEmpty())
        m_tree->selectionModel()->select(placed.selected, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (placed.current.isValid())
        m_tree->selectionModel()->setCurrentIndex(placed.current, QItemSelectionModel::NoUpdate);
}

void TreeRowStates::Set(QTreeWidgetItem* parent, const QModelIndex& under, size_t& next, Placed& placed)
{
    QAbstractItemModel* model = m_tree->model();
    // Runs of selected rows as ranges, chosen in one go.
    int run = -1;
    const int count = parent->childCount();
    for (int i = 0; i < count && next < m_states.size(); ++i) {
        QTreeWidgetItem* row = parent->child(i);
        const State state = m_states[next++];
        const QModelIndex index = model->index(i, 0, under);
        if (state.selected && run < 0) {
            run = i;
        } else if (!state.selected && run >= 0) {
            placed.selected.select(model->index(run, 0, under), model->index(i - 1, 0, under));
            run = -1;
        }
        if (state.hidden)
            m_tree->setRowHidden(i, under, true);
        if (state.expanded)
            m_tree->expand(index);
        if (row == m_current)
            placed.current = index;
        if (row->childCount() > 0)
            Set(row, index, next, placed);
    }
    if (run >= 0)
        placed.selected.select(model->index(run, 0, under), model->index(count - 1, 0, under));
}

void TreeRowStates::DeferLayout(QTreeView* view)
{
    // A row's hidden state set, even as it was, asks for a layout at the
    // next turn.
    if (view->model() && view->model()->rowCount(view->rootIndex()) > 0)
        view->setRowHidden(0, view->rootIndex(), view->isRowHidden(0, view->rootIndex()));
}
