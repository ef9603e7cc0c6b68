// Prepares the home folder of a client tried by hand against the standalone
// test server (see scripts/try-clients): the user's account on free
// listening ports and a shared folder with a few files named after the
// user, so that two users can find each other's files. A home that holds a
// data file already is left as it is, so a second try finds the first.
//   quorvane-try-home HOME USER
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include "ClientDataFile.h"
#include "ClientHome.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 3) {
        err << "usage: quorvane-try-home HOME USER\n";
        return 2;
    }
    const QString home = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString user = QString::fromLocal8Bit(argv[2]);
    if (!ClientHome::MakeFolders(home)) {
        err << "cannot make " << home << "\n";
        return 1;
    }
    if (!QDir(home).entryList({".Quorvane*"}, QDir::Files | QDir::Hidden).isEmpty())
        return 0;

    const QString shared = home + "/Shared by " + user;
    const QStringList files = {"Field Recordings/rain on a tin roof (" + user + ").ogg",
                               "Field Recordings/harbour at dawn (" + user + ").ogg", "notes from " + user + ".txt"};
    for (int i = 0; i < files.size(); ++i) {
        if (!ClientHome::WriteFile(shared + "/" + files[i], ClientHome::SampleBytes(300000 + 7919 * i, quint32(i)))) {
            err << "cannot write " << shared << "/" << files[i] << "\n";
            return 1;
        }
    }
    ClientDataFile data;
    if (!ClientHome::SetAccount(data, home, user)) {
        err << "no free port\n";
        return 1;
    }
    data.ShareFolder(shared);
    QString error;
    if (!data.Write(home + "/.Quorvane", &error)) {
        err << error << "\n";
        return 1;
    }
    return 0;
}
