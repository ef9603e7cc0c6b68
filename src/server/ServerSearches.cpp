// Searches: the requests, the searches of others and related searches.
#include "Server.h"

#include "Data.h"

unsigned int Server::NewSearchRequest(QString text)
{
    const unsigned int ticket = ++m_searchTicket;
    ItemPtr request = d.GetType("search_request")->NewItem(Value(ticket));
    request += d.GetType("search_request_text")->GetItem(text);
    return ticket;
}

unsigned int Server::FileSearch(QString text, QString wishListItem)
{
    const unsigned int ticket = NewSearchRequest(text);
    const bool wishList = !wishListItem.isEmpty();
    if (wishList)
        d.GetType("search_request")->HasItem(Value(ticket)) += d.GetType("wish_list_item")->GetItem(wishListItem);
    Send(wishList ? ServerMessages::WriteWishListSearch(ticket, text) : ServerMessages::WriteFileSearch(ticket, text));
    emit SearchRequested(ticket, text, wishList);
    return ticket;
}

unsigned int Server::SearchUserList(QString text)
{
    const unsigned int ticket = NewSearchRequest(text);
    for (const ItemPtr& listed : d.GetType("in_user_list")->GetItems())
    {
        ItemPtr user = listed["user"];
        if (!user.IsConnected("is_online"))
            continue;
        Send(ServerMessages::WriteUserSearch(user.AsString(), ticket, text));
    }
    return ticket;
}

unsigned int Server::SearchRoom(QString room, QString text)
{
    const unsigned int ticket = NewSearchRequest(text);
    Send(ServerMessages::WriteRoomSearch(room, ticket, text));
    return ticket;
}

void Server::GetSearchCorrelations(QString text)
{
    Send(ServerMessages::WriteRelatedSearch(text));
}

bool Server::HandleSearch(const QByteArray& body)
{
    ServerMessages::SearchRequestBody search;
    if (!ServerMessages::ReadSearchRequest(body, search))
        return false;
    emit DirectFileSearch(search.user, search.token, search.text);
    return true;
}

bool Server::HandleWishListInterval(const QByteArray& body)
{
    quint32 seconds = 0;
    if (!ServerMessages::ReadWishListInterval(body, seconds))
        return false;
    emit WishListWait(seconds);
    return true;
}

bool Server::HandleCorrelations(const QByteArray& body)
{
    ServerMessages::CorrelationsBody correlations;
    if (!ServerMessages::ReadCorrelations(body, correlations))
        return false;

    ItemPtr textItem = d.GetType("search_request_text")->GetItem(correlations.text);
    textItem.GetItems("search_correlation").Remove();
    Type* correlation = d.GetType("search_correlation");
    for (const auto& entry : correlations.related)
    {
        ItemPtr item = correlation->NewItem();
        item += d.GetType("correlation_text")->GetItem(entry.first);
        item += d.GetType("correlation_rank")->GetItem(Value(entry.second));
        textItem += item;
    }
    emit SearchCorrelations(correlations.text);
    return true;
}
