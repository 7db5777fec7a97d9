#include "app/UnitFlash.h"

#include "app/ErrorBox.h"
#include "app/PixelFont.h"

#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

namespace bramblet {

TFormFlash::TFormFlash(std::chrono::milliseconds showTime, QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("FormFlash"));
    setWindowTitle(QStringLiteral("FormFlash"));
    setFont(pixelFont(QStringLiteral("Tahoma"), 11));
    setFixedSize(kClientWidth, kClientHeight);

    // The picture is ten rows taller than the window and is drawn from the top-left at its
    // own size, so its bottom rows are cut off.
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, kClientWidth, kClientHeight);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setScaledContents(false);
    Image1->setPixmap(QPixmap(QStringLiteral(":/art/splash.bmp")));

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(showTime);
    connect(Timer1, &QTimer::timeout, this, guardedSlot([this] { Timer1Timer(); }));
    Timer1->start();
}

void TFormFlash::Timer1Timer() { Timer1->stop(); }

} // namespace bramblet
