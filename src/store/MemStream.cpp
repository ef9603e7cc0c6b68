#include "MemStream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

MemStream::MemStream() : m_buffer(std::make_shared<QByteArray>()) {}

MemStream::MemStream(const QByteArray& bytes) : m_buffer(std::make_shared<QByteArray>(bytes)) {}

MemStream::MemStream(const void* bytes, unsigned long size) : MemStream()
{
    WriteBuffer(bytes, size);
}

void MemStream::WriteBuffer(const void* buffer, unsigned long size)
{
    if (size == 0)
        return;
    // QByteArray counts in int; refuse rather than wrap the size around.
    const unsigned long room = static_cast<unsigned long>(std::numeric_limits<int>::max() - m_buffer->size());
    if (size > room)
        throw std::length_error("MemStream would exceed its largest size");
    m_buffer->append(static_cast<const char*>(buffer), static_cast<int>(size));
}

bool MemStream::ReadBuffer(void* buffer, unsigned long size)
{
    if (!PeekBuffer(buffer, size))
        return false;
    m_readPosition += size;
    return true;
}

bool MemStream::PeekBuffer(void* buffer, unsigned long size) const
{
    if (size > Remaining())
        return false;
    if (size > 0)
        std::memcpy(buffer, m_buffer->constData() + m_readPosition, size);
    return true;
}

unsigned long MemStream::Remaining() const
{
    // Another copy may have cleared or compacted the buffer under us.
    const unsigned long length = GetLength();
    return m_readPosition < length ? length - m_readPosition : 0;
}

const char* MemStream::GetBuffer() const
{
    return m_buffer->constData();
}

unsigned long MemStream::GetLength() const
{
    return static_cast<unsigned long>(m_buffer->size());
}

QByteArray MemStream::GetBytes() const
{
    return *m_buffer;
}

unsigned long MemStream::GetReadPosition() const
{
    return m_readPosition;
}

bool MemStream::SetReadPosition(unsigned long position)
{
    if (position > GetLength())
        return false;
    m_readPosition = position;
    return true;
}

bool MemStream::Skip(unsigned long size)
{
    if (size > Remaining())
        return false;
    m_readPosition += size;
    return true;
}

bool MemStream::ReadBytes(QByteArray& bytes, unsigned long size)
{
    if (size > Remaining())
        return false;
    bytes = m_buffer->mid(static_cast<int>(m_readPosition), static_cast<int>(size));
    m_readPosition += size;
    return true;
}

void MemStream::Append(const QByteArray& bytes)
{
    WriteBuffer(bytes.constData(), static_cast<unsigned long>(bytes.size()));
}

void MemStream::Clear()
{
    m_buffer->clear();
    m_readPosition = 0;
}

void MemStream::DiscardRead()
{
    const unsigned long consumed = std::min(m_readPosition, GetLength());
    m_buffer->remove(0, static_cast<int>(consumed));
    m_readPosition = 0;
}
