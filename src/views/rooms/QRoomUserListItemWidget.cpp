#include "QRoomUserListItemWidget.h"

#include "Data.h"

namespace {

ItemPtr UserOf(::Type* users, const QTreeWidgetItem& row)
{
    return users->HasItem(row.text(QRoomUserListItemWidget::NameColumn));
}

} // namespace

QRoomUserListItemWidget::QRoomUserListItemWidget(QTreeWidget* list) : QTreeWidgetItem(list, 0)
{
}

bool QRoomUserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* list = treeWidget();
    const int column = list ? list->sortColumn() : NameColumn;
    if (column != FlagColumn && column != NoteColumn && column != FilesColumn && column != SpeedColumn)
        return text(NameColumn).compare(other.text(NameColumn), Qt::CaseInsensitive) < 0;

    ::Type* users = ::d.GetType("user");
    const ItemPtr mine = UserOf(users, *this);
    const ItemPtr theirs = UserOf(users, other);
    switch (column) {
    case FlagColumn:
        return mine["country_code"].AsString().compare(theirs["country_code"].AsString(), Qt::CaseInsensitive) < 0;
    case NoteColumn:
        return mine.IsConnected("user_note") && !theirs.IsConnected("user_note");
    case FilesColumn:
        return mine["shared_file_count"].AsInt64() > theirs["shared_file_count"].AsInt64();
    default:
        return mine["average_download_speed"].AsInt64() > theirs["average_download_speed"].AsInt64();
    }
}
