#pragma once

#include <QWidget>

#include <chrono>

class QLabel;
class QTimer;

namespace bramblet {

// The splash window shown while the program starts.
class TFormFlash : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 329;
    static constexpr int kClientHeight = 208;

    explicit TFormFlash(std::chrono::milliseconds showTime = std::chrono::milliseconds(3000),
                        QWidget *parent = nullptr);

    QLabel *Image1 = nullptr;
    QTimer *Timer1 = nullptr;

    void Timer1Timer();
};

} // namespace bramblet
