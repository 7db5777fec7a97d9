#pragma once

#include "core/guard.h"

#include <QApplication>
#include <QString>

namespace bramblet {

class IMessageService;

// Routes errors that leave event handlers to the standard error box: the error's text,
// the application title as caption, the error icon. The program goes on afterwards.
void installErrorBox(IMessageService *messages);

// The Qt-side wrapper of the guard, for connecting a signal to a handler that takes no
// arguments; handlers with arguments call guarded() in their own lambda.
template <class F>
auto guardedSlot(F f)
{
    return [f]() { guarded(f); };
}

// The last line of defence: an error thrown from any event the loop delivers reaches the
// error box instead of ending the program.
class BrambletApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace bramblet
