#pragma once

#include <QHash>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "DataHandler.h"
#include "EventHandler.h"
#include "ItemPtr.h"

class QRoomListItemWidget;
class QTreeWidgetItem;
class RoomForm;
class Ui_RoomsForm;

// The rooms page: the server's rooms with their user counts and the user's
// role in each, and a tab control with a page per joined room and any walls
// or chat logs the user opened. It opens a room's page when the server
// enters the room and carries out the actions of the room list ("room_list")
// and of the room pages ("room").
class RoomsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit RoomsForm(QWidget* parent = nullptr);
    ~RoomsForm() override;

    // Declares the page's types and follows the rooms; after the data file
    // is loaded and before the first login.
    void Init();

    // The open page of a room, or null.
    RoomForm* FindRoomForm(const QString& room) const;

    // Store handlers.
    void OnRoomAdded(ItemPtr room);
    void OnRoomUserCountChanged(ItemPtr room);
    void OnBecomingRoomOwner(ItemPtr room);
    void OnBecomingRoomOperator(ItemPtr room);
    void OnBecomingRoomMember(ItemPtr room);
    void OnLosingRoomRole(ItemPtr room);
    void OnEnteredRoom(ConnectionInfo& connection);

public slots:
    void OnRoomListContextMenuRequested(QPoint i_point);
    void OnPrivateRoomAddEnabled(bool i_enabled);
    void OnConnected();
    void OnToolBarActionTriggered(QWidget* ip_widget, QString i_action);
    void OnEnterRoom();
    void OnRoomTabClosed(int i_index);
    void OnRoomListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);

private:
    // The room's row; null before it is made.
    QRoomListItemWidget* Row(ItemPtr room) const;
    // Makes the rows of the rooms added since, as many as fit in a short
    // slice of a turn of the event loop; once all are made they go into
    // the list together.
    void ListNewRooms();
    void ShowCount(ItemPtr room, QRoomListItemWidget* row);
    // Shows the counts changed since the last turn, in their order when the
    // list is sorted by them.
    void ShowChangedCounts();
    // The row's font and tier from the user's roles in the room: italic for
    // any, bold for an owner or operator, underlined for the owner.
    void ShowRoles(ItemPtr room);
    void EnterRoom(const QString& room);
    // Opens the pages of the rooms entered since the last turn of the event
    // loop, as many as fit in a short slice of it; the rest follow in the
    // next turns. At the first login every saved room is entered at once,
    // and making all their pages in one turn would freeze the window.
    void OpenEnteredRooms();
    // A line for a room whose page is still to be made waits for it.
    void OnRoomChatBeforePage(QString room, QString user, QString text);

    // The toolbar's actions on one room (RoomsFormActions.cpp).
    void ToggleMarker(ItemPtr room, const char* marker);
    void OpenRoomChatLog(ItemPtr room);
    void OpenRoomWall(ItemPtr room);
    void GiveUpMembership(const QString& room);
    void GiveUpOwnership(const QString& room);
    // Brings forward the widget whose address the room's item of the type
    // holds; false when there is none.
    bool FocusOpenWidget(ItemPtr room, const char* formType);

    Ui_RoomsForm* ui;
    // Rows by room name, made or to be made (null until then): the list's
    // rows are data of their own, with no store item per row.
    QHash<QString, QRoomListItemWidget*> m_roomRows;
    QStringList m_newRooms;
    QList<QTreeWidgetItem*> m_madeRows;
    bool m_countsChanged = false;
    // Rooms entered whose pages are still to be made, in the order entered,
    // with the chat lines that came for them meanwhile.
    QStringList m_entered;
    QHash<QString, QList<QStringList>> m_earlyLines;
};
