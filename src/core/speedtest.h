#pragma once

// The link speed test on UDP port 5739: its datagrams, its counters and the rating of the
// link in three words.
//
// Integers on the wire are 32-bit signed, least significant byte first. Times are whole
// milliseconds of a monotonic clock that the owner reads and hands in, so a clock change or
// a month turn never bends a round-trip time.

#include "core/texts.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>

namespace bramblet::speedtest {

inline constexpr std::uint16_t Port = 5739;
inline constexpr std::int32_t ProbeCount = 10;

enum class DatagramType : std::int32_t {
    SpeedOpen = 0,  // CLIENT to SERVER, 4 bytes: opens the test and shows the CLIENT's UDP port
    SpeedProbe = 1, // 8 bytes: type, sequence number 0 to 9
    SpeedEcho = 2,  // 8 bytes: type, the sequence number of the probe answered
};

inline constexpr std::size_t SpeedOpenSize = 4;
inline constexpr std::size_t SpeedProbeSize = 8;
inline constexpr std::size_t SpeedEchoSize = 8;

struct Datagram {
    DatagramType type = DatagramType::SpeedOpen;
    std::int32_t sequence = 0; // 0 for a SpeedOpen
    friend bool operator==(const Datagram &, const Datagram &) = default;
};

// Reads a received datagram. Nothing for an unknown type, for fewer than 4 bytes, or for a
// probe or echo of fewer than 8 bytes; such datagrams are ignored. Bytes beyond the type's
// size are not read.
std::optional<Datagram> parseDatagram(std::span<const std::uint8_t> bytes);

std::array<std::uint8_t, SpeedOpenSize> encodeSpeedOpen();                     // 00 00 00 00
std::array<std::uint8_t, SpeedProbeSize> encodeSpeedProbe(std::int32_t sequence); // 01 00 00 00 seq
std::array<std::uint8_t, SpeedEchoSize> encodeSpeedEcho(std::int32_t sequence);   // 02 00 00 00 seq

// The three rating words of a finished test.
struct Rating {
    std::string speed;     // SpeedRating
    std::string stability; // StabilityRating
    std::string loss;      // LossRating
    friend bool operator==(const Rating &, const Rating &) = default;
};

// Texts, UTF-8, translated in the context "speedtest" where they are shown; so are the
// grades below, which the rating hands out as these source texts.
inline constexpr const char *StartStatusText = BRAMBLET_TRANSLATE_NOOP("speedtest", "测试速度，请等待10秒钟...");
inline constexpr const char *CountdownBefore = BRAMBLET_TRANSLATE_NOOP("speedtest", "测试速度，请等待");
inline constexpr const char *CountdownAfter = BRAMBLET_TRANSLATE_NOOP("speedtest", "秒钟...");
inline constexpr const char *NoEchoText = BRAMBLET_TRANSLATE_NOOP("speedtest", "对方Bramblet版本太低或者网络不通");
inline constexpr const char *DoneButtonCaption = BRAMBLET_TRANSLATE_NOOP("speedtest", "确定");

// "测试速度，请等待" + seconds + "秒钟...".
std::string countdownText(std::int32_t seconds, const texts::Translator &translator = texts::untranslated);

// The grade tables, exposed for their edges. Speed: average round-trip time in ms; below 30
// "极好", below 50 "很好", below 70 "良好", below 100 "一般", below 150 "差", else "非常差".
std::string speedGrade(std::int32_t averageMs);
// Mean absolute deviation in ms: below 5, 10, 20, 30, 50 as above, else "非常差".
std::string stabilityGrade(std::int32_t deviationMs);
// Echo count: exactly 10 "没有丢包", 9 or more "有少量丢包", 8 or more "有很多丢包", 0 the
// no-echo text, any other "有大量丢包".
std::string lossGrade(std::int32_t echoes);

// The counters of one test. The owner keeps one of these for the program and drives it from
// the tick timer and the UDP handler:
//   start (CLIENT on NegPortRequest, SERVER on SpeedOpen): reset()
//   tick:  if (!allProbesSent()) { show countdownCaption(); send encodeSpeedProbe(nextSequence());
//                                  probeSent(now); }  else { rating(); success }
//   echo:  echoReceived(sequence, now)
class SpeedTest {
public:
    SpeedTest() { reset(); }

    // ProbesSent, EchoesReceived and RttSum to 0, every Rtt slot to -1; ProbeStamp stays.
    void reset() noexcept;

    bool allProbesSent() const noexcept { return ProbesSent >= ProbeCount; }
    // The sequence number of the next probe (ProbesSent).
    std::int32_t nextSequence() const noexcept { return ProbesSent; }
    // The countdown caption of the next tick: 10 before the first probe, 1 before the tenth.
    std::string countdownCaption(const texts::Translator &translator = texts::untranslated) const
    {
        return countdownText(ProbeCount - ProbesSent, translator);
    }

    // The probe nextSequence() has just been handed to the socket at `nowMs`.
    void probeSent(std::int64_t nowMs) noexcept;

    // An echo arrived at `nowMs`. It counts only when it answers the latest probe and that
    // probe has not been answered yet; the round-trip time is then nowMs - ProbeStamp, never
    // below 0 and capped so that RttSum cannot overflow. Returns whether it counted.
    bool echoReceived(std::int32_t sequence, std::int64_t nowMs) noexcept;

    // The three words from the counters as they stand. With no echo the speed and stability
    // words are the no-echo text; otherwise the average is RttSum / EchoesReceived and the
    // deviation the sum of |Rtt[i] - average| over the filled slots, divided by
    // EchoesReceived (both truncating).
    Rating rating() const;

    std::int32_t ProbesSent = 0;     // probes sent; also the sequence number of the next one
    std::int32_t EchoesReceived = 0; // echoes counted
    std::int32_t RttSum = 0;         // sum of the counted round-trip times, ms
    std::array<std::int32_t, ProbeCount> Rtt{}; // by sequence number; -1 = no echo counted
    std::int64_t ProbeStamp = 0;     // clock reading just after the latest probe was sent

    // The largest round-trip time counted, so that ten of them still fit RttSum.
    static constexpr std::int32_t MaxRttMs = std::numeric_limits<std::int32_t>::max() / ProbeCount;
};

} // namespace bramblet::speedtest
