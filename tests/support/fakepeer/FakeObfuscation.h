#pragma once

#include <QByteArray>
#include <QtGlobal>

// The obfuscated port's byte transform as docs/protocol.md describes it,
// one direction of one connection.
class FakeObfuscation
{
public:
    // Bytes sent by the side that opened the connection, and by the side
    // that accepted it.
    static constexpr quint32 OpenerSeed = 0x51A7E0B3u;
    static constexpr quint32 AccepterSeed = 0x2C9F4D17u;

    FakeObfuscation() = default;
    FakeObfuscation(quint32 key, quint32 seed) : m_state(key ^ seed) {}

    QByteArray Apply(const QByteArray& bytes);

private:
    quint32 m_state = 0;
};
