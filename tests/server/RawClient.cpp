#include "RawClient.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>
#include <algorithm>

#include "TestMessage.h"

RawClient::RawClient(quint16 port, QObject* parent) : QObject(parent), m_socket(new QTcpSocket(this)), m_port(port)
{
    connect(m_socket, &QTcpSocket::readyRead, this, &RawClient::OnReadyRead);
}

bool RawClient::Login(const QString& user, const QString& password)
{
    m_socket->connectToHost(QHostAddress::LocalHost, m_port);
    if (!m_socket->waitForConnected(5000))
        return false;
    const QString digest =
        QString::fromLatin1(QCryptographicHash::hash((user + password).toUtf8(), QCryptographicHash::Md5).toHex());
    Send(1, TestMessage().Str(user).Str(digest).U32(20130410).Body());
    QByteArray reply;
    return WaitFor(1, &reply) && !reply.isEmpty() && reply.at(0) == char(1);
}

void RawClient::Send(quint32 code, const QByteArray& body)
{
    m_socket->write(TestMessage::Frame(code, body));
    m_socket->flush();
}

bool RawClient::Has(quint32 code) const
{
    for (const auto& frame : m_frames)
        if (frame.first == code)
            return true;
    return false;
}

bool RawClient::WaitFor(quint32 code, QByteArray* body)
{
    const auto has = [&] {
        return std::any_of(m_frames.begin(), m_frames.end(), [code](const auto& frame) { return frame.first == code; });
    };
    if (!QTest::qWaitFor(has, 30000))
        return false;
    for (int j = 0; j < m_frames.size(); ++j)
        if (m_frames[j].first == code) {
            if (body)
                *body = m_frames[j].second;
            m_frames.removeAt(j);
            break;
        }
    return true;
}

void RawClient::OnReadyRead()
{
    m_buffer.append(m_socket->readAll());
    while (m_buffer.size() >= 8) {
        TestMessage header(m_buffer.left(8));
        quint32 length = 0, code = 0;
        header.ReadU32(length);
        header.ReadU32(code);
        if (quint32(m_buffer.size() - 4) < length)
            return;
        m_frames.append({code, m_buffer.mid(8, int(length) - 4)});
        m_buffer.remove(0, int(length) + 4);
    }
}
