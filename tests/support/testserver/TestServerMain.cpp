// The loopback test server as a program of its own, so that end-to-end tests
// can run real client processes against it.
//   quorvane-testserver [--admin-message TEXT] [--rooms-scene] [--search-scene] [--users-scene] [port]
// With --admin-message every user gets that administrators' message as soon
// as it has logged in. With --rooms-scene the server has public and private
// rooms with people in them and a wall, and the people in "jazz lounge" talk
// a little whenever someone enters it (the rooms that scripts/screenshots
// shows); marta has privileges to give and gets private messages at login.
// With --search-scene the server knows searches related to "blue train" and
// asks for a wish-list search every few seconds.
// With --users-scene it knows a few users who stay offline, with their
// figures.
// The first line on standard output is the port; then one line per login
// ("logged in NAME") and logout ("logged out NAME"), for the person trying
// two clients by hand and for the tests that wait for a client's login.
#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>
#include <QTimer>

#include "TestMessage.h"
#include "TestServer.h"

namespace {
const char* const Lounge = "jazz lounge";

QStringList People(const QString& stem, int count)
{
    QStringList people;
    for (int i = 1; i <= count; ++i)
        people << QString("%1%2").arg(stem).arg(i);
    return people;
}

void SetRoomsScene(TestServer& server)
{
    server.AddRoom(Lounge, {"jonas", "ilse", "pablo", "mei"});
    server.SetRoomWall(Lounge, {{"ilse", "Looking for 1959 Blue Note pressings, lossless please"},
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
    // Where the lounge's people are and what they share, for its user list.
    const struct
    {
        const char* user;
        const char* country;
        quint32 speed;
        quint32 files;
    } people[] = {{"jonas", "DE", 251904, 12873},
                  {"ilse", "SE", 98304, 3412},
                  {"pablo", "ES", 40960, 845},
                  {"mei", "JP", 819200, 25610},
                  {"marta", "PT", 0, 0}};
    for (const auto& person : people) {
        server.SetCountry(person.user, person.country);
        server.SetUserStats(person.user, person.speed, 0, person.files, 1);
    }
    // Days of privileges to give away, and a few words for marta in private.
    server.SetPrivileges("marta", 30 * 86400);
    server.AddKnownUser("tomas");
    QObject::connect(&server, &TestServer::UserLoggedIn, &server, [&server](QString user) {
        if (user != "marta")
            return;
        const quint32 now = quint32(QDateTime::currentSecsSinceEpoch());
        for (const auto& line : {std::make_pair("ilse", "hi marta! did the Vanguard tapes arrive?"),
                                 std::make_pair("ilse", "I can share the 1961 set tonight if you want it"),
                                 std::make_pair("tomas", "thanks for the harbour recording, it's lovely")})
            server.Send(user, 22, TestMessage().U32(now).Str(line.first).Str(line.second).U8(1).Body());
    });

    QObject::connect(&server, &TestServer::MessageReceived, &server, [&server](QString, quint32 code, QByteArray body) {
        QString room;
        if (code != 14 || !TestMessage(body).ReadStr(room) || room != Lounge)
            return;
        // After the join itself, which the server handles once this returns.
        QTimer::singleShot(0, &server, [&server] {
            server.SayInRoom(Lounge, "jonas", "evening all");
            server.SayInRoom(Lounge, "ilse", "/me puts on Kind of Blue");
            server.SayInRoom(Lounge, "pablo",
                             "anyone have the 1961 set list? http://example.org/sets?year=1961&club=vanguard");
            server.SayInRoom(Lounge, "mei", "it's on the wall  :)");
            server.SayInRoom(Lounge, "jonas", "welcome marta");
        });
    });
}
// Users seldom online whom the photographed client lists: the server knows
// their figures (speed, downloads, files, folders).
void SetUsersScene(TestServer& server)
{
    const struct
    {
        const char* user;
        quint32 speed;
        quint32 files;
        quint32 folders;
    } users[] = {
        {"Marek", 215000, 2311, 140}, {"sofia", 48000, 874, 32}, {"tomas", 0, 12630, 801}, {"mei", 61000, 530, 41}};
    for (const auto& user : users) {
        server.AddKnownUser(user.user);
        server.SetUserStats(user.user, user.speed, 0, user.files, user.folders);
    }
}
void SetSearchScene(TestServer& server)
{
    server.SetCorrelations(
        "blue train",
        {{"john coltrane", 9}, {"lee morgan", 4}, {"blue train flac", 7}, {"moment's notice", 5}, {"hard bop", 3}});
    // Wish-list searches go out within seconds, so their results are seen.
    server.SetWishListInterval(6);
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    QString adminMessage;
    bool roomsScene = false;
    bool searchScene = false;
    bool usersScene = false;
    for (;;) {
        if (arguments.size() >= 2 && arguments[0] == "--admin-message") {
            adminMessage = arguments[1];
            arguments = arguments.mid(2);
        } else if (!arguments.isEmpty() && arguments[0] == "--rooms-scene") {
            roomsScene = true;
            arguments = arguments.mid(1);
        } else if (!arguments.isEmpty() && arguments[0] == "--search-scene") {
            searchScene = true;
            arguments = arguments.mid(1);
        } else if (!arguments.isEmpty() && arguments[0] == "--users-scene") {
            usersScene = true;
            arguments = arguments.mid(1);
        } else
            break;
    }
    quint16 port = 0;
    if (!arguments.isEmpty()) {
        bool ok = false;
        const uint value = arguments[0].toUInt(&ok);
        if (!ok || value > 65535 || arguments.size() > 1) {
            QTextStream(stderr) << "usage: quorvane-testserver [--admin-message TEXT] [--rooms-scene] [--search-scene] "
                                   "[--users-scene] [port]\n";
            return 2;
        }
        port = quint16(value);
    }
    TestServer server;
    if (!adminMessage.isEmpty())
        QObject::connect(&server, &TestServer::UserLoggedIn, &server, [&server, adminMessage](QString user) {
            server.Send(user, 66, TestMessage().Str(adminMessage).Body());
        });
    if (roomsScene)
        SetRoomsScene(server);
    if (searchScene)
        SetSearchScene(server);
    if (usersScene)
        SetUsersScene(server);
    if (!server.Listen(port)) {
        QTextStream(stderr) << "cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    QTextStream out(stdout);
    out << server.Port() << Qt::endl;
    QObject::connect(&server, &TestServer::UserLoggedIn,
                     [&out](const QString& user) { out << "logged in " << user << Qt::endl; });
    QObject::connect(&server, &TestServer::UserLoggedOut,
                     [&out](const QString& user) { out << "logged out " << user << Qt::endl; });
    return app.exec();
}
