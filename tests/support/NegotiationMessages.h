#pragma once

// The negotiation's and the speed test's messages as a peer writes them, byte by byte, for
// tests that play the other side or feed the parser. Integers are little-endian.

#include <QByteArray>

namespace bramblet::test {

inline QByteArray le32(qint32 value)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((static_cast<quint32>(value) >> (8 * i)) & 0xFF);
    return out;
}

inline qint32 readLe32(const QByteArray &bytes, int at)
{
    quint32 v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<quint32>(static_cast<quint8>(bytes.at(at + i))) << (8 * i);
    return static_cast<qint32>(v);
}

inline QByteArray helloMessage(qint32 role)
{
    return le32(0) + le32(role);
}
// The field is cut or zero-padded to 32 bytes; a 32-byte text keeps no terminator.
inline QByteArray addressMessage(const QByteArray &field)
{
    return le32(1) + field.left(32).leftJustified(32, '\0');
}
inline QByteArray portRequestMessage()
{
    return le32(2);
}
inline QByteArray speedDatagram(qint32 type, qint32 sequence)
{
    return le32(type) + le32(sequence);
}

// The text of a NegAddress's field, up to its zero byte.
inline QByteArray addressField(const QByteArray &message)
{
    const QByteArray field = message.mid(4, 32);
    const int end = field.indexOf('\0');
    return end < 0 ? field : field.left(end);
}

} // namespace bramblet::test
