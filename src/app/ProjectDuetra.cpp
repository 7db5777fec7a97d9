// Bramblet: two players of the game meet directly over the internet.
#include "app/ApplicationTitle.h"
#include "app/ErrorBox.h"
#include "app/MessageService.h"
#include "app/SessionEnd.h"
#include "app/Startup.h"
#include "app/UnitDuetra.h"
#include "external/companion.h"
#include "net/PortMapper.h"
#include "platform/hostsguard.h"
#include "platform/paths.h"

#include <memory>

int main(int argc, char *argv[])
{
    bramblet::BrambletApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Bramblet"));
    QCoreApplication::setOrganizationName(QStringLiteral("Bramblet"));

    bramblet::QtMessageService messages;
    bramblet::installErrorBox(&messages);

    // The program does not start without its companion library: nothing else has happened
    // yet when it says so.
    std::unique_ptr<bramblet::external::CompanionLibrary> companion;
    try {
        companion = std::make_unique<bramblet::external::CompanionLibrary>(
            bramblet::external::companionLibraryPath(bramblet::platform::programFolder()));
    } catch (const std::exception &e) {
        messages.show(nullptr, QString::fromStdString(e.what()), bramblet::applicationTitle(),
                      bramblet::MessageIcon::Error);
        return 1;
    }

    bramblet::SessionEnd sessionEnd(app);

    // The home router, asked on a thread of its own; the main window starts the search. Tests
    // of the real program outside a network namespace of their own turn it off.
    std::unique_ptr<bramblet::RouterPortMapper> router;
    if (qEnvironmentVariable("BRAMBLET_ROUTER") != QLatin1String("off"))
        router = std::make_unique<bramblet::RouterPortMapper>();

    bramblet::MainFormServices services;
    services.messages = &messages;
    services.companion = companion.get();
    services.portMapper = router.get();
    // Only the hosts guard beside the program changes the hosts file; the program itself
    // runs as the player's own user.
    services.hostsGuard = [] { return bramblet::platform::makeHostsGuard(bramblet::platform::programFolder()); };
    bramblet::StartupOptions options;
    options.mainCreated = [&sessionEnd](bramblet::TBrambletMainForm &form) {
        sessionEnd.attach(&form);
        // Tests of the real program wait for this before they drive the window.
        bramblet::appendUiLog(QStringLiteral("startup"), {QStringLiteral("main-created")});
    };
    return bramblet::runStartup(app, services, options);
}
