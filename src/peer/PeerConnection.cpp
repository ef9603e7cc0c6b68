#include "PeerConnection.h"

#include <QMetaObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <algorithm>

#include "MemStream.h"
#include "PeerMessages.h"
#include "SendQueue.h"
#include "TurnBudget.h"

namespace {
quint32 LittleEndian32(const QByteArray& bytes)
{
    const auto* b = reinterpret_cast<const uchar*>(bytes.constData());
    return quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
}

QByteArray Framed(const QByteArray& content)
{
    MemStream frame;
    frame.Write(quint32(content.size()));
    frame.Append(content);
    return frame.GetBytes();
}
} // namespace

PeerConnection::PeerConnection(QTcpSocket* socket, bool obfuscated, Clock clock, QObject* parent)
    : QObject(parent), m_socket(socket), m_origin(Origin::Incoming),
      m_state(obfuscated ? State::AwaitingKey : State::AwaitingOpening), m_obfuscated(obfuscated), m_connected(true),
      m_created(clock()), m_peerAddress(socket->peerAddress())
{
    m_socket->setParent(this);
    Setup();
    // Bytes may have arrived before the signals were connected.
    QMetaObject::invokeMethod(this, &PeerConnection::OnReadyRead, Qt::QueuedConnection);
}

PeerConnection::PeerConnection(Origin origin, bool obfuscated, Clock clock, QObject* parent)
    : QObject(parent), m_socket(new QTcpSocket(this)), m_origin(origin), m_state(State::Connecting),
      m_obfuscated(obfuscated), m_connected(false), m_created(clock())
{
    Setup();
}

PeerConnection::~PeerConnection()
{
    if (m_socket)
        m_socket->disconnect(this);
}

void PeerConnection::Setup()
{
    m_socket->setReadBufferSize(SocketBufferLimit);
    connect(m_socket, &QTcpSocket::connected, this, &PeerConnection::OnSocketConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &PeerConnection::OnReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &PeerConnection::OnSocketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &PeerConnection::OnSocketDisconnected);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &PeerConnection::OnBytesWritten);
}

void PeerConnection::OnBytesWritten()
{
    // What the system took of our answers gives its part of the shared
    // total back at once.
    m_unwritten.Drain(UnwrittenBytes());
    FollowDelivery();
}

void PeerConnection::FollowDelivery()
{
    if (!m_socket || m_state == State::Finished)
        return;
    const qint64 undelivered = UndeliveredBytes();
    const qint64 delivered = m_unwritten.Handed() - undelivered;
    if (delivered - m_takenMark >= ProgressBytes || (undelivered == 0 && delivered > m_takenMark)) {
        m_takenMark = delivered;
        emit Taken();
    }
}

void PeerConnection::Open(const QHostAddress& address, quint16 port)
{
    m_peerAddress = address;
    m_socket->connectToHost(address, port);
}

void PeerConnection::SetSharedAllowances(std::shared_ptr<SharedAllowance> largeMessages,
                                         std::shared_ptr<SharedAllowance> answers)
{
    m_largeMessage = SharedAllowance::Share(std::move(largeMessages), m_owner);
    m_answersRoom = answers;
    m_unwritten.CountAnswersIn(SharedAllowance::Share(std::move(answers), m_owner));
}

void PeerConnection::SetRoomOwner(const SharedAllowance::Owner& owner)
{
    m_owner = owner;
    m_largeMessage.SetOwner(owner);
    m_unwritten.SetOwner(owner);
    for (auto& claim : m_questionClaims)
        claim.second.SetOwner(owner);
}

SharedAllowance::Share& PeerConnection::QuestionClaim(quint32 questionCode)
{
    auto claim = m_questionClaims.find(questionCode);
    if (claim == m_questionClaims.end())
        claim = m_questionClaims.emplace(questionCode, SharedAllowance::Share(m_answersRoom, m_owner)).first;
    return claim->second;
}

void PeerConnection::Reconsider()
{
    if (m_held.empty())
        return;
    m_reconsider = true;
    QueueContinuation();
}

QString PeerConnection::PeerAddressText() const
{
    return m_peerAddress.toString();
}

qint64 PeerConnection::UnreadBytes() const
{
    return m_buffer.size() + (m_socket ? m_socket->bytesAvailable() : 0);
}

qint64 PeerConnection::UnwrittenBytes() const
{
    return m_socket ? m_socket->bytesToWrite() : 0;
}

qint64 PeerConnection::UndeliveredBytes() const
{
    return m_socket ? m_socket->bytesToWrite() + SendQueue::Unacknowledged(m_socket->socketDescriptor()) : 0;
}

qint64 PeerConnection::DeliveredBytes() const
{
    return m_unwritten.Handed() - UndeliveredBytes();
}

bool PeerConnection::HasRoomFor(qint64 size)
{
    return m_unwritten.Fits(4 + size, UnwrittenBytes());
}

bool PeerConnection::Waits(quint32 code)
{
    return m_unwritten.Waits(code, UnwrittenBytes());
}

void PeerConnection::SendGreeting(const QString& ownName, const QString& connectionType, quint32 connectionToken)
{
    MemStream opening;
    opening.Write(quint8(1));
    opening.Write(ownName);
    opening.Write(connectionType);
    opening.Write(connectionToken);
    Write(Framed(opening.GetBytes()), WriteBacklog::NotAMessage);
}

void PeerConnection::SendRelayAnswer(quint32 connectionToken)
{
    MemStream opening;
    opening.Write(quint8(0));
    opening.Write(connectionToken);
    Write(Framed(opening.GetBytes()), WriteBacklog::NotAMessage);
}

void PeerConnection::SendMessage(const QByteArray& message)
{
    Write(Framed(message), message.size() >= 4 ? LittleEndian32(message) : WriteBacklog::NotAMessage);
    // What the system takes at once is gone: what waits behind the message
    // actually being written is then what the socket still holds.
    if (m_socket && m_state != State::Finished && m_socket->isOpen()) {
        m_flushing = true;
        m_socket->flush();
        m_flushing = false;
    }
}

void PeerConnection::Write(QByteArray bytes, quint32 code)
{
    // A write that failed closed the socket; its end is told soon.
    if (!m_socket || m_state == State::Finished || !m_socket->isOpen())
        return;
    if (m_obfuscated)
        m_out.Transform(bytes);
    // The socket frees each piece it was handed only once all of it has
    // gone to the system: handed in pieces, an answer larger than the
    // system takes at once holds no more than what is left of it.
    qint64 written = 0;
    for (qint64 at = 0; at < bytes.size();) {
        const qint64 piece = m_socket->write(bytes.constData() + at, std::min<qint64>(WritePiece, bytes.size() - at));
        if (piece <= 0)
            break;
        written += piece;
        at += piece;
    }
    m_unwritten.Queued(code, written);
}

void PeerConnection::BeginMessages()
{
    m_state = State::Open;
    QMetaObject::invokeMethod(this, &PeerConnection::OnReadyRead, Qt::QueuedConnection);
}

void PeerConnection::AwaitFileToken()
{
    m_state = State::AwaitingFileToken;
    QMetaObject::invokeMethod(this, &PeerConnection::OnReadyRead, Qt::QueuedConnection);
}

QTcpSocket* PeerConnection::HandOver()
{
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    LetGoOfRooms();
    if (socket) {
        socket->disconnect(this);
        socket->setParent(nullptr);
        // The new owner sets its own limit, if any.
        socket->setReadBufferSize(0);
    }
    return socket;
}

void PeerConnection::Drop()
{
    LetGoOfRooms();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void PeerConnection::LetGoOfRooms()
{
    m_state = State::Finished;
    m_largeMessage.Release();
    m_unwritten.Clear();
    m_questionClaims.clear();
}

void PeerConnection::Pause()
{
    m_paused = true;
}

void PeerConnection::Resume()
{
    if (!m_paused)
        return;
    m_paused = false;
    ReleaseLargeMessageRoom();
    QueueContinuation();
}

void PeerConnection::End(const QString& reason)
{
    if (m_state == State::Finished)
        return;
    Drop();
    emit Ended(reason);
}

void PeerConnection::OnSocketConnected()
{
    m_connected = true;
    if (m_obfuscated) {
        // The key goes out in the clear; everything after it is transformed.
        const quint32 key = QRandomGenerator::system()->generate();
        MemStream keyBytes;
        keyBytes.Write(key);
        m_unwritten.Queued(WriteBacklog::NotAMessage, m_socket->write(keyBytes.GetBytes()));
        m_out = Obfuscator(key, Obfuscator::FromConnectingSide);
        m_in = Obfuscator(key, Obfuscator::FromAcceptingSide);
    }
    emit Connected();
}

void PeerConnection::OnReadyRead()
{
    QPointer<PeerConnection> self(this);
    while (self && m_state != State::Finished && m_socket) {
        // A message still being handled keeps the rest, and the end, waiting.
        if (m_paused)
            return;
        // Messages are handled a turn's budget at a time; the rest waits
        // in order for a later turn.
        if (m_state == State::Open && TurnBudget::Exhausted()) {
            QueueContinuation();
            return;
        }
        if (m_reconsider) {
            m_reconsider = false;
            if (DeliverHeld())
                continue;
        }
        const bool message = m_state == State::Open;
        if (!Step())
            break;
        if (!self)
            return;
        if (message) {
            TurnBudget::Spend();
            // The message has been handled: what it held of the shared room
            // goes back, unless its handling goes on.
            if (!m_paused)
                ReleaseLargeMessageRoom();
        }
    }
    // What arrived before the other side closed has been handled: the end
    // it announced follows it.
    if (self && m_closing && m_state != State::Finished)
        End(m_closeReason);
}

void PeerConnection::QueueContinuation()
{
    if (m_continuationQueued)
        return;
    m_continuationQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_continuationQueued = false;
            OnReadyRead();
        },
        Qt::QueuedConnection);
}

void PeerConnection::Close(const QString& reason)
{
    if (!m_closing) {
        m_closing = true;
        m_closeReason = reason;
    }
    OnReadyRead();
}

void PeerConnection::OnSocketError()
{
    if (m_state == State::Finished || !m_socket)
        return;
    // A write that fails inside SendMessage is told after the sender has
    // returned, as any other end is.
    if (m_flushing) {
        QMetaObject::invokeMethod(this, &PeerConnection::OnSocketError, Qt::QueuedConnection);
        return;
    }
    // What arrived before the other side closed still counts.
    if (m_state != State::Connecting)
        Close(m_socket->errorString());
    else
        End(m_socket->errorString());
}

void PeerConnection::OnSocketDisconnected()
{
    if (m_flushing) {
        QMetaObject::invokeMethod(this, &PeerConnection::OnSocketDisconnected, Qt::QueuedConnection);
        return;
    }
    Close("closed by the other side");
}

bool PeerConnection::FrameBuffered() const
{
    const qint64 available = m_buffer.size() - m_taken;
    return available >= 4 && available >= 4 + qint64(LittleEndian32(m_buffer.mid(m_taken, 4)));
}

void PeerConnection::PullWhatFits(quint32 maxFrameLength)
{
    if (m_taken > 0) {
        m_buffer.remove(0, m_taken);
        m_taken = 0;
    }
    // A frame at the head longer than the backlog is read on beyond it only
    // once the room all connections share for that has granted the rest;
    // until then TCP holds the peer back.
    // Questions waiting for the gate count as read and not yet handled.
    const qint64 limit = MaxBacklog - m_heldBytes;
    if (limit <= 0)
        return;
    Append(ReadBacklog::ReadWhatFits(m_socket, m_buffer, limit, 0));
    const qint64 beyond = m_buffer.size() < limit
                              ? 0
                              : ReadBacklog::HeadBeyond(m_buffer.constData(), m_buffer.size(), limit, maxFrameLength);
    if (beyond > 0 && m_largeMessage.Claim(beyond, [this] {
            emit RoomGranted();
            QueueContinuation();
        }))
        Append(ReadBacklog::ReadWhatFits(m_socket, m_buffer, limit, maxFrameLength));
}

void PeerConnection::Append(QByteArray bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_obfuscated)
        m_in.Transform(bytes);
    m_buffer.append(bytes);
    if (m_state == State::Open) {
        m_arrivedSinceMark += bytes.size();
        if (m_arrivedSinceMark >= ProgressBytes) {
            m_arrivedSinceMark = 0;
            emit Arrived();
        }
    }
}

qint64 PeerConnection::Available() const
{
    return ReadsEverything() ? m_buffer.size() - m_taken : m_socket->bytesAvailable();
}

QByteArray PeerConnection::Peek(qint64 size)
{
    return ReadsEverything() ? m_buffer.mid(m_taken, int(size)) : m_socket->peek(size);
}

QByteArray PeerConnection::Take(qint64 size)
{
    if (ReadsEverything()) {
        QByteArray taken = m_buffer.mid(m_taken, int(size));
        m_taken += int(size);
        // Compact now and then rather than move the rest at every frame.
        if (m_taken == m_buffer.size()) {
            m_buffer.clear();
            m_taken = 0;
        } else if (m_taken > 65536 && m_taken > m_buffer.size() / 2) {
            m_buffer.remove(0, m_taken);
            m_taken = 0;
        }
        return taken;
    }
    return m_socket->read(size);
}

bool PeerConnection::TakeFrame(quint32 minLength, quint32 maxLength, QByteArray& frame)
{
    if (ReadsEverything() && !FrameBuffered())
        PullWhatFits(maxLength);
    if (Available() < 4)
        return false;
    const quint32 length = LittleEndian32(Peek(4));
    if (length > maxLength && m_state == State::Open) {
        // The code says what was refused, so that whoever waits for it can
        // be told; it is the next four bytes, right behind.
        if (Available() < 8)
            return false;
        emit MessageTooLong(LittleEndian32(Peek(8).mid(4)), length);
    }
    if (length < minLength || length > maxLength) {
        End(QString("frame length %1 out of bounds").arg(length));
        return false;
    }
    if (Available() < 4 + qint64(length))
        return false;
    Take(4);
    frame = Take(length);
    return true;
}

void PeerConnection::ReleaseLargeMessageRoom()
{
    if (m_largeMessage.Held() > 0 && m_heldBytes <= MaxBacklog)
        m_largeMessage.Release();
}

bool PeerConnection::DeliverHeld()
{
    QPointer<PeerConnection> self(this);
    bool delivered = false;
    for (size_t i = 0; i < m_held.size() && m_state == State::Open;) {
        if (!m_gate || m_gate(m_held[i].first, m_held[i].second.size())) {
            const std::pair<quint32, QByteArray> message = std::move(m_held[i]);
            m_held.erase(m_held.begin() + i);
            m_heldBytes -= 4 + message.second.size();
            delivered = true;
            emit MessageReceived(message.first, message.second.mid(4));
            if (!self)
                return true;
        } else
            ++i;
    }
    ReleaseLargeMessageRoom();
    return delivered;
}

bool PeerConnection::Step()
{
    switch (m_state) {
    case State::AwaitingKey:
    {
        if (m_socket->bytesAvailable() < 4)
            return false;
        const quint32 key = LittleEndian32(m_socket->read(4));
        m_in = Obfuscator(key, Obfuscator::FromConnectingSide);
        m_out = Obfuscator(key, Obfuscator::FromAcceptingSide);
        m_state = State::AwaitingOpening;
        return true;
    }
    case State::AwaitingOpening:
    {
        QByteArray frame;
        if (!TakeFrame(5, MaxOpeningLength, frame))
            return false;
        MemStream in(frame);
        quint8 kind = 0;
        QString name, connectionType;
        quint32 connectionToken = 0;
        in.Read(kind);
        const bool read = kind == 1 ? in.Read(name) && in.Read(connectionType) && in.Read(connectionToken)
                                    : kind == 0 && in.Read(connectionToken);
        if (!read) {
            End("unreadable opening frame");
            return false;
        }
        m_state = State::Identified;
        emit OpeningReceived(kind, name, connectionType, connectionToken);
        return true;
    }
    case State::AwaitingFileToken:
    {
        if (Available() < 4)
            return false;
        const quint32 fileToken = LittleEndian32(Take(4));
        m_state = State::Identified;
        emit FileTokenReceived(fileToken);
        return true;
    }
    case State::Open:
    {
        QByteArray frame;
        if (!TakeFrame(4, PeerMessages::MaxFrameLength, frame))
            return false;
        const quint32 code = LittleEndian32(frame.left(4));
        if (m_gate && PeerMessages::IsQuestion(code) && !m_gate(code, frame.size())) {
            m_heldBytes += 4 + frame.size();
            m_held.emplace_back(code, std::move(frame));
            ReleaseLargeMessageRoom();
            return true;
        }
        // The room a large message holds goes once it is handled (in
        // OnReadyRead), or once a handling that pauses the connection ends.
        emit MessageReceived(code, frame.mid(4));
        return true;
    }
    default:
        return false;
    }
}
