#include "DownloadPaths.h"

#include <QDir>
#include <QStringList>
#include <algorithm>

#include "GeneralFunctions.h"

namespace {
// No local path holds more components than this; a larger level could only
// repeat the first remote component.
const int MaxKeptLevels = 1024;

QString Backslashed(QString path)
{
    return path.replace('/', '\\');
}
} // namespace

std::string DownloadPaths::KeptSubfolders(const std::string& remoteFolder, int level)
{
    const int count = std::min(std::max(level, 0), MaxKeptLevels) + 1;
    std::string folder = remoteFolder;
    std::string suffix;
    for (int i = 0; i < count; ++i) {
        suffix = "\\" + GetFileName(folder) + suffix;
        folder = GetParentFolder(folder);
    }
    return suffix;
}

QString DownloadPaths::SafeSubfolders(const std::string& remoteFolder, int level)
{
    QString safe;
    const QStringList parts = ToQString(KeptSubfolders(remoteFolder, level)).split('\\');
    for (const QString& part : parts) {
        const QString component = SafeComponent(part);
        if (!component.isEmpty())
            safe += '\\' + component;
    }
    return safe;
}

QString DownloadPaths::SafeComponent(const QString& component)
{
    QString safe = component;
    for (QChar& c : safe) {
        if (c.category() == QChar::Other_Control || c == '/' || c == '\\')
            c = '_';
    }
    if (safe == "." || safe == "..")
        return QString();
    return safe;
}

QString DownloadPaths::TargetFolder(const Options& options, bool hasRemoteFolder, const std::string& remoteFolder,
                                    int level, bool single, bool complete)
{
    QString folder = Backslashed(options.downloadFolder);
    if (!options.dontSplit)
        folder += complete ? "\\complete" : "\\downloading";
    if (hasRemoteFolder && !remoteFolder.empty() && !(options.flattenSingle && single))
        folder += SafeSubfolders(remoteFolder, level);
    return folder;
}

QString DownloadPaths::TargetPath(const Options& options, bool hasRemoteFolder, const std::string& remoteFolder,
                                  int level, bool single, const std::string& fileName, bool complete)
{
    const QString name = SafeComponent(ToQString(fileName));
    if (name.isEmpty())
        return QString();
    const QString path = TargetFolder(options, hasRemoteFolder, remoteFolder, level, single, complete) + '\\' + name;
    if (!IsInside(Local(path), Local(Backslashed(options.downloadFolder))))
        return QString();
    return path;
}

QString DownloadPaths::RelativeFolder(bool hasRemoteFolder, const std::string& remoteFolder, int level)
{
    if (!hasRemoteFolder || remoteFolder.empty())
        return QString();
    return SafeSubfolders(remoteFolder, level).mid(1);
}

std::pair<std::string, std::string> DownloadPaths::SplitRemote(const std::string& path)
{
    const size_t separator = path.rfind('\\');
    if (separator == std::string::npos)
        return {std::string(), path};
    return {path.substr(0, separator), path.substr(separator + 1)};
}

QString DownloadPaths::Local(const QString& path)
{
    QString local = path;
    return local.replace('\\', '/');
}

bool DownloadPaths::IsInside(const QString& localPath, const QString& localFolder)
{
    if (localFolder.isEmpty())
        return false;
    const QString path = QDir::cleanPath(QDir::isAbsolutePath(localPath) ? localPath : QDir(localPath).absolutePath());
    QString folder =
        QDir::cleanPath(QDir::isAbsolutePath(localFolder) ? localFolder : QDir(localFolder).absolutePath());
    if (!folder.endsWith('/'))
        folder += '/';
    return path.startsWith(folder) && path.size() > folder.size();
}
