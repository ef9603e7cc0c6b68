// Reaching other clients through the server, and the server's part in the
// distributed search network.
#include "Server.h"

void Server::GetPeerAddress(QString user)
{
    Send(ServerMessages::WriteGetPeerAddress(user));
}

void Server::RequestPeerConnection(QString user, quint32 token, QString type)
{
    Send(ServerMessages::WriteConnectToPeer(token, user, type));
}

void Server::SendCantConnectToPeer(quint32 token, QString user)
{
    Send(ServerMessages::WriteCantConnect(token, user));
}

bool Server::HandlePeerAddress(const QByteArray& body)
{
    ServerMessages::PeerAddressBody address;
    if (!ServerMessages::ReadPeerAddress(body, address))
        return false;
    emit PeerAddress(address.user, address.address, address.port, address.obfuscatedPort);
    return true;
}

bool Server::HandlePeerConnectionRequest(const QByteArray& body)
{
    ServerMessages::PeerConnectionRequestBody request;
    if (!ServerMessages::ReadPeerConnectionRequest(body, request))
        return false;
    emit PeerConnectionRequested(request.user, request.type, request.address, request.port, request.obfuscatedPort,
                                 request.token);
    return true;
}

bool Server::HandleCantConnectToPeer(const QByteArray& body)
{
    ServerMessages::CantConnectBody cantConnect;
    if (!ServerMessages::ReadCantConnect(body, cantConnect))
        return false;
    emit CantConnectToPeer(cantConnect.token, cantConnect.user);
    return true;
}

// ---------------------------------------------------------------------------
// Distributed network

void Server::GetDistributedParentCandidates()
{
    Send(ServerMessages::WriteParentCandidates());
}

void Server::SendDistributedState(bool hasParent, QString branchRoot, quint32 level, quint32 childCount,
                                  quint32 childLimit, quint32 depth)
{
    ServerMessages::DistributedStateBody state;
    state.hasParent = hasParent;
    state.branchRoot = branchRoot;
    state.level = level;
    state.childCount = childCount;
    state.childLimit = childLimit;
    state.depth = depth;
    Send(ServerMessages::WriteDistributedState(state));
}

bool Server::HandleParentCandidates(const QByteArray& body)
{
    QStringList users;
    if (!ServerMessages::ReadParentCandidates(body, users))
        return false;
    emit DistributedParentCandidates(users);
    return true;
}

bool Server::HandleDistributedSearch(const QByteArray& body)
{
    ServerMessages::SearchRequestBody search;
    if (!ServerMessages::ReadDistributedSearch(body, search))
        return false;
    emit DistributedSearch(search.user, search.token, search.text);
    return true;
}
