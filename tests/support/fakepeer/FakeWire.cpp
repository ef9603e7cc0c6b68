#include "FakeWire.h"

#include <QRandomGenerator>
#include <zlib.h>

FakeWire& FakeWire::U8(quint8 value)
{
    m_bytes.append(char(value));
    return *this;
}

FakeWire& FakeWire::U32(quint32 value)
{
    for (int i = 0; i < 4; ++i)
        m_bytes.append(char((value >> (8 * i)) & 0xff));
    return *this;
}

FakeWire& FakeWire::U64(quint64 value)
{
    for (int i = 0; i < 8; ++i)
        m_bytes.append(char((value >> (8 * i)) & 0xff));
    return *this;
}

FakeWire& FakeWire::Str(const QString& text)
{
    return StrBytes(text.toUtf8());
}

FakeWire& FakeWire::StrBytes(const QByteArray& bytes)
{
    U32(quint32(bytes.size()));
    m_bytes.append(bytes);
    return *this;
}

FakeWire& FakeWire::Raw(const QByteArray& bytes)
{
    m_bytes.append(bytes);
    return *this;
}

FakeWire& FakeWire::File(const QByteArray& name, quint64 size, const QByteArray& extension,
                         const QList<QPair<quint32, quint32>>& attributes)
{
    U8(1).StrBytes(name).U64(size).StrBytes(extension).U32(quint32(attributes.size()));
    for (const auto& attribute : attributes)
        U32(attribute.first).U32(attribute.second);
    return *this;
}

bool FakeWire::ReadU8(quint8& value)
{
    if (Remaining() < 1)
        return false;
    value = quint8(m_bytes.at(m_position++));
    return true;
}

bool FakeWire::ReadU32(quint32& value)
{
    if (Remaining() < 4)
        return false;
    value = 0;
    for (int i = 0; i < 4; ++i)
        value |= quint32(quint8(m_bytes.at(m_position + i))) << (8 * i);
    m_position += 4;
    return true;
}

bool FakeWire::ReadU64(quint64& value)
{
    if (Remaining() < 8)
        return false;
    value = 0;
    for (int i = 0; i < 8; ++i)
        value |= quint64(quint8(m_bytes.at(m_position + i))) << (8 * i);
    m_position += 8;
    return true;
}

bool FakeWire::ReadStr(QString& text)
{
    QByteArray bytes;
    if (!ReadStrBytes(bytes))
        return false;
    text = QString::fromUtf8(bytes);
    return true;
}

bool FakeWire::ReadStrBytes(QByteArray& bytes)
{
    const int start = m_position;
    quint32 length = 0;
    if (!ReadU32(length) || length > quint32(Remaining())) {
        m_position = start;
        return false;
    }
    bytes = m_bytes.mid(m_position, int(length));
    m_position += int(length);
    return true;
}

bool FakeWire::ReadRaw(int size, QByteArray& bytes)
{
    if (size < 0 || Remaining() < size)
        return false;
    bytes = m_bytes.mid(m_position, size);
    m_position += size;
    return true;
}

QByteArray FakeWire::Frame(const QByteArray& content)
{
    return FakeWire().U32(quint32(content.size())).Raw(content).Bytes();
}

QByteArray FakeWire::Message(quint32 code, const QByteArray& body)
{
    return Frame(FakeWire().U32(code).Raw(body).Bytes());
}

QByteArray FakeWire::LinkFrame(quint8 code, const QByteArray& body)
{
    return Frame(FakeWire().U8(code).Raw(body).Bytes());
}

QByteArray FakeWire::Compress(const QByteArray& bytes)
{
    uLongf length = compressBound(uLong(bytes.size()));
    QByteArray packed(int(length), '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &length, reinterpret_cast<const Bytef*>(bytes.constData()),
                  uLong(bytes.size()), 9) != Z_OK)
        return QByteArray();
    packed.resize(int(length));
    return packed;
}

QByteArray FakeWire::RandomShareList(const QString& folder, int files, int nameBytes, quint32 seed)
{
    QByteArray names(files * nameBytes, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(names.data()), names.size() / 4);
    FakeWire list;
    list.U32(1).Str(folder).U32(quint32(files));
    for (int i = 0; i < files; ++i)
        list.File(names.mid(i * nameBytes, nameBytes).toHex(), quint64(i));
    return Compress(list.U32(0).Bytes());
}

QByteArray FakeWire::Inflate(const QByteArray& bytes)
{
    z_stream stream = {};
    if (inflateInit(&stream) != Z_OK)
        return QByteArray();
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    QByteArray out;
    char chunk[16384];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof(chunk);
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, int(sizeof(chunk) - stream.avail_out));
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? out : QByteArray();
}
