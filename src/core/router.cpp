#include "core/router.h"

#include "core/address.h"

namespace bramblet::router {

namespace {

bool inRange(std::uint32_t address, std::uint32_t network, int prefix)
{
    const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
    return (address & mask) == network;
}

std::string portText(const LinkPort &port)
{
    return std::string(protocolName(port.protocol)) + ' ' + std::to_string(port.port);
}

std::string allPortsText()
{
    std::string out;
    for (const LinkPort &port : LinkPorts) {
        if (!out.empty())
            out += "、";
        out += portText(port);
    }
    return out;
}

// The router's word for this machine wins: it is the address the forwarding must name.
std::string machineAddress(const RouterAnswer &answer, std::string_view localAddress)
{
    if (address::isDottedQuad(answer.lanAddress))
        return answer.lanAddress;
    return std::string(localAddress);
}

bool usable(const RouterAnswer &answer)
{
    return answer.answered && classifyExternalAddress(answer.externalAddress) != AddressClass::Unusable;
}

Advice giveAddress(const RouterAnswer &answer)
{
    return {AdviceKind::GiveAddress, "请把这个地址告诉对方：" + answer.externalAddress};
}

Advice sharedAddress(const RouterAnswer &answer)
{
    return {AdviceKind::SharedAddress, "路由器的外网地址 " + answer.externalAddress +
                                           " 是运营商的内部地址，外面连不进来。请让对方按 SERVER，你按 CLIENT。"};
}

} // namespace

const char *protocolName(Protocol protocol) { return protocol == Protocol::Udp ? "UDP" : "TCP"; }

AddressClass classifyExternalAddress(std::string_view text)
{
    if (!address::isDottedQuad(text))
        return AddressClass::Unusable;
    const std::uint32_t a = address::inetAddr(text);
    if (inRange(a, 0x0A000000, 8) || inRange(a, 0xAC100000, 12) || inRange(a, 0xC0A80000, 16))
        return AddressClass::Private;
    if (inRange(a, 0x64400000, 10))
        return AddressClass::Shared;
    // "This network", loopback, link-local, multicast and above: no router is reached there.
    if (inRange(a, 0x00000000, 8) || inRange(a, 0x7F000000, 8) || inRange(a, 0xA9FE0000, 16) ||
        inRange(a, 0xE0000000, 3))
        return AddressClass::Unusable;
    return AddressClass::Public;
}

Advice adviceAtStart(const RouterAnswer &answer)
{
    if (!usable(answer))
        return {};
    if (classifyExternalAddress(answer.externalAddress) != AddressClass::Public)
        return sharedAddress(answer);
    return giveAddress(answer);
}

Advice adviceForServer(const RouterAnswer &answer, std::string_view localAddress)
{
    const std::string machine = machineAddress(answer, localAddress);
    const std::string here = machine.empty() ? std::string("本机") : "本机 " + machine;
    if (!usable(answer))
        return {AdviceKind::NoRouter, "路由器没有应答端口映射（UPnP、NAT-PMP）。若对方连不进来，请在路由器上把 " +
                                          allPortsText() + " 手动转发到" + here + "。"};
    if (classifyExternalAddress(answer.externalAddress) != AddressClass::Public)
        return sharedAddress(answer);
    for (const PortAnswer &port : answer.ports) {
        if (port.outcome == PortOutcome::Conflict)
            return {AdviceKind::Conflict, "路由器上的 " + portText(port.port) +
                                              " 端口已转发给另一台电脑。请在路由器上删除那条转发或改为" + here +
                                              "，或请对方按 SERVER。"};
    }
    for (const PortAnswer &port : answer.ports) {
        if (port.outcome == PortOutcome::Refused)
            return {AdviceKind::Refused, "路由器拒绝打开 " + portText(port.port) + " 端口（代码 " +
                                             std::to_string(port.code) + "）。请在路由器上开启 UPnP，或手动把它转发到" +
                                             here + "。"};
    }
    if (answer.ports.size() < LinkPorts.size()) // cut short: the ports not asked for count as refused
        return {AdviceKind::Refused, "路由器没有打开全部端口。请在路由器上把 " + allPortsText() + " 手动转发到" +
                                         here + "。"};
    return giveAddress(answer);
}

Advice adviceForClient(int failedAttempts, std::string_view peer, std::uint16_t port)
{
    if (failedAttempts < ClientAttemptsBeforeAdvice)
        return {};
    return {AdviceKind::ClientNoAnswer, "连接 " + std::string(peer) + " 的 TCP " + std::to_string(port) +
                                            " 端口三次都没有应答。可能原因：地址输错；对方还没按 SERVER；对方的路由器没有转发 " +
                                            allPortsText() + "；防火墙拦截。"};
}

const char *adviceKindName(AdviceKind kind)
{
    switch (kind) {
    case AdviceKind::Nothing:
        return "nothing";
    case AdviceKind::GiveAddress:
        return "give-address";
    case AdviceKind::NoRouter:
        return "no-router";
    case AdviceKind::Refused:
        return "refused";
    case AdviceKind::Conflict:
        return "conflict";
    case AdviceKind::SharedAddress:
        return "shared-address";
    case AdviceKind::ClientNoAnswer:
        return "client-no-answer";
    }
    return "nothing";
}

} // namespace bramblet::router
