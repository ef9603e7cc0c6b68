#include "OutputStream.h"

#include <limits>

void OutputStream::WriteCounted(const char* bytes, size_t size)
{
    // A count that does not fit in 32 bits would desynchronise every reader,
    // so the text is cut to what the count can describe.
    if (size > std::numeric_limits<quint32>::max())
        size = std::numeric_limits<quint32>::max();
    Write(static_cast<quint32>(size));
    if (size > 0)
        WriteBuffer(bytes, static_cast<unsigned long>(size));
}

void OutputStream::Write(const std::string& text)
{
    WriteCounted(text.data(), text.size());
}

void OutputStream::Write(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    WriteCounted(utf8.constData(), static_cast<size_t>(utf8.size()));
}
