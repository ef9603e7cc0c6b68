#include "Value.h"

Value::Value(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    m_bytes.assign(utf8.constData(), size_t(utf8.size()));
}
