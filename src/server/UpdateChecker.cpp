#include "UpdateChecker.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "Log.h"
#include "NetworkHosts.h"
#include "Server.h"

const qint64 g_currentVersion = 20130410;

const char* const UpdateChecker::VersionFileName = "qtversion.txt";

namespace {
const char* const Area = "server";
// The version file is a few lines; anything larger is not one.
const qint64 MaxVersionFileSize = 65536;
const int TransferTimeoutMs = 30000;
} // namespace

UpdateChecker::UpdateChecker(QObject* parent) : QObject(parent) {}

UpdateChecker::~UpdateChecker()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

void UpdateChecker::Init()
{
    if (gp_server)
        connect(gp_server, &Server::Connected, this, &UpdateChecker::OnConnected);
}

void UpdateChecker::OnConnected()
{
    if (m_checked)
        return;
    m_checked = true;
    Check();
}

void UpdateChecker::Check()
{
    if (m_reply)
        return;
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(NetworkHosts::WebUrl(VersionFileName));
    request.setTransferTimeout(TransferTimeoutMs);
    Log(Area, 2, QString("Checking for a new version at %1").arg(request.url().toString()));
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::finished, this, &UpdateChecker::OnReplyFinished);
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        if (m_reply && m_reply->bytesAvailable() > MaxVersionFileSize) {
            Log(Area, 1, "Version file too large; check abandoned");
            m_reply->abort();
        }
    });
}

void UpdateChecker::OnReplyFinished()
{
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    if (!reply)
        return;
    reply->deleteLater();

    if (reply->error() != QNetworkReply::NoError) {
        Log(Area, 1, QString("Version check failed: %1").arg(reply->errorString()));
        emit CheckFinished();
        return;
    }
    qint64 version = 0;
    QString link;
    QStringList description;
    if (!ParseVersionFile(reply->read(MaxVersionFileSize), version, link, description)) {
        Log(Area, 1, "Version check failed: the version file is malformed");
        emit CheckFinished();
        return;
    }
    if (version > g_currentVersion) {
        Log(Area, 1, QString("Version %1 is available").arg(version));
        emit NewVersion(version, link, description);
    } else {
        Log(Area, 2, "This is the newest version");
    }
    emit CheckFinished();
}

bool UpdateChecker::ParseVersionFile(const QByteArray& contents, qint64& version, QString& downloadLink,
                                     QStringList& description)
{
    QStringList lines = QString::fromUtf8(contents).split('\n');
    for (QString& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    if (lines.size() < 3)
        return false;
    bool ok = false;
    const qint64 number = lines[0].trimmed().toLongLong(&ok);
    if (!ok || number <= 0)
        return false;
    const QString base = lines[1].trimmed();
    const QString stem = lines[2].trimmed();
    if (base.isEmpty() || stem.isEmpty())
        return false;
    version = number;
    downloadLink = base + stem;
    description = lines.mid(3);
    return true;
}
