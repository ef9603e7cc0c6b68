#pragma once

#include <memory>
#include <set>
#include <string>
#include <unordered_map>

#include "FileInfo.h"
#include "ItemPtr.h"

class TurnSlice;
class Type;

// Turns a share list into a "user_share" tree: per folder a
// "user_share_folder" with its name and its link to the parent folder's,
// per file a "user_share_file" with name, size and audio attributes. A list
// of 100,000 files takes longer than a turn of the event loop may, so the
// tree can be made a slice at a time; between slices only the share item
// and the places in the list are held, and a share removed meanwhile ends
// the work.
//
// While the builder is the list's only holder it takes each file out of
// the list once made, so the list shrinks as the tree grows and is never
// let go in one piece.
class UserShareBuilder
{
public:
    explicit UserShareBuilder(std::shared_ptr<FileInfoMap> list);
    UserShareBuilder(const UserShareBuilder&) = delete;
    UserShareBuilder& operator=(const UserShareBuilder&) = delete;

    // Makes items, a file or a folder a step, until the list is done or
    // the slice is spent. True once the whole tree is made, or once the
    // share was removed or abandoned meanwhile and the rest of the list is
    // let go.
    bool Build(TurnSlice& slice);
    // Build has been called, or Abandon.
    bool Started() const { return m_started; }
    // Build has returned true.
    bool Done() const { return m_done; }
    // The tree; null when it was removed before it was done.
    ItemPtr Share() const { return m_share; }
    // Makes nothing more; the tree made so far is the caller's to release.
    ItemPtr Abandon();
    // The list's files and folders, and the files made into items so far.
    qint64 FileCount() const { return m_fileCount; }
    qint64 FolderCount() const { return m_folderCount; }
    qint64 FilesMade() const { return m_filesMade; }

private:
    void Start();
    void EnterFolder();
    void AddFile(const FileInfo& info);
    bool Owned() const { return m_list.use_count() == 1; }
    // Lets the rest of the list go within the slice; true once it is gone.
    bool LetGo(TurnSlice& slice);

    std::shared_ptr<FileInfoMap> m_list;
    bool m_started = false;
    bool m_done = false;
    FileInfoMap::iterator m_folder;
    bool m_inFolder = false;
    std::set<FileInfo>::iterator m_file;
    ItemPtr m_share;
    ItemPtr m_folderItem;
    // Folders made so far by path: a parent path sorts before its
    // subfolders, so a parent in the list is always made first.
    std::unordered_map<std::string, ItemPtr> m_folders;
    qint64 m_fileCount = 0;
    qint64 m_folderCount = 0;
    qint64 m_filesMade = 0;

    Type* m_folderName = nullptr;
    Type* m_fileName = nullptr;
    Type* m_fileSize = nullptr;
    Type* m_bitrate = nullptr;
    Type* m_length = nullptr;
    Type* m_mode = nullptr;
};
