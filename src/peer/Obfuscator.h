#pragma once

#include <QByteArray>
#include <QtGlobal>

// One direction of a connection on the obfuscated port. Every byte is
// combined with a keystream drawn from a 32-bit state seeded by the key that
// the connecting side sends in the clear; see docs/protocol.md for the
// exact scheme. It hides the protocol from plain pattern matching, nothing
// more: it is not encryption.
class Obfuscator
{
public:
    // Direction seeds, so the two directions of one connection never share
    // a keystream.
    static constexpr quint32 FromConnectingSide = 0x51A7E0B3u;
    static constexpr quint32 FromAcceptingSide = 0x2C9F4D17u;

    Obfuscator() = default;
    Obfuscator(quint32 key, quint32 directionSeed) : m_state(key ^ directionSeed) {}

    // Transforms in place; applying the transform of the same key and
    // direction again restores the bytes.
    void Transform(char* bytes, qint64 size);
    void Transform(QByteArray& bytes) { Transform(bytes.data(), bytes.size()); }
    QByteArray Transformed(QByteArray bytes)
    {
        Transform(bytes);
        return bytes;
    }

private:
    quint32 m_state = 0;
};
