#include "Application.h"

#include "ShellHooks.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>

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

// What became of an attempt to take a lock file.
struct LockTaking
{
    bool taken = false;
    // Another live process holds it.
    bool heldElsewhere = false;
    // Why it can neither be taken nor be held by another.
    QString error;
};

QString LockErrorText(const QString& path, const QString& reason)
{
    return QString("Cannot lock %1: %2.").arg(QDir::toNativeSeparators(path), reason);
}

// Whether the lock file names the process that holds it, as QLockFile
// writes it.
bool NamesHolder(const QLockFile& lock)
{
    qint64 pid = 0;
    QString host, application;
    return lock.getLockInfo(&pid, &host, &application);
}

// Takes the lock at path, waiting up to waitMs for a live holder to let it
// go. A lock whose process has died is stale whatever its age, so a crash
// never blocks the next start. Only a file naming its holder, as another
// start writes it, counts as held: a folder or a file naming no one in its
// place would pass for a running client for ever.
LockTaking TakeLock(QLockFile& lock, const QString& path, int waitMs)
{
    LockTaking result;
    lock.setStaleLockTime(0);
    result.taken = lock.tryLock(0);
    if (result.taken)
        return result;
    if (lock.error() == QLockFile::LockFailedError) {
        // Neither of these turns into a lock by waiting.
        const QFileInfo info(path);
        if (info.isDir()) {
            result.error = LockErrorText(path, "it is a folder, not a lock file");
            return result;
        }
        if (!info.isFile()) {
            result.error = LockErrorText(path, "it is not a lock file");
            return result;
        }
        // A start that has just made the file names itself in it at once.
        if (waitMs > 0 || !NamesHolder(lock)) {
            result.taken = lock.tryLock(std::max(waitMs, kLockWaitMs));
            if (result.taken)
                return result;
        }
    }
    if (lock.error() == QLockFile::LockFailedError && NamesHolder(lock))
        result.heldElsewhere = true;
    else if (lock.error() == QLockFile::LockFailedError)
        result.error = LockErrorText(path, "it names no program that holds it");
    else if (lock.error() == QLockFile::PermissionError)
        result.error = LockErrorText(path, "permission denied");
    else
        result.error = LockErrorText(path, "it cannot be created");
    return result;
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
    // A live start holds it only for the few calls below.
    QLockFile lock(LockFilePath(m_id));
    const LockTaking taking = TakeLock(lock, LockFilePath(m_id), kLockWaitMs);
    if (!taking.taken) {
        // A live start that has held it for seconds runs: taking it anyway
        // could leave two instances sharing one data file.
        m_running = taking.heldElsewhere;
        m_startError = taking.error;
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
    // Held until the program ends; another client holds it as long.
    auto lock = std::make_unique<QLockFile>(m_homeLockPath);
    const LockTaking taking = TakeLock(*lock, m_homeLockPath, 0);
    if (taking.taken) {
        m_homeLock = std::move(lock);
        return true;
    }
    if (taking.heldElsewhere) {
        m_running = true;
        m_runningElsewhere =
            QString("Another client is running with the data file beside %1; this one leaves it alone.")
                .arg(QDir::toNativeSeparators(m_homeLockPath));
    }
    m_startError = taking.error;
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
