#include "RoomUserEvents.h"

#include "Data.h"
#include "RoomForm.h"
#include "ServerNames.h"

RoomUserEvents* RoomUserEvents::s_events = nullptr;

RoomUserEvents::RoomUserEvents()
{
    // Stats and country arrive with the user, after the user joined.
    PathNode* ready = new PathNode(&d, ServerNames::User);
    new PathNode(ready, ServerNames::Room, 0);
    new PathNode(ready, ServerNames::AverageDownloadSpeed, 0);
    new PathNode(ready, ServerNames::SharedFileCount, 0);
    new PathNode(ready, ServerNames::CountryCode, 0);
    d.AddPathEventHandler(ready, new EventHandler<RoomUserEvents, ItemPtr>(this, &RoomUserEvents::OnUserReady));
    d.GetType(ServerNames::Room)
        ->AddDisconnectedHandler(
            new EventHandler<RoomUserEvents, ConnectionInfo&>(this, &RoomUserEvents::OnRoomDisconnected));
}

void RoomUserEvents::Add(RoomForm* page)
{
    if (!s_events)
        s_events = new RoomUserEvents;
    s_events->m_pages.insert(page->Room(), page);
}

void RoomUserEvents::Remove(RoomForm* page)
{
    if (!s_events)
        return;
    s_events->m_pages.remove(page->Room(), page);
    if (s_events->m_pages.isEmpty()) {
        delete s_events;
        s_events = nullptr;
    }
}

void RoomUserEvents::OnUserReady(ItemPtr user)
{
    // The user's other rooms list the user already, or do not want it.
    for (const ItemPtr& room : user.GetItems(ServerNames::Room)) {
        for (RoomForm* page : m_pages.values(room.AsString()))
            page->OnUserAdded(user);
    }
}

void RoomUserEvents::OnRoomDisconnected(ConnectionInfo& connection)
{
    if (connection.item2.GetType() != d.GetType(ServerNames::User))
        return;
    for (RoomForm* page : m_pages.values(connection.item1.AsString()))
        page->OnUserRemoved(connection.item2);
}
