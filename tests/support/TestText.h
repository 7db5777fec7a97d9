#pragma once

// Small conversions the tests share: literal lists to QStringList, Qt bytes to spans.
#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <initializer_list>
#include <span>

namespace bramblet::test {

inline QStringList strings(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *s : items)
        out << QString::fromUtf8(s);
    return out;
}

inline std::span<const std::uint8_t> bytesOf(const QByteArray &b)
{
    return {reinterpret_cast<const std::uint8_t *>(b.constData()), static_cast<std::size_t>(b.size())};
}

} // namespace bramblet::test
