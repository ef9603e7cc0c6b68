#pragma once

#include <QMultiHash>
#include <QString>

#include "DataHandler.h"
#include "EventHandler.h"
#include "ItemPtr.h"

class RoomForm;

// Hears of users coming to and going from rooms once for all the open room
// pages, and tells the page of that room. Pages that each followed the store
// on their own made every user of a join pass the handlers of every page: a
// room of thousands joined beside hundreds of open rooms froze the window.
// It exists while a page does.
class RoomUserEvents : public DataHandler
{
public:
    static void Add(RoomForm* page);
    static void Remove(RoomForm* page);

private:
    RoomUserEvents();

    // A user connected to a room with the figures a row shows.
    void OnUserReady(ItemPtr user);
    void OnRoomDisconnected(ConnectionInfo& connection);

    QMultiHash<QString, RoomForm*> m_pages;
    static RoomUserEvents* s_events;
};
