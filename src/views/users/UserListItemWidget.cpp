#include "UserListItemWidget.h"

#include <QIcon>

#include "common/PeerText.h"

UserListItemWidget::UserListItemWidget(const QString& user) : QTreeWidgetItem(RowType), m_key(user.toCaseFolded())
{
    SetName(this, user);
    SetOnline(false);
}

void UserListItemWidget::SetName(QTreeWidgetItem* row, const QString& user)
{
    row->setText(0, PeerText::Line(user));
    row->setData(0, NameRole, user);
}

QString UserListItemWidget::NameOf(const QTreeWidgetItem* row)
{
    return row->data(0, NameRole).toString();
}

void UserListItemWidget::SetOnline(bool online)
{
    // One icon of each kind for all rows: a login burst sets thousands.
    static const QIcon onlineIcon(":/icons/online_icon");
    static const QIcon offlineIcon(":/icons/offline_icon");
    m_online = online;
    setIcon(0, online ? onlineIcon : offlineIcon);
}

bool UserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    if (other.type() != RowType)
        return text(0).compare(other.text(0), Qt::CaseInsensitive) < 0;
    const auto& row = static_cast<const UserListItemWidget&>(other);
    if (m_online != row.m_online)
        return m_online;
    return m_key < row.m_key;
}
