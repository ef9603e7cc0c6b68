// The standalone test server with a scene for scripts/screenshots: public
// and private rooms with people in them, a room wall, and talk in the room
// that the photographed user enters. Prints its port, as the plain test
// server does.
//   quorvane-screenshot-server
#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include "TestMessage.h"
#include "TestServer.h"

namespace {

const char* const kLounge = "jazz lounge";

QStringList People(const QString& stem, int count)
{
    QStringList people;
    for (int i = 1; i <= count; ++i)
        people << QString("%1%2").arg(stem).arg(i);
    return people;
}

void SetScene(TestServer& server)
{
    server.AddRoom(kLounge, {"jonas", "ilse", "pablo", "mei"});
    server.SetRoomWall(kLounge, {{"ilse", "Looking for 1959 Blue Note pressings, lossless please"},
                                 {"pablo", "Ask me about the Vanguard tapes"},
                                 {"jonas", "Listening party on Friday at 9 pm, bring your rarest take"}});
    server.AddRoom("field recordings", {"ilse", "tomas", "aiko"});
    server.AddRoom("indie & alternative", People("indie", 42));
    server.AddRoom("Bossa Nova", People("bossa", 7));
    server.AddRoom("electronic", People("synth", 118));
    server.AddRoom("audiobooks");
    server.AddRoom("marta's studio", {"jonas"});
    server.SetPrivateRoom("marta's studio", "marta", {"jonas"}, {});
    server.AddRoom("night owls", {"mei", "pablo"});
    server.SetPrivateRoom("night owls", "mei", {"marta", "pablo"}, {});
}

// Once the user is in the lounge, the others there say a few things.
void Talk(TestServer& server)
{
    server.SayInRoom(kLounge, "jonas", "evening all");
    server.SayInRoom(kLounge, "ilse", "/me puts on Kind of Blue");
    server.SayInRoom(kLounge, "pablo", "anyone have the 1961 set list? http://example.org/sets?year=1961&club=vanguard");
    server.SayInRoom(kLounge, "mei", "it's on the wall  :)");
    server.SayInRoom(kLounge, "jonas", "welcome marta");
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    TestServer server;
    if (!server.Listen())
    {
        QTextStream(stderr) << "cannot listen on 127.0.0.1\n";
        return 1;
    }
    SetScene(server);
    QObject::connect(&server, &TestServer::MessageReceived, [&server](QString, quint32 code, QByteArray body) {
        QString room;
        if (code != 14 || !TestMessage(body).ReadStr(room) || room != kLounge)
            return;
        // After the join itself, which the server handles once this returns.
        QTimer::singleShot(0, &server, [&server] { Talk(server); });
    });
    QTextStream(stdout) << server.Port() << Qt::endl;
    return app.exec();
}
