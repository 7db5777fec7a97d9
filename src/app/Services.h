#pragma once

#include <functional>

namespace bramblet {

class IMessageService;

// What the main window needs from outside. The program hands in the real services; tests
// hand in recorders.
struct MainFormServices {
    IMessageService *messages = nullptr;
    // Ends the program's event loop once the main window has closed.
    std::function<void()> quitApplication;
};

} // namespace bramblet
