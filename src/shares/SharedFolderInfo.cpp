#include "SharedFolderInfo.h"

#include "InputStream.h"
#include "OutputStream.h"

bool SharedFolderInfo::Read(InputStream& stream)
{
    m_files.clear();
    quint32 count = 0;
    if (!stream.Read(count) || count > MaxCount)
        return false;
    for (quint32 i = 0; i < count; ++i) {
        FileInfo file;
        if (!file.Read(stream))
            return false;
        m_files.insert(std::move(file));
    }
    quint32 trailer = 0;
    return stream.Read(trailer);
}

void SharedFolderInfo::Write(OutputStream& stream) const
{
    stream.Write(quint32(m_files.size()));
    for (const FileInfo& file : m_files)
        file.Write(stream);
    stream.Write(quint32(0));
}
