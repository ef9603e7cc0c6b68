#include "FileScanner.h"

#include <QCoreApplication>
#include <QDir>
#include <mutex>

#include "Mp3Analyzer.h"

FileScanner::FileScanner(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<FileScanner::WalkResult>("FileScanner::WalkResult");
}

FileScanner::~FileScanner()
{
    // The thread's last use of the requests happened before it ended, but
    // that end is seen only inside the toolkit: taking the lock shows the
    // order to the thread checker too.
    std::lock_guard<std::mutex> lock(walkMutex);
    walkRequests.clear();
}

void FileScanner::RequestWalk(const QStringList& roots, bool sharing)
{
    PostWalk(roots, false, sharing);
}

void FileScanner::RequestScan(const QStringList& folders)
{
    PostWalk(folders, true, false);
}

void FileScanner::PostWalk(const QStringList& roots, bool startUp, bool sharing)
{
    {
        std::lock_guard<std::mutex> lock(walkMutex);
        walkRequests.push_back(WalkRequest{roots, startUp, sharing});
    }
    // Taken by the next analysis if one comes first: a rescan must not wait
    // for every MP3 file of a large share to be read.
    QMetaObject::invokeMethod(
        this, [this] { RunRequestedWalks(); }, Qt::QueuedConnection);
}

void FileScanner::RunRequestedWalks()
{
    for (;;) {
        WalkRequest request;
        {
            std::lock_guard<std::mutex> lock(walkMutex);
            if (walkRequests.empty())
                return;
            request = std::move(walkRequests.front());
            walkRequests.pop_front();
        }
        if (request.startUp) {
            ScanFolders(request.roots);
            continue;
        }
        auto walk = std::make_shared<Walk>();
        walk->roots = request.roots;
        walk->sharing = request.sharing;
        for (const QString& root : walk->roots) {
            std::set<QString> visited;
            ScanFolder(root, root, visited, walk->results);
        }
        emit SharesWalked(walk);
    }
}

void FileScanner::Quit()
{
    std::lock_guard<std::mutex> lock(quitMutex);
    quitRequested = true;
}

bool FileScanner::IsQuitRequested()
{
    std::lock_guard<std::mutex> lock(quitMutex);
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
        ScanFolder(folder, folder, visited, scanResults);
    emit FoldersScanned();
}

void FileScanner::ScanFolder(const QString& root, const QString& folder, std::set<QString>& visited, ResultMap& results)
{
    if (IsQuitRequested())
        return;
    if (!folder.startsWith(root))
        return;
    if (!visited.insert(folder).second)
        return;
    const QFileInfoList entries = ListFolder(folder);
    FileMap& files = results[root][folder];
    for (const QFileInfo& entry : entries) {
        if (entry.isFile())
            files[entry.fileName()] = entry;
        else if (entry.isDir())
            ScanFolder(root, entry.absoluteFilePath(), visited, results);
    }
}

bool FileScanner::ScanMP3(QString file, int& mpegVersion, QString& channelMode, int& frequency, bool& isVBR,
                          int& bitrate)
{
    bitrate = -1;
    if (IsQuitRequested())
        return false;
    // The flag is asked again before every chunk: the manager's destructor
    // waits for this thread, and a large file must not hold up the exit.
    Mp3Analyzer::Result result;
    if (!Mp3Analyzer::AnalyzeFile(file, result, [this] { return IsQuitRequested(); }))
        return false;
    mpegVersion = result.mpegVersion;
    channelMode = result.channelMode;
    frequency = result.frequency;
    isVBR = result.isVBR;
    bitrate = result.bitrate;
    return true;
}

void FileScanner::OnMP3ScanRequired(QString file)
{
    RunRequestedWalks();
    int mpegVersion = 0, frequency = 0, bitrate = -1;
    QString channelMode;
    bool isVBR = false;
    // A failed analysis leaves no trace, so the file is tried again at the
    // next scan.
    if (ScanMP3(file, mpegVersion, channelMode, frequency, isVBR, bitrate))
        emit MP3Scanned(file, mpegVersion, channelMode, frequency, isVBR, bitrate);
}
