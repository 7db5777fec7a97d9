#pragma once

#include <QObject>

class QSocketNotifier;

namespace bramblet::platform {

// Turns the signals by which the system ends a program (SIGTERM, SIGINT, SIGHUP) into a Qt
// signal on the thread that made this object. The signal handler only writes one byte to a
// pipe; everything else runs from the event loop. One per process. Windows has no such
// signals; its session end reaches the program through Qt's session management.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

signals:
    void requested(int signalNumber);

private:
    void drain();
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace bramblet::platform
