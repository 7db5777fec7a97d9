#include "core/router.h"

#include "core/address.h"
#include "core/texts.h"

#include <algorithm>

namespace bramblet::router {

namespace {

bool inRange(std::uint32_t address, std::uint32_t network, int prefix)
{
    const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
    return (address & mask) == network;
}

struct ReservedRange {
    std::uint32_t network;
    int prefix;
    AddressClass kind;
};

// The reserved ranges miniupnpc itself refuses as an external address, each with what it
// means for a friend trying to get in.
constexpr ReservedRange kReserved[] = {
    {0x00000000, 8, AddressClass::Unusable},  // RFC 1122 "this network"
    {0x0A000000, 8, AddressClass::Private},   // RFC 1918
    {0x64400000, 10, AddressClass::Shared},   // RFC 6598 shared address space (carrier NAT)
    {0x7F000000, 8, AddressClass::Unusable},  // RFC 1122 loopback
    {0xA9FE0000, 16, AddressClass::Unusable}, // RFC 3927 link-local
    {0xAC100000, 12, AddressClass::Private},  // RFC 1918
    {0xC0000000, 24, AddressClass::Shared},   // RFC 6890 IETF protocol assignments; RFC 6333 DS-Lite
    {0xC0000200, 24, AddressClass::Reserved}, // RFC 5737 TEST-NET-1
    {0xC01FC400, 24, AddressClass::Reserved}, // RFC 7535 AS112-v4
    {0xC034C100, 24, AddressClass::Reserved}, // RFC 7450 AMT
    {0xC0586300, 24, AddressClass::Reserved}, // RFC 7526 6to4 relay anycast
    {0xC0A80000, 16, AddressClass::Private},  // RFC 1918
    {0xC0AF3000, 24, AddressClass::Reserved}, // RFC 7534 AS112 direct delegation
    {0xC6120000, 15, AddressClass::Reserved}, // RFC 2544 benchmarking
    {0xC6336400, 24, AddressClass::Reserved}, // RFC 5737 TEST-NET-2
    {0xCB007100, 24, AddressClass::Reserved}, // RFC 5737 TEST-NET-3
    {0xE0000000, 4, AddressClass::Unusable},  // RFC 1112 multicast
    {0xF0000000, 4, AddressClass::Unusable},  // RFC 1112 future use, RFC 919 limited broadcast
};

// Fills %1…%9 of `source` with `args`; the window does the same with the translated text.
Advice make(AdviceKind kind, const char *source, std::vector<AdviceArg> args)
{
    std::vector<std::string> texts;
    for (const AdviceArg &arg : args)
        texts.push_back(arg.text);
    return Advice{kind, texts::fill(source, texts), source, std::move(args)};
}

std::string portText(const LinkPort &port)
{
    return std::string(protocolName(port.protocol)) + ' ' + std::to_string(port.port);
}

AdviceArg allPortsText()
{
    std::vector<std::string> ports;
    for (const LinkPort &port : LinkPorts)
        ports.push_back(portText(port));
    static_assert(LinkPorts.size() == 3);
    return AdviceArg(BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "%1、%2、%3"), std::move(ports));
}

// The router's word for this machine wins: it is the address the forwarding must name.
std::string machineAddress(const RouterAnswer &answer, std::string_view localAddress)
{
    if (address::isDottedQuad(answer.lanAddress))
        return answer.lanAddress;
    if (address::isDottedQuad(answer.localAddress))
        return answer.localAddress;
    return std::string(localAddress);
}

AdviceArg hereText(const std::string &machine)
{
    if (machine.empty())
        return AdviceArg(BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "本机"), {});
    return AdviceArg(BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "本机 %1"), {machine});
}

bool usable(const RouterAnswer &answer)
{
    return answer.answered && classifyExternalAddress(answer.externalAddress) != AddressClass::Unusable;
}

Advice giveAddress(const RouterAnswer &answer)
{
    return make(AdviceKind::GiveAddress, BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "请把这个地址告诉对方：%1"),
                {answer.externalAddress});
}

// Said for every external address the internet cannot reach; Nothing for a public one.
Advice secondNat(const RouterAnswer &answer)
{
    switch (classifyExternalAddress(answer.externalAddress)) {
    case AddressClass::Private:
        return make(AdviceKind::DoubleNat,
                    BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "路由器的外网地址 %1 是局域网地址：这台路由器接在另一台路由器（常见的是运营商的光猫）后面。"
                                                      "请把光猫设为桥接模式，或在两台路由器上都转发 %2，或请对方按 SERVER。"),
                    {answer.externalAddress, allPortsText()});
    case AddressClass::Shared:
    case AddressClass::Reserved:
        return make(AdviceKind::SharedAddress,
                    BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "路由器的外网地址 %1 是运营商的内部地址，外面连不进来。请让对方按 SERVER，你按 CLIENT。"),
                    {answer.externalAddress});
    case AddressClass::Public:
    case AddressClass::Unusable:
        break;
    }
    return {};
}

} // namespace

AdviceArg::AdviceArg(const char *phrase, std::vector<std::string> phraseValues)
    : text(texts::fill(phrase, phraseValues)), source(phrase), values(std::move(phraseValues))
{
}

const char *protocolName(Protocol protocol) { return protocol == Protocol::Udp ? "UDP" : "TCP"; }

AddressClass classifyExternalAddress(std::string_view text)
{
    if (!address::isDottedQuad(text))
        return AddressClass::Unusable;
    const std::uint32_t a = address::inetAddr(text);
    for (const ReservedRange &range : kReserved)
        if (inRange(a, range.network, range.prefix))
            return range.kind;
    return AddressClass::Public;
}

bool describedAsOurs(std::string_view description)
{
    // Some routers cut descriptions short or pad them; ours is never shorter than its name.
    return description.substr(0, std::char_traits<char>::length(MappingDescription)) == MappingDescription;
}

bool retryPermanent(int code, bool permanentTried)
{
    if (permanentTried)
        return false;
    return code == UpnpOnlyPermanent || code == 402 || code == 501;
}

EntryHolder entryHolder(std::string_view client, std::string_view description, std::string_view thisMachine,
                        const std::vector<std::string> &ourEarlierAddresses)
{
    if (client.empty())
        return EntryHolder::None;
    const bool ours = describedAsOurs(description);
    if (client == thisMachine)
        return ours ? EntryHolder::Ours : EntryHolder::Player;
    if (ours && std::find(ourEarlierAddresses.begin(), ourEarlierAddresses.end(), client) != ourEarlierAddresses.end())
        return EntryHolder::OursMoved;
    return EntryHolder::Elsewhere;
}

RenewalStep nextRenewal(bool answered, int failuresInARow, std::uint32_t lease, bool earlierForwardHolds)
{
    if (answered && earlierForwardHolds)
        return {EarlierForwardRetrySeconds, false};
    // A router that grants more than we asked (NAT-PMP lets it) is renewed as if it had not:
    // a router that reboots meanwhile forgets the mapping all the same.
    if (answered)
        return {lease == 0 ? PermanentCheckSeconds : std::clamp<std::uint32_t>(lease / 2, 30, LeaseSeconds / 2), false};
    static constexpr std::uint32_t backoff[] = {30, 60, 120};
    const int step = std::clamp(failuresInARow, 1, 3) - 1;
    return {backoff[step], failuresInARow >= 2};
}

std::string formatRecord(const std::vector<RecordedMapping> &mappings)
{
    std::string out;
    for (const RecordedMapping &m : mappings)
        out += m.method + ' ' + protocolName(m.port.protocol) + ' ' + std::to_string(m.port.port) + ' ' + m.client + '\n';
    return out;
}

std::vector<RecordedMapping> parseRecord(std::string_view text)
{
    std::vector<RecordedMapping> out;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        std::string_view fields[4];
        std::size_t count = 0;
        while (!line.empty() && count < 5) {
            const std::size_t space = std::min(line.find(' '), line.size());
            if (count < 4)
                fields[count] = line.substr(0, space);
            ++count;
            line.remove_prefix(std::min(space + 1, line.size()));
        }
        if (count != 4 || (fields[0] != "UPnP" && fields[0] != "NAT-PMP") || (fields[1] != "TCP" && fields[1] != "UDP"))
            continue;
        const Protocol protocol = fields[1] == "UDP" ? Protocol::Udp : Protocol::Tcp;
        const auto known = std::find_if(LinkPorts.begin(), LinkPorts.end(), [&](const LinkPort &p) {
            return p.protocol == protocol && std::to_string(p.port) == fields[2];
        });
        if (known == LinkPorts.end() || !address::isDottedQuad(fields[3]))
            continue;
        out.push_back({std::string(fields[0]), *known, std::string(fields[3])});
    }
    return out;
}

std::string_view urlHost(std::string_view url)
{
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return {};
    url.remove_prefix(scheme + 3);
    return url.substr(0, url.find_first_of(":/"));
}

bool explainsAFailure(AdviceKind kind)
{
    return kind != AdviceKind::Nothing && kind != AdviceKind::GiveAddress;
}

Advice adviceAtStart(const RouterAnswer &answer)
{
    if (!usable(answer))
        return {};
    if (Advice advice = secondNat(answer); advice.kind != AdviceKind::Nothing)
        return advice;
    return giveAddress(answer);
}

Advice adviceForServer(const RouterAnswer &answer, std::string_view localAddress)
{
    const AdviceArg here = hereText(machineAddress(answer, localAddress));
    if (!usable(answer))
        return make(AdviceKind::NoRouter,
                    BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "路由器没有应答端口映射（UPnP、NAT-PMP）。若对方连不进来，请在路由器上把 %1 手动转发到%2。"),
                    {allPortsText(), here});
    if (Advice advice = secondNat(answer); advice.kind != AdviceKind::Nothing)
        return advice;
    for (const PortAnswer &port : answer.ports) {
        if (port.outcome == PortOutcome::HeldByOurEarlier)
            return make(AdviceKind::EarlierForward,
                        BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "路由器上的 %1 端口仍转发到本机以前的地址 %2（本程序早先所设），路由器不许更改。"
                                                          "它到期后程序会自动重新映射；等不及可在路由器上删除那条转发，或请对方按 SERVER。"),
                        {portText(port.port), port.holder});
        if (port.outcome == PortOutcome::Conflict && port.code == UpnpOtherMechanism)
            return make(AdviceKind::RouterService,
                        BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "路由器上的 %1 端口被路由器自己的服务占用（代码 729）。请在路由器设置里关掉占用它的功能（例如远程管理），或请对方按 SERVER。"),
                        {portText(port.port)});
        if (port.outcome == PortOutcome::Conflict)
            return make(AdviceKind::Conflict,
                        BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "路由器上的 %1 端口已转发给另一台电脑。请在路由器上删除那条转发或改为%2，或请对方按 SERVER。"),
                        {portText(port.port), here});
    }
    for (const PortAnswer &port : answer.ports) {
        if (port.outcome != PortOutcome::Refused)
            continue;
        if (answer.refusedBy == "NAT-PMP")
            return make(AdviceKind::Refused,
                        BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "路由器拒绝用 NAT-PMP 打开 %1 端口（代码 %2）。请在路由器设置里允许端口映射，或手动把它转发到%3。"),
                        {portText(port.port), std::to_string(port.code), here});
        return make(AdviceKind::Refused,
                    BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "路由器拒绝打开 %1 端口（代码 %2）。请在路由器上开启 UPnP，或手动把它转发到%3。"),
                    {portText(port.port), std::to_string(port.code), here});
    }
    if (answer.ports.size() < LinkPorts.size()) // cut short: the ports not asked for count as refused
        return make(AdviceKind::Refused,
                    BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "路由器没有打开全部端口。请在路由器上把 %1 手动转发到%2。"),
                    {allPortsText(), here});
    return giveAddress(answer);
}

Advice adviceForClient(int failedAttempts, std::string_view peer, std::uint16_t port)
{
    if (failedAttempts < ClientAttemptsBeforeAdvice)
        return {};
    return make(AdviceKind::ClientNoAnswer,
                BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "连接 %1 的 TCP %2 端口三次都没有应答。可能原因：地址输错；对方还没按 SERVER；对方的路由器没有转发 %3；防火墙拦截。"),
                {std::string(peer), std::to_string(port), allPortsText()});
}

Advice adviceForPeer(const RouterAnswer &answer, std::string_view peer, std::string_view sourceTowardsPeer)
{
    const std::string machine = machineAddress(answer, {});
    if (usable(answer) && peer == answer.externalAddress)
        return make(AdviceKind::SameRouter,
                    BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "%1 是你自己路由器的外网地址：你们在同一个路由器后面，很多路由器不能把连接绕回来。"
                                                      "请改用对方的局域网地址，并把本机的局域网地址 %2 告诉对方。"),
                    {std::string(peer), machine.empty() ? std::string("?") : machine});
    // Only a router that answered tells which way its forwards lead.
    if (usable(answer) && address::isDottedQuad(sourceTowardsPeer) && address::isDottedQuad(answer.lanAddress) &&
        sourceTowardsPeer != answer.lanAddress)
        return make(AdviceKind::OtherInterface,
                    BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "去往 %1 的连接不经过路由器，而是走另一个网络接口（例如 VPN），路由器上的端口映射帮不上忙。"),
                    {std::string(peer)});
    return {};
}

bool ufwEnabled(std::string_view confText)
{
    bool enabled = false;
    while (!confText.empty()) {
        const std::size_t end = std::min(confText.find('\n'), confText.size());
        std::string_view line = confText.substr(0, end);
        confText.remove_prefix(std::min(end + 1, confText.size()));
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
            line.remove_suffix(1);
        if (line.substr(0, 8) != "ENABLED=")
            continue;
        line.remove_prefix(8);
        if (line.size() >= 2 && (line.front() == '"' || line.front() == '\'') && line.back() == line.front())
            line = line.substr(1, line.size() - 2);
        enabled = line == "yes"; // the last setting counts, as for the shell that reads it
    }
    return enabled;
}

Advice adviceForUfw()
{
    std::vector<AdviceArg> commands;
    for (const LinkPort &port : LinkPorts)
        commands.emplace_back("sudo ufw allow " + std::to_string(port.port) + (port.protocol == Protocol::Udp ? "/udp" : "/tcp"));
    static_assert(LinkPorts.size() == 3);
    return make(AdviceKind::Firewall,
                BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "本机的 ufw 防火墙开着，会挡住对方的连接。请在终端运行：%1；%2；%3"),
                std::move(commands));
}

std::string firewalldCommand(std::string_view zone)
{
    std::string command = "sudo firewall-cmd --zone=" + std::string(zone);
    for (const LinkPort &port : LinkPorts)
        command += " --add-port=" + std::to_string(port.port) + (port.protocol == Protocol::Udp ? "/udp" : "/tcp");
    return command;
}

Advice adviceForFirewalld(std::string_view zone)
{
    return make(AdviceKind::Firewall,
                BRAMBLET_TRANSLATE_NOOP("RouterAdvice", "本机的 firewalld 防火墙会挡住对方的连接。请在终端运行：%1"),
                {firewalldCommand(zone)});
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
    case AdviceKind::DoubleNat:
        return "double-nat";
    case AdviceKind::RouterService:
        return "router-service";
    case AdviceKind::SameRouter:
        return "same-router";
    case AdviceKind::OtherInterface:
        return "other-interface";
    case AdviceKind::Firewall:
        return "firewall";
    case AdviceKind::EarlierForward:
        return "earlier-forward";
    }
    return "nothing";
}

} // namespace bramblet::router
