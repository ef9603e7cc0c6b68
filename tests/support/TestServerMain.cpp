// The loopback test server as a program of its own, so that end-to-end tests
// can run real client processes against it.
//   quorvane-testserver [--admin-message TEXT] [port]
// With --admin-message every user gets that administrators' message as soon
// as it has logged in.
#include <QCoreApplication>
#include <QTextStream>

#include "TestMessage.h"
#include "TestServer.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    QString adminMessage;
    if (arguments.size() >= 2 && arguments[0] == "--admin-message") {
        adminMessage = arguments[1];
        arguments = arguments.mid(2);
    }
    quint16 port = 0;
    if (!arguments.isEmpty())
    {
        bool ok = false;
        const uint value = arguments[0].toUInt(&ok);
        if (!ok || value > 65535 || arguments.size() > 1)
        {
            QTextStream(stderr) << "usage: quorvane-testserver [--admin-message TEXT] [port]\n";
            return 2;
        }
        port = quint16(value);
    }
    TestServer server;
    if (!adminMessage.isEmpty())
        QObject::connect(&server, &TestServer::UserLoggedIn, &server, [&server, adminMessage](QString user) {
            server.Send(user, 66, TestMessage().Str(adminMessage).Body());
        });
    if (!server.Listen(port))
    {
        QTextStream(stderr) << "cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    QTextStream(stdout) << server.Port() << Qt::endl;
    return app.exec();
}
