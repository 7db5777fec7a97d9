#include "net/SocketError.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace bramblet {

namespace {

// strerror_r comes in two shapes (GNU returns the text, XSI fills the buffer); take either.
[[maybe_unused]] const char *pickText(const char *gnuResult, const char *) { return gnuResult; }
[[maybe_unused]] const char *pickText(int xsiResult, const char *buffer)
{
    return xsiResult == 0 ? buffer : "Unknown error";
}

struct CodeText {
    int code;
    const char *text;
};

constexpr CodeText winsockTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Buffer fault."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

} // namespace

std::string platformErrorText(int code)
{
    char buffer[256] = {};
    return pickText(strerror_r(code, buffer, sizeof buffer), buffer);
}

std::string windowsSocketErrorText(int code, const char *api)
{
    return "Windows socket error: " + platformErrorText(code) + " (" + std::to_string(code) + "), on API '" +
           api + "'";
}

std::string asyncSocketErrorText(int code) { return "Asynchronous socket error " + std::to_string(code); }

bool isConnectionRefused(int code) { return code == ECONNREFUSED; }

int winsockCode(int e)
{
    switch (e) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES:
    case EPERM: return 10013; // a firewall refusal reads EPERM here
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE:
    case ENFILE: return 10024;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS:
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN:
    case EPIPE: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return e;
    }
}

const char *winsockText(int code)
{
    for (const auto &entry : winsockTexts)
        if (entry.code == code)
            return entry.text;
    return "";
}

std::string udpSocketErrorText(int code)
{
    return "Socket Error # " + std::to_string(code) + "\r\n" + winsockText(code);
}

ESocketError udpSocketError(int errnoValue)
{
    const int code = winsockCode(errnoValue);
    return ESocketError(udpSocketErrorText(code), code);
}

} // namespace bramblet
