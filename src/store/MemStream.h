#pragma once

#include "Stream.h"

#include <QByteArray>
#include <memory>

// The growable byte buffer of a message body or a connection's receive
// buffer. Copies are cheap handles to one buffer: bytes written through any
// copy are seen by all of them. Each copy keeps its own read position, so a
// message handed to several receivers can be read by each from the start.
class MemStream : public Stream
{
public:
    MemStream();
    explicit MemStream(const QByteArray& bytes);
    MemStream(const void* bytes, unsigned long size);

    void WriteBuffer(const void* buffer, unsigned long size) override;
    bool ReadBuffer(void* buffer, unsigned long size) override;
    bool PeekBuffer(void* buffer, unsigned long size) const override;
    unsigned long Remaining() const override;

    // Every byte of the buffer, read or not.
    const char* GetBuffer() const;
    unsigned long GetLength() const;
    QByteArray GetBytes() const;

    unsigned long GetReadPosition() const;
    // False, leaving the position alone, for a position past the end.
    bool SetReadPosition(unsigned long position);
    // Moves past size bytes; false, moving nowhere, when fewer remain.
    bool Skip(unsigned long size);
    // Takes the next size bytes out as a block of their own.
    bool ReadBytes(QByteArray& bytes, unsigned long size);

    void Append(const QByteArray& bytes);
    // Empties the buffer for every copy.
    void Clear();
    // Drops the bytes already read from the front of the buffer, so a
    // receive buffer does not grow with every frame taken out of it. Other
    // copies' read positions refer to the old front afterwards.
    void DiscardRead();

private:
    std::shared_ptr<QByteArray> m_buffer;
    unsigned long m_readPosition = 0;
};
