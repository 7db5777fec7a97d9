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

// The three ports in one phrase: "TCP 9001、UDP 5739、TCP 11881".
std::string allPortsText(const texts::Translator &translator)
{
    static_assert(LinkPorts.size() == 3, "the phrase names three ports");
    return texts::fill(translator("router", BRAMBLET_TRANSLATE_NOOP("router", "%1、%2、%3")),
                       {portText(LinkPorts[0]), portText(LinkPorts[1]), portText(LinkPorts[2])});
}

// The machine the forwarding must name: "本机 192.168.1.20", or "本机" when nothing is known.
std::string hereText(const std::string &machine, const texts::Translator &translator)
{
    if (machine.empty())
        return translator("router", BRAMBLET_TRANSLATE_NOOP("router", "本机"));
    return texts::fill(translator("router", BRAMBLET_TRANSLATE_NOOP("router", "本机 %1")), {machine});
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

Advice say(AdviceKind kind, const texts::Translator &translator, const char *pattern, const std::vector<std::string> &args)
{
    return {kind, texts::fill(translator("router", pattern), args)};
}

Advice giveAddress(const RouterAnswer &answer, const texts::Translator &translator)
{
    return say(AdviceKind::GiveAddress, translator, BRAMBLET_TRANSLATE_NOOP("router", "请把这个地址告诉对方：%1"),
               {answer.externalAddress});
}

Advice sharedAddress(const RouterAnswer &answer, const texts::Translator &translator)
{
    return say(AdviceKind::SharedAddress, translator,
               BRAMBLET_TRANSLATE_NOOP("router", "路由器的外网地址 %1 是运营商的内部地址，外面连不进来。"
                                                 "请让对方按 SERVER，你按 CLIENT。"),
               {answer.externalAddress});
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

Advice adviceAtStart(const RouterAnswer &answer, const texts::Translator &translator)
{
    if (!usable(answer))
        return {};
    if (classifyExternalAddress(answer.externalAddress) != AddressClass::Public)
        return sharedAddress(answer, translator);
    return giveAddress(answer, translator);
}

Advice adviceForServer(const RouterAnswer &answer, std::string_view localAddress, const texts::Translator &translator)
{
    const std::string here = hereText(machineAddress(answer, localAddress), translator);
    if (!usable(answer))
        return say(AdviceKind::NoRouter, translator,
                   BRAMBLET_TRANSLATE_NOOP("router", "路由器没有应答端口映射（UPnP、NAT-PMP）。若对方连不进来，"
                                                     "请在路由器上把 %1 手动转发到%2。"),
                   {allPortsText(translator), here});
    if (classifyExternalAddress(answer.externalAddress) != AddressClass::Public)
        return sharedAddress(answer, translator);
    for (const PortAnswer &port : answer.ports) {
        if (port.outcome == PortOutcome::Conflict)
            return say(AdviceKind::Conflict, translator,
                       BRAMBLET_TRANSLATE_NOOP("router", "路由器上的 %1 端口已转发给另一台电脑。"
                                                         "请在路由器上删除那条转发或改为%2，或请对方按 SERVER。"),
                       {portText(port.port), here});
    }
    for (const PortAnswer &port : answer.ports) {
        if (port.outcome == PortOutcome::Refused)
            return say(AdviceKind::Refused, translator,
                       BRAMBLET_TRANSLATE_NOOP("router", "路由器拒绝打开 %1 端口（代码 %2）。"
                                                         "请在路由器上开启 UPnP，或手动把它转发到%3。"),
                       {portText(port.port), std::to_string(port.code), here});
    }
    if (answer.ports.size() < LinkPorts.size()) // cut short: the ports not asked for count as refused
        return say(AdviceKind::Refused, translator,
                   BRAMBLET_TRANSLATE_NOOP("router", "路由器没有打开全部端口。请在路由器上把 %1 手动转发到%2。"),
                   {allPortsText(translator), here});
    return giveAddress(answer, translator);
}

Advice adviceForClient(int failedAttempts, std::string_view peer, std::uint16_t port, const texts::Translator &translator)
{
    if (failedAttempts < ClientAttemptsBeforeAdvice)
        return {};
    return say(AdviceKind::ClientNoAnswer, translator,
               BRAMBLET_TRANSLATE_NOOP("router", "连接 %1 的 TCP %2 端口三次都没有应答。可能原因：地址输错；"
                                                 "对方还没按 SERVER；对方的路由器没有转发 %3；防火墙拦截。"),
               {std::string(peer), std::to_string(port), allPortsText(translator)});
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
