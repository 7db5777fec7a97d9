#pragma once

#include "app/InterfaceLog.h"
#include "app/Services.h"
#include "platform/gamesettings.h"

#include <QString>

#include <memory>

namespace bramblet {

// Owns the real services the main window is handed.
struct RealServiceObjects {
    std::unique_ptr<IInterfaceLog> interfaceLog;
    std::unique_ptr<IMessageService> messages;
    std::unique_ptr<IFileDialog> fileDialog;
    std::unique_ptr<IShell> shell;
    std::unique_ptr<platform::IGameSettings> settings;
};

// Where tests of the real program redirect what it shows; empty fields: nothing redirected.
struct RealServiceOptions {
    // The interface log: boxes, the file dialog and document opens are written there and
    // answered at once, and the window's observations go there too.
    QString interfaceLogPath;
    // An INI file instead of the machine-wide store of the game's path.
    QString settingsFile;
};

// Every service of the main window, the real ones, except the companion library and the home
// router, which the program makes itself. `own` keeps what the result points to.
MainFormServices realMainFormServices(RealServiceObjects &own, const RealServiceOptions &options = {});

} // namespace bramblet
