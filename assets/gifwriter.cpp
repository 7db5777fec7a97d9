#include "gifwriter.h"

#include <QHash>

namespace {

void put16(QByteArray &out, int v)
{
    out.append(static_cast<char>(v & 0xff));
    out.append(static_cast<char>((v >> 8) & 0xff));
}

// LZW with 9-bit codes throughout: a clear code is sent often enough that the code table
// never grows past 9 bits, which every decoder reads the same way.
class CodeWriter {
public:
    explicit CodeWriter(QByteArray &out) : out_(out) {}
    void put(int code)
    {
        acc_ |= static_cast<quint32>(code) << bits_;
        bits_ += 9;
        while (bits_ >= 8) {
            block_.append(static_cast<char>(acc_ & 0xff));
            acc_ >>= 8;
            bits_ -= 8;
            if (block_.size() == 255)
                flushBlock();
        }
    }
    void finish()
    {
        if (bits_ > 0)
            block_.append(static_cast<char>(acc_ & 0xff));
        acc_ = 0;
        bits_ = 0;
        flushBlock();
        out_.append('\0');
    }

private:
    void flushBlock()
    {
        if (block_.isEmpty())
            return;
        out_.append(static_cast<char>(block_.size()));
        out_.append(block_);
        block_.clear();
    }
    QByteArray &out_;
    QByteArray block_;
    quint32 acc_ = 0;
    int bits_ = 0;
};

} // namespace

QByteArray writeAnimatedGif(const QList<QImage> &frames, int delayMs)
{
    const int w = frames.first().width();
    const int h = frames.first().height();

    QList<QRgb> palette;
    QHash<QRgb, int> index;
    QList<QByteArray> indexed;
    for (const QImage &frame : frames) {
        const QImage img = frame.convertToFormat(QImage::Format_RGB32);
        QByteArray px;
        px.reserve(w * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                // Drop the low bits so a drawing with soft edges still fits 256 colours.
                const QRgb c = img.pixel(x, y) & 0xffe0e0e0;
                auto it = index.find(c);
                if (it == index.end()) {
                    const int i = palette.size() < 256 ? int(palette.size()) : 255;
                    if (palette.size() < 256)
                        palette.append(c);
                    it = index.insert(c, i);
                }
                px.append(static_cast<char>(it.value()));
            }
        indexed.append(px);
    }
    while (palette.size() < 256)
        palette.append(qRgb(0, 0, 0));

    QByteArray out("GIF89a");
    put16(out, w);
    put16(out, h);
    out.append(static_cast<char>(0xF7)); // global colour table of 256 entries
    out.append('\0');
    out.append('\0');
    for (QRgb c : palette) {
        out.append(static_cast<char>(qRed(c)));
        out.append(static_cast<char>(qGreen(c)));
        out.append(static_cast<char>(qBlue(c)));
    }
    // Loop for ever.
    out.append("\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16);
    put16(out, 0);
    out.append('\0');

    for (const QByteArray &px : indexed) {
        out.append("\x21\xF9\x04", 3);
        out.append('\x04'); // disposal: leave in place
        put16(out, delayMs / 10);
        out.append('\0');
        out.append('\0');
        out.append('\x2C');
        put16(out, 0);
        put16(out, 0);
        put16(out, w);
        put16(out, h);
        out.append('\0');
        out.append('\x08'); // minimum code size
        CodeWriter codes(out);
        constexpr int kClear = 256;
        constexpr int kEnd = 257;
        int sinceClear = 0;
        codes.put(kClear);
        for (char p : px) {
            if (sinceClear == 200) {
                codes.put(kClear);
                sinceClear = 0;
            }
            codes.put(static_cast<unsigned char>(p));
            ++sinceClear;
        }
        codes.put(kEnd);
        codes.finish();
    }
    out.append('\x3B');
    return out;
}
