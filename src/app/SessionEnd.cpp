#include "app/SessionEnd.h"

#include "app/ErrorBox.h"
#include "app/UnitDuetra.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QTimer>

namespace bramblet {

SessionEnd::SessionEnd(QGuiApplication &app, QObject *parent) : QObject(parent)
{
    connect(&signals_, &platform::TerminationSignals::requested, this, [this](int) { guarded([this] { request(); }); });
    // The session manager asks for the data to be saved before it ends the session; ours is
    // the hosts file, and putting it back is what the close does. aboutToQuit covers every
    // other way out of the event loop.
    connect(&app, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager &) { guarded([this] { request(); }); });
    connect(&app, &QCoreApplication::aboutToQuit, this, [this] { guarded([this] { request(); }); });
}

void SessionEnd::attach(TBrambletMainForm *form)
{
    form_ = form;
    if (pending_) {
        // Before the event loop runs: the close comes as its first event.
        QTimer::singleShot(0, form, [this] { request(); });
    }
}

void SessionEnd::request()
{
    if (!form_) {
        pending_ = true;
        return;
    }
    form_->close();
}

} // namespace bramblet
