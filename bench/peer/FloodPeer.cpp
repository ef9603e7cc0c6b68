#include "FloodPeer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "FakeWire.h"

namespace {
// The peer tops up what waits in its socket to this, so it sends as fast as
// the connection takes it and holds little itself.
const qint64 PeerQueue = 1024 * 1024;
} // namespace

FloodPeer::FloodPeer(const QString& name, Message message, int count)
    : m_name(name), m_message(std::move(message)), m_count(count)
{
}

void FloodPeer::Connect(quint16 port, int receiveBuffer)
{
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &FloodPeer::TopUp);
    // Nothing is taken from the system: what the client sends stays there.
    m_socket->setReadBufferSize(1);
    if (receiveBuffer > 0) {
        // The window is settled when connecting, so the socket is made and
        // connected here (at once, on 127.0.0.1) and then given to Qt.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer) != 0 ||
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            !m_socket->setSocketDescriptor(fd)) {
            if (fd >= 0)
                ::close(fd);
            return;
        }
    } else
        m_socket->connectToHost(QHostAddress::LocalHost, port);
    m_socket->write(FakeWire::Frame(FakeWire().U8(1).Str(m_name).Str("P").U32(7).Bytes()));
}

void FloodPeer::Start()
{
    m_flooding = true;
    TopUp();
}

void FloodPeer::Stop()
{
    m_flooding = false;
    if (m_socket)
        m_socket->disconnectFromHost();
}

void FloodPeer::TopUp()
{
    while (m_flooding && m_socket && m_socket->bytesToWrite() < PeerQueue && (m_count == 0 || m_messages < m_count)) {
        QByteArray chunk;
        for (int i = 0; i < 256 && (m_count == 0 || m_messages < m_count); ++i)
            chunk += FakeWire::Frame(m_message(m_messages++));
        m_sent += chunk.size();
        m_socket->write(chunk);
    }
}
