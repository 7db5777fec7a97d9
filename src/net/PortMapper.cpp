#include "net/PortMapper.h"

#include "net/Address.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <natpmp.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

namespace bramblet {

namespace {

enum Job { JobDiscover, JobOpen, JobReopen, JobClose, JobStop };

using Clock = std::chrono::steady_clock;

constexpr int kUpnpNoSuchEntry = 714; // NoSuchEntryInArray

// miniupnpc's API 18 (Debian 13) hands back the WAN address too and gave "connected, but the
// WAN address is reserved" its own answer, moving "not connected" and "not an IGD" one up.
// Every IGD answer is used; its external address decides the advice, whatever the library
// thinks of it.
int validIgd(UPNPDev *devices, UPNPUrls &urls, IGDdatas &data, char *lan, int lanSize)
{
#if MINIUPNPC_API_VERSION >= 18
    char wan[64] = {};
    const int r = ::UPNP_GetValidIGD(devices, &urls, &data, lan, lanSize, wan, sizeof wan);
    constexpr int notAnIgd = 4;
#else
    const int r = ::UPNP_GetValidIGD(devices, &urls, &data, lan, lanSize);
    constexpr int notAnIgd = 3;
#endif
    return r >= notAnIgd ? -r : r;
}

// libnatpmp leaves its socket open when it finds no gateway or cannot connect: closed here, so
// a machine without a default route does not lose a descriptor per attempt.
bool openNatpmp(natpmp_t &session)
{
    session = {};
    session.s = -1;
    if (::initnatpmp(&session, 0, 0) >= 0)
        return true;
    if (session.s >= 0)
        ::close(session.s);
    session.s = -1;
    return false;
}

// One NAT-PMP exchange: the request already sent, the answer awaited until `deadline`.
// libnatpmp's own retries would go on for a minute; the deadline cuts them.
int natpmpAnswer(natpmp_t &session, natpmpresp_t &response, Clock::time_point deadline)
{
    for (int rounds = 0; rounds < 64; ++rounds) {
        timeval wait{};
        if (::getnatpmprequesttimeout(&session, &wait) < 0)
            return NATPMP_ERR_GETTIMEOFDAYERR;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return NATPMP_TRYAGAIN;
        const long retryMs = static_cast<long>(wait.tv_sec) * 1000 + wait.tv_usec / 1000;
        pollfd fd{session.s, POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(std::clamp<long>(retryMs, 1, static_cast<long>(left))));
        const int r = ::readnatpmpresponseorretry(&session, &response);
        if (r != NATPMP_TRYAGAIN)
            return r;
    }
    return NATPMP_TRYAGAIN;
}

// One NAT-PMP mapping request; lifetime 0 removes. Nothing when the router did not answer;
// `result` is negative for a refusal, whose code the answer carries.
std::optional<natpmpresp_t> natpmpMapping(const router::LinkPort &port, std::uint16_t external, std::uint32_t lifetime,
                                          int waitMs, int &result)
{
    natpmp_t session{};
    if (!openNatpmp(session))
        return std::nullopt;
    const int protocol = port.protocol == router::Protocol::Udp ? NATPMP_PROTOCOL_UDP : NATPMP_PROTOCOL_TCP;
    natpmpresp_t response{};
    result = ::sendnewportmappingrequest(&session, protocol, port.port, external, lifetime);
    if (result >= 0)
        result = natpmpAnswer(session, response, Clock::now() + std::chrono::milliseconds(waitMs));
    ::closenatpmp(&session);
    // Silence, or an answer that is no answer to this request: as good as no router. A
    // refusal carries the router's result code.
    if (result < 0 && response.resultcode == 0)
        return std::nullopt;
    return response;
}

// The UPnP service to talk to, copied, so a removal still running after its bound never
// touches what the client has freed.
struct UpnpService {
    std::string controlUrl;
    std::string serviceType;
};

struct UpnpEntry {
    int result = 0;
    std::string client;
    std::string description;
};

UpnpEntry upnpEntry(const UpnpService &service, const router::LinkPort &port)
{
    const std::string number = std::to_string(port.port);
    char client[40] = {}, internalPort[6] = {}, description[80] = {}, enabled[4] = {}, duration[16] = {};
    UpnpEntry entry;
    entry.result = ::UPNP_GetSpecificPortMappingEntry(service.controlUrl.c_str(), service.serviceType.c_str(),
                                                      number.c_str(), router::protocolName(port.protocol), nullptr,
                                                      client, internalPort, description, enabled, duration);
    if (entry.result == UPNPCOMMAND_SUCCESS) {
        entry.client = client;
        entry.description = description;
    }
    return entry;
}

bool upnpDelete(const UpnpService &service, const router::LinkPort &port)
{
    const std::string number = std::to_string(port.port);
    return ::UPNP_DeletePortMapping(service.controlUrl.c_str(), service.serviceType.c_str(), number.c_str(),
                                    router::protocolName(port.protocol), nullptr) == UPNPCOMMAND_SUCCESS;
}

// Removes one mapping we recorded. A UPnP entry goes only while it is still described as ours
// and points where we made it point. NAT-PMP cannot be asked who made a mapping: a delete
// from this machine removes whatever this machine holds on that port, so it is sent only for
// mappings this program made.
bool removeRecorded(const router::RecordedMapping &m, const std::optional<UpnpService> &service, int natpmpWaitMs)
{
    if (m.method == "NAT-PMP") {
        int result = 0;
        return natpmpMapping(m.port, 0, 0, natpmpWaitMs, result).has_value() && result >= 0;
    }
    if (!service)
        return false;
    const UpnpEntry entry = upnpEntry(*service, m.port);
    if (entry.result == kUpnpNoSuchEntry)
        return true; // gone already
    if (entry.result != UPNPCOMMAND_SUCCESS)
        return false;
    if (!router::describedAsOurs(entry.description) || entry.client != m.client)
        return true; // somebody else's now: not ours to remove
    return upnpDelete(*service, m.port);
}

std::string routeSource(std::uint32_t networkOrderAddress)
{
    if (networkOrderAddress == 0)
        return {}; // "any" would answer with loopback
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return {};
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = networkOrderAddress;
    std::string out;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::connect(s, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr *>(&local), &length) == 0 && local.sin_addr.s_addr != 0)
        out = dottedQuad(local.sin_addr.s_addr);
    ::close(s);
    return out;
}

// The removals of one close, each on a thread of its own so that they go out together.
struct Removals {
    std::mutex lock;
    std::condition_variable done;
    std::size_t left = 0;
    std::vector<router::RecordedMapping> kept; // not removed: stays in the record

    bool finishedWithin(int ms)
    {
        std::unique_lock<std::mutex> guard(lock);
        return done.wait_for(guard, std::chrono::milliseconds(ms), [this] { return left == 0; });
    }
};

// Asks one router; lives on the worker thread only.
class RouterClient {
public:
    explicit RouterClient(const RouterOptions &options) : options_(options) {}
    ~RouterClient() { forget(); }
    RouterClient(const RouterClient &) = delete;
    RouterClient &operator=(const RouterClient &) = delete;

    router::RouterAnswer discover()
    {
        router::RouterAnswer answer = search();
        if (!leftoversHandled_) {
            leftoversHandled_ = true;
            removeLeftovers();
        }
        return answer;
    }

    router::RouterAnswer open(bool searchAgain)
    {
        // A removal the last close stopped waiting for may still reach the router: mapped again
        // before it has, the new forward would go with it.
        if (removals_ && !removals_->finishedWithin(options_.closeBoundMs))
            return silent();
        removals_.reset();
        if ((searchAgain || method_ == Method::None) && !search().answered)
            return silent();
        // Each round reads the external address afresh: the friend needs today's.
        if (!readExternal())
            return silent();
        if (method_ == Method::Upnp)
            followLanAddress();
        router::RouterAnswer answer = mapAll();
        if (method_ == Method::NatPmp && refused(answer)) {
            // A router may refuse NAT-PMP and still grant the same through UPnP.
            const router::RouterAnswer natpmp = answer;
            if (findUpnp() && readUpnpExternal()) {
                // What NAT-PMP did grant goes first: through UPnP it would read as a forward of
                // the player's, never renewed.
                for (const router::PortAnswer &p : natpmp.ports) {
                    int result = 0;
                    if (p.outcome == router::PortOutcome::Mapped &&
                        natpmpMapping(p.port, 0, 0, options_.natpmpWaitMs, result) && result >= 0)
                        std::erase(mapped_, router::RecordedMapping{"NAT-PMP", p.port, found_.lanAddress});
                }
                method_ = Method::Upnp;
                found_.method = "UPnP IGD";
                found_.lanAddress = upnpLan_;
                answer = mapAll();
            } else {
                method_ = Method::NatPmp;
                answer = natpmp;
            }
        }
        writeRecord();
        return answer;
    }

    // Removes what this program made, all at once and within the bound; the answer lists the
    // ports removed.
    router::RouterAnswer close()
    {
        router::RouterAnswer answer = found_;
        answer.ports.clear();
        answer.localAddress = localAddress();
        if (mapped_.empty())
            return answer;
        auto removals = std::make_shared<Removals>();
        removals_ = removals;
        removals->left = mapped_.size();
        const std::optional<UpnpService> service = upnpService();
        for (const router::RecordedMapping &m : mapped_) {
            std::thread([removals, m, service, wait = options_.natpmpWaitMs] {
                const bool removed = removeRecorded(m, service, wait);
                std::lock_guard<std::mutex> guard(removals->lock);
                if (!removed)
                    removals->kept.push_back(m);
                --removals->left;
                removals->done.notify_all();
            }).detach();
        }
        const bool finished = removals->finishedWithin(options_.closeBoundMs);
        std::unique_lock<std::mutex> guard(removals->lock);
        std::vector<router::RecordedMapping> kept = removals->kept;
        if (!finished) {
            std::fprintf(stderr, "Bramblet: router: the removals did not finish within %d ms\n", options_.closeBoundMs);
            kept = mapped_; // those still running may yet fail: the next start checks them all
        }
        guard.unlock();
        for (const router::RecordedMapping &m : mapped_)
            if (std::find(kept.begin(), kept.end(), m) == kept.end())
                answer.ports.push_back({m.port, router::PortOutcome::Mapped, 0});
        // What is left is tried again at the next close, and stays in the record meanwhile.
        mapped_ = kept;
        writeRecord();
        return answer;
    }

    std::uint32_t grantedLease() const { return grantedLease_; }

private:
    enum class Method { None, NatPmp, Upnp };

    static bool refused(const router::RouterAnswer &answer)
    {
        return std::any_of(answer.ports.begin(), answer.ports.end(),
                           [](const router::PortAnswer &p) { return p.outcome == router::PortOutcome::Refused; });
    }

    std::string localAddress() const
    {
        if (!routeAddress_.empty())
            return routeAddress_;
        return options_.localAddress ? options_.localAddress() : std::string();
    }

    // No router: only this machine's address on the way to the gateway, for forwarding by hand.
    router::RouterAnswer silent() const
    {
        router::RouterAnswer answer;
        answer.lanAddress = routeAddress_;
        answer.localAddress = localAddress();
        return answer;
    }

    void forget()
    {
        // A search made afresh may find this machine at another address; what we forwarded to
        // the one it had stays ours to take over.
        rememberEarlier(found_.lanAddress);
        method_ = Method::None;
        found_ = {};
        if (haveUrls_)
            FreeUPNPUrls(&urls_);
        haveUrls_ = false;
        urls_ = {};
        data_ = {};
    }

    router::RouterAnswer search()
    {
        forget();
        if (discoverNatpmp() && usable())
            return withLocal(found_);
        forget();
        if (findUpnp() && readUpnpExternal() && usable()) {
            method_ = Method::Upnp;
            found_.answered = true;
            found_.method = "UPnP IGD";
            found_.lanAddress = upnpLan_;
            return withLocal(found_);
        }
        forget();
        return silent();
    }

    router::RouterAnswer withLocal(router::RouterAnswer answer) const
    {
        answer.localAddress = localAddress();
        return answer;
    }

    bool usable() const
    {
        return router::classifyExternalAddress(found_.externalAddress) != router::AddressClass::Unusable;
    }

    bool readExternal()
    {
        if (method_ == Method::NatPmp)
            return natpmpExternal() && usable();
        return readUpnpExternal() && usable();
    }

    bool discoverNatpmp()
    {
        natpmp_t session{};
        if (!openNatpmp(session)) {
            routeAddress_.clear(); // no default gateway
            return false;
        }
        gateway_ = session.gateway;
        ::closenatpmp(&session);
        routeAddress_ = routeSource(gateway_);
        if (!natpmpExternal())
            return false;
        method_ = Method::NatPmp;
        found_.answered = true;
        found_.method = "NAT-PMP";
        found_.lanAddress = routeAddress_;
        return true;
    }

    bool natpmpExternal()
    {
        natpmp_t session{};
        if (!openNatpmp(session))
            return false;
        natpmpresp_t response{};
        int r = ::sendpublicaddressrequest(&session);
        if (r >= 0)
            r = natpmpAnswer(session, response, Clock::now() + std::chrono::milliseconds(options_.natpmpWaitMs));
        ::closenatpmp(&session);
        if (r < 0 || response.type != NATPMP_RESPTYPE_PUBLICADDRESS)
            return false;
        found_.externalAddress = dottedQuad(response.pnu.publicaddress.addr.s_addr);
        return true;
    }

    // Before each UPnP round: a machine whose address changed (DHCP after a router reboot, Wi-Fi
    // to cable) maps afresh to its new address rather than renewing forwards to the old one,
    // which may now be another machine's.
    void followLanAddress()
    {
        const std::string now = routeSource(gateway_);
        if (now.empty() || now == found_.lanAddress)
            return;
        rememberEarlier(found_.lanAddress);
        found_.lanAddress = now;
        routeAddress_ = now;
    }

    void rememberEarlier(const std::string &address)
    {
        if (!address.empty() && std::find(earlierAddresses_.begin(), earlierAddresses_.end(), address) == earlierAddresses_.end())
            earlierAddresses_.push_back(address);
    }

    std::optional<router::PortAnswer> mapNatpmp(const router::LinkPort &port)
    {
        // NAT-PMP cannot tell who made a mapping that already exists, nor list any: a forward
        // the player made by hand to this machine looks like a fresh grant. Only what this run
        // was granted is removed at close.
        int result = 0;
        const std::optional<natpmpresp_t> response =
            natpmpMapping(port, port.port, options_.leaseSeconds, options_.natpmpWaitMs, result);
        if (!response)
            return std::nullopt;
        if (result < 0)
            return router::PortAnswer{port, router::PortOutcome::Refused, response->resultcode};
        if (response->pnu.newportmapping.mappedpublicport != port.port) {
            // Another machine holds the port: the router offered another one, which is of no
            // use to a friend who types the fixed one. Give it back at once.
            int ignored = 0;
            natpmpMapping(port, 0, 0, options_.natpmpWaitMs, ignored);
            return router::PortAnswer{port, router::PortOutcome::Conflict, 0};
        }
        grantedLease_ = response->pnu.newportmapping.lifetime;
        return router::PortAnswer{port, router::PortOutcome::Mapped, 0};
    }

    // Puts the router's gateway first: with more than one IGD answering, the one that routes
    // this machine's traffic is the one whose forwards count.
    UPNPDev *gatewayFirst(UPNPDev *devices) const
    {
        const std::string gateway = gateway_ ? dottedQuad(gateway_) : std::string();
        UPNPDev *first = nullptr, **firstTail = &first, *rest = nullptr, **restTail = &rest;
        for (UPNPDev *d = devices; d;) {
            UPNPDev *next = d->pNext;
            d->pNext = nullptr;
            const bool onGateway = !gateway.empty() && d->descURL && router::urlHost(d->descURL) == gateway;
            UPNPDev **&tail = onGateway ? firstTail : restTail;
            *tail = d;
            tail = &d->pNext;
            d = next;
        }
        *firstTail = rest;
        return first;
    }

    bool findUpnp()
    {
        if (haveUrls_)
            return true;
        if (!gateway_) {
            natpmp_t session{};
            if (openNatpmp(session)) {
                gateway_ = session.gateway;
                ::closenatpmp(&session);
                routeAddress_ = routeSource(gateway_);
            }
        }
        // The library waits the whole delay for each kind of device it searches: two kinds,
        // each half the time, keep the search within its bound. A newer gateway answers for
        // the older kind too.
        static const char *const kinds[] = {"urn:schemas-upnp-org:device:InternetGatewayDevice:1",
                                            "urn:schemas-upnp-org:device:InternetGatewayDevice:2", nullptr};
        int error = 0;
        UPNPDev *devices = ::upnpDiscoverDevices(kinds, std::max(options_.upnpWaitMs / 2, 100), nullptr, nullptr,
                                                 UPNP_LOCAL_PORT_ANY, 0, 2, &error, 0);
        if (!devices)
            return false;
        devices = gatewayFirst(devices);
        char lan[64] = {};
        const int igd = validIgd(devices, urls_, data_, lan, sizeof lan);
        ::freeUPNPDevlist(devices);
        if (igd == 0)
            return false;
        haveUrls_ = true;
        if (igd < 0 || !urls_.controlURL) {
            FreeUPNPUrls(&urls_);
            haveUrls_ = false;
            return false;
        }
        upnpLan_ = lan;
        return true;
    }

    bool readUpnpExternal()
    {
        char external[40] = {};
        if (!haveUrls_ ||
            ::UPNP_GetExternalIPAddress(urls_.controlURL, data_.first.servicetype, external) != UPNPCOMMAND_SUCCESS)
            return false;
        found_.externalAddress = external;
        return true;
    }

    std::optional<UpnpService> upnpService() const
    {
        if (!haveUrls_)
            return std::nullopt;
        return UpnpService{urls_.controlURL, data_.first.servicetype};
    }

    int addUpnp(const router::LinkPort &port, bool permanent)
    {
        const std::string number = std::to_string(port.port);
        const std::string lease = permanent ? "0" : std::to_string(options_.leaseSeconds);
        return ::UPNP_AddPortMapping(urls_.controlURL, data_.first.servicetype, number.c_str(), number.c_str(),
                                     found_.lanAddress.c_str(), router::MappingDescription,
                                     router::protocolName(port.protocol), nullptr, lease.c_str());
    }

    std::optional<router::PortAnswer> mapUpnp(const router::LinkPort &port)
    {
        // Asked first: miniupnpd silently overwrites an entry to this machine on a plain add,
        // and a forward the player made must never become ours.
        const UpnpService service = *upnpService();
        const UpnpEntry entry = upnpEntry(service, port);
        if (entry.result < 0)
            return std::nullopt; // no answer, or not one a router gives
        router::EntryHolder holder = router::EntryHolder::None;
        if (entry.result == UPNPCOMMAND_SUCCESS)
            holder = router::entryHolder(entry.client, entry.description, found_.lanAddress, earlierAddresses_);
        if (holder == router::EntryHolder::Player)
            return router::PortAnswer{port, router::PortOutcome::Forwarded, 0};
        if (holder == router::EntryHolder::Elsewhere)
            return router::PortAnswer{port, router::PortOutcome::Conflict, router::UpnpConflict};
        bool deleted = false;
        if (holder == router::EntryHolder::OursMoved) {
            upnpDelete(service, port);
            deleted = true;
        }
        bool permanentTried = permanentOnly_;
        int r = addUpnp(port, permanentTried);
        for (int attempts = 0; attempts < 3 && r != UPNPCOMMAND_SUCCESS; ++attempts) {
            if (router::retryPermanent(r, permanentTried)) {
                permanentTried = true;
                if (r == router::UpnpOnlyPermanent)
                    permanentOnly_ = true;
            } else if (r == router::UpnpConflict && holder == router::EntryHolder::Ours && !deleted) {
                // Ours, but this router will not update it in place: made afresh.
                upnpDelete(service, port);
                deleted = true;
            } else {
                break;
            }
            r = addUpnp(port, permanentTried);
        }
        if (r < 0)
            return std::nullopt;
        if (r == router::UpnpConflict && holder == router::EntryHolder::OursMoved) {
            // A router in secure mode lets only the address a forward leads to remove it: ours
            // at the old address stays until its lease ends, and no other computer is to blame.
            return router::PortAnswer{port, router::PortOutcome::HeldByOurEarlier, r, entry.client};
        }
        if (r == UPNPCOMMAND_SUCCESS) {
            permanentOnly_ = permanentOnly_ || permanentTried; // what the router accepts, for the rest of the run
            grantedLease_ = permanentOnly_ ? 0 : options_.leaseSeconds;
            return router::PortAnswer{port, router::PortOutcome::Mapped, 0};
        }
        return router::PortAnswer{port, r == router::UpnpConflict || r == router::UpnpOtherMechanism ? router::PortOutcome::Conflict : router::PortOutcome::Refused, r};
    }

    router::RouterAnswer mapAll()
    {
        router::RouterAnswer answer = withLocal(found_);
        const char *method = method_ == Method::NatPmp ? "NAT-PMP" : "UPnP";
        for (const router::LinkPort &port : router::LinkPorts) {
            const std::optional<router::PortAnswer> result = method_ == Method::NatPmp ? mapNatpmp(port) : mapUpnp(port);
            if (!result) {
                // No answer, or one that makes no sense: as good as no router this time. What
                // this round did map is still removed at close.
                return silent();
            }
            answer.ports.push_back(*result);
            if (result->outcome == router::PortOutcome::Refused)
                answer.refusedBy = method_ == Method::NatPmp ? "NAT-PMP" : "UPnP";
            if (result->outcome != router::PortOutcome::Mapped)
                continue;
            const router::RecordedMapping made{method, port, found_.lanAddress};
            std::erase_if(mapped_, [&](const router::RecordedMapping &m) { return m.method == made.method && m.port == port; });
            mapped_.push_back(made);
        }
        answer.permanentOnly = permanentOnly_;
        return answer;
    }

    void writeRecord() const
    {
        if (options_.recordPath.empty())
            return;
        if (mapped_.empty()) {
            std::remove(options_.recordPath.c_str());
            return;
        }
        const std::string temporary = options_.recordPath + ".new";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            out << router::formatRecord(mapped_);
            if (!out.flush())
                return;
        }
        std::rename(temporary.c_str(), options_.recordPath.c_str());
    }

    // What a run that was killed left on the router: removed at the first search, while it is
    // still described as ours and points where we made it point.
    void removeLeftovers()
    {
        if (options_.recordPath.empty())
            return;
        std::ifstream in(options_.recordPath, std::ios::binary);
        if (!in)
            return;
        std::ostringstream text;
        text << in.rdbuf();
        std::vector<router::RecordedMapping> left = router::parseRecord(text.str());
        std::optional<UpnpService> service;
        if (std::any_of(left.begin(), left.end(), [](const router::RecordedMapping &m) { return m.method == "UPnP"; }) &&
            findUpnp())
            service = upnpService();
        std::erase_if(left, [&](const router::RecordedMapping &m) { return removeRecorded(m, service, options_.natpmpWaitMs); });
        // What the router did not answer for is tried again at close, and stays in the record.
        mapped_ = left;
        writeRecord();
        if (haveUrls_ && method_ != Method::Upnp) {
            FreeUPNPUrls(&urls_);
            haveUrls_ = false;
        }
    }

    RouterOptions options_;
    Method method_ = Method::None;
    router::RouterAnswer found_;
    UPNPUrls urls_{};
    IGDdatas data_{};
    bool haveUrls_ = false;
    std::string upnpLan_;
    in_addr_t gateway_ = 0;
    std::vector<router::RecordedMapping> mapped_;
    std::vector<std::string> earlierAddresses_;
    bool permanentOnly_ = false;
    bool leftoversHandled_ = false;
    std::uint32_t grantedLease_ = 0;
    std::string routeAddress_;
    std::shared_ptr<Removals> removals_; // the last close's, until a new round finds them done
};

} // namespace

std::string sourceAddressTowards(const std::string &peer)
{
    in_addr address{};
    if (::inet_pton(AF_INET, peer.c_str(), &address) != 1)
        return {};
    return routeSource(address.s_addr);
}

// Between the mapper on the owner's thread and its worker. The worker keeps it alive on its
// own, so a worker left behind at the program's end never touches freed memory.
struct RouterPortMapper::Shared {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<int> jobs;
    bool finished = false;
    RouterPortMapper *owner = nullptr; // cleared before the mapper goes
    std::thread worker;
};

RouterPortMapper::RouterPortMapper(RouterOptions options, QObject *parent)
    : QObject(parent), shared_(std::make_shared<Shared>()), renewalSecond_(options.renewalSecond)
{
    shared_->owner = this;
    renewTimer_.setSingleShot(true);
    connect(&renewTimer_, &QTimer::timeout, this, [this] {
        if (wanted_)
            post(searchAgain_ ? JobReopen : JobOpen);
    });
    shared_->worker = std::thread([shared = shared_, options] {
        RouterClient client(options);
        for (;;) {
            int job = JobStop;
            {
                std::unique_lock<std::mutex> guard(shared->lock);
                shared->changed.wait(guard, [&] { return !shared->jobs.empty(); });
                job = shared->jobs.front();
                shared->jobs.pop_front();
            }
            if (job == JobStop)
                break;
            router::RouterAnswer answer;
            Stage stage = Stage::Discovered;
            try {
                // The stage is set first: a round that throws still counts as a silent one, so
                // the renewal goes on.
                if (job == JobDiscover) {
                    answer = client.discover();
                } else if (job == JobOpen || job == JobReopen) {
                    stage = Stage::Opened;
                    answer = client.open(job == JobReopen);
                } else {
                    stage = Stage::Closed;
                    answer = client.close();
                }
            } catch (const std::exception &e) {
                // Nothing may leave the thread; the router then counts as silent.
                std::fprintf(stderr, "Bramblet: router: %s\n", e.what());
                answer = {};
            }
            const std::uint32_t lease = client.grantedLease();
            std::lock_guard<std::mutex> guard(shared->lock);
            if (RouterPortMapper *owner = shared->owner) {
                QMetaObject::invokeMethod(
                    owner, [owner, stage, answer, lease] { owner->answered(stage, answer, lease); },
                    Qt::QueuedConnection);
            }
        }
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->finished = true;
        shared->changed.notify_all();
    });
}

RouterPortMapper::~RouterPortMapper() { shutdown(std::chrono::milliseconds(6000)); }

void RouterPortMapper::post(int job)
{
    std::lock_guard<std::mutex> guard(shared_->lock);
    if (!shared_->owner)
        return;
    shared_->jobs.push_back(job);
    shared_->changed.notify_all();
}

void RouterPortMapper::discover() { post(JobDiscover); }

void RouterPortMapper::openPorts()
{
    wanted_ = true;
    post(JobOpen);
}

void RouterPortMapper::closePorts()
{
    wanted_ = false;
    failures_ = 0;
    searchAgain_ = false;
    renewTimer_.stop();
    post(JobClose);
}

void RouterPortMapper::shutdown(std::chrono::milliseconds bound)
{
    wanted_ = false;
    renewTimer_.stop();
    std::unique_lock<std::mutex> guard(shared_->lock);
    if (!shared_->owner)
        return;
    shared_->owner = nullptr;
    // A search or a renewal not yet begun is of no use any more; the removal is.
    shared_->jobs.clear();
    shared_->jobs.push_back(JobClose);
    shared_->jobs.push_back(JobStop);
    shared_->changed.notify_all();
    const bool done = shared_->changed.wait_for(guard, bound, [this] { return shared_->finished; });
    guard.unlock();
    if (done) {
        shared_->worker.join();
    } else {
        std::fprintf(stderr, "Bramblet: router: no answer within %lld ms at the end; the removals go on without us\n",
                     static_cast<long long>(bound.count()));
        shared_->worker.detach(); // a router that hangs does not hold up the end
    }
}

void RouterPortMapper::answered(Stage stage, const router::RouterAnswer &answer, std::uint32_t lease)
{
    if (stage == Stage::Opened && wanted_) {
        // Renewal never gives up while the ports are wanted: a round without answer is tried
        // again soon, well before the lease ends, and from the second on the router is
        // searched for again (it may have rebooted, or be another one).
        const bool complete = answer.answered && answer.ports.size() == router::LinkPorts.size();
        failures_ = complete ? 0 : failures_ + 1;
        const bool earlierHolds = std::any_of(answer.ports.begin(), answer.ports.end(), [](const router::PortAnswer &p) {
            return p.outcome == router::PortOutcome::HeldByOurEarlier;
        });
        const router::RenewalStep step = router::nextRenewal(complete, failures_, lease, earlierHolds);
        searchAgain_ = step.searchAgain;
        renewTimer_.start(renewalSecond_ * step.delaySeconds);
    }
    if (onAnswer)
        onAnswer(stage, answer);
}

} // namespace bramblet
