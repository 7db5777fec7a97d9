#include "app/ErrorBox.h"

#include "app/ApplicationTitle.h"
#include "app/MessageService.h"

#include <QApplication>

namespace bramblet {

void installErrorBox(IMessageService *messages)
{
    setErrorSink([messages](const std::string &message) {
        const QString text = QString::fromStdString(errorBoxText(message));
        messages->show(QApplication::activeWindow(), text, applicationTitle(),
                       MessageIcon::Error);
    });
}

bool BrambletApplication::notify(QObject *receiver, QEvent *event)
{
    bool result = false;
    guarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}

} // namespace bramblet
