#pragma once

// The home router: which ports a link needs from it, what its answers mean, and what the
// player is told about them. The protocol clients that ask the router live in net/.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
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
    Private,  // RFC 1918: this router sits behind another router of the player's own
    Shared,   // the provider's own address translation: 100.64/10, or 192.0.0.0/24 on DS-Lite
    Reserved, // another reserved range (documentation, benchmarking…): nobody outside reaches it
    Unusable, // not a plain dotted quad, or an address no router can have outside
};

// How the internet sees a router whose external address is `text`.
AddressClass classifyExternalAddress(std::string_view text);

enum class PortOutcome {
    Mapped,
    Forwarded, // already forwarded to this machine by the player or another program: open,
               // and never renewed, replaced or removed by us
    Conflict,  // already forwarded elsewhere, or granted only on another external port;
               // `code` 729 is the router's own service on that port
    Refused,   // any other refusal; `code` is the router's
    HeldByOurEarlier, // our own forward to an address this machine had before, which the
                      // router lets no one else remove or replace: it frees with its lease
};

inline constexpr int UpnpConflict = 718;        // ConflictInMappingEntry
inline constexpr int UpnpOnlyPermanent = 725;   // OnlyPermanentLeasesSupported
inline constexpr int UpnpOtherMechanism = 729;  // ConflictWithOtherMechanisms

// The description our UPnP mappings carry: only entries with it are ever taken over or removed.
inline constexpr const char *MappingDescription = "Bramblet";
bool describedAsOurs(std::string_view description);

// What a UPnP add that failed with `code` under a timed lease leads to: a permanent-only
// router says 725 outright; a 402 or 501 may mean the same, so lease 0 is tried once.
bool retryPermanent(int code, bool permanentTried);

// Who holds a UPnP entry the router already has for one of our ports.
enum class EntryHolder {
    None,       // no entry: ours to add
    Ours,       // described as ours and pointing here: renewed
    OursMoved,  // ours, left pointing at an address this machine had before: made afresh
    Player,     // points here, not described as ours: open, never touched
    Elsewhere,  // another machine (also another machine's copy of this program)
};
EntryHolder entryHolder(std::string_view client, std::string_view description, std::string_view thisMachine,
                        const std::vector<std::string> &ourEarlierAddresses);

// Renewal while the ports are wanted. A round the router answered waits half the lease (a
// permanent mapping is checked every PermanentCheckSeconds); a round without answer is
// retried after 30, 60, then every 120 s, and from the second failure on the router is
// searched for again.
inline constexpr std::uint32_t PermanentCheckSeconds = 25 * 60;
struct RenewalStep {
    std::uint32_t delaySeconds = 0;
    bool searchAgain = false;
};
// A port still held by our own earlier forward is asked for again every
// EarlierForwardRetrySeconds, so it is ours soon after that forward's lease ends, not up to
// half a lease later.
inline constexpr std::uint32_t EarlierForwardRetrySeconds = 120;
RenewalStep nextRenewal(bool answered, int failuresInARow, std::uint32_t lease, bool earlierForwardHolds = false);

// The record of what we mapped, kept in the runtime folder so the next run removes what a
// killed one left: one line per mapping, "<UPnP|NAT-PMP> <TCP|UDP> <port> <address>".
struct RecordedMapping {
    std::string method;
    LinkPort port;
    std::string client;
    friend bool operator==(const RecordedMapping &, const RecordedMapping &) = default;
};
std::string formatRecord(const std::vector<RecordedMapping> &mappings);
// Lines that are not one of ours (a damaged or foreign file) are skipped.
std::vector<RecordedMapping> parseRecord(std::string_view text);

// The host of an "http://host:port/path" URL, empty when there is none.
std::string_view urlHost(std::string_view url);

struct PortAnswer {
    PortAnswer() = default;
    PortAnswer(LinkPort p, PortOutcome o, int c, std::string h = {}) : port(p), outcome(o), code(c), holder(std::move(h)) {}
    LinkPort port;
    PortOutcome outcome = PortOutcome::Refused;
    int code = 0;
    std::string holder; // HeldByOurEarlier: the address the forward still leads to
};

// Everything one round of questions learned from the router.
struct RouterAnswer {
    bool answered = false;       // a router gave its external address
    std::string method;          // "NAT-PMP" or "UPnP IGD"
    std::string externalAddress; // as the router gave it, unchecked
    std::string lanAddress;      // this machine as the router sees it, when known
    std::vector<PortAnswer> ports;
    bool permanentOnly = false;  // the router grants no lease: removed at close only
    std::string localAddress;    // this machine on the way to the gateway, when known
    std::string refusedBy;       // the protocol whose refusal stands, when a port was refused
};

enum class AdviceKind {
    Nothing,
    GiveAddress,
    NoRouter,
    Refused,
    Conflict,
    SharedAddress,
    ClientNoAnswer,
    DoubleNat,
    RouterService,
    SameRouter,
    OtherInterface,
    Firewall,
    EarlierForward,
};

// One value of an advice. Most are plain (an address, a port); a phrase of words ("本机 %1",
// the list of the three ports) carries its own source and values, so a translation can say
// it in its own words too.
struct AdviceArg {
    AdviceArg(std::string plain) : text(std::move(plain)) {}
    AdviceArg(const char *phrase, std::vector<std::string> phraseValues);
    std::string text;              // the source phrase filled, or the plain value
    const char *source = nullptr;  // the phrase, or none for a plain value
    std::vector<std::string> values;
};

struct Advice {
    AdviceKind kind = AdviceKind::Nothing;
    std::string text; // UTF-8, every character in GB2312; empty for Nothing
    // For the translations: `source` is `text` before its %1, %2… were filled with `args`.
    const char *source = "";
    std::vector<AdviceArg> args;
};

// Whether the advice tells what to do when the friend cannot get in: no longer of use once
// the link stands.
bool explainsAFailure(AdviceKind kind);

// After the search at start: the address to give when a usable router answered.
Advice adviceAtStart(const RouterAnswer &answer);

// After the SERVER's ports were asked for. `localAddress` is this machine's address for
// forwarding by hand, used when the router did not tell it.
Advice adviceForServer(const RouterAnswer &answer, std::string_view localAddress);

// A CLIENT whose connection attempts to `peer`:`port` got no answer; Nothing below three.
inline constexpr int ClientAttemptsBeforeAdvice = 3;
Advice adviceForClient(int failedAttempts, std::string_view peer, std::uint16_t port);

// At a press, about the address typed: the router's own external address means both players
// are behind it; a route to the peer that leaves from another address than the one towards
// the router (a VPN's tunnel) means the router's forwards do not help. Nothing otherwise.
Advice adviceForPeer(const RouterAnswer &answer, std::string_view peer, std::string_view sourceTowardsPeer);

// ufw's own switch, from the text of /etc/ufw/ufw.conf (which every user can read).
bool ufwEnabled(std::string_view confText);
// What a SERVER behind an enabled ufw must run, said after the router's advice.
Advice adviceForUfw();

// The command that opens the link's ports in firewalld's `zone` until its next reload, for a
// player who declined to let the program do it.
std::string firewalldCommand(std::string_view zone);
Advice adviceForFirewalld(std::string_view zone);

// A short name for the interface log.
const char *adviceKindName(AdviceKind kind);

} // namespace bramblet::router
