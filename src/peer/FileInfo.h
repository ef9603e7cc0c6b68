#pragma once

#include <QtGlobal>
#include <map>
#include <set>
#include <string>

#include "AttributeMap.h"
#include "Persistent.h"

// One shared file in share lists, folder contents and search replies:
// u8 1, string name, u64 size, then its AttributeMap. In a search reply the
// name is the whole remote path; in a share list it is the name within its
// folder.
class FileInfo : public Persistent
{
public:
    // u8, an empty name, u64 size and an empty AttributeMap.
    static constexpr unsigned long MinimumWireSize = 1 + 4 + 8 + AttributeMap::MinimumWireSize;

    FileInfo() = default;
    FileInfo(std::string name, qint64 size, AttributeMap attributes = AttributeMap())
        : m_name(std::move(name)), m_size(size), m_attributes(std::move(attributes))
    {
    }

    const std::string& Name() const { return m_name; }
    qint64 Size() const { return m_size; }
    const AttributeMap& Attributes() const { return m_attributes; }
    AttributeMap& Attributes() { return m_attributes; }

    bool Read(InputStream& stream) override;
    void Write(OutputStream& stream) const override;

    // By name compared byte by byte (as unsigned bytes), then by size; a set
    // holds records equal in both once.
    bool operator<(const FileInfo& other) const
    {
        const int byName = m_name.compare(other.m_name);
        return byName != 0 ? byName < 0 : m_size < other.m_size;
    }

private:
    std::string m_name;
    qint64 m_size = 0;
    AttributeMap m_attributes;
};

// A share list: folder path (UTF-8, "\" between components) to its files.
typedef std::map<std::string, std::set<FileInfo>> FileInfoMap;
// Attribute code to its name, sent along with a share list.
typedef std::map<int, std::string> AttributeTranslationTable;
