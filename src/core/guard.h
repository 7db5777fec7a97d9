#pragma once

#include <exception>
#include <functional>
#include <string>

namespace bramblet {

// The text the error box shows: a "." is appended when the last character sorts after ".".
std::string errorBoxText(const std::string &message);

// Where errors that leave an event handler end up. The application installs a sink that
// shows the standard error box; until then they go to standard error.
using ErrorSink = std::function<void(const std::string &message)>;
void setErrorSink(ErrorSink sink);
void reportUncaught(const std::string &message);

// Runs one event handler; an error that leaves it is reported and the program goes on.
template <class F>
void guarded(F &&handler) noexcept
{
    try {
        std::forward<F>(handler)();
    } catch (const std::exception &e) {
        reportUncaught(e.what());
    } catch (...) {
        reportUncaught("Unknown error");
    }
}

} // namespace bramblet
