#include "InputStream.h"

#include "GeneralFunctions.h"

bool InputStream::PeekStringLength(quint32& length) const
{
    unsigned char bytes[4];
    if (!PeekBuffer(bytes, 4))
        return false;
    length = quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16 | quint32(bytes[3]) << 24;
    // The length comes from a peer: check it against what is there before
    // allocating anything for it.
    return length <= Remaining() - 4;
}

bool InputStream::Read(std::string& text)
{
    quint32 length = 0;
    if (!PeekStringLength(length))
        return false;
    std::string bytes(length, '\0');
    quint32 counted = 0;
    Read(counted);
    if (length > 0 && !ReadBuffer(&bytes[0], length))
        return false;
    text.swap(bytes);
    return true;
}

bool InputStream::Read(QString& text)
{
    std::string bytes;
    if (!Read(bytes))
        return false;
    text = ToQString(bytes);
    return true;
}
