#pragma once

#include "core/errors.h"

#include <string>

namespace bramblet {

// A failure of the socket layer with the platform's numeric code (errno for the TCP
// sockets, the Windows-style code of winsockCode() for the UDP listener).
class ESocketError : public CodedError {
public:
    using CodedError::CodedError;
};

// A failure of the UDP listener that has a fixed text of its own ("Package Size Too Big.",
// "Could not bind socket. ...").
class EUDPError : public Error {
public:
    using Error::Error;
};

// The platform's text for an errno value (thread-safe).
std::string platformErrorText(int code);

// "Windows socket error: %s (%d), on API '%s'" with the platform's text for `code`.
std::string windowsSocketErrorText(int code, const char *api);

// "Asynchronous socket error %d".
std::string asyncSocketErrorText(int code);

// True for the code of a connect that the peer refused (nothing listens on its port).
bool isConnectionRefused(int code);

// The UDP listener reports platform failures with Windows-style codes so that the texts
// the user may read stay the same on every system. Unknown errno values keep their value.
int winsockCode(int errnoValue);
// The text for a Windows-style code; empty for a code outside the table.
const char *winsockText(int code);
// "Socket Error # %d\r\n%s" for a Windows-style code.
std::string udpSocketErrorText(int code);
// The error the UDP listener raises for a failed platform call.
ESocketError udpSocketError(int errnoValue);

} // namespace bramblet
