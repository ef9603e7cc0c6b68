#pragma once

#include <QString>
#include <QTreeWidgetItem>

class ItemPtr;

// A row of the room list: the room's name and its user count. Sorted by
// name, rooms the user owns come first, then those the user operates, then
// those the user belongs to, then the rest, each group by name ignoring
// case; sorted by count, as numbers.
//
// The row keeps its sort keys beside what it shows: a server's list of tens
// of thousands of rooms is sorted with no store look-up and no conversion
// of a cell's text at each comparison.
class QRoomListItemWidget : public QTreeWidgetItem
{
public:
    // A row for the list to take in (addTopLevelItems), showing the room's
    // name.
    explicit QRoomListItemWidget(const QString& room);

    // Takes the room's role tier from its markers. The rooms page calls it
    // whenever they change; a changed tier moves the row to its place in a
    // list sorted by name.
    void SetTier(ItemPtr room);
    // The "Users" cell: empty for no users.
    void SetCount(qint64 users);

    bool operator<(const QTreeWidgetItem& other) const override;

private:
    int m_tier = 3;
    qint64 m_count = 0;
    QString m_foldedName;
};
