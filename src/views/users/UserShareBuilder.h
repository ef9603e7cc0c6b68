#pragma once

#include <QElapsedTimer>
#include <set>
#include <string>
#include <unordered_map>

#include "FileInfo.h"
#include "ItemPtr.h"

class Type;

// Turns a share list into a "user_share" tree: per folder a
// "user_share_folder" with its name and its link to the parent folder's,
// per file a "user_share_file" with name, size and audio attributes. A list
// of 100,000 files takes longer than a turn of the event loop may, so the
// tree can be made a slice at a time; between slices only the share item
// and the places in the list are held, and a share removed meanwhile ends
// the work.
class UserShareBuilder
{
public:
    // Reads the caller's list, which must outlive the builder.
    explicit UserShareBuilder(const FileInfoMap& list);
    // Keeps its own copy of the list.
    explicit UserShareBuilder(FileInfoMap&& list);
    UserShareBuilder(const UserShareBuilder&) = delete;
    UserShareBuilder& operator=(const UserShareBuilder&) = delete;

    // Makes items until the list is done or budgetMs have passed (a budget
    // of 0 or less: until done). True once the whole tree is made, or the
    // share was removed meanwhile.
    bool Build(int budgetMs);
    // The tree; null when it was removed before it was done.
    ItemPtr Share() const { return m_share; }

private:
    void Start();
    void EnterFolder();
    void AddFile(const FileInfo& info);

    FileInfoMap m_owned;
    const FileInfoMap* m_list;
    bool m_started = false;
    FileInfoMap::const_iterator m_folder;
    bool m_inFolder = false;
    std::set<FileInfo>::const_iterator m_file;
    ItemPtr m_share;
    ItemPtr m_folderItem;
    // Folders made so far by path: a parent path sorts before its
    // subfolders, so a parent in the list is always made first.
    std::unordered_map<std::string, ItemPtr> m_folders;

    Type* m_folderName = nullptr;
    Type* m_fileName = nullptr;
    Type* m_fileSize = nullptr;
    Type* m_bitrate = nullptr;
    Type* m_length = nullptr;
    Type* m_mode = nullptr;
};
