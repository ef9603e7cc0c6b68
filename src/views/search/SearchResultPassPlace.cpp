#include "SearchResultPassPlace.h"

#include <QAbstractItemModel>
#include <algorithm>

void SearchResultPassPlace::Follow(QAbstractItemModel* model, QObject* context)
{
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, context,
                     [this](const QModelIndex& parent, int first, int last) { RowsRemoved(parent, first, last); });
    QObject::connect(model, &QAbstractItemModel::rowsInserted, context,
                     [this](const QModelIndex& parent, int first, int) { RowsInserted(parent, first); });
    const auto restart = [this] { Restart(); };
    QObject::connect(model, &QAbstractItemModel::rowsMoved, context, restart);
    QObject::connect(model, &QAbstractItemModel::layoutChanged, context, restart);
    QObject::connect(model, &QAbstractItemModel::modelReset, context, restart);
}

int* SearchResultPassPlace::PlaceAt(const QModelIndex& parent)
{
    if (!parent.isValid())
        return &m_next;
    // Rows deeper down, or below another top-level row, leave both places
    // where they were.
    if (!parent.parent().isValid() && parent.row() == m_next)
        return &m_below;
    return nullptr;
}

void SearchResultPassPlace::RowsRemoved(const QModelIndex& parent, int first, int last)
{
    int* place = PlaceAt(parent);
    if (!place || first > *place)
        return;
    // The row the pass was at gone: the one now there is new to it.
    if (place == &m_next && last >= m_next)
        m_below = 0;
    *place -= std::min(last + 1, *place) - first;
}

void SearchResultPassPlace::RowsInserted(const QModelIndex& parent, int first)
{
    int* place = PlaceAt(parent);
    if (!place || first > *place)
        return;
    // Rows put back may be rows the pass has not done yet.
    *place = first;
    if (place == &m_next)
        m_below = 0;
}
