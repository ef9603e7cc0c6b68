#include "QRoomListItemWidget.h"

#include "ItemPtr.h"
#include "ServerNames.h"

namespace {

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

} // namespace

QRoomListItemWidget::QRoomListItemWidget(const QString& room) : QTreeWidgetItem(0), m_foldedName(room.toCaseFolded())
{
    setText(0, room);
}

void QRoomListItemWidget::SetTier(ItemPtr room)
{
    const int tier = Tier(room);
    if (tier == m_tier)
        return;
    m_tier = tier;
    // Any change of the name's cell lets a list sorted by name place the
    // row anew; the cell shows the tier by its font in any case.
    emitDataChanged();
}

void QRoomListItemWidget::SetCount(qint64 users)
{
    // The cell starts empty, which is 0.
    if (users == m_count)
        return;
    m_count = users;
    setText(1, users != 0 ? QString::number(users) : QString());
}

bool QRoomListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const auto& theirs = static_cast<const QRoomListItemWidget&>(other);
    const QTreeWidget* list = treeWidget();
    if (list && list->sortColumn() != 0)
        return m_count < theirs.m_count;
    if (m_tier != theirs.m_tier)
        return m_tier < theirs.m_tier;
    return m_foldedName < theirs.m_foldedName;
}
