#pragma once

#include "app/Services.h"

#include <QString>

#include <chrono>
#include <functional>

class QApplication;

namespace bramblet {

class TBrambletMainForm;

struct StartupOptions {
    std::chrono::milliseconds splashTime{3000};
    // Sees each start-up step as it happens ("instance-refused", "title", "splash-shown",
    // "splash-done", "main-created", "splash-destroyed", "loop-ended").
    std::function<void(const QString &step)> trace;
    // Sees the main window once it exists, before the message loop runs.
    std::function<void(TBrambletMainForm &)> mainCreated;
    // Runs once the main window and its tray icon are gone from the desktop, while this copy
    // still holds the single instance: the last waits of the close (the router's removals)
    // happen where no window seems to hang, and before another copy may start.
    std::function<void()> beforeRelease;
};

inline constexpr const char *kMainWindowClass = "TBrambletMainForm";

// The start-up sequence: single-instance guard, title, splash, main window, message loop.
// Returns the program's exit status.
int runStartup(QApplication &app, MainFormServices services, const StartupOptions &options = {});

} // namespace bramblet
