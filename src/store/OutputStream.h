#pragma once

#include <QString>
#include <string>
#include <type_traits>

// The writing half of the little-endian encoding shared by the data file and
// every network protocol.
class OutputStream
{
public:
    virtual ~OutputStream() = default;

    // Appends size bytes.
    virtual void WriteBuffer(const void* buffer, unsigned long size) = 0;

    // Integers take as many bytes as their type, least significant first, so
    // the caller picks the width by the type it passes (quint8, quint32,
    // qint32, quint64, qint64).
    template <typename T>
    std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>> Write(T value)
    {
        using U = std::make_unsigned_t<T>;
        U v = static_cast<U>(value);
        unsigned char bytes[sizeof(T)];
        for (size_t i = 0; i < sizeof(T); ++i) {
            bytes[i] = static_cast<unsigned char>(v & 0xff);
            v = static_cast<U>(v >> 8);
        }
        WriteBuffer(bytes, sizeof(T));
    }

    // A u32 byte count followed by the bytes as they are.
    void Write(const std::string& text);
    // A u32 byte count followed by the UTF-8 bytes.
    void Write(const QString& text);

private:
    void WriteCounted(const char* bytes, size_t size);
};
