#include "FakeObfuscation.h"

QByteArray FakeObfuscation::Apply(const QByteArray& bytes)
{
    QByteArray out(bytes.size(), '\0');
    for (int i = 0; i < bytes.size(); ++i) {
        m_state = quint32(quint64(m_state) * 1664525u + 1013904223u);
        out[i] = char(quint8(bytes.at(i)) ^ quint8(m_state >> 24));
    }
    return out;
}
