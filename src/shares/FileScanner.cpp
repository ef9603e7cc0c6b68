#include "FileScanner.h"

#include <QDir>
#include <QMutexLocker>

FileScanner::FileScanner(QObject* parent) : QObject(parent)
{
}

void FileScanner::Quit()
{
    QMutexLocker lock(&quitMutex);
    quitRequested = true;
}

bool FileScanner::IsQuitRequested()
{
    QMutexLocker lock(&quitMutex);
    return quitRequested;
}

QFileInfoList FileScanner::ListFolder(const QString& folder)
{
    QDir dir(folder);
    dir.setFilter(QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    return dir.entryInfoList();
}

void FileScanner::ScanFolders(QStringList folders)
{
    // One visited set for the whole walk, so a folder under two listed
    // roots is filed once, under the root listed first.
    std::set<QString> visited;
    for (const QString& folder : folders)
        ScanFolder(folder, folder, visited);
    emit FoldersScanned();
}

void FileScanner::ScanFolder(const QString& root, const QString& folder, std::set<QString>& visited)
{
    if (IsQuitRequested())
        return;
    if (!folder.startsWith(root))
        return;
    if (!visited.insert(folder).second)
        return;
    const QFileInfoList entries = ListFolder(folder);
    FileMap& files = scanResults[root][folder];
    for (const QFileInfo& entry : entries)
    {
        if (entry.isFile())
            files[entry.fileName()] = entry;
        else if (entry.isDir())
            ScanFolder(root, entry.absoluteFilePath(), visited);
    }
}

void FileScanner::OnMP3ScanRequired(QString file)
{
    // The audio analysis is not built yet; until it is, a request ends here
    // with no result, as a failed analysis would.
    Q_UNUSED(file);
}
