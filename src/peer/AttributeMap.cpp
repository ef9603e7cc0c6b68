#include "AttributeMap.h"

#include "InputStream.h"
#include "OutputStream.h"

bool AttributeMap::Get(quint32 code, quint32& value) const
{
    for (const auto& pair : m_values) {
        if (pair.first == code) {
            value = pair.second;
            return true;
        }
    }
    return false;
}

bool AttributeMap::Read(InputStream& stream)
{
    std::string extension;
    quint32 count = 0;
    if (!stream.Read(extension) || !stream.Read(count))
        return false;
    // The count comes from a peer: nothing is reserved for pairs that are
    // not there.
    if (count > stream.Remaining() / 8)
        return false;
    std::vector<std::pair<quint32, quint32>> values;
    values.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        quint32 code = 0, value = 0;
        if (!stream.Read(code) || !stream.Read(value))
            return false;
        values.emplace_back(code, value);
    }
    m_extension.swap(extension);
    m_values.swap(values);
    return true;
}

void AttributeMap::Write(OutputStream& stream) const
{
    stream.Write(m_extension);
    stream.Write(quint32(m_values.size()));
    for (const auto& pair : m_values) {
        stream.Write(pair.first);
        stream.Write(pair.second);
    }
}
