#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

namespace bramblet {

// Byte limits of the tray's texts, counted in GB2312 bytes without the terminating zero.
inline constexpr std::size_t kTrayTipBytes = 127;
inline constexpr std::size_t kBalloonTextBytes = 255;
inline constexpr std::size_t kBalloonTitleBytes = 63;

// The program's texts live in the GB2312 code page wherever a byte limit applies; Qt reaches
// it by name through ICU. A missing codec is an error, never a silent fallback to another
// encoding, since every limit would then count the wrong bytes.
bool gb2312Available();
QByteArray toGb2312(const QString &text);
QString fromGb2312(const QByteArray &bytes);

// The longest prefix of `text` whose GB2312 form fits into `limit` bytes; the cut falls on a
// character boundary, so a Chinese character is never split.
QString cutToGb2312Bytes(const QString &text, std::size_t limit);

// The same cut counted in the bytes of `encoding` (a name Qt knows, e.g. windows-1252).
QString cutToBytes(const QString &text, std::size_t limit, const char *encoding);

} // namespace bramblet
