#include "TestServerSession.h"

#include <QHostAddress>
#include <QTcpSocket>

#include "TestMessage.h"

TestServerSession::TestServerSession(QTcpSocket* socket, quint32 maxFrameLength, QObject* parent)
    : QObject(parent), m_socket(socket), m_maxFrameLength(maxFrameLength)
{
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &TestServerSession::OnReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &TestServerSession::OnDisconnected);
}

TestServerSession::~TestServerSession()
{
    m_socket->disconnect(this);
}

void TestServerSession::SendFrame(quint32 code, const QByteArray& body)
{
    SendRaw(TestMessage::Frame(code, body));
}

void TestServerSession::SendRaw(const QByteArray& bytes)
{
    if (!m_closed)
        m_socket->write(bytes);
}

void TestServerSession::Close()
{
    if (!m_closed)
        m_socket->disconnectFromHost();
}

void TestServerSession::Cut()
{
    if (!m_closed)
        m_socket->abort();
    OnDisconnected();
}

QString TestServerSession::PeerAddress() const
{
    return m_socket->peerAddress().toString();
}

void TestServerSession::OnReadyRead()
{
    m_buffer.append(m_socket->readAll());
    while (!m_closed && m_buffer.size() >= 4) {
        TestMessage header(m_buffer.left(8));
        quint32 length = 0;
        header.ReadU32(length);
        if (length < 4 || length > m_maxFrameLength) {
            Cut();
            return;
        }
        if (quint32(m_buffer.size() - 4) < length)
            return;
        quint32 code = 0;
        header.ReadU32(code);
        const QByteArray body = m_buffer.mid(8, int(length) - 4);
        m_buffer.remove(0, int(length) + 4);
        emit FrameReceived(code, body);
    }
}

void TestServerSession::OnDisconnected()
{
    if (m_closed)
        return;
    m_closed = true;
    emit Closed();
}
