// PeerMessenger: construction, the item types, listening and sending. Forming
// connections is in PeerMessengerConnections.cpp, reading what arrives in
// PeerMessengerReceiving.cpp.
#include "PeerMessenger.h"

#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>
#include <algorithm>

#include "Data.h"
#include "DataSaver.h"
#include "Log.h"
#include "PeerConnection.h"
#include "PeerMessages.h"
#include "PeerNames.h"
#include "Schema.h"
#include "SearchResultIntake.h"
#include "Server.h"
#include "ServerNames.h"
#include "Settings.h"
#include "TimerManager.h"
#include "WriteBacklog.h"

PeerMessenger* peerMessenger = nullptr;

static_assert(PeerMessenger::LargeMessageAllowance >=
                  4 + qint64(PeerMessages::MaxFrameLength) - PeerConnection::MaxBacklog,
              "the largest message must be readable");

namespace {
const char* const Area = "Peer Messenger";

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
      m_clock([] { return QDateTime::currentMSecsSinceEpoch(); }), m_inflateLimit(PeerMessages::InflateLimit),
      m_largeMessages(std::make_shared<SharedAllowance>(LargeMessageAllowance)),
      m_answers(std::make_shared<SharedAllowance>(AnswerAllowance, SmallAnswer)), m_roomCheck(new QTimer(this))
{
    peerMessenger = this;
    m_roomCheck->setInterval(1000);
    connect(m_roomCheck, &QTimer::timeout, this, &PeerMessenger::CheckRooms);
    for (SharedAllowance* room : {m_largeMessages.get(), m_answers.get()})
        CheckWhileWaiting(*room);
    DeclareTypes();
    m_shareListTimer = new QTimer(this);
    m_shareListTimer->setInterval(0);
    m_shareListTimer->setSingleShot(true);
    connect(m_shareListTimer, &QTimer::timeout, this, &PeerMessenger::ReadShareLists);
    m_searchResults = new SearchResultIntake(this);
    connect(m_searchResults, &SearchResultIntake::Results, this, &PeerMessenger::SearchResults);
    connect(m_searchResults, &SearchResultIntake::MoreResults, this, &PeerMessenger::MoreSearchResults);
    connect(m_searchResults, &SearchResultIntake::GivingUp, this, &PeerMessenger::GivingUpSearchResults);
    connect(m_searchResults, &SearchResultIntake::LeftOutCounted, this, &PeerMessenger::SearchResultsLeftOut);
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);

    connect(m_listener, &QTcpServer::newConnection, this, [this] { OnNewConnection(m_listener, false); });
    connect(m_obfuscatedListener, &QTcpServer::newConnection, this,
            [this] { OnNewConnection(m_obfuscatedListener, true); });
    if (gp_server) {
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

void PeerMessenger::CheckWhileWaiting(SharedAllowance& room)
{
    room.OnWaiting([this] {
        if (!m_roomCheck->isActive())
            m_roomCheck->start();
    });
}

void PeerMessenger::SetAnswerAllowance(qint64 bytes)
{
    m_answers = std::make_shared<SharedAllowance>(bytes, SmallAnswer);
    CheckWhileWaiting(*m_answers);
}

void PeerMessenger::DeclareTypes()
{
    using namespace Schema;
    for (const char* name :
         {PeerNames::FileSize, PeerNames::MpegVersion, PeerNames::ChannelMode, PeerNames::AudioFrequency,
          PeerNames::BitrateMode, PeerNames::Bitrate, PeerNames::LengthSeconds})
        Declare(name, Attribute, Valued);

    // "search_request", "search_request_text" and "wish_list_item" are the
    // server connection's; the rest of the search types hang off them.
    Declare(PeerNames::SearchStopped, Attribute, Valueless, OnNewItem);
    Relate(ServerNames::SearchRequest, PeerNames::SearchStopped, one, many);
    Declare(PeerNames::SearchResults, Node, Valueless, OnNewItem);
    Own(ServerNames::SearchRequest, PeerNames::SearchResults, many);
    Relate(PeerNames::SearchResults, ServerNames::User, one, many);
    for (const char* name : {PeerNames::SearchResultsUserAvailable, PeerNames::SearchResultsUserSpeed,
                             PeerNames::SearchResultsUploadsInQueue}) {
        Declare(name, Attribute, Valued);
        Relate(PeerNames::SearchResults, name, one, many);
    }
    Declare(PeerNames::SearchResult, Node, Valueless, OnNewItem);
    Own(PeerNames::SearchResults, PeerNames::SearchResult, many);
    for (const char* name : {PeerNames::SearchResultFileName, PeerNames::SearchResultFileFolder}) {
        Declare(name, Attribute, Valued);
        Relate(PeerNames::SearchResult, name, one, many);
    }
    for (const char* name : {PeerNames::FileSize, PeerNames::Bitrate, PeerNames::LengthSeconds, PeerNames::BitrateMode})
        Relate(PeerNames::SearchResult, name, one, many);

    for (const char* name : {PeerNames::WishListItemEnabled, PeerNames::DiscardRepeatedResults}) {
        Declare(name, Attribute, Valueless, OnNewItem);
        Relate(ServerNames::WishListItem, name, one, many);
    }
    Declare(PeerNames::ReceivedResultsFromUsers, Node, Valueless, OnNewItem);
    Own(ServerNames::WishListItem, PeerNames::ReceivedResultsFromUsers, one);
    Relate(PeerNames::ReceivedResultsFromUsers, ServerNames::User, many, many);

    Declare(PeerNames::UserAddress, Attribute, Valued);
    Relate(ServerNames::User, PeerNames::UserAddress, one, many);

    Save(PeerNames::WishListItemEnabled);
    Save(PeerNames::DiscardRepeatedResults);
    Save(PeerNames::ReceivedResultsFromUsers);
    SaveWith(ServerNames::User, PeerNames::ReceivedResultsFromUsers);
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
    if (port == 65535) {
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
        Log(Area, 1,
            QString("Cannot listen for %1 connections on port %2: %3")
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
    while (QTcpSocket* socket = listener->nextPendingConnection()) {
        const QString address = PeerConnectionPolicy::AddressOf(socket->peerAddress());
        // Never refused for its address: that is for those that stay silent.
        CloseSilent(address);
        if (!MakeRoom(true)) {
            Log(Area, 2, QString("Too many connections still opening; refusing one from %1").arg(address));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* connection = new PeerConnection(socket, obfuscated, ConnectionClock(), this);
        Watch(connection);
        m_pending.append(connection);
        m_connectionPolicy.AddOpening(connection, address, m_clock());
    }
}

void PeerMessenger::Watch(PeerConnection* connection)
{
    connection->SetSharedAllowances(m_largeMessages, m_answers);
    connect(connection, &PeerConnection::OpeningReceived, this,
            [this, connection](quint8 kind, QString name, QString type, quint32 token) {
                OnOpening(connection, kind, name, type, token);
            });
    connect(connection, &PeerConnection::FileTokenReceived, this,
            [this, connection](quint32 fileToken) { OnFileToken(connection, fileToken); });
    connection->SetGate([this, connection](quint32 code, qint64 size) { return MayHandle(connection, code, size); });
    connect(connection, &PeerConnection::MessageReceived, this, [this, connection](quint32 code, QByteArray body) {
        m_connectionPolicy.MessagePassed(connection, m_clock());
        OnMessage(connection, code, body);
        // What was claimed for an answer built at once is the answer's now,
        // or was not needed.
        if (connection->GetState() == PeerConnection::State::Open && PeerMessages::IsQuestion(code))
            connection->QuestionClaim(code).Release();
    });
    connect(connection, &PeerConnection::Arrived, this,
            [this, connection] { m_connectionPolicy.MessagePassed(connection, m_clock()); });
    connect(connection, &PeerConnection::RoomGranted, this,
            [this, connection] { m_connectionPolicy.ReadingResumed(connection, m_clock()); });
    connect(connection, &PeerConnection::Taken, this, [this, connection] { OnTaken(connection); });
    connect(connection, &PeerConnection::MessageTooLong, this,
            [this, connection](quint32 code, quint32 length) { OnMessageTooLong(connection, code, length); });
    connect(connection, &PeerConnection::Ended, this,
            [this, connection](QString reason) { OnConnectionEnded(connection, reason); });
    if (connection->GetOrigin() == PeerConnection::Origin::Direct)
        connect(connection, &PeerConnection::Connected, this, [this, connection] { OnDirectConnected(connection); });
    else if (connection->GetOrigin() == PeerConnection::Origin::RelayAnswer)
        connect(connection, &PeerConnection::Connected, this,
                [this, connection] { OnRelayAnswerConnected(connection); });
}

// ---------------------------------------------------------------------------
// Sending

void PeerMessenger::SendToUser(const QString& user, const MemStream& message)
{
    if (user.isEmpty())
        return;
    const QByteArray bytes = message.GetBytes();
    PeerConnection* connection = LatestMessageConnection(user);
    const quint32 code = bytes.size() >= 4 ? qFromLittleEndian<quint32>(bytes.constData()) : 0;
    if (code == PeerMessages::FileSearchResult && !SearchReplyFits(connection, user, bytes.size()))
        return;
    if (code == PeerMessages::SharedFileList || code == PeerMessages::UserInfoReply ||
        code == PeerMessages::FolderContents)
        m_answerSizes[code] = 4 + bytes.size();
    if (connection) {
        connection->SendMessage(bytes);
        if (connection->UndeliveredBytes() > 0)
            m_connectionPolicy.Queued(connection, m_clock());
    } else {
        Unsent unsent{bytes, m_clock(), SharedAllowance::Share(m_answers, SharedAllowance::Owner{user, {}, 0})};
        if (PeerMessages::IsAnswer(code))
            unsent.answer.Add(4 + bytes.size());
        m_unsent[user].push_back(std::move(unsent));
        const bool forming = std::any_of(m_attempts.begin(), m_attempts.end(), [&](const auto& entry) {
            return entry.second.user == user && entry.second.type == "P";
        });
        if (!forming)
            StartAttempt(user, "P");
    }
    // The room claimed for the share list while it was built is now the
    // list's own.
    if (code == PeerMessages::SharedFileList && user == m_listBuilding)
        ShareListSent();
}

qint64 PeerMessenger::UnsentBytes(const QString& user) const
{
    qint64 waiting = 0;
    auto unsent = m_unsent.find(user);
    if (unsent != m_unsent.end())
        for (const Unsent& message : unsent->second)
            waiting += message.message.size();
    return waiting;
}

qint64 PeerMessenger::UnwrittenBytes(const QString& user) const
{
    qint64 waiting = 0;
    for (const PeerConnection* connection : m_messageConnections.value(user))
        waiting += connection->UnwrittenBytes();
    return waiting + UnsentBytes(user);
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
    m_shareListsAsked.insert(user);
    SendToUser(user, PeerMessages::WriteShareListRequest());
}

void PeerMessenger::GetUserInfo(QString user)
{
    SendToUser(user, PeerMessages::WriteUserInfoRequest());
}

void PeerMessenger::QueueDownload(QString user, std::string path)
{
    SendToUser(user, PeerMessages::WriteQueueUpload(path));
}

void PeerMessenger::QueueUpload(QString user, QString file, qint64 size)
{
    SendToUser(user, PeerMessages::WriteUploadOffer(PeerMessages::Utf8(file), size));
}

uint PeerMessenger::RequestUpload(QString user, QString file, qint64 size)
{
    const quint32 token = GetSetting("transfer_req_counter").toUInt();
    SetSetting("transfer_req_counter", QString::number(quint32(token + 1)));
    PeerMessages::TransferRequestBody request;
    request.direction = 1;
    request.token = token;
    request.path = PeerMessages::Utf8(file);
    request.size = size;
    SendToUser(user, PeerMessages::WriteTransferRequest(request));
    return token;
}

void PeerMessenger::AcceptTransferRequest(QString user, uint token, bool withSize, qint64 size)
{
    PeerMessages::TransferResponseBody response;
    response.token = token;
    response.allowed = true;
    response.sizePresent = withSize;
    response.size = size;
    SendToUser(user, PeerMessages::WriteTransferResponse(response));
}

void PeerMessenger::DenyTransferRequest(QString user, uint token, QString reason)
{
    PeerMessages::TransferResponseBody response;
    response.token = token;
    response.reason = reason;
    SendToUser(user, PeerMessages::WriteTransferResponse(response));
}

void PeerMessenger::SendUploadPlaceInLine(QString user, QString file, int place)
{
    SendToUser(user, PeerMessages::WritePlaceInLine(PeerMessages::Utf8(file), quint32(place)));
}

void PeerMessenger::DenyUpload(QString user, QString file, QString reason)
{
    SendToUser(user, PeerMessages::WriteUploadDenied(PeerMessages::Utf8(file), reason));
}

void PeerMessenger::RequestFileConnectionToUser(QString user)
{
    StartAttempt(user, "F");
}

void PeerMessenger::RequestDNetConnectionToUser(QString user)
{
    StartAttempt(user, "D");
}

void PeerMessenger::SetUserAddress(const QString& user, const QString& address)
{
    ItemPtr userItem = d.GetType(ServerNames::User)->GetItem(user);
    ItemPtr addressItem = d.GetType(PeerNames::UserAddress)->GetItem(address);
    if (!userItem.IsConnected(addressItem))
        userItem += addressItem;
}

QString PeerMessenger::OwnName() const
{
    return GetSetting("username");
}
