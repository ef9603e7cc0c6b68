#pragma once

class QAbstractItemModel;
class QModelIndex;
class QObject;

// Where a pass over a results tree's top-level rows a slice at a time goes
// on, and, for a pass that goes on below them, at which row below the one
// it is at; kept across what the tree goes through between two slices:
// rows removed before the place move it back by as many, so that the rows
// not reached are neither passed over nor looked at again; rows put in
// before it, a sort or a reset take it back to where rows not done may now
// lie. The rows a pass did carry its number (SearchResultListItem::PassDone),
// so going back costs a look at each, never its work again: a page taking
// places back and sorting once a second still sees its pass end.
class SearchResultPassPlace
{
public:
    // The top-level row the pass looks at next.
    int Next() const { return m_next; }
    // The row below Next() the pass looks at next.
    int Below() const { return m_below; }
    // On to the next top-level row, from its first row below.
    void Advance()
    {
        ++m_next;
        m_below = 0;
    }
    void AdvanceBelow() { ++m_below; }
    void Restart() { m_next = m_below = 0; }
    // Keeps the place as the model's rows change, for as long as context
    // lives; the place must live as long.
    void Follow(QAbstractItemModel* model, QObject* context);

    void RowsRemoved(const QModelIndex& parent, int first, int last);
    void RowsInserted(const QModelIndex& parent, int first);

private:
    // The level the rows changed at (the top-level rows, or those below the
    // one the pass is at) and the place there; null when neither.
    int* PlaceAt(const QModelIndex& parent);

    int m_next = 0;
    int m_below = 0;
};
