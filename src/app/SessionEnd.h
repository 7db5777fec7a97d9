#pragma once

#include "platform/termination.h"

#include <QObject>
#include <QPointer>

class QGuiApplication;

namespace bramblet {

class TBrambletMainForm;

// The ends of a run that do not come through the main window: SIGTERM, SIGINT and SIGHUP
// (logout, shutdown, Ctrl+C, kill) and the session manager's request. Each closes the main
// window exactly as "EXIT-ESCI" does, so the hosts file is put back and the local server
// stopped, and the program then exits normally.
class SessionEnd : public QObject {
    Q_OBJECT
public:
    explicit SessionEnd(QGuiApplication &app, QObject *parent = nullptr);

    // The main window, once it exists. A request that came earlier closes it at once.
    void attach(TBrambletMainForm *form);

    // Runs the close; later requests find the window closed and change nothing.
    void request();

private:
    platform::TerminationSignals signals_;
    QPointer<TBrambletMainForm> form_;
    bool pending_ = false;
};

} // namespace bramblet
