#include "Obfuscator.h"

void Obfuscator::Transform(char* bytes, qint64 size)
{
    quint32 state = m_state;
    for (qint64 i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(quint8(bytes[i]) ^ quint8(state >> 24));
    }
    m_state = state;
}
