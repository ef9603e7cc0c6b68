#include "Driver.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>

void Driver::StartFromEnvironment()
{
    const QString path = qEnvironmentVariable("QUORVANE_DRIVER");
    if (path.isEmpty())
        return;
    auto* driver = new Driver(path);
    QString error;
    if (!driver->Listen(&error)) {
        qWarning("driver: cannot listen on %s: %s", qPrintable(path), qPrintable(error));
        delete driver;
        return;
    }
    qInfo("driver: listening on %s", qPrintable(path));
}

Driver::Driver(const QString& path)
    : QObject(qApp), m_path(path), m_server(new QLocalServer(this)), m_commands(Commands())
{
}

bool Driver::Listen(QString* error)
{
    QLocalServer::removeServer(m_path);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &Driver::OnNewConnection);
    if (m_server->listen(m_path))
        return true;
    *error = m_server->errorString();
    return false;
}

void Driver::OnNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        // One orchestrator at a time: a new connection replaces the old.
        if (m_socket)
            m_socket->deleteLater();
        m_socket = socket;
        connect(socket, &QLocalSocket::readyRead, this, &Driver::OnReadyRead);
    }
}

void Driver::OnReadyRead()
{
    while (m_socket && m_socket->canReadLine()) {
        const QJsonDocument document = QJsonDocument::fromJson(m_socket->readLine());
        m_requests.enqueue(document.isArray() ? document.array() : QJsonArray());
    }
    // Served from the event loop, not from here: the socket announces no new
    // data while one of its readyRead signals is being handled, and an
    // action may run a menu's or dialog's loop that must hear the next
    // request.
    QMetaObject::invokeMethod(this, &Driver::Serve, Qt::QueuedConnection);
}

void Driver::Serve()
{
    while (!m_requests.isEmpty()) {
        const Outcome outcome = Run(m_requests.dequeue());
        Answer(outcome);
        if (outcome.error.isEmpty() && outcome.then)
            outcome.then();
    }
}

Driver::Outcome Driver::Run(const QJsonArray& request)
{
    const QString command = request.isEmpty() ? QString() : request.first().toString();
    const auto found = m_commands.constFind(command);
    if (found == m_commands.constEnd())
        return {QString("unknown request \"%1\"").arg(command), {}, {}};
    if (request.size() - 1 < found->arguments)
        return {QString("%1 needs %2 arguments").arg(command).arg(found->arguments), {}, {}};
    return found->run(request);
}

void Driver::Answer(const Outcome& outcome)
{
    if (!m_socket)
        return;
    QJsonObject answer{{"ok", outcome.error.isEmpty()}};
    if (outcome.error.isEmpty())
        answer["value"] = outcome.value;
    else
        answer["error"] = outcome.error;
    m_socket->write(QJsonDocument(answer).toJson(QJsonDocument::Compact) + '\n');
    m_socket->flush();
}
