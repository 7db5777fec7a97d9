#include "core/guard.h"

#include <cstdio>
#include <utility>

namespace bramblet {

namespace {
ErrorSink &sink()
{
    static ErrorSink s;
    return s;
}
} // namespace

std::string errorBoxText(const std::string &message)
{
    std::string text = message;
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
        text.push_back('.');
    return text;
}

void setErrorSink(ErrorSink s) { sink() = std::move(s); }

void reportUncaught(const std::string &message)
{
    // A failing sink must not take the event loop down with it.
    try {
        if (sink()) {
            sink()(message);
            return;
        }
    } catch (...) {
    }
    std::fprintf(stderr, "%s\n", errorBoxText(message).c_str());
}

} // namespace bramblet
