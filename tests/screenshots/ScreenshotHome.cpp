// Prepares the home folder of the client that scripts/screenshots shows:
// the data file of a user who has logged in before, shares a folder of music
// and has downloads queued, written by the project's own engines.
//   quorvane-screenshot-home HOME
// Listening ports are chosen free at the time of asking, so several runs can
// share a machine.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include "ClientDataFile.h"

namespace {

bool WriteFile(const QString& path, int size)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(size, '\x5a')) == size;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: quorvane-screenshot-home HOME\n";
        return 2;
    }
    const QString home = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString music = home + "/Music";
    const QStringList files = {
        "Field Recordings/rain on a tin roof.flac",
        "Field Recordings/harbour at dawn.flac",
        "Live at the Blue Room/01 opening.ogg",
        "Live at the Blue Room/02 slow blues in G.ogg",
        "Live at the Blue Room/03 encore.ogg",
        "liner notes.txt",
    };
    for (int i = 0; i < files.size(); ++i) {
        if (!WriteFile(music + "/" + files[i], 40000 + 7919 * i)) {
            err << "cannot write " << music << "/" << files[i] << "\n";
            return 1;
        }
    }
    const QList<quint16> ports = ClientDataFile::FreePorts(2);
    if (ports.size() != 2) {
        err << "no free port\n";
        return 1;
    }

    ClientDataFile data;
    data.SetSetting("username", "marta");
    data.SetSetting("password", "marta-pw");
    data.SetSetting("listening_port", QString::number(ports[0]));
    data.SetSetting("obfuscated_listening_port", QString::number(ports[1]));
    data.SetSetting("download_folder", home + "/Downloads");
    data.SetSetting("upload_slots", "3");
    data.ShareFolder(music);
    data.AddDownload("jonas", "C:\\Users\\jonas\\Music\\Coltrane - Blue Train", "01 Blue Train.flac", 61234567);
    data.AddDownload("jonas", "C:\\Users\\jonas\\Music\\Coltrane - Blue Train", "02 Moment's Notice.flac", 48123456);
    data.AddDownload("ilse", "\\home\\ilse\\Podcasts", "episode 112 - city sounds.mp3", 23456789);
    QString error;
    if (!data.Write(home + "/.Quorvane", &error)) {
        err << error << "\n";
        return 1;
    }
    return 0;
}
