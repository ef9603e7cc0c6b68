#include "TestMessage.h"

TestMessage& TestMessage::U8(quint8 value)
{
    m_bytes.append(char(value));
    return *this;
}

TestMessage& TestMessage::U32(quint32 value)
{
    for (int i = 0; i < 4; ++i)
        m_bytes.append(char((value >> (8 * i)) & 0xff));
    return *this;
}

TestMessage& TestMessage::I32(qint32 value)
{
    return U32(quint32(value));
}

TestMessage& TestMessage::U64(quint64 value)
{
    for (int i = 0; i < 8; ++i)
        m_bytes.append(char((value >> (8 * i)) & 0xff));
    return *this;
}

TestMessage& TestMessage::Str(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    U32(quint32(utf8.size()));
    m_bytes.append(utf8);
    return *this;
}

TestMessage& TestMessage::Bytes(const QByteArray& bytes)
{
    m_bytes.append(bytes);
    return *this;
}

TestMessage& TestMessage::Stats(quint32 speed, quint64 downloads, quint32 files, quint32 folders)
{
    return U32(speed).U64(downloads).U32(files).U32(folders);
}

bool TestMessage::ReadU8(quint8& value)
{
    if (m_bytes.size() - m_position < 1)
        return false;
    value = quint8(m_bytes[m_position++]);
    return true;
}

bool TestMessage::ReadU32(quint32& value)
{
    if (m_bytes.size() - m_position < 4)
        return false;
    value = 0;
    for (int i = 0; i < 4; ++i)
        value |= quint32(quint8(m_bytes[m_position + i])) << (8 * i);
    m_position += 4;
    return true;
}

bool TestMessage::ReadI32(qint32& value)
{
    quint32 raw = 0;
    if (!ReadU32(raw))
        return false;
    value = qint32(raw);
    return true;
}

bool TestMessage::ReadStr(QString& text)
{
    const int start = m_position;
    quint32 length = 0;
    if (!ReadU32(length) || quint32(m_bytes.size() - m_position) < length) {
        m_position = start;
        return false;
    }
    text = QString::fromUtf8(m_bytes.constData() + m_position, int(length));
    m_position += int(length);
    return true;
}

bool TestMessage::ReadNames(QStringList& names)
{
    quint32 count = 0;
    if (!ReadU32(count))
        return false;
    names.clear();
    for (quint32 i = 0; i < count; ++i) {
        QString name;
        if (!ReadStr(name))
            return false;
        names.append(name);
    }
    return true;
}

QByteArray TestMessage::Frame(quint32 code, const QByteArray& body)
{
    TestMessage frame;
    frame.U32(quint32(4 + body.size())).U32(code).Bytes(body);
    return frame.Body();
}
