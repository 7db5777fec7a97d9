#pragma once

#include <stdexcept>
#include <string>

namespace bramblet {

// Every failure the program reports is one of these; the text is UTF-8 and is what the
// user reads in the error box.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure that also carries the platform's numeric code.
class CodedError : public Error {
public:
    CodedError(const std::string &text, int code) : Error(text), code_(code) {}
    int code() const noexcept { return code_; }

private:
    int code_;
};

} // namespace bramblet
