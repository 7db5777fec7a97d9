#include "app/Startup.h"

#include "app/ApplicationTitle.h"
#include "app/MessageService.h"
#include "app/UnitDuetra.h"
#include "app/UnitFlash.h"
#include <QTimer>
#include "platform/paths.h"
#include "platform/singleinstance.h"

#include <QApplication>

#include <memory>

namespace bramblet {

int runStartup(QApplication &app, MainFormServices services, const StartupOptions &options)
{
    auto trace = [&](const char *step) {
        if (options.trace)
            options.trace(QString::fromLatin1(step));
    };

    platform::SingleInstance instance(QString::fromLatin1(kMainWindowClass), platform::runtimeFolder());
    if (!instance.acquire()) {
        trace("instance-refused");
        services.messages->show(nullptr, QCoreApplication::translate("Startup", "该程序正在运行，请先关闭！"),
                                QCoreApplication::translate("Startup", "运行"),
                                MessageIcon::None);
        return 0;
    }

    setApplicationTitle(QString::fromLatin1(kApplicationTitle));
    trace("title");

    auto splash = std::make_unique<TFormFlash>(options.splashTime);
    splash->show();
    splash->raise();
    splash->repaint();
    trace("splash-shown");
    while (splash->Timer1->isActive())
        app.processEvents(QEventLoop::WaitForMoreEvents);
    trace("splash-done");

    if (!services.quitApplication)
        services.quitApplication = [] { QCoreApplication::quit(); };
    int status = 0;
    {
        TBrambletMainForm mainForm(services);
        mainForm.show();
        trace("main-created");
        splash.reset();
        trace("splash-destroyed");
        if (options.mainCreated)
            options.mainCreated(mainForm);

        app.setQuitOnLastWindowClosed(false);
        status = app.exec();
        trace("loop-ended");
    }
    if (options.beforeRelease) {
        app.processEvents(); // the window's and the icon's removal reach the desktop first
        options.beforeRelease();
    }
    return status;
}

} // namespace bramblet
