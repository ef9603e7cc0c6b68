#pragma once

#include <QtGlobal>
#include <string>
#include <utility>
#include <vector>

#include "Persistent.h"

// The audio attributes of a shared file as share lists and search replies
// carry them: an extension and a list of (code, value) pairs. Codes: 0
// bitrate, 1 length in seconds, 2 variable bitrate (non-zero) or constant.
class AttributeMap : public Persistent
{
public:
    enum Code : quint32
    {
        Bitrate = 0,
        LengthSeconds = 1,
        VariableBitrate = 2
    };
    // The smallest record: an empty extension and a count of zero.
    static constexpr unsigned long MinimumWireSize = 8;

    AttributeMap() = default;
    explicit AttributeMap(std::string extension) : m_extension(std::move(extension)) {}

    const std::string& Extension() const { return m_extension; }
    void SetExtension(const std::string& extension) { m_extension = extension; }
    const std::vector<std::pair<quint32, quint32>>& Values() const { return m_values; }
    // Pairs keep the order in which they were added, as on the wire.
    void Add(quint32 code, quint32 value) { m_values.emplace_back(code, value); }
    // The first value of a code.
    bool Get(quint32 code, quint32& value) const;

    bool Read(InputStream& stream) override;
    void Write(OutputStream& stream) const override;

    bool operator==(const AttributeMap& other) const
    {
        return m_extension == other.m_extension && m_values == other.m_values;
    }

private:
    std::string m_extension;
    std::vector<std::pair<quint32, quint32>> m_values;
};
