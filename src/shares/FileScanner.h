#pragma once

#include <QFileInfo>
#include <mutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <map>
#include <set>

// Walks shared folders and analyses MP3 files on the scanner thread. The
// walk writes only its own result map; the shared-folders manager reads and
// empties that map on the event-loop thread once FoldersScanned has
// arrived, so the two threads never touch it at the same time.
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

    // Asks a walk under way to unwind at its next folder and an analysis
    // under way to give up at its next chunk. Any thread.
    void Quit();
    bool IsQuitRequested();

    // Valid only between FoldersScanned and the manager's merge.
    ResultMap scanResults;

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
    void MP3Scanned(QString file, int mpegVersion, QString channelMode, int frequency, bool isVBR, int bitrate);

private:
    void ScanFolder(const QString& root, const QString& folder, std::set<QString>& visited);

    bool quitRequested = false;
    // A standard mutex: Qt 5's waits inside the library, out of sight of
    // ThreadSanitizer (scripts/tsan), which then takes its locking for a race.
    std::mutex quitMutex;
};
