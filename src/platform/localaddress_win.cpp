#include "platform/localaddress.h"

#include "core/localaddress.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <vector>

namespace bramblet::platform {

namespace {

std::vector<std::uint32_t> hostNameAnswers()
{
    std::vector<std::uint32_t> out;
    char name[4096] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0)
        return out;
    for (const addrinfo *ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr)
            out.push_back(ntohl(reinterpret_cast<const sockaddr_in *>(ai->ai_addr)->sin_addr.s_addr));
    }
    freeaddrinfo(list);
    return out;
}

std::vector<std::uint32_t> interfaceAddresses()
{
    std::vector<std::uint32_t> out;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer(size);
    auto *adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data());
    if (GetAdaptersAddresses(AF_INET, 0, nullptr, adapters, &size) != NO_ERROR)
        return out;
    for (auto *a = adapters; a; a = a->Next) {
        if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (auto *u = a->FirstUnicastAddress; u; u = u->Next)
            out.push_back(ntohl(reinterpret_cast<const sockaddr_in *>(u->Address.lpSockaddr)->sin_addr.s_addr));
    }
    return out;
}

} // namespace

std::optional<QString> localIPv4()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 0), &data);
    const auto chosen = chooseLocalIPv4(hostNameAnswers(), interfaceAddresses());
    WSACleanup();
    if (!chosen)
        return std::nullopt;
    return QString::fromStdString(formatIPv4(*chosen));
}

} // namespace bramblet::platform
