#pragma once

#include <QString>

// Brings data over from another client's configuration files.
class ConfigurationImporter
{
public:
    // The largest name count and name length accepted in a user-list file.
    static constexpr quint32 MaxUserListValue = 131072;

    // Reads a user-list file (u32 count, then per name a u32 length and the
    // bytes, little-endian) and puts every name on the user list. The whole
    // file is checked before anything is added: on any fault nothing is.
    static bool ImportUserList(QString path);
};
