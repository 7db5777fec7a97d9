#include "fuzztargets.h"

#include "core/speedtest.h"

#include <algorithm>

namespace bramblet::fuzz {

using namespace bramblet::speedtest;

namespace {

void checkCounters(const SpeedTest &t)
{
    FUZZ_CHECK(t.ProbesSent >= 0 && t.ProbesSent <= ProbeCount);
    FUZZ_CHECK(t.EchoesReceived >= 0 && t.EchoesReceived <= t.ProbesSent);
    std::int64_t sum = 0;
    int filled = 0;
    for (std::int32_t slot : t.Rtt) {
        FUZZ_CHECK(slot >= -1);
        if (slot != -1) {
            sum += slot;
            ++filled;
        }
    }
    FUZZ_CHECK(filled == t.EchoesReceived);
    FUZZ_CHECK(sum == t.RttSum);
    const Rating r = t.rating();
    FUZZ_CHECK(!r.speed.empty() && !r.stability.empty() && !r.loss.empty());
}

} // namespace

int speedTest(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);

    // The datagram parser: whatever it accepts re-encodes to the bytes it read.
    if (const auto d = parseDatagram(input)) {
        switch (d->type) {
        case DatagramType::SpeedOpen: {
            const auto bytes = encodeSpeedOpen();
            FUZZ_CHECK(size >= bytes.size() && std::equal(bytes.begin(), bytes.end(), data));
            break;
        }
        case DatagramType::SpeedProbe:
        case DatagramType::SpeedEcho: {
            const auto bytes = d->type == DatagramType::SpeedProbe ? encodeSpeedProbe(d->sequence)
                                                                   : encodeSpeedEcho(d->sequence);
            FUZZ_CHECK(size >= bytes.size() && std::equal(bytes.begin(), bytes.end(), data));
            break;
        }
        }
    } else {
        FUZZ_CHECK(size < 8 || (data[0] > 2 || data[1] || data[2] || data[3]));
    }

    // The same bytes as a run of the test: ticks, echoes (also late, early and repeated),
    // resets and a clock that may stand still or go back.
    SpeedTest t;
    std::int64_t now = 0;
    for (std::size_t i = 0; i + 2 < size; i += 3) {
        const std::uint8_t op = data[i] % 5;
        const std::uint8_t a = data[i + 1];
        const std::uint8_t b = data[i + 2];
        switch (op) {
        case 0:
            t.reset();
            break;
        case 1:
            if (!t.allProbesSent()) {
                FUZZ_CHECK(!t.countdownCaption().empty());
                now += a * 10;
                t.probeSent(now);
            }
            break;
        case 2:
        case 3: {
            const std::int32_t sequence = static_cast<std::int32_t>(a % 14) - 2;
            const std::int32_t before = t.EchoesReceived;
            const std::int64_t expected = std::clamp<std::int64_t>(now + b - t.ProbeStamp, 0, SpeedTest::MaxRttMs);
            const bool counted = t.echoReceived(sequence, now + b);
            FUZZ_CHECK(counted == (t.EchoesReceived == before + 1));
            if (counted)
                FUZZ_CHECK(t.Rtt[static_cast<std::size_t>(sequence)] == expected);
            break;
        }
        default:
            now -= std::int64_t{a} * 1000 * b; // a clock set back
            break;
        }
        checkCounters(t);
    }
    return 0;
}

} // namespace bramblet::fuzz
