// Bramblet: two players of the game meet directly over the internet.
#include "app/ApplicationTitle.h"
#include "app/ErrorBox.h"
#include "app/Firewalld.h"
#include "app/InterfaceLog.h"
#include "app/MessageService.h"
#include "app/RealServices.h"
#include "app/SessionEnd.h"
#include "app/Startup.h"
#include "app/Translation.h"
#include "app/UnitDuetra.h"
#include "external/companion.h"
#include "net/PortMapper.h"
#include "platform/localaddress.h"
#include "platform/paths.h"

#include <QDir>

#include <memory>

int main(int argc, char *argv[])
{
    bramblet::BrambletApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Bramblet"));
    QCoreApplication::setOrganizationName(QStringLiteral("Bramblet"));
    // Before any text is made: the desktop's language, from the translations beside the program.
    bramblet::installTranslation(app, bramblet::platform::programFolder());

    // What tests of the real program may redirect (README, "For tests of the real program"):
    // the program reads these here and nowhere else.
    bramblet::RealServiceOptions redirects;
    redirects.interfaceLogPath = qEnvironmentVariable("BRAMBLET_UI_LOG");
    redirects.settingsFile = qEnvironmentVariable("BRAMBLET_SETTINGS_FILE");
    bramblet::RealServiceObjects own;
    bramblet::MainFormServices services = bramblet::realMainFormServices(own, redirects);
    bramblet::installErrorBox(services.messages);

    // The program does not start without its companion library: nothing else has happened
    // yet when it says so.
    std::unique_ptr<bramblet::external::CompanionLibrary> companion;
    try {
        companion = std::make_unique<bramblet::external::CompanionLibrary>(
            bramblet::external::companionLibraryPath(bramblet::platform::programFolder()));
    } catch (const std::exception &e) {
        services.messages->show(nullptr, QString::fromStdString(e.what()), bramblet::applicationTitle(),
                                bramblet::MessageIcon::Error);
        return 1;
    }

    bramblet::SessionEnd sessionEnd(app);

    // The home router, asked on a thread of its own; the main window starts the search. Tests
    // of the real program outside a network namespace of their own turn it off.
    std::unique_ptr<bramblet::RouterPortMapper> router;
    std::unique_ptr<bramblet::FirewalldPorts> firewall;
    if (qEnvironmentVariable("BRAMBLET_ROUTER") != QLatin1String("off")) {
        firewall = std::make_unique<bramblet::FirewalldPorts>(QDBusConnection::systemBus());
        bramblet::RouterOptions routerOptions;
        // Beside the single-instance lock: one record per user, read again by the next run.
        routerOptions.recordPath =
            QDir(bramblet::platform::runtimeFolder()).filePath(QStringLiteral("bramblet-router-mappings")).toStdString();
        routerOptions.localAddress = [] {
            const std::optional<QString> found = bramblet::platform::localIPv4();
            return found ? found->toStdString() : std::string();
        };
        router = std::make_unique<bramblet::RouterPortMapper>(routerOptions);
    }

    services.companion = companion.get();
    services.portMapper = router.get();
    services.firewall = firewall.get();
    bramblet::StartupOptions options;
    options.mainCreated = [&sessionEnd, log = services.interfaceLog](bramblet::TBrambletMainForm &form) {
        sessionEnd.attach(&form);
        // Tests of the real program wait for this before they drive the window.
        log->write(QStringLiteral("startup"), {QStringLiteral("main-created")});
    };
    options.beforeRelease = [&router] {
        if (router)
            router->shutdown(std::chrono::milliseconds(6000)); // the removals have 5 s
    };
    return bramblet::runStartup(app, services, options);
}
