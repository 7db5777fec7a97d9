#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace bramblet {

class IMessageService;
namespace external {
class ICompanionLibrary;
}

// What the main window needs from outside. The program hands in the real services; tests
// hand in recorders.
struct MainFormServices {
    IMessageService *messages = nullptr;
    // Ends the program's event loop once the main window has closed.
    std::function<void()> quitApplication;
    // The companion library, loaded before the program starts.
    external::ICompanionLibrary *companion = nullptr;
    // The hosts file the game's name lookups read; empty: the system's.
    QString hostsPath;
    // The folder holding Lib/, ending in a separator; empty: the program's own folder.
    QString programFolder;
    // This machine's own IPv4 address; unset: the platform's lookup.
    std::function<std::optional<QString>()> localAddress;
};

} // namespace bramblet
