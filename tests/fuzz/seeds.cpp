#include "fuzztargets.h"

#include "../support/PeImageWriter.h"

#include "core/negotiation.h"
#include "core/playerchannel.h"
#include "core/speedtest.h"

namespace bramblet::fuzz {

namespace {

using Bytes = std::vector<std::uint8_t>;

template <class C>
Bytes join(std::initializer_list<C> parts)
{
    Bytes out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes record(std::uint8_t flag, std::uint8_t command, std::size_t payloadSize)
{
    Bytes payload(payloadSize);
    for (std::size_t i = 0; i < payloadSize; ++i)
        payload[i] = static_cast<std::uint8_t>(i * 31);
    return playerchannel::encodeRecord(flag, command, payload);
}

} // namespace

std::vector<std::vector<std::uint8_t>> seeds(std::string_view target)
{
    using namespace bramblet::negotiation;
    using namespace bramblet::speedtest;
    std::vector<Bytes> out;
    if (target == "negotiation") {
        const auto hello = encode(NegHello{2});
        const auto address = encode(NegAddress{"192.168.10.200"});
        const auto port = encode(NegPortRequest{});
        out.push_back(hello);
        out.push_back(address);
        out.push_back(port);
        out.push_back(join({hello, address, port}));
        out.push_back(join({address, address, Bytes{7, 0, 0, 0}, hello}));
    } else if (target == "speedtest") {
        const auto open = encodeSpeedOpen();
        out.emplace_back(open.begin(), open.end());
        const auto probe = encodeSpeedProbe(3);
        out.emplace_back(probe.begin(), probe.end());
        const auto echo = encodeSpeedEcho(9);
        out.emplace_back(echo.begin(), echo.end());
        // A run: ten probes each echoed, with a repeat and a late echo.
        Bytes run{0, 0, 0};
        for (std::uint8_t i = 0; i < 10; ++i)
            run.insert(run.end(), {1, 5, 0, 2, i, 20, 3, i, 30, 2, static_cast<std::uint8_t>(i + 1), 9});
        out.push_back(run);
    } else if (target == "playerchannel") {
        out.push_back(record(1, 2, 10));
        out.push_back(join({record(1, 2, 0), record(5, 6, 300), record(0, 3, 0), record(1, 1, 4)}));
        out.push_back(join({record(0, 2, 5), record(1, 3, 5)}));
        out.push_back(record(2, 2, 4000));
    } else if (target == "peversion") {
        using namespace bramblet::test;
        out.push_back(buildPe(simpleVersionBlock("1.2.0.1")));
        out.push_back(buildPe(simpleVersionBlock("2.0", 0x0409, 0x04E4), PeOptions{.pe32Plus = true}));
        out.push_back(buildPe(simpleVersionBlock("3"), PeOptions{.codeSectionFirst = false, .namedTypeFirst = true}));
        out.push_back(simpleVersionBlock("1.2.0.1"));
    }
    return out;
}

} // namespace bramblet::fuzz
