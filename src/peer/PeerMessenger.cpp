#include "PeerMessenger.h"

#include <QDateTime>
#include <QMetaMethod>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <vector>

#include "Data.h"
#include "DataSaver.h"
#include "GeneralFunctions.h"
#include "Log.h"
#include "PeerConnection.h"
#include "PeerMessages.h"
#include "Server.h"
#include "Settings.h"
#include "TimerManager.h"

PeerMessenger* peerMessenger = nullptr;

namespace
{
const char* const Area = "Peer Messenger";

bool IsConnectionType(const QString& type)
{
    return type == "P" || type == "F" || type == "D";
}

// A port setting as a number; 0 when it is not a usable port.
quint16 PortSetting(const char* key)
{
    bool ok = false;
    const uint port = GetSetting(key).toUInt(&ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : 0;
}
} // namespace

PeerMessenger::PeerMessenger(QObject* parent)
    : QObject(parent), m_listener(new QTcpServer(this)), m_obfuscatedListener(new QTcpServer(this)),
      m_clock([] { return QDateTime::currentMSecsSinceEpoch(); }),
      m_inflateLimit(PeerMessages::InflateLimit)
{
    peerMessenger = this;
    DeclareTypes();
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);

    connect(m_listener, &QTcpServer::newConnection, this, [this] { OnNewConnection(m_listener, false); });
    connect(m_obfuscatedListener, &QTcpServer::newConnection, this,
            [this] { OnNewConnection(m_obfuscatedListener, true); });
    if (gp_server)
    {
        connect(gp_server, &Server::PeerAddress, this, &PeerMessenger::OnPeerAddress);
        connect(gp_server, &Server::PeerConnectionRequested, this, &PeerMessenger::OnPeerConnectionRequested);
        connect(gp_server, &Server::CantConnectToPeer, this, &PeerMessenger::OnCantConnectToPeer);
    }
    if (timerManager)
        connect(timerManager, &QTimer::timeout, this, &PeerMessenger::OnHalfMinuteTick);
}

PeerMessenger::~PeerMessenger()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    // The connections are children and go with this object; none may call
    // back while it is half destroyed.
    for (PeerConnection* connection : findChildren<PeerConnection*>(QString(), Qt::FindDirectChildrenOnly))
        connection->disconnect(this);
    if (peerMessenger == this)
        peerMessenger = nullptr;
}

void PeerMessenger::DeclareTypes()
{
    auto attribute = [](const char* name) { return d.NewType(name, 2, false, true); };
    for (const char* name : {"file_size", "mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode",
                             "bitrate", "length_seconds"})
        attribute(name);

    // "search_request", "search_request_text" and "wish_list_item" are the
    // server connection's; the rest of the search types hang off them.
    Type* user = d.GetType("user");
    Type* request = d.GetType("search_request");
    request->RelateToType(d.NewType("search_stopped", 2, true, false), many, one, false);
    Type* results = d.NewType("search_results", 1, true, false);
    request->RelateToType(results, one, many, true);
    results->RelateToType(user, many, one, false);
    for (const char* name : {"search_results_user_available", "search_results_user_speed",
                             "search_results_uploads_in_queue"})
        results->RelateToType(attribute(name), many, one, false);
    Type* result = d.NewType("search_result", 1, true, false);
    results->RelateToType(result, one, many, true);
    for (const char* name : {"search_result_file_name", "search_result_file_folder"})
        result->RelateToType(attribute(name), many, one, false);
    for (const char* name : {"file_size", "bitrate", "length_seconds", "bitrate_mode"})
        result->RelateToType(name, many, one);

    Type* wish = d.GetType("wish_list_item");
    wish->RelateToType(d.NewType("wish_list_item_enabled", 2, true, false), many, one, false);
    wish->RelateToType(d.NewType("discard_repeated_results", 2, true, false), many, one, false);
    Type* received = d.NewType("received_results_from_users", 1, true, false);
    wish->RelateToType(received, one, one, true);
    received->RelateToType(user, many, many, false);

    user->RelateToType(d.NewType("user_address", 2, false, true), many, one, false);

    if (dataSaver)
    {
        dataSaver->AddSavedType("wish_list_item_enabled");
        dataSaver->AddSavedType("discard_repeated_results");
        dataSaver->AddSavedType("received_results_from_users");
        dataSaver->AddSavedByConnectionType("user", "received_results_from_users");
    }
}

// ---------------------------------------------------------------------------
// Listening

void PeerMessenger::DataLoaded()
{
    quint16 port = PortSetting("listening_port");
    if (!port)
        port = DefaultListeningPort;
    const quint16 pending = PortSetting("new_listening_port");
    if (pending)
        port = pending;
    quint16 obfuscatedPort = PortSetting("obfuscated_listening_port");
    if (pending || !obfuscatedPort)
        obfuscatedPort = quint16(port + 1);
    if (port == 65535)
    {
        // The obfuscated port would be 65536, which does not exist; 0 tells
        // the server (and so other clients) that there is none.
        obfuscatedPort = 0;
        Log(Area, 1, "Listening port 65535 leaves no port for obfuscated connections; not listening for them");
    }
    SetSetting("listening_port", QString::number(port));
    SetSetting("obfuscated_listening_port", QString::number(obfuscatedPort));
    RemoveSetting("new_listening_port");

    Listen(m_listener, port, "plain");
    if (obfuscatedPort)
        Listen(m_obfuscatedListener, obfuscatedPort, "obfuscated");
}

void PeerMessenger::Listen(QTcpServer* listener, quint16 port, const char* what)
{
    listener->close();
    if (listener->listen(m_listenAddress, port))
        Log(Area, 1, QString("Listening for %1 connections on port %2").arg(what).arg(port));
    else
        Log(Area, 1, QString("Cannot listen for %1 connections on port %2: %3")
                         .arg(what)
                         .arg(port)
                         .arg(listener->errorString()));
}

quint16 PeerMessenger::ListeningPort() const
{
    return m_listener->isListening() ? m_listener->serverPort() : 0;
}

quint16 PeerMessenger::ObfuscatedListeningPort() const
{
    return m_obfuscatedListener->isListening() ? m_obfuscatedListener->serverPort() : 0;
}

void PeerMessenger::OnNewConnection(QTcpServer* listener, bool obfuscated)
{
    while (QTcpSocket* socket = listener->nextPendingConnection())
    {
        if (m_pending.size() >= MaxPendingConnections)
        {
            Log(Area, 2, QString("Too many connections still opening; refusing one from %1")
                             .arg(socket->peerAddress().toString()));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* connection = new PeerConnection(socket, obfuscated, ConnectionClock(), this);
        Watch(connection);
        m_pending.append(connection);
    }
}

void PeerMessenger::Watch(PeerConnection* connection)
{
    connect(connection, &PeerConnection::OpeningReceived, this,
            [this, connection](quint8 kind, QString name, QString type, quint32 token) {
                OnOpening(connection, kind, name, type, token);
            });
    connect(connection, &PeerConnection::FileTokenReceived, this,
            [this, connection](quint32 fileToken) { OnFileToken(connection, fileToken); });
    connect(connection, &PeerConnection::MessageReceived, this,
            [this, connection](quint32 code, QByteArray body) { OnMessage(connection, code, body); });
    connect(connection, &PeerConnection::Ended, this,
            [this, connection](QString reason) { OnConnectionEnded(connection, reason); });
    if (connection->GetOrigin() == PeerConnection::Origin::Direct)
        connect(connection, &PeerConnection::Connected, this, [this, connection] { OnDirectConnected(connection); });
    else if (connection->GetOrigin() == PeerConnection::Origin::RelayAnswer)
        connect(connection, &PeerConnection::Connected, this,
                [this, connection] { OnRelayAnswerConnected(connection); });
}

// ---------------------------------------------------------------------------
// Forming connections

quint32 PeerMessenger::NewToken() const
{
    // Unpredictable, so that nobody but the relayed user can present it.
    for (;;)
    {
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

    if (!gp_server || !gp_server->IsConnected())
    {
        // Neither the address nor the relay can be had; told after the
        // caller has returned, like any other failure.
        attempt.directFailed = attempt.relayFailed = true;
        QMetaObject::invokeMethod(this, [this, token] { Fail(token, "not connected to the server"); },
                                  Qt::QueuedConnection);
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
    Log(Area, 2, QString("Connected to %1 (type %2, %3)")
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
    for (quint32 token : waiting)
    {
        // A listener of an earlier failure may have settled it meanwhile.
        auto it = m_attempts.find(token);
        if (it == m_attempts.end())
            continue;
        Attempt& attempt = it->second;
        attempt.awaitingAddress = false;
        if (host.isNull() || port == 0)
        {
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
        connection->Open(host, obfuscated ? obfuscatedPort : port);
    }
}

void PeerMessenger::OnDirectConnected(PeerConnection* connection)
{
    auto it = m_attempts.find(connection->token);
    if (it == m_attempts.end() || it->second.direct != connection)
    {
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
    if (m_greetings.value(user).contains(token))
    {
        Log(Area, 2, QString("%1 already reached us directly (token %2); not connecting back").arg(user).arg(token));
        return;
    }
    const QHostAddress host(address);
    // Requests relayed for a peer count against the same bound as the
    // connections it opens to us.
    if (!IsConnectionType(type) || host.isNull() || port == 0 || m_pending.size() >= MaxPendingConnections)
    {
        Log(Area, 2, QString("Cannot answer the connection request of %1 (type %2, address %3, port %4)")
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
    connection->Open(host, obfuscated ? obfuscatedPort : port);
}

void PeerMessenger::OnRelayAnswerConnected(PeerConnection* connection)
{
    connection->SendRelayAnswer(connection->token);
    Log(Area, 2, QString("Answered the connection request of %1 (type %2)").arg(connection->user, connection->type));
    if (connection->type == "P")
    {
        m_pending.removeAll(connection);
        AddMessageConnection(connection);
    }
    else if (connection->type == "F")
        connection->AwaitFileToken();
    else
    {
        m_pending.removeAll(connection);
        HandOver(connection, false);
    }
}

void PeerMessenger::OnOpening(PeerConnection* connection, quint8 kind, const QString& name, const QString& type,
                              quint32 token)
{
    if (kind == 0)
    {
        auto it = m_attempts.find(token);
        if (it == m_attempts.end() || (connection->IsObfuscated() && it->second.type != "P"))
        {
            // Settled already (the other way won), timed out, or never ours.
            Log(Area, 2, QString("Closing a relayed connection from %1 with an unknown or settled token %2")
                             .arg(connection->PeerAddressText())
                             .arg(token));
            Discard(connection);
            return;
        }
        Win(token, connection);
        return;
    }

    if (name.isEmpty() || !IsConnectionType(type) || (connection->IsObfuscated() && type != "P"))
    {
        Log(Area, 2, QString("Refusing a connection from %1 named \"%2\" of type \"%3\"")
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
        if (other != connection && other->GetOrigin() == PeerConnection::Origin::RelayAnswer &&
            other->user == name && other->token == token)
            Discard(other);
    for (PeerConnection* other : m_messageConnections.value(name))
        if (other->GetOrigin() == PeerConnection::Origin::RelayAnswer && other->token == token)
            Discard(other);

    Log(Area, 2, QString("%1 connected to us (type %2)").arg(name, type));
    if (type == "P")
    {
        m_pending.removeAll(connection);
        AddMessageConnection(connection);
    }
    else if (type == "F")
        connection->AwaitFileToken();
    else
    {
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
    if (!isSignalConnected(signal))
    {
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
    connection->BeginMessages();
    QList<PeerConnection*>& connections = m_messageConnections[user];
    connections.append(connection);
    // A peer cannot make us hold more and more sockets for one name.
    if (connections.size() > MaxMessageConnectionsPerUser)
    {
        Log(Area, 2, QString("Closing the oldest connection of %1").arg(user));
        Discard(connections.first());
    }

    // Any other message connection we were forming to the user is moot.
    std::vector<quint32> moot;
    for (const auto& entry : m_attempts)
        if (entry.second.user == user && entry.second.type == "P")
            moot.push_back(entry.first);
    for (quint32 token : moot)
    {
        auto it = m_attempts.find(token);
        PeerConnection* direct = it->second.direct;
        m_attempts.erase(it);
        if (direct && direct != connection)
            Discard(direct);
    }

    auto unsent = m_unsent.find(user);
    if (unsent != m_unsent.end())
    {
        std::deque<Unsent> messages;
        messages.swap(unsent->second);
        m_unsent.erase(unsent);
        Log(Area, 2, QString("Sending %1 waiting message(s) to %2").arg(messages.size()).arg(user));
        for (const Unsent& message : messages)
            connection->SendMessage(message.message);
    }
}

void PeerMessenger::OnConnectionEnded(PeerConnection* connection, const QString& reason)
{
    Log(Area, 2, QString("Connection %1%2 ended: %3")
                     .arg(connection->user.isEmpty() ? QString() : "of " + connection->user + " ",
                          connection->PeerAddressText(), reason));
    if (connection->GetOrigin() == PeerConnection::Origin::RelayAnswer && !connection->WasConnected() && gp_server)
        gp_server->SendCantConnectToPeer(connection->token, connection->user);

    auto it = m_attempts.find(connection->token);
    const bool wasDirect = it != m_attempts.end() && it->second.direct == connection;
    Discard(connection);
    if (wasDirect)
    {
        it->second.direct = nullptr;
        it->second.directFailed = true;
        CheckFailed(connection->token);
    }
}

void PeerMessenger::Discard(PeerConnection* connection)
{
    m_pending.removeAll(connection);
    auto list = m_messageConnections.find(connection->user);
    if (list != m_messageConnections.end())
    {
        list->removeAll(connection);
        if (list->isEmpty())
            m_messageConnections.erase(list);
    }
    for (auto& entry : m_attempts)
        if (entry.second.direct == connection)
            entry.second.direct = nullptr;
    connection->disconnect(this);
    connection->Drop();
    connection->deleteLater();
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

    for (auto it = m_unsent.begin(); it != m_unsent.end();)
    {
        std::deque<Unsent>& messages = it->second;
        const size_t before = messages.size();
        while (!messages.empty() && now - messages.front().queued >= UnsentMessageLifetime)
            messages.pop_front();
        if (messages.size() != before)
            Log(Area, 1, QString("Dropped %1 message(s) to %2 that could not be sent")
                             .arg(before - messages.size())
                             .arg(it->first));
        it = messages.empty() ? m_unsent.erase(it) : std::next(it);
    }

    for (PeerConnection* connection : QList<PeerConnection*>(m_pending))
        if (now - connection->Created() >= HandshakeTimeout)
        {
            if (connection->GetOrigin() == PeerConnection::Origin::RelayAnswer && !connection->WasConnected() &&
                gp_server)
                gp_server->SendCantConnectToPeer(connection->token, connection->user);
            Log(Area, 2, QString("Connection from %1 did not open in time").arg(connection->PeerAddressText()));
            Discard(connection);
        }

    QList<PeerConnection*> idle;
    for (const QList<PeerConnection*>& list : m_messageConnections)
        for (PeerConnection* connection : list)
            if (now - connection->LastActivity() >= IdleTimeout)
                idle.append(connection);
    for (PeerConnection* connection : idle)
    {
        Log(Area, 2, QString("Closing the idle connection of %1").arg(connection->user));
        Discard(connection);
    }

    for (auto user = m_greetings.begin(); user != m_greetings.end();)
    {
        for (auto token = user->begin(); token != user->end();)
            token = now - token.value() >= 2 * AttemptTimeout ? user->erase(token) : std::next(token);
        user = user->isEmpty() ? m_greetings.erase(user) : std::next(user);
    }
}

// ---------------------------------------------------------------------------
// Sending

void PeerMessenger::SendToUser(const QString& user, const MemStream& message)
{
    if (user.isEmpty())
        return;
    if (PeerConnection* connection = LatestMessageConnection(user))
    {
        connection->SendMessage(message.GetBytes());
        return;
    }
    m_unsent[user].push_back(Unsent{message.GetBytes(), m_clock()});
    for (const auto& entry : m_attempts)
        if (entry.second.user == user && entry.second.type == "P")
            return;
    StartAttempt(user, "P");
}

void PeerMessenger::SendMessage(QString user, MemStream& message)
{
    SendToUser(user, message);
}

void PeerMessenger::SendMessageToUser(QString user, MemStream& message)
{
    SendToUser(user, message);
}

void PeerMessenger::GetUserSharedFiles(QString user)
{
    MemStream message;
    message.Write(quint32(PeerMessages::SharedFileListRequest));
    SendToUser(user, message);
}

void PeerMessenger::GetUserInfo(QString user)
{
    MemStream message;
    message.Write(quint32(PeerMessages::UserInfoRequest));
    SendToUser(user, message);
}

void PeerMessenger::QueueDownload(QString user, std::string path)
{
    MemStream message;
    message.Write(quint32(PeerMessages::QueueUpload));
    message.Write(path);
    SendToUser(user, message);
}

void PeerMessenger::QueueUpload(QString user, QString file, qint64 size)
{
    MemStream message;
    message.Write(quint32(PeerMessages::UploadOffer));
    message.Write(file);
    message.Write(size);
    SendToUser(user, message);
}

uint PeerMessenger::RequestUpload(QString user, QString file, qint64 size)
{
    const quint32 token = GetSetting("transfer_req_counter").toUInt();
    SetSetting("transfer_req_counter", QString::number(quint32(token + 1)));
    MemStream message;
    message.Write(quint32(PeerMessages::TransferRequest));
    message.Write(quint32(1));
    message.Write(token);
    message.Write(file);
    message.Write(size);
    SendToUser(user, message);
    return token;
}

void PeerMessenger::AcceptTransferRequest(QString user, uint token, bool withSize, qint64 size)
{
    MemStream message;
    message.Write(quint32(PeerMessages::TransferResponse));
    message.Write(quint32(token));
    message.Write(quint8(1));
    if (withSize)
        message.Write(size);
    SendToUser(user, message);
}

void PeerMessenger::DenyTransferRequest(QString user, uint token, QString reason)
{
    MemStream message;
    message.Write(quint32(PeerMessages::TransferResponse));
    message.Write(quint32(token));
    message.Write(quint8(0));
    message.Write(reason);
    SendToUser(user, message);
}

void PeerMessenger::SendUploadPlaceInLine(QString user, QString file, int place)
{
    MemStream message;
    message.Write(quint32(PeerMessages::PlaceInLine));
    message.Write(file);
    message.Write(quint32(place));
    SendToUser(user, message);
}

void PeerMessenger::DenyUpload(QString user, QString file, QString reason)
{
    MemStream message;
    message.Write(quint32(PeerMessages::UploadDenied));
    message.Write(file);
    message.Write(reason);
    SendToUser(user, message);
}

void PeerMessenger::RequestFileConnectionToUser(QString user)
{
    StartAttempt(user, "F");
}

void PeerMessenger::RequestDNetConnectionToUser(QString user)
{
    StartAttempt(user, "D");
}

// ---------------------------------------------------------------------------
// Receiving

bool PeerMessenger::Inflated(PeerConnection* connection, const QByteArray& body, QByteArray& plain)
{
    const auto result = PeerMessages::Inflate(body.constData(), body.size(), m_inflateLimit, plain);
    if (result == PeerMessages::InflateResult::Ok)
        return true;
    if (result == PeerMessages::InflateResult::TooLarge)
        Log(Area, 1, QString("A compressed message from %1 inflates past %2 bytes; dropping it and the connection")
                         .arg(connection->user)
                         .arg(m_inflateLimit));
    else
        Log(Area, 1, QString("A compressed message from %1 does not inflate; closing the connection")
                         .arg(connection->user));
    Discard(connection);
    return false;
}

void PeerMessenger::OnMessage(PeerConnection* connection, quint32 code, const QByteArray& body)
{
    QPointer<PeerConnection> guard(connection);
    const QString user = connection->user;
    bool ok = true;
    switch (code)
    {
    case PeerMessages::SharedFileListRequest:
    {
        Log(Area, 2, QString("%1 asks for our share list").arg(user));
        MemStream answer = m_shareListProvider ? m_shareListProvider(user) : PeerMessages::EmptyShareList();
        SendToUser(user, answer);
        break;
    }
    case PeerMessages::SharedFileList:
    {
        QByteArray plain;
        if (!Inflated(connection, body, plain))
            return;
        FileInfoMap share;
        AttributeTranslationTable attributes;
        ok = PeerMessages::ReadShareList(plain, share, attributes);
        if (ok)
            emit UserShare(user, share, attributes);
        break;
    }
    case PeerMessages::FileSearchResult:
    {
        QByteArray plain;
        if (!Inflated(connection, body, plain))
            return;
        ok = HandleSearchReply(connection, plain);
        break;
    }
    case PeerMessages::UserInfoRequest:
        emit UserInfoRequested(user);
        break;
    case PeerMessages::UserInfoReply:
    {
        PeerMessages::UserInfoBody info;
        ok = PeerMessages::ReadUserInfo(body, info);
        if (ok)
            emit UserInfoReceived(user, info.description, info.hasPicture,
                                  info.hasPicture ? info.picture.data() : nullptr, info.picture.size(),
                                  int(info.uploadSlots), int(info.queuedUploads), info.freeSlot);
        break;
    }
    case PeerMessages::FolderContentsRequest:
    {
        quint32 token = 0;
        QString folder;
        ok = PeerMessages::ReadFolderContentsRequest(body, token, folder);
        if (ok)
            emit SharedFilesInFolderRequested(user, token, folder);
        break;
    }
    case PeerMessages::FolderContents:
    {
        QByteArray plain;
        if (!Inflated(connection, body, plain))
            return;
        PeerMessages::FolderContentsBody contents;
        ok = PeerMessages::ReadFolderContents(plain, contents);
        if (ok)
            emit SharedFilesInFolder(user, contents.token, contents.folder, contents.folders);
        break;
    }
    case PeerMessages::TransferRequest:
    {
        PeerMessages::TransferRequestBody request;
        ok = PeerMessages::ReadTransferRequest(body, request);
        if (ok)
            emit FileTransferRequested(user, int(request.direction), request.token, request.path, request.size);
        break;
    }
    case PeerMessages::TransferResponse:
    {
        PeerMessages::TransferResponseBody response;
        ok = PeerMessages::ReadTransferResponse(body, response);
        if (ok)
            emit FileTransferResponse(user, response.token, response.allowed, response.sizePresent, response.size,
                                      response.reason);
        break;
    }
    case PeerMessages::QueueUpload:
    case PeerMessages::UploadFailed:
    case PeerMessages::PlaceInLineRequest:
    {
        std::string path;
        ok = PeerMessages::ReadPath(body, path);
        if (ok && code == PeerMessages::QueueUpload)
            emit QueueUploadRequested(user, ToQString(path));
        else if (ok && code == PeerMessages::UploadFailed)
            emit UploadFailed(user, path);
        else if (ok)
            emit UploadPlaceInLineRequested(user, ToQString(path));
        break;
    }
    case PeerMessages::PlaceInLine:
    {
        std::string path;
        quint32 place = 0;
        ok = PeerMessages::ReadPathAndPlace(body, path, place);
        if (ok)
            emit DownloadPlaceInLine(user, path, int(place));
        break;
    }
    case PeerMessages::UploadDenied:
    {
        std::string path;
        QString reason;
        ok = PeerMessages::ReadPathAndReason(body, path, reason);
        if (ok)
            emit UploadDenied(user, path, reason);
        break;
    }
    case PeerMessages::UploadOffer:
    {
        std::string path;
        qint64 size = 0;
        ok = PeerMessages::ReadPathAndSize(body, path, size);
        if (ok)
            emit QueueDownloadRequested(user, path, size);
        break;
    }
    default:
        Log(Area, 2, QString("Ignoring message %1 from %2, which we do not know").arg(code).arg(user));
        break;
    }
    if (!ok && guard)
    {
        Log(Area, 1, QString("Message %1 from %2 is cut short or malformed; closing the connection")
                         .arg(code)
                         .arg(user));
        Discard(connection);
    }
}

bool PeerMessenger::HandleSearchReply(PeerConnection* connection, const QByteArray& plain)
{
    PeerMessages::SearchReplyBody reply;
    if (!PeerMessages::ReadSearchReply(plain, reply))
        return false;
    const QString user = connection->user;
    if (ToQString(reply.user) != user)
    {
        Log(Area, 1, QString("Search results under the name %1 arrived from %2; closing the connection")
                         .arg(ToQString(reply.user), user));
        Discard(connection);
        return true;
    }

    ItemPtr request = d.GetType("search_request")->HasItem(Value(reply.token));
    if (!request || request.IsConnected("search_stopped"))
    {
        if (IsLogging())
            Log(Area, 3, QString("Dropping search results of %1 for ticket %2, which is unknown or stopped")
                             .arg(user)
                             .arg(reply.token));
        return true;
    }
    ItemPtr userItem = d.GetType("user")->HasItem(user);
    if (userItem.IsConnected("is_ignored"))
        return true;

    ItemPtr wish = request["wish_list_item"];
    const bool discardRepeats = wish.IsConnected("discard_repeated_results");
    if (discardRepeats && userItem && wish["received_results_from_users"].IsConnected(userItem))
    {
        Log("Wish List", 1, QString("Throwing away repeated search results from user %1").arg(user));
        return true;
    }

    // A record without a file name (an empty path, or one that ends in a
    // separator) names no file anyone could download.
    struct Split
    {
        const FileInfo* file;
        std::string folder;
        std::string name;
    };
    std::vector<Split> files;
    for (const FileInfo& file : reply.files)
    {
        const std::string& path = file.Name();
        const size_t separator = path.find_last_of("\\/");
        Split split{&file, separator == std::string::npos ? std::string() : path.substr(0, separator),
                    separator == std::string::npos ? path : path.substr(separator + 1)};
        if (!split.name.empty())
            files.push_back(std::move(split));
    }
    if (files.empty())
    {
        if (IsLogging())
            Log(Area, 3, QString("Search results of %1 hold no usable file").arg(user));
        return true;
    }

    Data::Batch batch(&d);
    userItem = d.GetType("user")->GetItem(user);
    ItemPtr results = d.GetType("search_results")->NewItem();
    results += userItem;
    results += d.GetType("search_results_user_available")->GetItem(reply.freeSlot ? "yes" : "no");
    results += d.GetType("search_results_user_speed")->GetItem(Value(reply.speed));
    results += d.GetType("search_results_uploads_in_queue")->GetItem(Value(reply.queued));
    for (const Split& split : files)
    {
        ItemPtr result = results.NewItem("search_result");
        result += d.GetType("search_result_file_name")->GetItem(split.name);
        result += d.GetType("search_result_file_folder")->GetItem(split.folder);
        result += d.GetType("file_size")->GetItem(Value(split.file->Size()));
        for (const auto& attribute : split.file->Attributes().Values())
        {
            if (attribute.first == AttributeMap::Bitrate)
                result += d.GetType("bitrate")->GetItem(Value(attribute.second));
            else if (attribute.first == AttributeMap::LengthSeconds)
                result += d.GetType("length_seconds")->GetItem(Value(attribute.second));
            else if (attribute.first == AttributeMap::VariableBitrate)
                result += d.GetType("bitrate_mode")->GetItem(attribute.second ? "vbr" : "cbr");
        }
    }
    request += results;
    if (discardRepeats)
    {
        ItemPtr received = wish["received_results_from_users"];
        if (!received)
            received = wish.NewItem("received_results_from_users");
        received += userItem;
    }
    // Results come by the hundred a second: no text is made unless logged.
    if (IsLogging())
        Log("Search", 2, QString("%1 result(s) from %2 for ticket %3").arg(files.size()).arg(user).arg(reply.token));
    emit SearchResults(results);
    return true;
}

void PeerMessenger::SetUserAddress(const QString& user, const QString& address)
{
    ItemPtr userItem = d.GetType("user")->GetItem(user);
    ItemPtr addressItem = d.GetType("user_address")->GetItem(address);
    if (!userItem.IsConnected(addressItem))
        userItem += addressItem;
}

QString PeerMessenger::OwnName() const
{
    return GetSetting("username");
}
