#include "app/Gb2312.h"

#include "core/errors.h"
#include "core/gb2312cut.h"

#include <QStringDecoder>
#include <QList>
#include <QStringEncoder>
#include <QStringView>

#include <string_view>

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

QString cutToGb2312Bytes(const QString &text, std::size_t limit)
{
    QStringEncoder encoder(kCodecName);
    if (!encoder.isValid())
        codecMissing();
    // Encode one character at a time, so the cut can hand back the caller's own characters
    // (a character GB2312 lacks keeps its place and counts as its substitute's bytes).
    QByteArray bytes;
    QList<qsizetype> ends; // end of each character, in text and in bytes
    QList<qsizetype> byteEnds;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype width = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        bytes += encoder.encode(QStringView(text).mid(i, width));
        i += width;
        ends.append(i);
        byteEnds.append(bytes.size());
    }
    if (static_cast<std::size_t>(bytes.size()) <= limit)
        return text;
    const std::string_view kept =
        cutGb2312(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), limit);
    qsizetype chars = 0;
    for (qsizetype k = 0; k < byteEnds.size() && static_cast<std::size_t>(byteEnds[k]) <= kept.size(); ++k)
        chars = ends[k];
    return text.left(chars);
}

} // namespace bramblet
