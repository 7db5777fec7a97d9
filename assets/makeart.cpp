// Draws Bramblet's artwork: makeart OUTDIR GIFPATH
#include "gifwriter.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>

namespace {

void drawBall(QPainter &p, QPointF centre, qreal r)
{
    QRadialGradient shade(centre - QPointF(r / 3, r / 3), r * 1.4);
    shade.setColorAt(0, Qt::white);
    shade.setColorAt(1, QColor(180, 180, 180));
    p.setPen(QPen(QColor(40, 40, 40), r / 10));
    p.setBrush(shade);
    p.drawEllipse(centre, r, r);
    // A pentagon in the middle and five half-patches around it.
    p.setBrush(QColor(30, 30, 30));
    QPolygonF pent;
    for (int i = 0; i < 5; ++i) {
        const qreal a = -M_PI / 2 + i * 2 * M_PI / 5;
        pent << centre + QPointF(std::cos(a), std::sin(a)) * r * 0.38;
    }
    p.drawPolygon(pent);
    for (int i = 0; i < 5; ++i) {
        const qreal a = -M_PI / 2 + i * 2 * M_PI / 5;
        p.drawLine(centre + QPointF(std::cos(a), std::sin(a)) * r * 0.38,
                   centre + QPointF(std::cos(a), std::sin(a)) * r * 0.95);
    }
}

QImage splash()
{
    // 329 x 218, of which the window shows the top 208 rows.
    QImage img(329, 218, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 130);
    sky.setColorAt(0, QColor(16, 40, 92));
    sky.setColorAt(1, QColor(40, 110, 170));
    p.fillRect(0, 0, 329, 130, sky);
    for (int i = 0; i < 8; ++i)
        p.fillRect(0, 130 + i * 11, 329, 11, i % 2 ? QColor(46, 139, 58) : QColor(58, 160, 70));
    p.setPen(QPen(QColor(235, 245, 235), 2));
    p.drawLine(0, 150, 329, 150);
    p.drawEllipse(QPointF(164, 190), 46, 18);
    // Floodlights.
    p.setBrush(QColor(255, 250, 210));
    p.setPen(Qt::NoPen);
    for (int x : {24, 305})
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(QPointF(x - 8 + i * 8, 22), 3, 3);
    drawBall(p, QPointF(262, 92), 26);
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(40);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(0, 0, 0, 120));
    p.drawText(QRect(22, 52, 240, 50), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Bramblet"));
    p.setPen(Qt::white);
    p.drawText(QRect(20, 50, 240, 50), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Bramblet"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(13);
    p.setFont(sub);
    p.setPen(QColor(220, 235, 255));
    p.drawText(QRect(22, 98, 240, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("2-player online  1.5.1"));
    p.end();
    return img.convertToFormat(QImage::Format_RGB888);
}

QImage icon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(46, 139, 58));
    p.drawRoundedRect(QRectF(0, 0, size, size), size / 5.0, size / 5.0);
    drawBall(p, QPointF(size / 2.0, size / 2.0), size * 0.38);
    return img;
}

QList<QImage> waitingFrames()
{
    // A ball rolling left to right along a dotted track: 57 x 17, twelve frames.
    QList<QImage> frames;
    for (int f = 0; f < 12; ++f) {
        QImage img(57, 17, QImage::Format_RGB32);
        img.fill(QColor(236, 233, 216));
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        for (int d = 0; d < 7; ++d) {
            p.setBrush(d == f % 7 ? QColor(46, 139, 58) : QColor(170, 190, 170));
            p.drawEllipse(QPointF(4 + d * 8.2, 14), 1.5, 1.5);
        }
        drawBall(p, QPointF(6 + f * 4.1, 7), 5.5);
        p.end();
        frames.append(img);
    }
    return frames;
}

bool save(const QImage &img, const QString &path, const char *format)
{
    if (img.save(path, format))
        return true;
    std::fprintf(stderr, "makeart: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: makeart OUTDIR GIFPATH\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = save(splash(), out.filePath(QStringLiteral("splash.bmp")), "BMP");
    // 16 to 48 go into the program; the larger ones are for the desktop's icon theme.
    for (int size : {16, 32, 48, 64, 128, 256})
        ok = save(icon(size), out.filePath(QStringLiteral("icon-%1.png").arg(size)), "PNG") && ok;
    QFile gif(QString::fromLocal8Bit(argv[2]));
    if (!gif.open(QIODevice::WriteOnly) || gif.write(writeAnimatedGif(waitingFrames(), 100)) < 0) {
        std::fprintf(stderr, "makeart: cannot write %s\n", argv[2]);
        ok = false;
    }
    return ok ? 0 : 1;
}
