#pragma once

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>

#include "TestServer.h"

class QTcpSocket;

// One client's connection to the test server: frames in, frames out, and
// what the server knows about the client on it.
class TestServerSession : public QObject
{
    Q_OBJECT

public:
    TestServerSession(QTcpSocket* socket, quint32 maxFrameLength, QObject* parent);
    ~TestServerSession() override;

    void SendFrame(quint32 code, const QByteArray& body);
    void SendRaw(const QByteArray& bytes);
    // Sends what is queued, then closes.
    void Close();
    // Closes at once, as a broken line would.
    void Cut();
    QString PeerAddress() const;

    QString m_user;
    bool m_loggedIn = false;
    quint32 m_status = 2;
    quint16 m_port = 0;
    quint16 m_obfuscatedPort = 0;
    QSet<QString> m_watched;
    bool m_acceptsPrivateRooms = false;
    TestServer::DistributedReport m_distributed;

signals:
    void FrameReceived(quint32 code, QByteArray body);
    void Closed();

private slots:
    void OnReadyRead();
    void OnDisconnected();

private:
    QTcpSocket* m_socket;
    quint32 m_maxFrameLength;
    QByteArray m_buffer;
    bool m_closed = false;
};
