#pragma once

#include <QString>
#include <string>
#include <type_traits>

// The reading half of the little-endian encoding that the data file and every
// network protocol share. A read that cannot be completed returns false and
// consumes nothing, so a caller may retry once more bytes have arrived.
class InputStream
{
public:
    virtual ~InputStream() = default;

    // Copies the next size bytes into buffer and moves past them.
    virtual bool ReadBuffer(void* buffer, unsigned long size) = 0;
    // Copies the next size bytes without moving past them.
    virtual bool PeekBuffer(void* buffer, unsigned long size) const = 0;
    // Bytes left to read.
    virtual unsigned long Remaining() const = 0;

    // Integers take as many bytes as their type, least significant first:
    // quint8 one, quint32 and qint32 four, quint64 and qint64 eight.
    template <typename T>
    std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, bool> Read(T& value)
    {
        unsigned char bytes[sizeof(T)];
        if (!ReadBuffer(bytes, sizeof(T)))
            return false;
        using U = std::make_unsigned_t<T>;
        U result = 0;
        for (size_t i = sizeof(T); i-- > 0;)
            result = static_cast<U>(static_cast<U>(result << 8) | bytes[i]);
        value = static_cast<T>(result);
        return true;
    }

    // A u32 byte count followed by that many bytes, taken as they are.
    bool Read(std::string& text);
    // The same, decoded by ToQString (UTF-8, else the chosen code page).
    bool Read(QString& text);

private:
    // The byte count of the next string when the whole string has arrived.
    bool PeekStringLength(quint32& length) const;
};
