#include "FakePeer.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <algorithm>

#include "FakeWire.h"

namespace {
template <typename Done>
bool WaitUntil(Done done, int timeout)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeout)
        QTest::qWait(10);
    return done();
}

FakePeerLink::Mode ModeOf(const QString& type)
{
    return type == "F"   ? FakePeerLink::Mode::Raw
           : type == "D" ? FakePeerLink::Mode::LinkFrames
                         : FakePeerLink::Mode::Messages;
}
} // namespace

FakePeer::FakePeer(const QString& name, QObject* parent)
    : QObject(parent), m_name(name), m_listener(new QTcpServer(this)), m_obfuscatedListener(new QTcpServer(this)),
      m_server(new QTcpSocket(this))
{
    connect(m_listener, &QTcpServer::newConnection, this, [this] { Accept(m_listener, false); });
    connect(m_obfuscatedListener, &QTcpServer::newConnection, this, [this] { Accept(m_obfuscatedListener, true); });
    connect(m_server, &QTcpSocket::readyRead, this, &FakePeer::OnServerReadyRead);
}

FakePeer::~FakePeer() = default;

bool FakePeer::Listen(bool obfuscated)
{
    if (!m_listener->listen(QHostAddress::LocalHost, 0))
        return false;
    return !obfuscated || m_obfuscatedListener->listen(QHostAddress::LocalHost, 0);
}

quint16 FakePeer::Port() const
{
    return m_listener->isListening() ? m_listener->serverPort() : 0;
}

quint16 FakePeer::ObfuscatedPort() const
{
    return m_obfuscatedListener->isListening() ? m_obfuscatedListener->serverPort() : 0;
}

void FakePeer::StopListening()
{
    m_listener->close();
    m_obfuscatedListener->close();
}

void FakePeer::SetAnnouncedPorts(quint16 port, quint16 obfuscatedPort)
{
    m_portsSet = true;
    m_announcedPort = port;
    m_announcedObfuscatedPort = obfuscatedPort;
}

bool FakePeer::LogIn(quint16 serverPort, int timeout)
{
    m_server->connectToHost(QHostAddress::LocalHost, serverPort);
    if (!m_server->waitForConnected(timeout))
        return false;
    const QByteArray digest = QCryptographicHash::hash((m_name + "password").toUtf8(), QCryptographicHash::Md5).toHex();
    SendToServer(1, FakeWire().Str(m_name).StrBytes(digest).U32(20130410).Bytes());
    if (!WaitUntil([this] { return m_loggedIn; }, timeout))
        return false;
    if (!m_portsSet)
        SetAnnouncedPorts(Port(), ObfuscatedPort());
    SendToServer(2, FakeWire().U32(m_announcedPort).U32(m_announcedObfuscatedPort).Bytes());
    // The server has the ports once it answers a later request; a
    // request for our own address is the cheapest one.
    SendToServer(3, FakeWire().Str(m_name).Bytes());
    m_loggedIn = false;
    return WaitUntil([this] { return m_loggedIn; }, timeout);
}

void FakePeer::RequestRelay(const QString& user, quint32 token, const QString& type)
{
    m_requestedTypes[token] = type;
    SendToServer(18, FakeWire().U32(token).Str(user).Str(type).Bytes());
}

void FakePeer::SendToServer(quint32 code, const QByteArray& body)
{
    m_server->write(FakeWire::Message(code, body));
}

bool FakePeer::WaitForRelayRequests(int count, int timeout)
{
    return WaitUntil([this, count] { return relayRequests.size() >= count; }, timeout);
}

void FakePeer::AskAddress(const QString& user)
{
    SendToServer(3, FakeWire().Str(user).Bytes());
}

bool FakePeer::WaitForAddress(const QString& user, int timeout)
{
    return WaitUntil([this, user] { return listeningPorts.contains(user); }, timeout);
}

bool FakePeer::WaitForSearchRequests(int count, int timeout)
{
    return WaitUntil([this, count] { return searchRequests.size() >= count; }, timeout);
}

void FakePeer::OnServerReadyRead()
{
    m_serverBuffer.append(m_server->readAll());
    for (;;) {
        FakeWire in(m_serverBuffer);
        quint32 length = 0, code = 0;
        QByteArray body;
        if (!in.ReadU32(length) || length < 4 || !in.ReadU32(code) || !in.ReadRaw(int(length) - 4, body))
            return;
        m_serverBuffer.remove(0, 4 + int(length));
        OnServerFrame(code, body);
    }
}

void FakePeer::OnServerFrame(quint32 code, const QByteArray& body)
{
    FakeWire in(body);
    if (code == 1) {
        quint8 accepted = 0;
        m_loggedIn = in.ReadU8(accepted) && accepted;
    } else if (code == 3) {
        QString user, address;
        quint32 port = 0;
        if (!in.ReadStr(user))
            return;
        if (user == m_name)
            m_loggedIn = true;
        else if (in.ReadStr(address) && in.ReadU32(port) && port != 0)
            listeningPorts.insert(user, quint16(port));
    } else if (code == 18) {
        RelayRequest request;
        if (!in.ReadStr(request.user) || !in.ReadStr(request.type) || !in.ReadStr(request.address) ||
            !in.ReadU32(request.port) || !in.ReadU32(request.obfuscatedPort) || !in.ReadU32(request.token))
            return;
        relayRequests.append(request);
        if (m_relayPolicy == RelayPolicy::Answer)
            AnswerRelay(request);
        else if (m_relayPolicy == RelayPolicy::Refuse)
            SendToServer(1001, FakeWire().U32(request.token).Str(request.user).Bytes());
    } else if (code == 26) {
        SearchRequest request;
        if (in.ReadStr(request.user) && in.ReadU32(request.ticket) && in.ReadStr(request.text))
            searchRequests.append(request);
    }
}

void FakePeer::AnswerRelay(const RelayRequest& request)
{
    // As a client does: message connections through the obfuscated port
    // when there is one, everything else through the plain port.
    const bool obfuscated = m_answerObfuscated && request.type == "P" && request.obfuscatedPort != 0;
    auto* socket = new QTcpSocket;
    auto* link = new FakePeerLink(socket, false, obfuscated, this);
    links.append(link);
    m_answers.append({link, request.type});
    const quint32 token = request.token;
    const QString type = request.type;
    connect(socket, &QTcpSocket::connected, link, [link, token, type] {
        link->SendRelayAnswer(token);
        link->SetMode(ModeOf(type));
    });
    socket->connectToHost(QHostAddress(request.address), quint16(obfuscated ? request.obfuscatedPort : request.port));
    emit LinkAdded(link);
}

void FakePeer::Accept(QTcpServer* listener, bool obfuscated)
{
    while (QTcpSocket* socket = listener->nextPendingConnection()) {
        auto* link = new FakePeerLink(socket, true, obfuscated, this);
        link->typeOfRelayedToken = [this](quint32 token) { return m_requestedTypes.value(token); };
        links.append(link);
        emit LinkAdded(link);
    }
}

FakePeerLink* FakePeer::StartConnecting(quint16 port, bool obfuscated)
{
    auto* socket = new QTcpSocket;
    auto* link = new FakePeerLink(socket, false, obfuscated, this);
    links.append(link);
    if ((!m_sourceAddress.isNull() || m_receiveBuffer > 0) &&
        !socket->bind(m_sourceAddress.isNull() ? QHostAddress(QHostAddress::LocalHost) : m_sourceAddress))
        return nullptr;
    if (m_receiveBuffer > 0)
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, m_receiveBuffer);
    socket->connectToHost(QHostAddress::LocalHost, port);
    return link;
}

FakePeerLink* FakePeer::Connect(quint16 port, bool obfuscated, int timeout)
{
    FakePeerLink* link = StartConnecting(port, obfuscated);
    return link && link->WaitForConnected(timeout) ? link : nullptr;
}

FakePeerLink* FakePeer::Greet(quint16 port, bool obfuscated, const QString& type, quint32 token, int timeout)
{
    FakePeerLink* link = Connect(port, obfuscated, timeout);
    if (!link)
        return nullptr;
    link->SendGreeting(m_name, type, token);
    link->SetMode(ModeOf(type));
    return link;
}

QList<FakePeerLink*> FakePeer::AcceptedLinks() const
{
    QList<FakePeerLink*> accepted;
    for (FakePeerLink* link : links)
        if (link->IsAccepted())
            accepted.append(link);
    return accepted;
}

FakePeerLink* FakePeer::WaitForLink(int timeout, const QList<FakePeerLink*>& seen)
{
    FakePeerLink* found = nullptr;
    auto ready = [&] {
        for (FakePeerLink* link : links) {
            if (seen.contains(link))
                continue;
            const bool answering = std::any_of(m_answers.begin(), m_answers.end(),
                                               [link](const auto& answer) { return answer.first == link; });
            if ((link->IsAccepted() && link->opening.received) ||
                (answering && link->Socket()->state() == QAbstractSocket::ConnectedState)) {
                found = link;
                return true;
            }
        }
        return false;
    };
    WaitUntil(ready, timeout);
    return found;
}

int FakePeer::OpenedCount() const
{
    int count = 0;
    for (FakePeerLink* link : links)
        if (link->IsAccepted() && link->opening.received)
            ++count;
    return count;
}
