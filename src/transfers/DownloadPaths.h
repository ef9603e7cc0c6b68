#pragma once

#include <QString>
#include <string>
#include <utility>

// Where a download lives on the local disk. Paths are put together in the
// "\" form that remote paths are written in and become local ("/") only
// when the file system is asked. The remote folder and the file name are a
// peer's choice, so every component taken from them is made harmless here,
// and a path that would still land outside the download folder is refused;
// the entry itself keeps the texts as the peer sent them.
class DownloadPaths
{
public:
    struct Options
    {
        // The "download_folder" setting as stored.
        QString downloadFolder;
        // "dont_split_downloads": partial and finished files share one place.
        bool dontSplit = false;
        // "dont_create_subfolders_for_single_downloads".
        bool flattenSingle = false;
    };

    // The last level + 1 components of the remote folder, each after a "\",
    // exactly as received. The first component repeats when the folder has
    // fewer.
    static std::string KeptSubfolders(const std::string& remoteFolder, int level);
    // The same with every component made harmless and the ones that would
    // name nothing or climb ("", ".", "..") left out.
    static QString SafeSubfolders(const std::string& remoteFolder, int level);
    // One component as a local name: control characters and separators
    // become "_"; empty when nothing usable remains ("", ".", "..").
    static QString SafeComponent(const QString& component);

    // The folder of the partial (complete false) or finished file, "\" form.
    // hasRemoteFolder is false for an entry without a remote folder item.
    static QString TargetFolder(const Options& options, bool hasRemoteFolder, const std::string& remoteFolder,
                                int level, bool single, bool complete);
    // TargetFolder, "\" and the file name; empty when the file name is
    // refused or the path would leave the download folder.
    static QString TargetPath(const Options& options, bool hasRemoteFolder, const std::string& remoteFolder, int level,
                              bool single, const std::string& fileName, bool complete);
    // The kept subfolders without the leading "\"; empty without a remote
    // folder.
    static QString RelativeFolder(bool hasRemoteFolder, const std::string& remoteFolder, int level);

    // A remote path cut at its last "\" into folder and file name; "/" is
    // part of a name, as the uploader lists it. A path without "\" is a
    // name alone.
    static std::pair<std::string, std::string> SplitRemote(const std::string& path);

    // "\" form to the file system's form.
    static QString Local(const QString& path);
    // Whether the local path lies below the local folder (never the folder
    // itself), after "." and ".." are resolved.
    static bool IsInside(const QString& localPath, const QString& localFolder);
};
