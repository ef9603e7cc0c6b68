#include "QRoomListItemWidget.h"

#include "ItemPtr.h"
#include "ServerNames.h"

namespace {

const int kTierRole = Qt::UserRole;

// 0 for the rooms the user owns, then 1 operated, 2 member, 3 others.
int Tier(ItemPtr room)
{
    if (room.IsConnected(ServerNames::IsOwner))
        return 0;
    if (room.IsConnected(ServerNames::IsOperator))
        return 1;
    if (room.IsConnected(ServerNames::IsMember))
        return 2;
    return 3;
}

int RowTier(const QTreeWidgetItem& row)
{
    const QVariant tier = row.data(0, kTierRole);
    return tier.isValid() ? tier.toInt() : 3;
}

} // namespace

QRoomListItemWidget::QRoomListItemWidget(QTreeWidget* list) : QTreeWidgetItem(list, 0) {}

void QRoomListItemWidget::SetTier(ItemPtr room)
{
    setData(0, kTierRole, Tier(room));
}

bool QRoomListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* list = treeWidget();
    if (list && list->sortColumn() != 0) {
        // An empty or unreadable count is 0.
        return text(1).toLongLong() < other.text(1).toLongLong();
    }
    const int mine = RowTier(*this);
    const int theirs = RowTier(other);
    if (mine != theirs)
        return mine < theirs;
    return text(0).compare(other.text(0), Qt::CaseInsensitive) < 0;
}
