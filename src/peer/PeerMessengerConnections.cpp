// Forming connections to peers (directly and through the server's relay at
// once), taking those peers form to us, handing file and network
// connections over, and the half-minute expiry of all of them.
#include "PeerMessenger.h"

#include <QMetaMethod>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <algorithm>
#include <vector>

#include "Log.h"
#include "PeerConnection.h"
#include "Server.h"

namespace {
const char* const Area = "Peer Messenger";

bool IsConnectionType(const QString& type)
{
    return type == "P" || type == "F" || type == "D";
}
} // namespace

quint32 PeerMessenger::NewToken() const
{
    // Unpredictable, so that nobody but the relayed user can present it.
    for (;;) {
        const quint32 token = QRandomGenerator::system()->generate();
        if (token != 0 && !m_attempts.count(token))
            return token;
    }
}

void PeerMessenger::StartAttempt(const QString& user, const QString& type)
{
    const quint32 token = NewToken();
    Attempt& attempt = m_attempts[token];
    attempt.token = token;
    attempt.user = user;
    attempt.type = type;
    attempt.started = m_clock();
    Log(Area, 2, QString("Connecting to %1 (type %2, token %3)").arg(user, type).arg(token));

    if (!gp_server || !gp_server->IsConnected()) {
        // Neither the address nor the relay can be had; told after the
        // caller has returned, like any other failure.
        attempt.directFailed = attempt.relayFailed = true;
        QMetaObject::invokeMethod(
            this, [this, token] { Fail(token, "not connected to the server"); }, Qt::QueuedConnection);
        return;
    }
    gp_server->GetPeerAddress(user);
    gp_server->RequestPeerConnection(user, token, type);
}

void PeerMessenger::CheckFailed(quint32 token)
{
    auto it = m_attempts.find(token);
    if (it != m_attempts.end() && it->second.directFailed && it->second.relayFailed)
        Fail(token, "neither a direct nor a relayed connection could be made");
}

void PeerMessenger::Fail(quint32 token, const QString& why)
{
    auto it = m_attempts.find(token);
    if (it == m_attempts.end())
        return;
    const Attempt attempt = it->second;
    m_attempts.erase(it);
    if (attempt.direct)
        Discard(attempt.direct);
    Log(Area, 1, QString("Connection of type %1 to %2 failed: %3").arg(attempt.type, attempt.user, why));
    // Nobody could take them; our own requests may still find the user.
    if (attempt.type == "P")
        DropUnsentAnswers(attempt.user, "no connection could be made");
    emit ConnectionToUserFailed(attempt.user, attempt.type);
}

void PeerMessenger::Win(quint32 token, PeerConnection* connection)
{
    auto it = m_attempts.find(token);
    if (it == m_attempts.end())
        return;
    const Attempt attempt = it->second;
    m_attempts.erase(it);
    if (attempt.direct && attempt.direct != connection)
        Discard(attempt.direct);
    m_pending.removeAll(connection);
    connection->user = attempt.user;
    connection->type = attempt.type;
    connection->token = token;
    Log(Area, 2,
        QString("Connected to %1 (type %2, %3)")
            .arg(attempt.user, attempt.type,
                 connection->GetOrigin() == PeerConnection::Origin::Direct ? "direct" : "relayed"));
    if (attempt.type == "P")
        AddMessageConnection(connection);
    else
        HandOver(connection, true);
}

void PeerMessenger::OnPeerAddress(QString user, QString address, quint16 port, quint16 obfuscatedPort)
{
    if (!address.isEmpty())
        SetUserAddress(user, address);

    std::vector<quint32> waiting;
    for (const auto& entry : m_attempts)
        if (entry.second.user == user && entry.second.awaitingAddress)
            waiting.push_back(entry.first);

    const QHostAddress host(address);
    for (quint32 token : waiting) {
        // A listener of an earlier failure may have settled it meanwhile.
        auto it = m_attempts.find(token);
        if (it == m_attempts.end())
            continue;
        Attempt& attempt = it->second;
        attempt.awaitingAddress = false;
        if (host.isNull() || port == 0) {
            attempt.directFailed = true;
            CheckFailed(token);
            continue;
        }
        if (!MakeRoom(false)) {
            attempt.directFailed = true;
            CheckFailed(token);
            continue;
        }
        // Only message connections use the obfuscated port: file and
        // network links are handed over as plain sockets.
        const bool obfuscated = attempt.type == "P" && obfuscatedPort != 0;
        auto* connection = new PeerConnection(PeerConnection::Origin::Direct, obfuscated, ConnectionClock(), this);
        connection->user = user;
        connection->type = attempt.type;
        connection->token = token;
        attempt.direct = connection;
        Watch(connection);
        m_connectionPolicy.AddOutgoing(connection, m_clock());
        connection->Open(host, obfuscated ? obfuscatedPort : port);
    }
}

void PeerMessenger::OnDirectConnected(PeerConnection* connection)
{
    auto it = m_attempts.find(connection->token);
    if (it == m_attempts.end() || it->second.direct != connection) {
        Discard(connection);
        return;
    }
    connection->SendGreeting(OwnName(), connection->type, connection->token);
    Win(connection->token, connection);
}

void PeerMessenger::OnCantConnectToPeer(quint32 token, QString user)
{
    auto it = m_attempts.find(token);
    if (it == m_attempts.end() || it->second.user != user)
        return;
    Log(Area, 2, QString("%1 could not connect back to us (token %2)").arg(user).arg(token));
    it->second.relayFailed = true;
    CheckFailed(token);
}

void PeerMessenger::OnPeerConnectionRequested(QString user, QString type, QString address, quint16 port,
                                              quint16 obfuscatedPort, quint32 token)
{
    Log(Area, 2, QString("%1 asks us to connect (type %2, token %3)").arg(user, type).arg(token));
    if (!address.isEmpty())
        SetUserAddress(user, address);
    if (m_greetings.value(user).contains(token)) {
        Log(Area, 2, QString("%1 already reached us directly (token %2); not connecting back").arg(user).arg(token));
        return;
    }
    const QHostAddress host(address);
    // Requests relayed for a peer count against the same bounds as the
    // connections it opens to us; and however many it asks for, we open
    // only a few to one address at once.
    if (!host.isNull())
        CloseSilent(PeerConnectionPolicy::AddressOf(host));
    if (!IsConnectionType(type) || host.isNull() || port == 0 ||
        !m_connectionPolicy.MayOpenFrom(PeerConnectionPolicy::AddressOf(host)) || !MakeRoom(true)) {
        Log(Area, 2,
            QString("Cannot answer the connection request of %1 (type %2, address %3, port %4)")
                .arg(user, type, address)
                .arg(port));
        if (gp_server)
            gp_server->SendCantConnectToPeer(token, user);
        return;
    }
    const bool obfuscated = type == "P" && obfuscatedPort != 0;
    auto* connection = new PeerConnection(PeerConnection::Origin::RelayAnswer, obfuscated, ConnectionClock(), this);
    connection->user = user;
    connection->type = type;
    connection->token = token;
    Watch(connection);
    m_pending.append(connection);
    m_connectionPolicy.AddOpening(connection, PeerConnectionPolicy::AddressOf(host), m_clock());
    connection->Open(host, obfuscated ? obfuscatedPort : port);
}

void PeerMessenger::OnRelayAnswerConnected(PeerConnection* connection)
{
    connection->SendRelayAnswer(connection->token);
    Log(Area, 2, QString("Answered the connection request of %1 (type %2)").arg(connection->user, connection->type));
    if (connection->type == "P") {
        m_pending.removeAll(connection);
        AddMessageConnection(connection);
    } else if (connection->type == "F")
        connection->AwaitFileToken();
    else {
        m_pending.removeAll(connection);
        HandOver(connection, false);
    }
}

void PeerMessenger::OnOpening(PeerConnection* connection, quint8 kind, const QString& name, const QString& type,
                              quint32 token)
{
    if (kind == 0) {
        auto it = m_attempts.find(token);
        if (it == m_attempts.end() || (connection->IsObfuscated() && it->second.type != "P")) {
            // Settled already (the other way won), timed out, or never ours.
            Log(Area, 2,
                QString("Closing a relayed connection from %1 with an unknown or settled token %2")
                    .arg(connection->PeerAddressText())
                    .arg(token));
            Discard(connection);
            return;
        }
        Win(token, connection);
        return;
    }

    if (name.isEmpty() || !IsConnectionType(type) || (connection->IsObfuscated() && type != "P")) {
        Log(Area, 2,
            QString("Refusing a connection from %1 named \"%2\" of type \"%3\"")
                .arg(connection->PeerAddressText(), name, type));
        Discard(connection);
        return;
    }
    connection->user = name;
    connection->type = type;
    connection->token = token;
    m_greetings[name][token] = m_clock();
    // Our answer to the relayed request of the same attempt has lost.
    for (PeerConnection* other : QList<PeerConnection*>(m_pending))
        if (other != connection && other->GetOrigin() == PeerConnection::Origin::RelayAnswer && other->user == name &&
            other->token == token)
            Discard(other);
    for (PeerConnection* other : m_messageConnections.value(name))
        if (other->GetOrigin() == PeerConnection::Origin::RelayAnswer && other->token == token)
            Discard(other);

    Log(Area, 2, QString("%1 connected to us (type %2)").arg(name, type));
    if (type == "P") {
        m_pending.removeAll(connection);
        AddMessageConnection(connection);
    } else if (type == "F")
        connection->AwaitFileToken();
    else {
        m_pending.removeAll(connection);
        HandOver(connection, false);
    }
}

void PeerMessenger::OnFileToken(PeerConnection* connection, quint32 fileToken)
{
    m_pending.removeAll(connection);
    HandOver(connection, false, fileToken);
}

void PeerMessenger::HandOver(PeerConnection* connection, bool asked, quint32 fileToken)
{
    const QString user = connection->user;
    const bool file = connection->type == "F";
    m_connectionPolicy.Remove(connection);
    QTcpSocket* socket = connection->HandOver();
    connection->deleteLater();
    if (!socket)
        return;

    QMetaMethod signal;
    if (file)
        signal = asked ? QMetaMethod::fromSignal(&PeerMessenger::FileConnectionAccepted)
                       : QMetaMethod::fromSignal(&PeerMessenger::FileConnectionRequested);
    else
        signal = asked ? QMetaMethod::fromSignal(&PeerMessenger::DNetConnectionAccepted)
                       : QMetaMethod::fromSignal(&PeerMessenger::DNetConnectionRequested);
    if (!isSignalConnected(signal)) {
        // Nobody would own it.
        Log(Area, 2, QString("No taker for a %1 connection of %2; closing it").arg(file ? "file" : "network", user));
        socket->abort();
        socket->deleteLater();
        return;
    }
    if (file && asked)
        emit FileConnectionAccepted(user, socket);
    else if (file)
        emit FileConnectionRequested(user, socket, fileToken);
    else if (asked)
        emit DNetConnectionAccepted(user, socket);
    else
        emit DNetConnectionRequested(user, socket);
}

void PeerMessenger::AddMessageConnection(PeerConnection* connection)
{
    const QString user = connection->user;
    connection->SetRoomOwner(SharedAllowance::Owner{user, PeerConnectionPolicy::AddressOf(connection->PeerAddress()),
                                                    quint64(quintptr(connection))});
    connection->BeginMessages();
    m_connectionPolicy.Named(connection, m_clock());
    QList<PeerConnection*>& connections = m_messageConnections[user];
    // In the order they were opened, however their openings raced: the last
    // carries what we send, the first is the oldest.
    const auto place =
        std::upper_bound(connections.begin(), connections.end(), connection,
                         [this](PeerConnection* a, PeerConnection* b) { return m_connectionPolicy.AddedBefore(a, b); });
    connections.insert(place, connection);
    // A peer cannot make us hold more and more sockets for one name.
    if (connections.size() > MaxMessageConnectionsPerUser) {
        Log(Area, 2, QString("Closing the oldest connection of %1").arg(user));
        Discard(connections.first());
    }

    // Any other message connection we were forming to the user is moot.
    std::vector<quint32> moot;
    for (const auto& entry : m_attempts)
        if (entry.second.user == user && entry.second.type == "P")
            moot.push_back(entry.first);
    for (quint32 token : moot) {
        auto it = m_attempts.find(token);
        PeerConnection* direct = it->second.direct;
        m_attempts.erase(it);
        if (direct && direct != connection)
            Discard(direct);
    }

    auto unsent = m_unsent.find(user);
    if (unsent != m_unsent.end()) {
        std::deque<Unsent> messages;
        messages.swap(unsent->second);
        m_unsent.erase(unsent);
        Log(Area, 2, QString("Sending %1 waiting message(s) to %2").arg(messages.size()).arg(user));
        // Not this one when it was the oldest of too many.
        PeerConnection* latest = LatestMessageConnection(user);
        for (Unsent& message : messages) {
            // Counted from now on by the connection.
            message.answer.Release();
            latest->SendMessage(message.message);
        }
        if (latest->UndeliveredBytes() > 0)
            m_connectionPolicy.Queued(latest, m_clock());
    }
    // Questions that waited for the answers on an older connection to move
    // may go by this one.
    for (PeerConnection* other : m_messageConnections.value(user))
        other->Reconsider();
}

void PeerMessenger::OnConnectionEnded(PeerConnection* connection, const QString& reason)
{
    Log(Area, 2,
        QString("Connection %1%2 ended: %3")
            .arg(connection->user.isEmpty() ? QString() : "of " + connection->user + " ", connection->PeerAddressText(),
                 reason));
    if (connection->GetOrigin() == PeerConnection::Origin::RelayAnswer && !connection->WasConnected() && gp_server)
        gp_server->SendCantConnectToPeer(connection->token, connection->user);

    auto it = m_attempts.find(connection->token);
    const bool wasDirect = it != m_attempts.end() && it->second.direct == connection;
    Discard(connection);
    if (wasDirect) {
        it->second.direct = nullptr;
        it->second.directFailed = true;
        CheckFailed(connection->token);
    }
}

void PeerMessenger::Discard(PeerConnection* connection)
{
    m_pending.removeAll(connection);
    m_connectionPolicy.Remove(connection);
    auto list = m_messageConnections.find(connection->user);
    if (list != m_messageConnections.end()) {
        list->removeAll(connection);
        if (list->isEmpty()) {
            m_messageConnections.erase(list);
            ForgetShareListRequest(connection->user);
        }
    }
    for (auto& entry : m_attempts)
        if (entry.second.direct == connection)
            entry.second.direct = nullptr;
    connection->disconnect(this);
    connection->Drop();
    connection->deleteLater();
}

void PeerMessenger::GiveUpOpening(PeerConnection* connection)
{
    if (connection->GetOrigin() == PeerConnection::Origin::RelayAnswer && !connection->WasConnected() && gp_server)
        gp_server->SendCantConnectToPeer(connection->token, connection->user);
    Discard(connection);
}

bool PeerMessenger::MakeRoom(bool opening)
{
    if (opening && m_connectionPolicy.OpeningIsFull()) {
        auto* oldest = static_cast<PeerConnection*>(m_connectionPolicy.OpeningToClose());
        if (!oldest)
            return false;
        Log(Area, 2,
            QString("Too many connections still opening; closing the oldest of %1, which opens the most")
                .arg(oldest->PeerAddressText()));
        GiveUpOpening(oldest);
    }
    if (m_connectionPolicy.IsFull()) {
        auto* idle = static_cast<PeerConnection*>(m_connectionPolicy.LongestIdle());
        if (!idle)
            return false;
        Log(Area, 2,
            QString("Holding %1 peer connections; closing the one of %2 idle longest")
                .arg(m_connectionPolicy.Count())
                .arg(idle->user));
        Discard(idle);
    }
    return true;
}

void PeerMessenger::CloseSilent(const QString& address)
{
    for (QObject* key : m_connectionPolicy.SilentBeyondBound(m_clock(), address)) {
        auto* silent = static_cast<PeerConnection*>(key);
        Log(Area, 2,
            QString("Too many connections from %1 stay silent; closing the one silent longest")
                .arg(silent->PeerAddressText()));
        GiveUpOpening(silent);
    }
}

PeerConnection* PeerMessenger::LatestMessageConnection(const QString& user) const
{
    const QList<PeerConnection*> list = m_messageConnections.value(user);
    return list.isEmpty() ? nullptr : list.last();
}

int PeerMessenger::MessageConnectionCount(const QString& user) const
{
    return m_messageConnections.value(user).size();
}

int PeerMessenger::UnsentMessageCount(const QString& user) const
{
    auto it = m_unsent.find(user);
    return it == m_unsent.end() ? 0 : int(it->second.size());
}

void PeerMessenger::SetClock(Clock clock)
{
    m_clock = std::move(clock);
}

PeerConnection::Clock PeerMessenger::ConnectionClock()
{
    // Through this object, so that a clock set later reaches every connection.
    return [this] { return m_clock(); };
}

void PeerMessenger::SetShareListProvider(ShareListProvider provider)
{
    m_shareListProvider = std::move(provider);
    // A list the last provider was building will not come: it is asked
    // again of the new one, or answered empty.
    if (!m_listBuilding.isEmpty()) {
        m_listWaiting.push_front(m_listBuilding);
        m_listBuilding.clear();
        m_listRoom.Release();
        ServeShareListsSoon();
    }
}

void PeerMessenger::OnHalfMinuteTick()
{
    const qint64 now = m_clock();

    std::vector<quint32> expired;
    for (const auto& entry : m_attempts)
        if (now - entry.second.started >= AttemptTimeout)
            expired.push_back(entry.first);
    for (quint32 token : expired)
        Fail(token, "timed out");

    for (auto it = m_unsent.begin(); it != m_unsent.end();) {
        std::deque<Unsent>& messages = it->second;
        const size_t before = messages.size();
        while (!messages.empty() && now - messages.front().queued >= UnsentMessageLifetime)
            messages.pop_front();
        if (messages.size() != before)
            Log(Area, 1,
                QString("Dropped %1 message(s) to %2 that could not be sent")
                    .arg(before - messages.size())
                    .arg(it->first));
        it = messages.empty() ? m_unsent.erase(it) : std::next(it);
    }

    for (PeerConnection* connection : QList<PeerConnection*>(m_pending))
        if (now - connection->Created() >= HandshakeTimeout) {
            Log(Area, 2, QString("Connection from %1 did not open in time").arg(connection->PeerAddressText()));
            GiveUpOpening(connection);
        }
    CloseSilent();

    // What peers took while the system's buffers drained told us nothing.
    FollowDeliveries();
    for (QObject* key : m_connectionPolicy.IdleAt(now)) {
        auto* connection = static_cast<PeerConnection*>(key);
        Log(Area, 2, QString("Closing the idle connection of %1").arg(connection->user));
        Discard(connection);
    }
    for (QObject* key : m_connectionPolicy.StalledAt(now)) {
        auto* connection = static_cast<PeerConnection*>(key);
        Log(Area, 1,
            QString("Closing the connection of %1: it has taken none of the %2 bytes waiting for it for %3 s")
                .arg(connection->user)
                .arg(connection->UndeliveredBytes())
                .arg(StallTimeout / 1000));
        Discard(connection);
    }
    CheckRooms();
    ExpireHandedShareList(now);

    for (auto user = m_greetings.begin(); user != m_greetings.end();) {
        for (auto token = user->begin(); token != user->end();)
            token = now - token.value() >= 2 * AttemptTimeout ? user->erase(token) : std::next(token);
        user = user->isEmpty() ? m_greetings.erase(user) : std::next(user);
    }
}
