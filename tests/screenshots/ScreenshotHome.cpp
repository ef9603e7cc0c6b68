// Prepares the home folder of the client that scripts/screenshots shows:
// the data file of a user who has logged in before, shares a folder of music
// with everyone and one of demos with two groups, has downloads queued,
// enters a chat room at login, keeps a wish list, notes on users, users
// unshared, ignored and watched for, a description and picture of her own
// and a private chat's log, uploads at a limited speed and logs what happens
// per user, written by the project's own engines. A crash cut her newest
// data file short, so the client starts from the one before.
//   quorvane-screenshot-home HOME
// Listening ports are chosen free at the time of asking, so several runs can
// share a machine.
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QTextStream>

#include "ClientDataFile.h"
#include "ClientHome.h"
#include "DataSaver.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2 && argc != 3) {
        err << "usage: quorvane-screenshot-home HOME [FONT-POINTS]\n";
        return 2;
    }
    const QString home = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString music = home + "/Music";
    const QStringList files = {
        "Field Recordings/rain on a tin roof.flac", "Field Recordings/harbour at dawn.flac",
        "Live at the Blue Room/01 opening.ogg",     "Live at the Blue Room/02 slow blues in G.ogg",
        "Live at the Blue Room/03 encore.ogg",      "liner notes.txt",
    };
    const QString studio = home + "/Home Studio";
    const QStringList takes = {"demo take 1.wav", "demo take 2.wav"};
    for (int i = 0; i < files.size(); ++i) {
        // The concert's opening and the harbour are long enough to be seen
        // uploading.
        const bool big = files[i].contains("opening") || files[i].contains("harbour");
        const int size = big ? 9 * 1024 * 1024 + 7919 * i : 40000 + 7919 * i;
        if (!ClientHome::WriteFile(music + "/" + files[i], QByteArray(size, '\x5a'))) {
            err << "cannot write " << music << "/" << files[i] << "\n";
            return 1;
        }
    }
    for (int i = 0; i < takes.size(); ++i) {
        if (!ClientHome::WriteFile(studio + "/" + takes[i], QByteArray(90000 + 3001 * i, '\x5a'))) {
            err << "cannot write " << studio << "/" << takes[i] << "\n";
            return 1;
        }
    }
    ClientDataFile data;
    if (!ClientHome::SetAccount(data, home, "marta")) {
        err << "no free port\n";
        return 1;
    }
    // The font the UI page would store, at the size asked for.
    if (argc == 3)
        data.SetSetting("application_font",
                        QString("Sans Serif,%1,-1,5,50,0,0,0,0,0").arg(QString::fromLocal8Bit(argv[2]).toInt()));
    data.SetSetting("upload_slots", "3");
    // Slow enough that uploads are seen running.
    data.SetSetting("upload_speed_limit", "48");
    data.SetSetting("upload_speed_limit_enabled", "yes");
    // What marta tells whoever asks about her.
    data.SetSetting("user_description", "Live recordings from the Blue Room, field recordings from the harbour.\n"
                                        "Band members and friends get the studio demos too.");
    const QString picture = home + "/Pictures/marta.png";
    QImage portrait(120, 120, QImage::Format_RGB32);
    portrait.fill(QColor(180, 120, 60));
    if (!QDir().mkpath(home + "/Pictures") || !portrait.save(picture, "PNG")) {
        err << "cannot write " << picture << "\n";
        return 1;
    }
    data.SetSetting("user_picture_file", picture);
    // The program log keeps what it says about each user, for the user's
    // item log.
    data.SetSetting("show_diagnostics", "yes");
    data.SetSetting("user_level_logging", "yes");
    data.ShareFolder(music);
    data.ShareFolder(studio, {"Band", "Friends"});
    for (const char* ending : {".ini", ".db", ".nfo", ".url", ".DS_Store"})
        data.ExcludeExtension(ending);
    data.AddDownload("jonas", "C:\\Users\\jonas\\Music\\Coltrane - Blue Train", "01 Blue Train.flac", 61234567);
    data.AddDownload("jonas", "C:\\Users\\jonas\\Music\\Coltrane - Blue Train", "02 Moment's Notice.flac", 48123456);
    data.AddDownload("ilse", "\\home\\ilse\\Podcasts", "episode 112 - city sounds.mp3", 23456789);
    // One finished already: its file lies where the download folder keeps
    // finished files, so the transfers page shows it complete.
    const QString notes = "00 liner notes.pdf";
    const QString finished = home + "/Downloads/complete/Coltrane - Blue Train/" + notes;
    if (!ClientHome::WriteFile(finished, QByteArray(734512, '\x5a'))) {
        err << "cannot write the finished download\n";
        return 1;
    }
    data.AddDownload("jonas", "C:\\Users\\jonas\\Music\\Coltrane - Blue Train", notes, 734512);
    // Stored searches, two enabled, which throw away repeated results.
    data.AddWishListSearch("blue train", true, true);
    data.AddWishListSearch("coltrane lazy bird", true, true);
    data.AddWishListSearch("lush life 1958 mono", false);
    data.AddWishListSearch("sonny clark cool struttin", false);
    // The scene of quorvane-screenshot-server has people talking there.
    data.AutojoinRoom("jazz lounge");
    // The user list: people met in the rooms, the band, and a few who are
    // seldom online (the test server's users scene knows their figures).
    data.ListUser("jonas", {"Band", "Friends"});
    data.NoteUser("jonas", "plays the Friday listening party\nhas the 1957 pressing");
    data.ListUser("ilse", {"Friends"});
    data.NoteUser("ilse", "field recordings, harbour tapes");
    data.ListUser("rafael");
    data.NoteUser("rafael", "DJ; lossless mixes only");
    data.ListUser("Marek", {"Band"});
    data.ListUser("sofia", {"Friends"});
    data.ListUser("tomas");
    data.NoteUser("tomas", "owes me the Vanguard bootleg");
    data.NoteUser("pablo", "Has the Vanguard tapes; trades for Blue Note first pressings");
    // Those who took too much, those who would not stop advertising, and
    // those whose coming online is worth a sound.
    data.MarkUser("grabber99", "unshared");
    data.MarkUser("leechmaster", "unshared");
    data.NoteUser("leechmaster", "queued 4,000 files, shares nothing");
    data.MarkUser("cheap-cds-4u", "is_ignored");
    data.MarkUser("sp4mradio", "is_ignored");
    data.MarkUser("tomas", "user_online_alert");
    data.MarkUser("Marek", "user_online_alert");
    // An earlier private chat with ilse, as the client logged it.
    const QStringList earlier = {
        "[Nov 28 8:14:02 pm][ilse] are you coming to the listening party?",
        "[Nov 28 8:15:40 pm][marta] wouldn't miss it",
        "[Nov 28 8:16:11 pm][ilse] bring the Coltrane tapes if you find them",
        "[Nov 28 8:17:30 pm] * marta digs through the shelves",
        "[Nov 28 8:21:52 pm][marta] found two reels, no labels though",
    };
    if (!ClientHome::WriteFile(home + "/Quorvane Chat Logs/Users/ilse.log", (earlier.join('\n') + '\n').toUtf8())) {
        err << "cannot write the chat log\n";
        return 1;
    }
    QString error;
    if (!data.Write(home + "/.Quorvane", &error)) {
        err << error << "\n";
        return 1;
    }
    // The half-minute save after it, half written when the crash came.
    const auto saved = DataSaver::DataFiles(home + "/.Quorvane");
    const QByteArray whole = saved.empty() ? QByteArray() : ClientHome::ReadFile(saved.front().second);
    if (whole.isEmpty() || !ClientHome::WriteFile(home + "/.Quorvane." + QString::number(saved.front().first + 30000),
                                                  whole.left(whole.size() / 2))) {
        err << "cannot write the damaged data file\n";
        return 1;
    }
    return 0;
}
