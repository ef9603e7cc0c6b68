#include "E2eRun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include "ClientDataFile.h"

namespace {

QString g_failure;

} // namespace

E2eRun::E2eRun(const QString& name)
    : m_output(qEnvironmentVariable("QV_E2E_OUTPUT", QV_E2E_OUTPUT) + "/" + name),
      m_root(QDir::tempPath() + "/qve2e-XXXXXX")
{
    g_failure.clear();
    QDir(m_output).removeRecursively();
    QDir().mkpath(m_output);
    const QList<quint16> web = ClientDataFile::FreePorts(1);
    m_web = QString("http://127.0.0.1:%1/").arg(web.value(0, 9));
}

E2eRun::~E2eRun()
{
    Finish(false);
}

bool E2eRun::StartServer()
{
    m_server.setProcessChannelMode(QProcess::SeparateChannels);
    m_server.setStandardErrorFile(m_output + "/server.err");
    QObject::connect(&m_server, &QProcess::readyReadStandardOutput, [this] { ReadServer(); });
    m_server.start(QUORVANE_TESTSERVER, QStringList());
    if (!m_server.waitForStarted(kStartMs))
        return Fail("the test server did not start: " + m_server.errorString());
    if (!WaitUntil("the test server's port", kStartMs, [this] { return !m_serverLines.isEmpty(); }))
        return false;
    bool ok = false;
    m_serverPort = quint16(m_serverLines.first().toUInt(&ok));
    return ok && m_serverPort ? true : Fail("the test server printed no port: " + m_serverLines.first());
}

void E2eRun::ReadServer()
{
    QFile log(m_output + "/server.log");
    log.open(QIODevice::Append);
    while (m_server.canReadLine()) {
        const QByteArray line = m_server.readLine();
        log.write(line);
        m_serverLines << QString::fromUtf8(line).trimmed();
    }
}

DrivenClient& E2eRun::AddClient(const QString& user, bool withDataFile)
{
    m_clients.push_back(std::make_unique<DrivenClient>(*this, user, withDataFile));
    return *m_clients.back();
}

int E2eRun::Logins(const QString& user)
{
    ReadServer();
    return m_serverLines.count("logged in " + user);
}

bool E2eRun::WaitForLogin(const QString& user, int count, int timeoutMs)
{
    return WaitUntil(QString("%1 to log in to the test server").arg(user), timeoutMs,
                     [&] { return Logins(user) >= count; });
}

void E2eRun::Finish(bool failed)
{
    if (m_finished)
        return;
    m_finished = true;
    if (failed) {
        for (auto& client : m_clients)
            client->LeaveEvidence(m_output);
        qInfo("The clients' logs and pictures of their windows are in %s", qPrintable(m_output));
    }
    for (auto& client : m_clients)
        client->Kill();
    m_clients.clear();
    if (m_server.state() != QProcess::NotRunning) {
        m_server.kill();
        m_server.waitForFinished(kStartMs);
    }
    if (!failed)
        QDir(m_output).removeRecursively();
}

bool E2eRun::WaitUntil(const QString& what, int timeoutMs, const std::function<bool()>& done, int pollMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return Fail(QString("gave up waiting %1 s for %2").arg(timeoutMs / 1000.0).arg(what));
        QTest::qWait(pollMs);
    }
    return true;
}

bool E2eRun::Fail(const QString& why)
{
    g_failure = why;
    return false;
}

QString E2eRun::Failure()
{
    return g_failure;
}
