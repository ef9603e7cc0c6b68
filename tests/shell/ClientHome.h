#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>

class ClientDataFile;

// The home folder of a client process started by a test or by hand: a
// private runtime folder, as the one-instance lock wants, and the account a
// first run would have asked for, on listening ports free at the time of
// asking so that several clients can share one machine.
namespace ClientHome {

bool MakeFolders(const QString& home);
// The environment of a client of that home: its own HOME, runtime and
// configuration folders, offscreen, talking to the server and web host
// given (web as a base address such as "http://127.0.0.1:8080/").
QProcessEnvironment Environment(const QString& home, quint16 serverPort, const QString& web);
// User name, password (the name with "-pw"), two free listening ports and
// the download folder home + "/Downloads".
bool SetAccount(ClientDataFile& data, const QString& home, const QString& user);

// Bytes that repeat no pattern, so a chunk written at the wrong offset shows.
QByteArray SampleBytes(int size, quint32 seed = 0x2545F491u);
// Writes the file, making its folder first.
bool WriteFile(const QString& path, const QByteArray& bytes);
// The file's bytes; empty when it cannot be read.
QByteArray ReadFile(const QString& path);
// The first file of that name anywhere below the folder; empty when none.
QString FindFile(const QString& folder, const QString& name);

} // namespace ClientHome
