#include "ClientHome.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include "ClientDataFile.h"

namespace ClientHome {

bool MakeFolders(const QString& home)
{
    return QDir().mkpath(home + "/runtime") &&
           QFile::setPermissions(home + "/runtime",
                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QProcessEnvironment Environment(const QString& home, quint16 serverPort, const QString& web)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    // Each client is the one instance of its own runtime folder.
    environment.insert("XDG_RUNTIME_DIR", home + "/runtime");
    environment.insert("XDG_CONFIG_HOME", home + "/.config");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("QUORVANE_TEST", "1");
    environment.insert("QUORVANE_SERVER", QString("127.0.0.1:%1").arg(serverPort));
    environment.insert("QUORVANE_WEB", web);
    return environment;
}

bool SetAccount(ClientDataFile& data, const QString& home, const QString& user)
{
    const QList<quint16> ports = ClientDataFile::FreePorts(2);
    if (ports.size() != 2)
        return false;
    data.SetSetting("username", user);
    data.SetSetting("password", user + "-pw");
    data.SetSetting("listening_port", QString::number(ports[0]));
    data.SetSetting("obfuscated_listening_port", QString::number(ports[1]));
    data.SetSetting("download_folder", home + "/Downloads");
    return true;
}

QByteArray SampleBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = seed;
    for (int i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString FindFile(const QString& folder, const QString& name)
{
    QDirIterator files(folder, {name}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    return files.hasNext() ? files.next() : QString();
}

} // namespace ClientHome
