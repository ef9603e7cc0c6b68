#include "NetworkHosts.h"

#include <QByteArray>

#include "Server.h"

const char* const NetworkHosts::DefaultServerHost = "server.quorvane.net";
const char* const NetworkHosts::DefaultWebBase = "http://www.quorvane.net/";

namespace {
QString Environment(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name)).trimmed();
}
} // namespace

bool NetworkHosts::ParseHostPort(const QString& text, QString& host, quint16& port)
{
    const int colon = text.lastIndexOf(':');
    QString name = colon < 0 ? text : text.left(colon);
    quint16 number = Server::DefaultPort;
    if (colon >= 0) {
        bool ok = false;
        const uint value = text.mid(colon + 1).toUInt(&ok);
        if (!ok || value == 0 || value > 65535)
            return false;
        number = quint16(value);
    }
    if (name.isEmpty() || name.contains(':') || name.contains(' '))
        return false;
    host = name;
    port = number;
    return true;
}

QString NetworkHosts::ServerHost()
{
    QString host;
    quint16 port = 0;
    if (ParseHostPort(Environment("QUORVANE_SERVER"), host, port))
        return host;
    return DefaultServerHost;
}

quint16 NetworkHosts::ServerPort()
{
    QString host;
    quint16 port = 0;
    if (ParseHostPort(Environment("QUORVANE_SERVER"), host, port))
        return port;
    return Server::DefaultPort;
}

QUrl NetworkHosts::WebBase()
{
    QUrl base(Environment("QUORVANE_WEB"));
    if (!base.isValid() || (base.scheme() != "http" && base.scheme() != "https") || base.host().isEmpty())
        base = QUrl(DefaultWebBase);
    if (!base.path().endsWith('/'))
        base.setPath(base.path() + '/');
    return base;
}

QUrl NetworkHosts::WebUrl(const QString& relative)
{
    return WebBase().resolved(QUrl(relative));
}
