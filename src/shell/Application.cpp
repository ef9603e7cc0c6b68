#include "Application.h"

#include "ShellHooks.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

// How long a start waits for another start that holds the lock, and for the
// running instance to accept a connection.
const int kLockWaitMs = 5000;
const int kConnectWaitMs = 2000;

QString InstanceFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

QString LockErrorText(const QLockFile& lock, const QString& path)
{
    const QString reason = lock.error() == QLockFile::PermissionError ? "permission denied" : "it cannot be created";
    return QString("Cannot lock %1: %2.").arg(QDir::toNativeSeparators(path), reason);
}

QString SafeId(const QString& id)
{
    QString safe = id;
    safe.replace(QRegularExpression("[^A-Za-z0-9_.-]"), "_");
    return safe;
}

} // namespace

Application::Application(const QString& id, int& argc, char** argv, const QString& homeLock)
    : QApplication(argc, argv), m_id(id), m_homeLockPath(homeLock)
{
    Q_INIT_RESOURCE(resources);
    // Without this, a save request from the session would also try to close
    // every window and ask the session for interaction; all we do is save.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QGuiApplication::setFallbackSessionManagementEnabled(false);
    QT_WARNING_POP
    connect(this, &QGuiApplication::commitDataRequest, this, &Application::commitData);
    FindOrBecomeInstance();
}

Application::~Application()
{
    // Closing the server removes its socket file, so the next start does
    // not even try to reach us.
    if (m_server)
        m_server->close();
}

bool Application::isRunning() const
{
    return m_running;
}

QString Application::startError() const
{
    return m_startError;
}

QString Application::runningElsewhere() const
{
    return m_runningElsewhere;
}

QString Application::ServerName(const QString& id)
{
    return InstanceFolder() + "/" + SafeId(id) + ".instance";
}

QString Application::LockFilePath(const QString& id)
{
    return InstanceFolder() + "/" + SafeId(id) + ".lock";
}

void Application::FindOrBecomeInstance()
{
    // A lock whose process has died is stale whatever its age, so a crash
    // during start-up never blocks the next start; a live holder only holds
    // it for the few calls below.
    QLockFile lock(LockFilePath(m_id));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(kLockWaitMs)) {
        if (lock.error() != QLockFile::LockFailedError) {
            m_startError = LockErrorText(lock, LockFilePath(m_id));
            return;
        }
        // A live start has held it for seconds; taking it anyway could
        // leave two instances sharing one data file.
        m_running = true;
        return;
    }

    const QString name = ServerName(m_id);
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(kConnectWaitMs)) {
        probe.disconnectFromServer();
        m_running = true;
        return;
    }

    if (!LockHome())
        return;

    // Nobody answers: a socket file left by a crash is in the way of
    // listening, and nobody else can be listening while we hold the lock.
    QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &Application::OnInstanceConnection);
    m_server->listen(name);
}

bool Application::LockHome()
{
    if (m_homeLockPath.isEmpty())
        return true;
    // Held until the program ends; a lock of a process that died is stale
    // whatever its age, so a crash never keeps the data file from its owner.
    auto lock = std::make_unique<QLockFile>(m_homeLockPath);
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_homeLock = std::move(lock);
        return true;
    }
    if (lock->error() == QLockFile::LockFailedError) {
        m_running = true;
        m_runningElsewhere =
            QString("Another client is running with the data file beside %1; this one leaves it alone.")
                .arg(QDir::toNativeSeparators(m_homeLockPath));
    } else {
        m_startError = LockErrorText(*lock, m_homeLockPath);
    }
    return false;
}

void Application::OnInstanceConnection()
{
    // A later start only wants to know that we are here.
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromServer();
    }
}

void Application::commitData(QSessionManager& manager)
{
    Q_UNUSED(manager);
    g_shellHooks.SaveData();
}
