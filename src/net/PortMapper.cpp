#include "net/PortMapper.h"

#include "net/Address.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <natpmp.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <QMetaObject>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace bramblet {

namespace {

enum Job { JobDiscover, JobOpen, JobClose, JobStop };

using Clock = std::chrono::steady_clock;

constexpr int kUpnpConflict = 718;               // ConflictInMappingEntry
constexpr int kUpnpOnlyPermanent = 725;          // OnlyPermanentLeasesSupported
constexpr int kUpnpOtherMechanism = 729;         // ConflictWithOtherMechanisms
constexpr const char *kDescription = "Bramblet";

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

// Asks one router; lives on the worker thread only.
class RouterClient {
public:
    explicit RouterClient(const RouterOptions &options) : options_(options) {}
    ~RouterClient()
    {
        if (haveUrls_)
            FreeUPNPUrls(&urls_);
    }
    RouterClient(const RouterClient &) = delete;
    RouterClient &operator=(const RouterClient &) = delete;

    router::RouterAnswer discover()
    {
        // An external address no router can have outside is garbage: try the other protocol.
        forget();
        if (discoverNatpmp() && usableAddress())
            return found_;
        forget();
        if (discoverUpnp() && usableAddress())
            return found_;
        forget();
        return silent();
    }

    router::RouterAnswer open()
    {
        if (method_ == Method::None && !discover().answered)
            return silent();
        router::RouterAnswer answer = found_;
        answer.ports.clear();
        for (const router::LinkPort &port : router::LinkPorts) {
            const std::optional<router::PortAnswer> result =
                method_ == Method::NatPmp ? mapNatpmp(port) : mapUpnp(port, answer.permanentOnly);
            if (!result) {
                // No answer, or one that makes no sense: as good as no router this time. What
                // this round did map is still removed at close.
                return silent();
            }
            answer.ports.push_back(*result);
            if (result->outcome == router::PortOutcome::Mapped &&
                std::find(mapped_.begin(), mapped_.end(), port) == mapped_.end())
                mapped_.push_back(port);
        }
        return answer;
    }

    // Removes what this program made; the answer lists the ports removed.
    router::RouterAnswer close()
    {
        router::RouterAnswer answer = found_;
        answer.ports.clear();
        if (method_ == Method::None)
            mapped_.clear(); // no router to ask
        for (const router::LinkPort &port : mapped_) {
            if (method_ == Method::NatPmp ? unmapNatpmp(port) : unmapUpnp(port))
                answer.ports.push_back({port, router::PortOutcome::Mapped, 0});
        }
        mapped_.clear();
        return answer;
    }

    std::uint32_t grantedLease() const { return grantedLease_; }

private:
    enum class Method { None, NatPmp, Upnp };

    bool usableAddress() const
    {
        return router::classifyExternalAddress(found_.externalAddress) != router::AddressClass::Unusable;
    }

    // No router: only this machine's address on the way to the gateway, for forwarding by hand.
    router::RouterAnswer silent() const
    {
        router::RouterAnswer answer;
        answer.lanAddress = routeAddress_;
        return answer;
    }

    void forget()
    {
        method_ = Method::None;
        found_ = {};
        if (haveUrls_)
            FreeUPNPUrls(&urls_);
        haveUrls_ = false;
        urls_ = {};
        data_ = {};
    }

    Clock::time_point natpmpDeadline() const { return Clock::now() + std::chrono::milliseconds(options_.natpmpWaitMs); }

    bool discoverNatpmp()
    {
        natpmp_t session{};
        if (::initnatpmp(&session, 0, 0) < 0)
            return false; // no default gateway
        natpmpresp_t response{};
        int r = ::sendpublicaddressrequest(&session);
        if (r >= 0)
            r = natpmpAnswer(session, response, natpmpDeadline());
        std::string lan;
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (::getsockname(session.s, reinterpret_cast<sockaddr *>(&local), &length) == 0 && local.sin_addr.s_addr != 0)
            lan = dottedQuad(local.sin_addr.s_addr);
        routeAddress_ = lan; // the socket is connected to the gateway: the route's own source
        ::closenatpmp(&session);
        if (r < 0 || response.type != NATPMP_RESPTYPE_PUBLICADDRESS)
            return false;
        method_ = Method::NatPmp;
        found_.answered = true;
        found_.method = "NAT-PMP";
        found_.externalAddress = dottedQuad(response.pnu.publicaddress.addr.s_addr);
        found_.lanAddress = lan;
        return true;
    }

    // One mapping request; lifetime 0 removes. Nothing when the router did not answer.
    std::optional<natpmpresp_t> natpmpMapping(const router::LinkPort &port, std::uint16_t external,
                                              std::uint32_t lifetime, int &result)
    {
        natpmp_t session{};
        if (::initnatpmp(&session, 0, 0) < 0)
            return std::nullopt;
        const int protocol = port.protocol == router::Protocol::Udp ? NATPMP_PROTOCOL_UDP : NATPMP_PROTOCOL_TCP;
        natpmpresp_t response{};
        result = ::sendnewportmappingrequest(&session, protocol, port.port, external, lifetime);
        if (result >= 0)
            result = natpmpAnswer(session, response, natpmpDeadline());
        ::closenatpmp(&session);
        // Silence, or an answer that is no answer to this request: as good as no router. A
        // refusal carries the router's result code.
        if (result < 0 && response.resultcode == 0)
            return std::nullopt;
        return response;
    }

    std::optional<router::PortAnswer> mapNatpmp(const router::LinkPort &port)
    {
        int result = 0;
        const std::optional<natpmpresp_t> response = natpmpMapping(port, port.port, options_.leaseSeconds, result);
        if (!response)
            return std::nullopt;
        if (result < 0)
            return router::PortAnswer{port, router::PortOutcome::Refused, response->resultcode};
        if (response->pnu.newportmapping.mappedpublicport != port.port) {
            // Another machine holds the port: the router offered another one, which is of no
            // use to a friend who types the fixed one. Give it back at once.
            int ignored = 0;
            natpmpMapping(port, 0, 0, ignored);
            return router::PortAnswer{port, router::PortOutcome::Conflict, 0};
        }
        grantedLease_ = response->pnu.newportmapping.lifetime;
        return router::PortAnswer{port, router::PortOutcome::Mapped, 0};
    }

    bool unmapNatpmp(const router::LinkPort &port)
    {
        int result = 0;
        return natpmpMapping(port, 0, 0, result).has_value() && result >= 0;
    }

    bool discoverUpnp()
    {
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
        char lan[64] = {};
        const int igd = validIgd(devices, urls_, data_, lan, sizeof lan);
        ::freeUPNPDevlist(devices);
        if (igd == 0)
            return false;
        haveUrls_ = true;
        char external[40] = {};
        if (igd < 0 || !urls_.controlURL ||
            ::UPNP_GetExternalIPAddress(urls_.controlURL, data_.first.servicetype, external) != UPNPCOMMAND_SUCCESS) {
            forget();
            return false;
        }
        method_ = Method::Upnp;
        found_.answered = true;
        found_.method = "UPnP IGD";
        found_.externalAddress = external;
        found_.lanAddress = lan;
        return true;
    }

    int addUpnp(const router::LinkPort &port, const char *lease)
    {
        const std::string number = std::to_string(port.port);
        return ::UPNP_AddPortMapping(urls_.controlURL, data_.first.servicetype, number.c_str(), number.c_str(),
                                     found_.lanAddress.c_str(), kDescription, router::protocolName(port.protocol),
                                     nullptr, lease);
    }

    std::optional<router::PortAnswer> mapUpnp(const router::LinkPort &port, bool &permanentOnly)
    {
        const std::string lease = std::to_string(options_.leaseSeconds);
        int r = addUpnp(port, permanentOnly ? "0" : lease.c_str());
        if (r == kUpnpOnlyPermanent) {
            permanentOnly = true;
            r = addUpnp(port, "0");
        }
        if (r == kUpnpConflict && heldByThisMachine(port)) {
            // Left by an earlier run of ours that did not end cleanly: made afresh.
            unmapUpnp(port);
            r = addUpnp(port, permanentOnly ? "0" : lease.c_str());
        }
        if (r < 0)
            return std::nullopt; // no answer, or not one a router gives
        if (r == UPNPCOMMAND_SUCCESS) {
            grantedLease_ = permanentOnly ? 0 : options_.leaseSeconds;
            return router::PortAnswer{port, router::PortOutcome::Mapped, 0};
        }
        return router::PortAnswer{port, r == kUpnpConflict || r == kUpnpOtherMechanism ? router::PortOutcome::Conflict : router::PortOutcome::Refused, r};
    }

    bool heldByThisMachine(const router::LinkPort &port)
    {
        const std::string number = std::to_string(port.port);
        char client[40] = {}, internalPort[6] = {}, description[80] = {}, enabled[4] = {}, duration[16] = {};
        const int r = ::UPNP_GetSpecificPortMappingEntry(urls_.controlURL, data_.first.servicetype, number.c_str(),
                                                         router::protocolName(port.protocol), nullptr, client,
                                                         internalPort, description, enabled, duration);
        return r == UPNPCOMMAND_SUCCESS && found_.lanAddress == client && number == internalPort;
    }

    bool unmapUpnp(const router::LinkPort &port)
    {
        const std::string number = std::to_string(port.port);
        return ::UPNP_DeletePortMapping(urls_.controlURL, data_.first.servicetype, number.c_str(),
                                        router::protocolName(port.protocol), nullptr) == UPNPCOMMAND_SUCCESS;
    }

    RouterOptions options_;
    Method method_ = Method::None;
    router::RouterAnswer found_;
    UPNPUrls urls_{};
    IGDdatas data_{};
    bool haveUrls_ = false;
    std::vector<router::LinkPort> mapped_;
    std::uint32_t grantedLease_ = 0;
    std::string routeAddress_;
};

} // namespace

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
    : QObject(parent), shared_(std::make_shared<Shared>())
{
    shared_->owner = this;
    renewTimer_.setSingleShot(true);
    connect(&renewTimer_, &QTimer::timeout, this, [this] {
        if (wanted_)
            post(JobOpen);
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
                if (job == JobDiscover) {
                    answer = client.discover();
                } else if (job == JobOpen) {
                    answer = client.open();
                    stage = Stage::Opened;
                } else {
                    answer = client.close();
                    stage = Stage::Closed;
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

RouterPortMapper::~RouterPortMapper() { shutdown(std::chrono::milliseconds(3000)); }

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
    if (done)
        shared_->worker.join();
    else
        shared_->worker.detach(); // a router that hangs does not hold up the end
}

void RouterPortMapper::answered(Stage stage, const router::RouterAnswer &answer, std::uint32_t lease)
{
    if (stage == Stage::Opened && wanted_ && lease > 0) {
        bool anyMapped = false;
        for (const router::PortAnswer &port : answer.ports)
            anyMapped = anyMapped || port.outcome == router::PortOutcome::Mapped;
        if (anyMapped)
            renewTimer_.start(std::chrono::seconds(std::max<std::uint32_t>(lease / 2, 30)));
    }
    if (onAnswer)
        onAnswer(stage, answer);
}

} // namespace bramblet
