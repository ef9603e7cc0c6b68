#pragma once

#include <QString>
#include <QUrl>

// Where the network's server and web host are. Both can be redirected
// without rebuilding, through the environment:
//   QUORVANE_SERVER=host:port   (port optional, default 2242)
//   QUORVANE_WEB=http://host:port/   (base address of the web host)
class NetworkHosts
{
public:
    static const char* const DefaultServerHost;
    static const char* const DefaultWebBase;

    static QString ServerHost();
    static quint16 ServerPort();
    // The web host's base address, always ending in "/".
    static QUrl WebBase();
    // A page or file of the web host, relative to its base.
    static QUrl WebUrl(const QString& relative);

    // Splits "host:port"; false when the text is not of that form.
    static bool ParseHostPort(const QString& text, QString& host, quint16& port);
};
