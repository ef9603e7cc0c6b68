#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "DataHandler.h"
#include "DataLoadedEventHandler.h"
#include "EventHandler.h"
#include "ItemPtr.h"
#include "SlicedJob.h"
#include "common/RowMirror.h"

class QTreeWidget;
class QTreeWidgetItem;
class Ui_UserListForm;
class UserInfoForm;
class UserListItemWidget;

// The users page: the own user list with each user's state, files, speed,
// groups and note; the users the own files are not shared with; the
// ignored users; the users whose coming online raises an alert; and a tab
// per opened user information view. Every list follows the store, so
// whoever changes a user's list, note, ignore or share state is shown here
// without calling the page. It also answers other users' requests for the
// own user information and carries out the user list's toolbar actions.
class UserListForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit UserListForm(QWidget* parent = nullptr);
    ~UserListForm() override;

    // Declares the alert marker and its saving; before the data file loads.
    void Init();
    // Fills the lists from the store and follows it from then on.
    void DataLoaded() override;

    void UpdateUserGroupsDisplay(QString user);
    // The note as the user list shows it: its first line, and " ..." when
    // there is more.
    static QString FirstLineOf(QString text);
    // The user's information view, opened (and the user asked) when there
    // is none yet. Null before the data is loaded.
    UserInfoForm* GetUserInfoForm(QString user);

    // Opens the user's information and brings it to the front (the per-user
    // menu's "Get User Info"); nothing before the page exists.
    static void ShowUserInfo(const QString& user);
    // The listed users' statistics requests after a login, a slice per turn:
    // tests count its slices and steps.
    SlicedJob& StatsJob() { return m_statsJob; }

    // Store handlers, each called with the user item.
    void OnUserOnline(ItemPtr user);
    void OnUserOffline(ItemPtr user);
    void OnUserAddedToList(ItemPtr user);
    void OnUserRemovedFromList(ItemPtr user);
    void OnUserUnshared(ItemPtr user);
    void OnUserReshared(ItemPtr user);
    void OnUserIgnored(ItemPtr user);
    void OnUserUnignored(ItemPtr user);
    void OnUserNoteChanged(ItemPtr user);
    void OnUserNoteRemoved(ItemPtr user);
    void OnUserOnlineAlertAdded(ItemPtr user);
    void OnUserOnlineAlertRemoved(ItemPtr user);
    void OnUserGroupAdded(ItemPtr user);
    void OnUserGroupRemoved(ItemPtr user);
    void OnUserSharedFileCount(ItemPtr user);
    void OnUserAverageSpeed(ItemPtr user);

public slots:
    void OnUserListContextMenuRequested(QPoint i_point);
    void OnUnsharedListContextMenuRequested(QPoint i_point);
    void OnIgnoredListContextMenuRequested(QPoint i_point);
    void OnOnlineAlertListContextMenuRequested(QPoint i_point);
    void OnUserItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnConnected();
    void OnUserInfoTabCloseRequested(int i_index);
    void OnUserInfoRequested(QString i_user);
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);

private:
    // Rows (UserListFormRows.cpp).
    UserListItemWidget* UserRow(ItemPtr user) const;
    void BuildUserListRow(ItemPtr user, bool added);
    void BuildPlainRow(QTreeWidget* list, ItemPtr user, const char* nodeType);
    void BuildAlertRow(ItemPtr user);
    void RemoveRow(ItemPtr user, const char* nodeType);
    void ShowNote(ItemPtr user);

    void RegisterHandlers();
    void ShowUserMenu(QTreeWidget* list, const QPoint& point);
    UserInfoForm* OpenUserInfoForm(ItemPtr user);

    // The next of the listed users' statistics requests after a login;
    // true once all are asked for.
    bool AskNextStats(TurnSlice& slice);

    Ui_UserListForm* ui;
    RowMirror m_rows;
    bool m_loaded = false;
    // Listed users whose statistics are still to be asked for, by name: a
    // list of thousands is asked for over several turns of the event loop.
    QStringList m_statsWaiting;
    int m_nextStats = 0;
    // The replies come as fast as the requests go: a bounded number a turn
    // leaves the window time for them and for the user.
    static constexpr int StatsPerTurn = 200;
    SlicedJob m_statsJob;
};

extern UserListForm* userListForm;
