#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <functional>

#include "FakeObfuscation.h"

class QTcpSocket;

// One connection of a fake peer with the client. It reads what the peer
// protocol says comes next: the key of an obfuscated connection, the
// opening frame of a connection it accepted, then, by the connection type,
// message frames ("P"), raw bytes ("F") or network link frames ("D").
class FakePeerLink : public QObject
{
    Q_OBJECT

public:
    enum class Mode
    {
        Opening,
        Messages,
        Raw,
        LinkFrames
    };
    struct Opening
    {
        bool received = false;
        quint8 kind = 0;
        QString name;
        QString type;
        quint32 token = 0;
    };

    // socket is connected (accepted) or connecting (opened by the fake peer);
    // an opened obfuscated link sends its key once connected.
    FakePeerLink(QTcpSocket* socket, bool accepted, bool obfuscated, QObject* parent);

    // Everything goes through the obfuscation of an obfuscated link.
    void SendRaw(const QByteArray& bytes);
    void SendGreeting(const QString& name, const QString& type, quint32 token);
    void SendRelayAnswer(quint32 token);
    void SendMessage(quint32 code, const QByteArray& body);
    void SendLinkFrame(quint8 code, const QByteArray& body);
    void Close();
    // Reads nothing from now on, as a peer that never reads: its system
    // takes what it has room for and the rest waits at the other end.
    void StopReading();
    // Takes in what waited, and all that follows.
    void ResumeReading();
    // While not reading: takes in at once what the system holds now, as a
    // program reading its socket with a large buffer every so often.
    void Gulp();

    // How incoming bytes are read from now on (a link the fake peer opened
    // has no opening to read).
    void SetMode(Mode mode);
    Mode GetMode() const { return m_mode; }

    // How long the waits of fake peers last unless told: long enough for a
    // sanitized build on a machine busy with other work. A wait whose state
    // comes returns at once.
    static constexpr int DefaultWaitMs = 30000;

    bool WaitForConnected(int timeout = DefaultWaitMs);
    bool WaitForOpening(int timeout = DefaultWaitMs);
    bool WaitForMessages(int count, int timeout = DefaultWaitMs);
    bool WaitForRaw(int size, int timeout = DefaultWaitMs);
    bool WaitForLinkFrames(int count, int timeout = DefaultWaitMs);
    bool WaitForClosed(int timeout = DefaultWaitMs);

    bool IsAccepted() const { return m_accepted; }
    bool IsObfuscated() const { return m_obfuscated; }
    bool IsClosed() const { return m_closed; }
    QTcpSocket* Socket() const { return m_socket; }

    // The type of the connection that a relayed token was asked for, so an
    // accepted answer to our request reads what follows correctly.
    std::function<QString(quint32 token)> typeOfRelayedToken;

    Opening opening;
    QList<QPair<quint32, QByteArray>> messages;
    QList<QPair<quint8, QByteArray>> linkFrames;
    QByteArray raw;
    // Set when a frame length could not be honoured.
    bool broken = false;

signals:
    void OpeningReceived();
    void Received();
    void Closed();

private slots:
    void OnConnected();
    void OnReadyRead();
    void OnDisconnected();

private:
    bool Parse();

    QTcpSocket* m_socket;
    bool m_accepted;
    bool m_obfuscated;
    bool m_keyed = false;
    bool m_closed = false;
    bool m_reading = true;
    Mode m_mode;
    FakeObfuscation m_in;
    FakeObfuscation m_out;
    // Bytes received while the key is not known yet.
    QByteArray m_encoded;
    QByteArray m_buffer;
};
