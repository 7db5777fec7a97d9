#include "core/speedtest.h"

#include "core/wireint.h"

#include <algorithm>
#include <cstdlib>

namespace bramblet::speedtest {

namespace {

using wire::getInt32;
using wire::putInt32;

std::array<std::uint8_t, 8> typeAndSequence(DatagramType type, std::int32_t sequence)
{
    std::array<std::uint8_t, 8> out{};
    putInt32(out.data(), static_cast<std::int32_t>(type));
    putInt32(out.data() + 4, sequence);
    return out;
}

const char *const Grades[] = {
    BRAMBLET_TRANSLATE_NOOP("speedtest", "极好"), BRAMBLET_TRANSLATE_NOOP("speedtest", "很好"),
    BRAMBLET_TRANSLATE_NOOP("speedtest", "良好"), BRAMBLET_TRANSLATE_NOOP("speedtest", "一般"),
    BRAMBLET_TRANSLATE_NOOP("speedtest", "差"),   BRAMBLET_TRANSLATE_NOOP("speedtest", "非常差")};

// The grade for a value: the first bound it stays below, else the last grade.
std::string grade(std::int32_t value, const std::array<std::int32_t, 5> &bounds)
{
    for (std::size_t i = 0; i < bounds.size(); ++i)
        if (value < bounds[i])
            return Grades[i];
    return Grades[bounds.size()];
}

} // namespace

std::optional<Datagram> parseDatagram(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 4)
        return std::nullopt;
    const std::int32_t type = getInt32(bytes.data());
    switch (type) {
    case static_cast<std::int32_t>(DatagramType::SpeedOpen):
        return Datagram{DatagramType::SpeedOpen, 0};
    case static_cast<std::int32_t>(DatagramType::SpeedProbe):
    case static_cast<std::int32_t>(DatagramType::SpeedEcho):
        if (bytes.size() < 8)
            return std::nullopt;
        return Datagram{static_cast<DatagramType>(type), getInt32(bytes.data() + 4)};
    default:
        return std::nullopt;
    }
}

std::array<std::uint8_t, SpeedOpenSize> encodeSpeedOpen()
{
    std::array<std::uint8_t, SpeedOpenSize> out{};
    putInt32(out.data(), static_cast<std::int32_t>(DatagramType::SpeedOpen));
    return out;
}

std::array<std::uint8_t, SpeedProbeSize> encodeSpeedProbe(std::int32_t sequence)
{
    return typeAndSequence(DatagramType::SpeedProbe, sequence);
}

std::array<std::uint8_t, SpeedEchoSize> encodeSpeedEcho(std::int32_t sequence)
{
    return typeAndSequence(DatagramType::SpeedEcho, sequence);
}

std::string countdownText(std::int32_t seconds, const texts::Translator &translator)
{
    return translator("speedtest", CountdownBefore) + std::to_string(seconds) + translator("speedtest", CountdownAfter);
}

std::string speedGrade(std::int32_t averageMs) { return grade(averageMs, {30, 50, 70, 100, 150}); }

std::string stabilityGrade(std::int32_t deviationMs) { return grade(deviationMs, {5, 10, 20, 30, 50}); }

std::string lossGrade(std::int32_t echoes)
{
    if (echoes == 10)
        return BRAMBLET_TRANSLATE_NOOP("speedtest", "没有丢包");
    if (echoes >= 9)
        return BRAMBLET_TRANSLATE_NOOP("speedtest", "有少量丢包");
    if (echoes >= 8)
        return BRAMBLET_TRANSLATE_NOOP("speedtest", "有很多丢包");
    if (echoes == 0)
        return NoEchoText;
    return BRAMBLET_TRANSLATE_NOOP("speedtest", "有大量丢包");
}

void SpeedTest::reset() noexcept
{
    ProbesSent = 0;
    EchoesReceived = 0;
    RttSum = 0;
    Rtt.fill(-1);
}

void SpeedTest::probeSent(std::int64_t nowMs) noexcept
{
    if (ProbesSent < ProbeCount)
        ++ProbesSent;
    ProbeStamp = nowMs;
}

bool SpeedTest::echoReceived(std::int32_t sequence, std::int64_t nowMs) noexcept
{
    if (ProbesSent < 1 || ProbesSent > ProbeCount || sequence != ProbesSent - 1)
        return false;
    auto &slot = Rtt[static_cast<std::size_t>(sequence)];
    if (slot != -1)
        return false; // this probe has been answered already
    const std::int64_t elapsed = std::clamp<std::int64_t>(nowMs - ProbeStamp, 0, MaxRttMs);
    const auto rtt = static_cast<std::int32_t>(elapsed);
    ++EchoesReceived;
    RttSum += rtt;
    slot = rtt;
    return true;
}

Rating SpeedTest::rating() const
{
    Rating r;
    if (EchoesReceived <= 0) {
        r.speed = NoEchoText;
        r.stability = NoEchoText;
    } else {
        const std::int32_t average = RttSum / EchoesReceived;
        r.speed = speedGrade(average);
        std::int64_t deviationSum = 0;
        for (const std::int32_t slot : Rtt)
            if (slot != -1)
                deviationSum += std::llabs(static_cast<long long>(slot) - average);
        r.stability = stabilityGrade(static_cast<std::int32_t>(deviationSum / EchoesReceived));
    }
    r.loss = lossGrade(EchoesReceived);
    return r;
}

} // namespace bramblet::speedtest
