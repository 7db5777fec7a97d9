#include "app/RealServices.h"

#include "app/DesktopServices.h"
#include "app/InterfaceLog.h"
#include "app/MessageService.h"
#include "app/Notifications.h"
#include "app/TrayHost.h"
#include "app/UnitConnect.h"
#include "platform/eventwait.h"
#include "platform/gamesearch.h"
#include "platform/gamesettings.h"
#include "platform/hostsguard.h"
#include "platform/localaddress.h"
#include "platform/paths.h"
#include "platform/privileges.h"

#include <QDir>

namespace bramblet {

MainFormServices realMainFormServices(RealServiceObjects &own, const RealServiceOptions &options)
{
    if (options.interfaceLogPath.isEmpty()) {
        own.messages = std::make_unique<QtMessageService>();
        own.fileDialog = std::make_unique<QtFileDialog>();
        own.shell = std::make_unique<QtShell>();
    } else {
        own.interfaceLog = std::make_unique<FileInterfaceLog>(options.interfaceLogPath);
        own.messages = std::make_unique<LoggedMessageService>(*own.interfaceLog);
        own.fileDialog = std::make_unique<LoggedFileDialog>(*own.interfaceLog);
        own.shell = std::make_unique<LoggedShell>(*own.interfaceLog);
    }
    own.settings = std::make_unique<platform::GameSettings>(options.settingsFile);

    MainFormServices s;
    s.messages = own.messages.get();
    s.interfaceLog = own.interfaceLog ? own.interfaceLog.get() : &noInterfaceLog();
    s.programFolder = platform::programFolder();
    // Only the hosts guard beside the program changes the hosts file; the program itself
    // runs as the player's own user.
    s.hostsGuard = [folder = s.programFolder] { return platform::makeHostsGuard(folder); };
    // The host name's lookup may go out to a slow name server: it runs off the GUI thread.
    s.localAddress = []() -> std::optional<QString> {
        const QString found =
            platform::resultOffThread([] { return platform::localIPv4().value_or(QString()); }, 30000, QString());
        if (found.isEmpty())
            return std::nullopt;
        return found;
    };
    s.trayHost = [] { return makeQtTrayHost(); };
    s.notifications = [] { return makeDesktopNotifications(); };
    s.fileDialog = own.fileDialog.get();
    s.shell = own.shell.get();
    s.settings = own.settings.get();
    s.isAdministrator = [] { return platform::IsAdministratorAccount(); };
    // The folders are read on a thread of their own: a slow or network home must not freeze
    // the window. The search keeps to its own budget; the wait allows a little more.
    s.chooserFolder = [] {
        const QString home = QDir::homePath();
        return platform::resultOffThread([home] { return platform::gameChooserFolder(home, std::chrono::seconds(2)); },
                                         3000, home);
    };
    s.createConnectDialog = [](QWidget *owner) -> std::unique_ptr<IConnectDialog> {
        return std::make_unique<TFormConnect>(owner);
    };
    return s;
}

} // namespace bramblet
