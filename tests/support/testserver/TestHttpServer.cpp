#include "TestHttpServer.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

TestHttpServer::TestHttpServer(QObject* parent) : QObject(parent), m_listener(new QTcpServer(this))
{
    connect(m_listener, &QTcpServer::newConnection, this, &TestHttpServer::OnNewConnection);
}

bool TestHttpServer::Listen()
{
    return m_listener->listen(QHostAddress::LocalHost, 0);
}

quint16 TestHttpServer::Port() const
{
    return m_listener->serverPort();
}

QString TestHttpServer::BaseUrl() const
{
    return QString("http://127.0.0.1:%1/").arg(Port());
}

void TestHttpServer::SetResponse(const QString& path, int status, const QByteArray& body)
{
    m_responses[path] = {status, body};
}

void TestHttpServer::OnNewConnection()
{
    while (QTcpSocket* socket = m_listener->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            // Answer once the request head is complete; the body is ignored.
            QByteArray head = socket->property("head").toByteArray() + socket->readAll();
            socket->setProperty("head", head);
            if (!head.contains("\r\n\r\n") || socket->property("answered").toBool())
                return;
            socket->setProperty("answered", true);
            const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
            const QString path = words.size() > 1 ? QString::fromLatin1(words[1]) : QString();
            ++m_requests;
            emit Requested(path);
            const Response response = m_responses.value(path, Response{404, "not found"});
            const QByteArray reason = response.status == 200 ? "OK" : "Error";
            socket->write("HTTP/1.0 " + QByteArray::number(response.status) + " " + reason + "\r\n" +
                          "Content-Type: text/plain\r\nContent-Length: " + QByteArray::number(response.body.size()) +
                          "\r\nConnection: close\r\n\r\n" + response.body);
            socket->disconnectFromHost();
        });
    }
}
