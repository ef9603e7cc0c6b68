#include "SearchResultExpandPass.h"

#include <QTreeWidget>

#include "TurnSlice.h"

SearchResultExpandPass::SearchResultExpandPass(QTreeWidget* tree, bool folders, QObject* parent)
    : QObject(parent), m_tree(tree), m_folders(folders)
{
    m_slices.setSingleShot(true);
    m_slices.setInterval(0);
    connect(&m_slices, &QTimer::timeout, this, &SearchResultExpandPass::Slice);
    // A sort or a removal between two slices moves rows not reached yet to
    // before where the pass goes on.
    const auto rewind = [this] { m_next = 0; };
    QAbstractItemModel* model = tree->model();
    connect(model, &QAbstractItemModel::layoutChanged, this, rewind);
    connect(model, &QAbstractItemModel::rowsRemoved, this, rewind);
    connect(model, &QAbstractItemModel::modelReset, this, rewind);
}

void SearchResultExpandPass::Start(bool expand)
{
    m_expand = expand;
    m_next = 0;
    m_running = true;
    Slice();
}

void SearchResultExpandPass::Slice()
{
    m_slices.stop();
    // A row's hidden state set, even as it was, has the view lay out its
    // rows once at the next turn; until then it only notes each row opened
    // or closed, where it would otherwise move every row below that one in
    // its list, which over a page is quadratic.
    if (m_tree->topLevelItemCount() > 0)
        m_tree->setRowHidden(0, QModelIndex(), m_tree->isRowHidden(0, QModelIndex()));
    TurnSlice slice(SliceFloor, m_sliceRows);
    while (m_next < m_tree->topLevelItemCount() && slice.More()) {
        QTreeWidgetItem* user = m_tree->topLevelItem(m_next++);
        if (!m_folders) {
            if (user->isExpanded() != m_expand)
                user->setExpanded(m_expand);
            slice.Step();
            continue;
        }
        for (int f = 0; f < user->childCount(); ++f) {
            QTreeWidgetItem* folder = user->child(f);
            if (folder->isExpanded() != m_expand)
                folder->setExpanded(m_expand);
        }
        slice.Step(qMax(1, user->childCount()));
    }
    m_running = m_next < m_tree->topLevelItemCount();
    if (m_running)
        m_slices.start();
}
