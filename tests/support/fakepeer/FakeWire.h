#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The byte layout of peer messages as docs/protocol.md gives it, written
// without the client's stream classes so that a fault there cannot hide in
// a matching fault here. Writes append; reads take from a position and
// fail, moving nowhere, rather than run past the end.
class FakeWire
{
public:
    FakeWire() = default;
    explicit FakeWire(const QByteArray& bytes) : m_bytes(bytes) {}

    FakeWire& U8(quint8 value);
    FakeWire& U32(quint32 value);
    FakeWire& U64(quint64 value);
    FakeWire& Str(const QString& text);
    FakeWire& StrBytes(const QByteArray& bytes);
    FakeWire& Raw(const QByteArray& bytes);
    // One file record: u8 1, string name, u64 size, string extension,
    // u32 count, count x (u32 code, u32 value).
    FakeWire& File(const QByteArray& name, quint64 size, const QByteArray& extension = QByteArray(),
                   const QList<QPair<quint32, quint32>>& attributes = {});

    bool ReadU8(quint8& value);
    bool ReadU32(quint32& value);
    bool ReadU64(quint64& value);
    bool ReadStr(QString& text);
    bool ReadStrBytes(QByteArray& bytes);
    bool ReadRaw(int size, QByteArray& bytes);
    int Remaining() const { return m_bytes.size() - m_position; }
    bool AtEnd() const { return Remaining() == 0; }

    const QByteArray& Bytes() const { return m_bytes; }

    // u32 length of the content, then the content.
    static QByteArray Frame(const QByteArray& content);
    // A message frame: u32 length, u32 code, body.
    static QByteArray Message(quint32 code, const QByteArray& body);
    // A network link frame: u32 length, u8 code, body.
    static QByteArray LinkFrame(quint8 code, const QByteArray& body);
    // zlib at level 9.
    static QByteArray Compress(const QByteArray& bytes);
    // The compressed body of a share list of one folder whose files have
    // names of random hexadecimal digits (nameBytes random bytes each), as
    // large compressed as plain; sizes are the files' numbers.
    static QByteArray RandomShareList(const QString& folder, int files, int nameBytes, quint32 seed);
    static QByteArray Inflate(const QByteArray& bytes);

private:
    QByteArray m_bytes;
    int m_position = 0;
};
