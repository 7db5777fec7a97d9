#include "platform/localaddress.h"

#include "core/address.h"
#include "core/localaddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace bramblet::platform {

namespace {

std::uint32_t hostOrder(const sockaddr *sa)
{
    sockaddr_in in{};
    std::memcpy(&in, sa, sizeof in);
    return ntohl(in.sin_addr.s_addr);
}

std::vector<std::uint32_t> hostNameAnswers()
{
    std::vector<std::uint32_t> out;
    char name[4096] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return out;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0)
        return out;
    for (const addrinfo *ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr)
            out.push_back(hostOrder(ai->ai_addr));
    }
    ::freeaddrinfo(list);
    return out;
}

std::vector<std::uint32_t> interfaceAddresses()
{
    std::vector<std::uint32_t> out;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return out;
    for (const ifaddrs *ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        if ((ifa->ifa_flags & IFF_UP) == 0 || (ifa->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        out.push_back(hostOrder(ifa->ifa_addr));
    }
    ::freeifaddrs(list);
    return out;
}

} // namespace

QString interfaceHolding(const QString &address)
{
    const std::uint32_t wanted = address::inetAddr(address.toStdString());
    QString name;
    ifaddrs *list = nullptr;
    if (wanted == address::InetAddrNone || ::getifaddrs(&list) != 0)
        return name;
    for (const ifaddrs *ifa = list; ifa && name.isEmpty(); ifa = ifa->ifa_next) {
        if (ifa->ifa_addr && ifa->ifa_addr->sa_family == AF_INET && hostOrder(ifa->ifa_addr) == wanted)
            name = QString::fromLocal8Bit(ifa->ifa_name);
    }
    ::freeifaddrs(list);
    return name;
}

std::optional<QString> localIPv4()
{
    const auto chosen = chooseLocalIPv4(hostNameAnswers(), interfaceAddresses());
    if (!chosen)
        return std::nullopt;
    return QString::fromStdString(address::formatDottedQuad(*chosen));
}

} // namespace bramblet::platform
