#pragma once

#include <set>

#include "FileInfo.h"
#include "Persistent.h"

// The files of one shared folder as the folder-contents reply carries them:
// u32 count, the records in set order, u32 0.
class SharedFolderInfo : public Persistent
{
public:
    // A larger count is taken for damage or hostility rather than a folder.
    static constexpr quint32 MaxCount = 131072;

    // Replaces the records; on failure the set holds those read so far.
    bool Read(InputStream& stream) override;
    void Write(OutputStream& stream) const override;

    const std::set<FileInfo>& Files() const { return m_files; }
    std::set<FileInfo>& Files() { return m_files; }

private:
    std::set<FileInfo> m_files;
};
