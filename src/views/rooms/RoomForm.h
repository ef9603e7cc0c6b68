#pragma once

#include <QHash>
#include <QPoint>
#include <QString>
#include <QUrl>
#include <QWidget>

#include "ChatActivity.h"
#include "DataHandler.h"
#include "ItemPtr.h"

class QRoomUserListItemWidget;
class QTreeWidgetItem;
class Ui_RoomForm;

// The page of one joined room: its chat both ways, status lines for the
// connection and for chat activity, the room's log, an event per line when
// the room asks for one, and the room's user list beside the chat. The rooms
// page makes one when the server enters the room and deletes it when its
// tab is closed; closing it leaves the room unless the server already took
// the room away.
class RoomForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    RoomForm(QString room, QWidget* parent = nullptr);
    ~RoomForm() override;

    // Size memory and focus; the rooms page calls it once the page is in its
    // tab.
    void Init();

    QString Room() const { return m_room; }
    // Whether the server took the room away since the page was made or last
    // entered it again.
    bool HasLeft() const { return m_left; }
    // The server entered the room again for this page (the user re-entered
    // it, or a reconnection did): closing the page leaves it once more, and
    // the input line takes lines again.
    void Rejoined();

    void AddStatusMessage(QString text);
    void LogChat(QString line);

    // Store handlers of the room's markers.
    void OnLeftRoom(ItemPtr room);
    void OnRoomAutojoinOn(ItemPtr room);
    void OnRoomAutojoinOff(ItemPtr room);
    void OnRoomActivityAlertOn(ItemPtr room);
    void OnRoomActivityAlertOff(ItemPtr room);
    // The room's own roles: which give-up action applies.
    void OnOwnRoleChanged(ItemPtr room);

    // Store handlers of the user list (RoomFormUsers.cpp), each given the
    // user.
    void OnUserAdded(ItemPtr user);
    void OnUserRemoved(ItemPtr user);
    void OnOperatorAdded(ItemPtr user);
    void OnOperatorRemoved(ItemPtr user);
    void OnOwnerSet(ItemPtr user);
    void OnOwnerGone(ItemPtr user);
    void OnUserNoteChanged(ItemPtr user);
    void OnUserNoteRemoved(ItemPtr user);

public slots:
    void OnRoomChat(QString i_room, QString i_user, QString i_chat);
    void OnEnterPressed();
    void OnConnected();
    void OnDisconnected();
    void CheckChatInactivity();
    void OnURLClicked(QUrl i_url);
    void OnUserItemClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnUserItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnUserListContextMenuRequested(QPoint i_point);

private:
    // Looked up each time: a handle is not kept across store operations.
    ItemPtr RoomItem() const;
    void RegisterMarkerHandlers(const char* marker, void (RoomForm::*on)(ItemPtr), void (RoomForm::*off)(ItemPtr));
    // The user list (RoomFormUsers.cpp): its columns, and the handlers that
    // keep its rows in step with the room's users and their notes.
    void SetUpUserList();
    // Rows for the users the room holds already.
    void ListPresentUsers();
    QRoomUserListItemWidget* MakeUserRow(ItemPtr user);
    void RegisterUserListHandlers();
    void RegisterNoteHandlers();
    // Whether the room's node of that type ("room_operators", "room_owner")
    // holds the user.
    bool HasRoomRole(ItemPtr user, const char* node) const;
    // Writes the room's user count once the users that arrived in this
    // turn of the event loop are all listed.
    void SetUserCountLater();
    void SetUserCount();
    void ShowGiveUpActions(ItemPtr room);

    QString m_room;
    Ui_RoomForm* ui;
    ChatActivity m_activity;
    bool m_left = false;
    bool m_countPending = false;
    // The rows by user name: a join of thousands of users finds each row at
    // once rather than searching the list for it.
    QHash<QString, QRoomUserListItemWidget*> m_userRows;
};
