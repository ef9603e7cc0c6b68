#pragma once

#include <QString>
#include <QtGlobal>
#include <string>
#include <vector>

// The 100,000-file share the shares and client benchmarks measure, on disk:
// 100 artists of 10 albums of 100 files, names with Latin-1 and Cyrillic
// words, every size different (the files are sparse and take no room),
// no MP3 files.
// The root folder's own name is a word of every file; "quixotic" is in
// the names of three files.
class ShareTree
{
public:
    static const int TopFolders = 100;
    static const int SubFolders = 10;
    static const int FilesPerFolder = 100;
    static const int Files = TopFolders * SubFolders * FilesPerFolder;
    static const int Folders = TopFolders * SubFolders + TopFolders + 1;

    // Makes the tree under root; the files' paths go to paths when given.
    static bool Make(const QString& root, std::vector<std::string>* paths = nullptr);
    static QString FolderPath(const QString& root, int top, int sub);
    static QString FileName(int top, int sub, int file);
    static qint64 FileSize(int top, int sub, int file);
};
