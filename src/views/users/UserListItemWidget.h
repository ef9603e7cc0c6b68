#pragma once

#include <QString>
#include <QTreeWidgetItem>

// A row of the user list. Whatever column the list shows as sorted, online
// users come first, then offline ones, each group by name ignoring case.
class UserListItemWidget : public QTreeWidgetItem
{
public:
    static constexpr int RowType = QTreeWidgetItem::UserType + 1;

    // A row for a list to place itself (OrderedRows::Insert), showing the
    // user offline.
    explicit UserListItemWidget(const QString& user);

    // The online or offline icon and the state the order reads. The users
    // page sets it at every change of the user's state: kept on the row, a
    // sort of thousands of rows needs no store look-up per comparison.
    void SetOnline(bool online);
    bool IsOnline() const { return m_online; }

    bool operator<(const QTreeWidgetItem& other) const override;

    // Rows of every list of the users page show the name as peer text (its
    // controls visible, its direction isolated) and keep the name itself
    // for look-ups.
    static constexpr int NameRole = Qt::UserRole;
    static void SetName(QTreeWidgetItem* row, const QString& user);
    static QString NameOf(const QTreeWidgetItem* row);

private:
    bool m_online = false;
    // The name with its case folded, made once: a login burst compares
    // rows some hundred thousand times.
    QString m_key;
};
