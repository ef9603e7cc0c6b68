#pragma once

#include <QFileInfo>
#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>

// Walks shared folders and analyses MP3 files on the scanner thread. The
// start-up walk writes only its own result map; the shared-folders manager
// takes that map on the event-loop thread once FoldersScanned has arrived,
// so the two threads never touch it at the same time. A rescan's walk hands
// its result over with the signal instead.
class FileScanner : public QObject
{
    Q_OBJECT

public:
    // file name -> its QFileInfo
    typedef std::map<QString, QFileInfo> FileMap;
    // folder path -> its files
    typedef std::map<QString, FileMap> FolderMap;
    // root path -> its folders
    typedef std::map<QString, FolderMap> ResultMap;

    explicit FileScanner(QObject* parent = nullptr);
    // Runs after the scanner thread has ended.
    ~FileScanner() override;

    // Asks a walk under way to unwind at its next folder and an analysis
    // under way to give up at its next chunk. Any thread.
    void Quit();
    bool IsQuitRequested();

    // Valid only between FoldersScanned and the manager's merge.
    ResultMap scanResults;

    // A rescan's walk: every root walked with a visited set of its own, so
    // a folder below two roots is listed under both, as a rescan files it.
    struct Walk
    {
        QStringList roots;
        ResultMap results;
        // The first walk of a folder just shared, rather than a rescan.
        bool sharing = false;
    };
    typedef std::shared_ptr<Walk> WalkResult;
    // Asks for a rescan's walk from any thread. It is taken before the next
    // analysis, however many wait, and its result travels with
    // SharesWalked, so walks never share scanResults.
    void RequestWalk(const QStringList& roots, bool sharing = false);
    // ScanFolders, asked for from any thread the same way, so that walks
    // keep the order they were asked in.
    void RequestScan(const QStringList& folders);

    // One listing of a folder, the same for every kind of scan: files and
    // folders, no hidden or system entries, no symbolic links.
    static QFileInfoList ListFolder(const QString& folder);

    // The MP3 analysis of one file; the outputs mean something only when it
    // returns true. bitrate is -1 from the start until it succeeds.
    bool ScanMP3(QString file, int& mpegVersion, QString& channelMode, int& frequency, bool& isVBR, int& bitrate);

public slots:
    void ScanFolders(QStringList folders);
    void OnMP3ScanRequired(QString file);

signals:
    void FoldersScanned();
    void SharesWalked(FileScanner::WalkResult walk);
    void MP3Scanned(QString file, int mpegVersion, QString channelMode, int frequency, bool isVBR, int bitrate);

private:
    struct WalkRequest
    {
        QStringList roots;
        bool startUp;
        bool sharing;
    };
    void PostWalk(const QStringList& roots, bool startUp, bool sharing);
    // The walks asked for so far, in order; on the scanner thread.
    void RunRequestedWalks();

    void ScanFolder(const QString& root, const QString& folder, std::set<QString>& visited, ResultMap& results);

    bool quitRequested = false;
    // A standard mutex: Qt 5's waits inside the library, out of sight of
    // ThreadSanitizer (scripts/tsan), which then takes its locking for a race.
    std::mutex quitMutex;
    std::deque<WalkRequest> walkRequests;
    std::mutex walkMutex;
};

Q_DECLARE_METATYPE(FileScanner::WalkResult)
