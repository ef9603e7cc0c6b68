// The loopback test server as a program of its own, so that end-to-end tests
// can run real client processes against it. Usage: quorvane-testserver [port]
// The first line on standard output is the port; then one line per login
// ("logged in NAME") and logout ("logged out NAME"), for the person trying
// two clients by hand and for the tests that wait for a client's login.
#include <QCoreApplication>
#include <QTextStream>

#include "TestServer.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    quint16 port = 0;
    if (arguments.size() > 1)
    {
        bool ok = false;
        const uint value = arguments[1].toUInt(&ok);
        if (!ok || value > 65535)
        {
            QTextStream(stderr) << "usage: quorvane-testserver [port]\n";
            return 2;
        }
        port = quint16(value);
    }
    TestServer server;
    if (!server.Listen(port))
    {
        QTextStream(stderr) << "cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    QTextStream out(stdout);
    out << server.Port() << Qt::endl;
    QObject::connect(&server, &TestServer::UserLoggedIn, [&out](const QString& user) {
        out << "logged in " << user << Qt::endl;
    });
    QObject::connect(&server, &TestServer::UserLoggedOut, [&out](const QString& user) {
        out << "logged out " << user << Qt::endl;
    });
    return app.exec();
}
