#include "FileInfo.h"

#include "InputStream.h"
#include "OutputStream.h"

bool FileInfo::Read(InputStream& stream)
{
    // The leading byte is always 1 when written; its value carries nothing
    // a reader needs, so any value is taken.
    quint8 mark = 0;
    std::string name;
    qint64 size = 0;
    AttributeMap attributes;
    if (!stream.Read(mark) || !stream.Read(name) || !stream.Read(size) || !attributes.Read(stream))
        return false;
    m_name.swap(name);
    m_size = size;
    m_attributes = std::move(attributes);
    return true;
}

void FileInfo::Write(OutputStream& stream) const
{
    stream.Write(quint8(1));
    stream.Write(m_name);
    stream.Write(m_size);
    m_attributes.Write(stream);
}
