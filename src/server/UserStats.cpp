#include "UserStats.h"

#include "InputStream.h"
#include "OutputStream.h"

bool UserStats::Read(InputStream& stream)
{
    // Read into locals so a short record leaves this one unchanged.
    quint32 speed = 0, files = 0, folders = 0;
    quint64 downloads = 0;
    if (!stream.Read(speed) || !stream.Read(downloads) || !stream.Read(files) || !stream.Read(folders))
        return false;
    m_averageSpeed = speed;
    m_downloadCount = downloads;
    m_fileCount = files;
    m_folderCount = folders;
    return true;
}

void UserStats::Write(OutputStream& stream) const
{
    stream.Write(m_averageSpeed);
    stream.Write(m_downloadCount);
    stream.Write(m_fileCount);
    stream.Write(m_folderCount);
}

bool UserStats::operator==(const UserStats& other) const
{
    return m_averageSpeed == other.m_averageSpeed && m_downloadCount == other.m_downloadCount &&
           m_fileCount == other.m_fileCount && m_folderCount == other.m_folderCount;
}
