#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QTcpSocket;

// A second user on the test server, speaking the protocol by hand, for the
// other side of chats, searches and rooms.
class RawClient : public QObject
{
    Q_OBJECT

public:
    explicit RawClient(quint16 port, QObject* parent = nullptr);

    bool Login(const QString& user, const QString& password = "pw");
    void Send(quint32 code, const QByteArray& body);
    // Waits for the next unread frame with the code; empty on time-out.
    bool WaitFor(quint32 code, QByteArray* body = nullptr);
    bool Has(quint32 code) const;

private:
    void OnReadyRead();

    QTcpSocket* m_socket;
    quint16 m_port;
    QByteArray m_buffer;
    QList<QPair<quint32, QByteArray>> m_frames;
};
