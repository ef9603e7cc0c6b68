#pragma once

#include <QTreeWidgetItem>

class ItemPtr;

// A row of the room list: the room's name and its user count. Sorted by
// name, rooms the user owns come first, then those the user operates, then
// those the user belongs to, then the rest, each group by name ignoring
// case; sorted by count, as numbers.
class QRoomListItemWidget : public QTreeWidgetItem
{
public:
    explicit QRoomListItemWidget(QTreeWidget* list);

    // Takes the room's role tier from its markers. The rooms page calls it
    // whenever they change: the tier is kept on the row, so that sorting
    // thousands of rows needs no store look-up per comparison, and a
    // changed tier moves the row to its place in a list sorted by name.
    void SetTier(ItemPtr room);

    bool operator<(const QTreeWidgetItem& other) const override;
};
