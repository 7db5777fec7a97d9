#pragma once

// The home router: which ports a link needs from it, what its answers mean, and what the
// player is told about them. The protocol clients that ask the router live in net/.

#include "core/texts.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bramblet::router {

enum class Protocol { Tcp, Udp };

struct LinkPort {
    Protocol protocol = Protocol::Tcp;
    std::uint16_t port = 0;
    friend bool operator==(const LinkPort &, const LinkPort &) = default;
};

// What the SERVER side must take from outside: the negotiation, the speed test and the
// player channel. Each is forwarded with the same external port.
inline constexpr std::array<LinkPort, 3> LinkPorts{{{Protocol::Tcp, 9001}, {Protocol::Udp, 5739}, {Protocol::Tcp, 11881}}};

// The lease asked for; renewed at half while the ports are wanted, so a program that was
// killed leaves mappings that end within the hour.
inline constexpr std::uint32_t LeaseSeconds = 3600;

// "TCP" or "UDP".
const char *protocolName(Protocol protocol);

enum class AddressClass {
    Public,
    Private,  // 10/8, 172.16/12, 192.168/16
    Shared,   // 100.64/10, the provider's own address translation
    Unusable, // not a plain dotted quad, or an address no router can have outside
};

// How the internet sees a router whose external address is `text`.
AddressClass classifyExternalAddress(std::string_view text);

enum class PortOutcome {
    Mapped,
    Conflict, // already forwarded elsewhere, or granted only on another external port
    Refused,  // any other refusal; `code` is the router's
};

struct PortAnswer {
    LinkPort port;
    PortOutcome outcome = PortOutcome::Refused;
    int code = 0;
};

// Everything one round of questions learned from the router.
struct RouterAnswer {
    bool answered = false;       // a router gave its external address
    std::string method;          // "NAT-PMP" or "UPnP IGD"
    std::string externalAddress; // as the router gave it, unchecked
    std::string lanAddress;      // this machine as the router sees it, when known
    std::vector<PortAnswer> ports;
    bool permanentOnly = false;  // the router grants no lease: removed at close only
};

enum class AdviceKind { Nothing, GiveAddress, NoRouter, Refused, Conflict, SharedAddress, ClientNoAnswer };

struct Advice {
    AdviceKind kind = AdviceKind::Nothing;
    std::string text; // UTF-8, untranslated every character in GB2312; empty for Nothing
};

// Each advice is built in the language `translator` gives; the default is the source (Chinese) text.

// After the search at start: the address to give when a usable router answered.
Advice adviceAtStart(const RouterAnswer &answer, const texts::Translator &translator = texts::untranslated);

// After the SERVER's ports were asked for. `localAddress` is this machine's address for
// forwarding by hand, used when the router did not tell it.
Advice adviceForServer(const RouterAnswer &answer, std::string_view localAddress,
                       const texts::Translator &translator = texts::untranslated);

// A CLIENT whose connection attempts to `peer`:`port` got no answer; Nothing below three.
inline constexpr int ClientAttemptsBeforeAdvice = 3;
Advice adviceForClient(int failedAttempts, std::string_view peer, std::uint16_t port,
                       const texts::Translator &translator = texts::untranslated);

// A short name for the interface log.
const char *adviceKindName(AdviceKind kind);

} // namespace bramblet::router
