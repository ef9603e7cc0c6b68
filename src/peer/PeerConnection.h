#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QtGlobal>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "Obfuscator.h"
#include "ReadBacklog.h"
#include "SharedAllowance.h"
#include "WriteBacklog.h"

class QTcpSocket;

// One TCP connection to another client while peer messaging owns it: the
// optional obfuscation, the opening frame, the file token of a file
// connection and the framed messages of a message connection. It knows
// nothing about users or attempts; PeerMessenger decides what each
// connection is for.
//
// Until a connection is a message connection, a plain socket is read
// exactly as far as the current step needs, so whatever follows stays in
// the socket for the owner it is handed to.
class PeerConnection : public QObject
{
    Q_OBJECT

public:
    enum class Origin
    {
        Incoming,   // accepted on a listening port
        Direct,     // our own direct attempt
        RelayAnswer // our answer to a connection request relayed by the server
    };
    enum class State
    {
        Connecting,
        AwaitingKey,
        AwaitingOpening,
        AwaitingFileToken,
        Identified, // opening or file token read; the owner decides what follows
        Open,
        Finished // handed over, dropped or ended
    };
    // Opening frames are short; a longer one is not a client of ours.
    static constexpr quint32 MaxOpeningLength = 4096;
    // A message connection reads no faster than it handles, so that TCP
    // slows a peer that sends faster: it holds at most MaxBacklog bytes read
    // and not yet handled, and its socket at most SocketBufferLimit more.
    // Only a message at the head larger than MaxBacklog is read whole
    // beyond it, on room claimed from what all connections share for that
    // (see SetSharedAllowances).
    static constexpr qint64 MaxBacklog = ReadBacklog::MaxBacklog;
    static constexpr qint64 SocketBufferLimit = ReadBacklog::SocketBufferLimit;
    static constexpr qint64 MaxUnreadBytes = ReadBacklog::MaxUnreadBytes;
    // Moving this much of a message either way tells that the other side
    // keeps up, as a whole message does.
    static constexpr qint64 ProgressBytes = 16 * 1024;
    // What the socket is handed at a time.
    static constexpr qint64 WritePiece = 64 * 1024;

    typedef std::function<qint64()> Clock;
    // Whether a question (PeerMessages::IsQuestion) of size bytes (code and
    // body) may be handled now; one that may not waits among the bytes read
    // and not yet handled until Reconsider, while other messages go on.
    typedef std::function<bool(quint32 code, qint64 size)> Gate;

    // An accepted connection, already up.
    PeerConnection(QTcpSocket* socket, bool obfuscated, Clock clock, QObject* parent);
    // An outgoing connection; Open() starts it.
    PeerConnection(Origin origin, bool obfuscated, Clock clock, QObject* parent);
    ~PeerConnection() override;

    void Open(const QHostAddress& address, quint16 port);
    // What all connections together may hold: the part of messages larger
    // than the backlog read beyond it, and our answers waiting to be
    // written. Without them this connection counts against nothing.
    void SetSharedAllowances(std::shared_ptr<SharedAllowance> largeMessages, std::shared_ptr<SharedAllowance> answers);
    // Whom what it holds of those counts for, once the peer is named.
    void SetRoomOwner(const SharedAllowance::Owner& owner);
    const SharedAllowance::Owner& RoomOwner() const { return m_owner; }
    // Room claimed in what all answers share for the answer to a question
    // of that code, still to be built; it goes with the connection.
    SharedAllowance::Share& QuestionClaim(quint32 questionCode);
    qint64 LargeMessageHeld() const { return m_largeMessage.Held(); }

    void SetGate(Gate gate) { m_gate = std::move(gate); }
    // Asks the gate again about the questions waiting, in order, soon.
    void Reconsider();

    Origin GetOrigin() const { return m_origin; }
    State GetState() const { return m_state; }
    bool IsObfuscated() const { return m_obfuscated; }
    bool WasConnected() const { return m_connected; }
    qint64 Created() const { return m_created; }
    // Kept once the socket has closed or gone, for what was read before.
    QString PeerAddressText() const;
    const QHostAddress& PeerAddress() const { return m_peerAddress; }
    // What the connection holds of what the peer sent: the bytes read and
    // not yet let go, and those waiting in its socket.
    qint64 UnreadBytes() const;
    // What waits in the socket to be written to the peer; whether a message
    // of size bytes still fits behind it, and whether one of that code
    // still waits in it (WriteBacklog).
    qint64 UnwrittenBytes() const;
    // What the peer has not taken yet: that, and what the system holds of
    // what the socket handed it.
    qint64 UndeliveredBytes() const;
    // What the peer has taken of all it was handed: the system's count.
    qint64 DeliveredBytes() const;
    // Looks at what the peer has taken since it last looked: Taken when
    // that is ProgressBytes more, or all there was. Nothing tells of it
    // otherwise while the system's own buffer drains.
    void FollowDelivery();
    bool HasRoomFor(qint64 size);
    bool Waits(quint32 code);

    // What peer messaging has learnt about it.
    QString user;
    QString type;
    quint32 token = 0;
    // Whether questions wait because the peer leaves our answers unread;
    // told once a stretch.
    bool backedUp = false;

    void SendGreeting(const QString& ownName, const QString& connectionType, quint32 connectionToken);
    void SendRelayAnswer(quint32 connectionToken);
    // A whole message (code and body); the length is put in front.
    void SendMessage(const QByteArray& message);

    // The next step after the opening frame.
    void BeginMessages();
    void AwaitFileToken();
    // Gives the socket away: every connection between it and this object is
    // cut, it has no parent and nothing more is read from it here.
    QTcpSocket* HandOver();
    // Ends the connection at once; no signal follows.
    void Drop();
    // While the message just received is still being handled (over later
    // turns), nothing more is taken from the connection, and a message
    // larger than the backlog keeps its room in what all connections share.
    // Resume takes the next message, in order, at a later turn.
    void Pause();
    void Resume();
    bool IsPaused() const { return m_paused; }

signals:
    // An outgoing connection is up (after its key when obfuscated).
    void Connected();
    // kind 1: a direct greeting with name, type and token; kind 0: the
    // answer to a relayed request with its token.
    void OpeningReceived(quint8 kind, QString name, QString connectionType, quint32 connectionToken);
    void FileTokenReceived(quint32 fileToken);
    void MessageReceived(quint32 code, QByteArray body);
    // Another ProgressBytes of what the peer sends arrived.
    void Arrived();
    // The peer took all we wrote for it, or ProgressBytes more of it.
    void Taken();
    // Room for the large message at the head was granted after a wait.
    void RoomGranted();
    // A message frame longer than the frame bound, read no further: its
    // code and length field. Ended follows at once.
    void MessageTooLong(quint32 code, quint32 length);
    // The connection ended by itself: refused, closed by the other side,
    // broken, or a frame that cannot be read. Sent once.
    void Ended(QString reason);

private slots:
    void OnSocketConnected();
    void OnReadyRead();
    void OnSocketError();
    void OnSocketDisconnected();

private:
    void Setup();
    void Write(QByteArray bytes, quint32 code);
    void OnBytesWritten();
    // Finished: gives back all it held of the shared rooms.
    void LetGoOfRooms();
    // Hands the questions the gate now lets through on; true if any went.
    bool DeliverHeld();
    // The room for a large message goes once the frames it held are
    // handled (a held question keeps it).
    void ReleaseLargeMessageRoom();
    bool Step();
    // Obfuscated bytes must all be decoded in order, and a message
    // connection keeps nothing back for anyone: both read ahead into the
    // buffer, within the backlog bound; otherwise read exactly.
    bool ReadsEverything() const { return (m_obfuscated && m_state != State::AwaitingKey) || m_state == State::Open; }
    // Whether the frame at the head of the read bytes is there whole.
    bool FrameBuffered() const;
    // Moves what fits under the backlog bound from the socket to the
    // buffer, a frame of up to maxFrameLength at its head read whole.
    void PullWhatFits(quint32 maxFrameLength);
    void Append(QByteArray bytes);
    qint64 Available() const;
    QByteArray Peek(qint64 size);
    QByteArray Take(qint64 size);
    // A whole frame of at most maxLength bytes, or nothing yet. A length
    // outside [minLength, maxLength] ends the connection.
    bool TakeFrame(quint32 minLength, quint32 maxLength, QByteArray& frame);
    void End(const QString& reason);
    void QueueContinuation();
    // The socket closed: what was read before is handled, then it ends.
    void Close(const QString& reason);

    QTcpSocket* m_socket;
    Origin m_origin;
    State m_state;
    bool m_obfuscated;
    bool m_connected;
    Obfuscator m_in;
    Obfuscator m_out;
    WriteBacklog m_unwritten;
    // Held for the message at the head while it is read beyond the backlog.
    SharedAllowance::Share m_largeMessage;
    std::shared_ptr<SharedAllowance> m_answersRoom;
    SharedAllowance::Owner m_owner;
    std::map<quint32, SharedAllowance::Share> m_questionClaims;
    Gate m_gate;
    // Questions read and waiting for the gate, with their codes; counted in
    // the read backlog.
    std::deque<std::pair<quint32, QByteArray>> m_held;
    qint64 m_heldBytes = 0;
    bool m_reconsider = false;
    bool m_flushing = false;
    // Where the last progress was told, either way.
    qint64 m_arrivedSinceMark = 0;
    qint64 m_takenMark = 0;
    // Decoded or pulled bytes; the first m_taken of them are used up.
    QByteArray m_buffer;
    int m_taken = 0;
    bool m_continuationQueued = false;
    bool m_paused = false;
    bool m_closing = false;
    QString m_closeReason;
    qint64 m_created;
    QHostAddress m_peerAddress;
};
