#pragma once

#include <QTreeWidgetItem>

class ItemPtr;

// A row of a room's user list: the user's flag, name, note mark, file count
// and speed. It sorts by what it shows: the country, the figures and the
// note mark it was given are kept on it, so that a list of thousands sorts
// without looking every user up in the store at every comparison.
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

    // Name, flag and figures as the user has them now, and the note mark.
    void Show(ItemPtr user);
    void SetNote(bool hasNote);

    // Ascending order: country codes A to Z (empty first), users with a
    // note first, most files first, fastest first, or names A to Z; case is
    // ignored. Rows equal in the column compare equal either way.
    bool operator<(const QTreeWidgetItem& other) const override;
};
