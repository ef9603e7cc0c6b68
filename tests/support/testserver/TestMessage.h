#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The byte layout of server messages, written independently of the client's
// stream classes so that a fault there cannot hide in a matching fault here.
// Writes append; reads take from a position and fail (returning false)
// rather than run past the end.
class TestMessage
{
public:
    TestMessage() = default;
    explicit TestMessage(const QByteArray& bytes) : m_bytes(bytes) {}

    TestMessage& U8(quint8 value);
    TestMessage& U32(quint32 value);
    TestMessage& I32(qint32 value);
    TestMessage& U64(quint64 value);
    TestMessage& Str(const QString& text);
    TestMessage& Bytes(const QByteArray& bytes);
    // The statistics group: speed, download count, file count, folder count.
    TestMessage& Stats(quint32 speed, quint64 downloads, quint32 files, quint32 folders);

    bool ReadU8(quint8& value);
    bool ReadU32(quint32& value);
    bool ReadI32(qint32& value);
    bool ReadStr(QString& text);
    bool ReadNames(QStringList& names);
    bool AtEnd() const { return m_position >= m_bytes.size(); }

    const QByteArray& Body() const { return m_bytes; }
    // A whole frame: u32 length of code and body, u32 code, body.
    static QByteArray Frame(quint32 code, const QByteArray& body);

private:
    QByteArray m_bytes;
    int m_position = 0;
};
