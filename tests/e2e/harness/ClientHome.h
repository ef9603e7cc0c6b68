#pragma once

#include <QByteArray>
#include <QString>

class ClientDataFile;

// The home folder of a client started by hand or by an end-to-end test: a
// private runtime folder, as the one-instance lock wants, and the account a
// first run would have asked for, on listening ports free at the time of
// asking so that several clients can share one machine.
namespace ClientHome {

bool MakeFolders(const QString& home);
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
