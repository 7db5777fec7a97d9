#include "app/Gb2312.h"

#include "core/errors.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringView>


namespace bramblet {

namespace {
constexpr const char *kCodecName = "GB2312";

[[noreturn]] void codecMissing()
{
    throw Error("The GB2312 text codec is not available in this Qt build");
}
} // namespace

bool gb2312Available()
{
    return QStringEncoder(kCodecName).isValid() && QStringDecoder(kCodecName).isValid();
}

QByteArray toGb2312(const QString &text)
{
    QStringEncoder encoder(kCodecName);
    if (!encoder.isValid())
        codecMissing();
    return encoder.encode(text);
}

QString fromGb2312(const QByteArray &bytes)
{
    QStringDecoder decoder(kCodecName);
    if (!decoder.isValid())
        codecMissing();
    return decoder.decode(bytes);
}

QString cutToGb2312Bytes(const QString &text, std::size_t limit) { return cutToBytes(text, limit, kCodecName); }

QString cutToBytes(const QString &text, std::size_t limit, const char *encoding)
{
    QStringEncoder encoder(encoding);
    if (!encoder.isValid()) {
        if (qstrcmp(encoding, kCodecName) == 0)
            codecMissing();
        throw Error(std::string("The text codec ") + encoding + " is not available in this Qt build");
    }
    // Encode one character at a time: each end is a character boundary as the encoder wrote
    // it, and the cut hands back the caller's own characters (a character GB2312 lacks keeps
    // its place and counts as its substitute's bytes).
    std::size_t bytes = 0;
    qsizetype kept = 0;
    while (kept < text.size()) {
        const qsizetype width = text.at(kept).isHighSurrogate() && kept + 1 < text.size() ? 2 : 1;
        const QByteArray encoded = encoder.encode(QStringView(text).mid(kept, width));
        bytes += static_cast<std::size_t>(encoded.size());
        if (bytes > limit)
            break;
        kept += width;
    }
    return text.left(kept);
}

} // namespace bramblet
