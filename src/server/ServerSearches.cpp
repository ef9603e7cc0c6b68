// Searches: the requests, the searches of others and related searches.
#include "Server.h"

#include "Data.h"
#include "ServerNames.h"

unsigned int Server::NewSearchRequest(QString text)
{
    const unsigned int ticket = ++m_searchTicket;
    ItemPtr request = d.GetType(ServerNames::SearchRequest)->NewItem(Value(ticket));
    request += d.GetType(ServerNames::SearchRequestText)->GetItem(text);
    return ticket;
}

unsigned int Server::FileSearch(QString text, QString wishListItem)
{
    const unsigned int ticket = NewSearchRequest(text);
    const bool wishList = !wishListItem.isEmpty();
    if (wishList)
        d.GetType(ServerNames::SearchRequest)->HasItem(Value(ticket)) +=
            d.GetType(ServerNames::WishListItem)->GetItem(wishListItem);
    Send(wishList ? ServerMessages::WriteWishListSearch(ticket, text) : ServerMessages::WriteFileSearch(ticket, text));
    emit SearchRequested(ticket, text, wishList);
    return ticket;
}

unsigned int Server::SearchUserList(QString text)
{
    const unsigned int ticket = NewSearchRequest(text);
    for (const ItemPtr& listed : d.GetType(ServerNames::InUserList)->GetItems()) {
        ItemPtr user = listed[ServerNames::User];
        if (!user.IsConnected(ServerNames::IsOnline))
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

    ItemPtr textItem = d.GetType(ServerNames::SearchRequestText)->GetItem(correlations.text);
    textItem.GetItems(ServerNames::SearchCorrelation).Remove();
    Type* correlation = d.GetType(ServerNames::SearchCorrelation);
    for (const auto& entry : correlations.related) {
        ItemPtr item = correlation->NewItem();
        item += d.GetType(ServerNames::CorrelationText)->GetItem(entry.first);
        item += d.GetType(ServerNames::CorrelationRank)->GetItem(Value(entry.second));
        textItem += item;
    }
    emit SearchCorrelations(correlations.text);
    return true;
}
