#pragma once

#include <QString>

class QWidget;

#include <cstdint>
#include <functional>
#include <optional>
#include <memory>

namespace bramblet {

class IMessageService;
class IInterfaceLog;
class IFileDialog;
class IShell;
class IConnectDialog;
namespace platform {
class IGameSettings;
class IHostsGuard;
}
namespace external {
class ICompanionLibrary;
}
class ITrayHost;
class INotificationService;
class IPortMapper;
class FirewalldPorts;

// What the main window needs from outside, all of it filled in by whoever puts the program
// together: realMainFormServices() (app/RealServices.h) for the program, the test's own
// for tests. The window uses what it is given and never picks a default itself.
struct MainFormServices {
    IMessageService *messages = nullptr;
    // Sees close steps, router answers and the tray's hint and balloons.
    IInterfaceLog *interfaceLog = nullptr;
    // Ends the program's event loop once the main window has closed; empty: nothing ends.
    std::function<void()> quitApplication;
    // The companion library, loaded before the program starts.
    external::ICompanionLibrary *companion = nullptr;
    // The TCP port of the player channel; tests move it off the fixed one.
    std::uint16_t playerChannelPort = 11881;
    // Makes what changes the hosts file.
    std::function<std::unique_ptr<platform::IHostsGuard>()> hostsGuard;
    // The folder holding Lib/, ending in a separator.
    QString programFolder;
    // This machine's own IPv4 address.
    std::function<std::optional<QString>()> localAddress;
    // Makes the notification area the tray icon lives in.
    std::function<std::unique_ptr<ITrayHost>()> trayHost;
    // Makes the notification service balloons fall back to without a tray.
    std::function<std::unique_ptr<INotificationService>()> notifications;
    // The first show's file dialog, the shell that opens the help, the stored game path and
    // the rights test.
    IFileDialog *fileDialog = nullptr;
    IShell *shell = nullptr;
    platform::IGameSettings *settings = nullptr;
    std::function<bool()> isAdministrator;
    // The folder the game's chooser opens in; may wait, but never blocks the event loop.
    std::function<QString()> chooserFolder;
    // Makes the one connect dialog, owned by the given main window.
    std::function<std::unique_ptr<IConnectDialog>(QWidget *owner)> createConnectDialog;
    // Asks the home router for the link's ports; none: the router is never asked.
    IPortMapper *portMapper = nullptr;
    FirewalldPorts *firewall = nullptr; // the player's firewalld; none in tests unless they give one
};

} // namespace bramblet
