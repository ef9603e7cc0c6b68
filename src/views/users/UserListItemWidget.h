#pragma once

#include <QTreeWidgetItem>

// A row of the user list. Whatever column the list shows as sorted, online
// users come first, then offline ones, each group by name ignoring case.
class UserListItemWidget : public QTreeWidgetItem
{
public:
    explicit UserListItemWidget(QTreeWidget* list);
    // A row for a list to place itself (OrderedRows::Insert).
    UserListItemWidget();

    // The online or offline icon and the state the order reads. The users
    // page sets it at every change of the user's state: kept on the row, a
    // sort of thousands of rows needs no store look-up per comparison.
    void SetOnline(bool online);
    bool IsOnline() const;

    bool operator<(const QTreeWidgetItem& other) const override;
};
