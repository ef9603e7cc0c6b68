#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>

class QTcpSocket;

// A peer's side of a message connection, to run on a thread of its own as a
// peer is a program of its own: connects, greets, then sends messages as
// fast as the socket takes them until told to stop or until it has sent its
// count. It reads nothing.
class FloodPeer : public QObject
{
public:
    // The message (code and body) numbered n, counting from 0.
    typedef std::function<QByteArray(int n)> Message;

    // count 0: until Stop.
    FloodPeer(const QString& name, Message message, int count = 0);

    // receiveBuffer: the system's receive buffer, set before connecting so
    // that the peer's window stays that small (0: the system's default).
    void Connect(quint16 port, int receiveBuffer = 0);
    void Start();
    // Closes the connection.
    void Stop();
    // Read from the client's thread.
    int Messages() const { return m_messages; }
    qint64 Sent() const { return m_sent; }

private:
    void TopUp();

    QString m_name;
    Message m_message;
    int m_count;
    QTcpSocket* m_socket = nullptr;
    bool m_flooding = false;
    std::atomic<int> m_messages{0};
    std::atomic<qint64> m_sent{0};
};
