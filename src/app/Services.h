#pragma once

#include <functional>
#include <memory>

namespace bramblet {

class IMessageService;
class ITrayHost;
class INotificationService;

// What the main window needs from outside. The program hands in the real services; tests
// hand in recorders.
struct MainFormServices {
    IMessageService *messages = nullptr;
    // Ends the program's event loop once the main window has closed.
    std::function<void()> quitApplication;
    // Makes the notification area the tray icon lives in; empty means the desktop's own.
    std::function<std::unique_ptr<ITrayHost>()> trayHost;
    // Makes the notification service balloons fall back to without a tray; empty means the
    // desktop's own on the session bus.
    std::function<std::unique_ptr<INotificationService>()> notifications;
};

} // namespace bramblet
