#pragma once

#include <QTreeWidgetItem>

// A row of a room's user list: the user's flag, name, note mark, file count
// and speed. It keeps nothing but what it shows; sorting by a column other
// than the name looks both users up in the store by their names.
class QRoomUserListItemWidget : public QTreeWidgetItem
{
public:
    enum Column
    {
        SpacerColumn = 0,
        FlagColumn = 1,
        NameColumn = 2,
        NoteColumn = 3,
        FilesColumn = 4,
        SpeedColumn = 5
    };

    explicit QRoomUserListItemWidget(QTreeWidget* list);

    // Ascending order: country codes A to Z (empty first), users with a
    // note first, most files first, fastest first, or names A to Z; case is
    // ignored. Rows equal in the column compare equal either way.
    bool operator<(const QTreeWidgetItem& other) const override;
};
