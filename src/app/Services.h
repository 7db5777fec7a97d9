#pragma once

#include <functional>
#include <memory>

class QWidget;

namespace bramblet {

class IConnectDialog;
class IMessageService;

// What the main window needs from outside. The program hands in the real services; tests
// hand in recorders.
struct MainFormServices {
    IMessageService *messages = nullptr;
    // Ends the program's event loop once the main window has closed.
    std::function<void()> quitApplication;
    // Makes the one connect dialog, owned by the given main window; empty: the real dialog.
    std::function<std::unique_ptr<IConnectDialog>(QWidget *owner)> createConnectDialog;
};

} // namespace bramblet
