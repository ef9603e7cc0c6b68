#include "UserListItemWidget.h"

#include <QIcon>

namespace {

const int kOnlineRole = Qt::UserRole;

bool RowOnline(const QTreeWidgetItem& row)
{
    return row.data(0, kOnlineRole).toBool();
}

} // namespace

UserListItemWidget::UserListItemWidget(QTreeWidget* list) : QTreeWidgetItem(list, 0)
{
}

UserListItemWidget::UserListItemWidget() : QTreeWidgetItem(0)
{
}

void UserListItemWidget::SetOnline(bool online)
{
    // One icon of each kind for all rows: a login burst sets thousands.
    static const QIcon onlineIcon(":/icons/online_icon");
    static const QIcon offlineIcon(":/icons/offline_icon");
    setData(0, kOnlineRole, online);
    setIcon(0, online ? onlineIcon : offlineIcon);
}

bool UserListItemWidget::IsOnline() const
{
    return RowOnline(*this);
}

bool UserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const bool mine = RowOnline(*this);
    const bool theirs = RowOnline(other);
    if (mine != theirs)
        return mine;
    return text(0).compare(other.text(0), Qt::CaseInsensitive) < 0;
}
