#pragma once

// The player channel on TCP port 11881: XOR-scrambled records, each a 24-byte header and a
// payload whose length stands at offset 2, most significant byte first.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace bramblet::playerchannel {

inline constexpr std::uint16_t Port = 11881;

inline constexpr std::size_t HeaderSize = 24;
inline constexpr std::size_t MaxPayloadSize = 65535;
inline constexpr std::size_t MaxRecordSize = HeaderSize + MaxPayloadSize;

// The scramble key. The peers of the channel use the same four bytes; change them here and
// nowhere else.
inline constexpr std::uint8_t ChannelKeyByte0 = 0x4B;
inline constexpr std::uint8_t ChannelKeyByte1 = 0x1D;
inline constexpr std::uint8_t ChannelKeyByte2 = 0xA7;
inline constexpr std::uint8_t ChannelKeyByte3 = 0x62;
inline constexpr std::array<std::uint8_t, 4> ChannelKey{ChannelKeyByte0, ChannelKeyByte1, ChannelKeyByte2,
                                                        ChannelKeyByte3};

// XORs byte i of a record (counted from its first header byte) with key byte i mod 4, in
// place. The same call scrambles and unscrambles.
void scramble(std::span<std::uint8_t> record) noexcept;

// A reset record has flag 0 and command 3; every other pair is an ordinary record.
inline constexpr std::uint8_t ResetFlag = 0;
inline constexpr std::uint8_t ResetCommand = 3;
constexpr bool isResetRecord(std::uint8_t flag, std::uint8_t command)
{
    return flag == ResetFlag && command == ResetCommand;
}

// A scrambled record as a peer sends it: flag, command, the payload length, `furtherHeader`
// (20 bytes, zeros when empty) and the payload. Throws bramblet::Error for a payload over
// 65535 bytes or a further header that is neither empty nor 20 bytes.
std::vector<std::uint8_t> encodeRecord(std::uint8_t flag, std::uint8_t command,
                                       std::span<const std::uint8_t> payload,
                                       std::span<const std::uint8_t> furtherHeader = {});

// One whole record, unscrambled in place, header included.
struct Record {
    std::span<std::uint8_t> bytes; // HeaderSize + payloadLength bytes; valid during the sink call only
    std::uint16_t payloadLength = 0;
    bool reset = false;            // flag 0 and command 3

    std::uint8_t flag() const { return bytes[0]; }
    std::uint8_t command() const { return bytes[1]; }
    std::span<std::uint8_t> payload() const { return bytes.subspan(HeaderSize); }
};

using RecordSink = std::function<void(const Record &)>;

// Cuts one connection's byte stream into records. A record split over several reads waits
// for the rest; several records in one read come out in stream order; nothing is ever taken
// from another read than the ones that carried it. Records of every length the header allows
// pass. A reset record is handed on and ends the feed: the rest of that read and anything
// buffered are dropped (the connection is to be closed).
//
// The record bytes handed to the sink lie in the framer's own buffer, unscrambled, and may be
// passed to a C library that takes a pointer to the record; they stay valid until the sink
// returns. An exception from the sink leaves the framer consistent: the records after the
// failing one are still buffered for the next feed.
//
// The sink is any callable taking `const Record &` (a RecordSink among them); it is called
// directly, not through a std::function, as a stream of small records calls it at every
// few dozen bytes.
class RecordFramer {
public:
    template <class Sink>
    void feed(std::span<const std::uint8_t> bytes, Sink &&sink)
    {
        if (bytes.empty())
            return;
        if (!backlog_.empty()) {
            // What a failing sink left behind goes first, in stream order.
            const std::vector<std::uint8_t> backlog = std::move(backlog_);
            backlog_.clear();
            try {
                if (!cut(backlog, sink))
                    return;
            } catch (...) {
                backlog_.insert(backlog_.end(), bytes.begin(), bytes.end());
                throw;
            }
        }
        cut(bytes, sink);
    }

    // Forgets any partial record.
    void reset() noexcept
    {
        buffer_ = {};
        backlog_ = {};
    }

    // Bytes waiting: an unfinished record, and what a failing sink left unread.
    std::size_t buffered() const noexcept { return buffer_.size() + backlog_.size(); }

    // Bytes of memory the framer holds: it grows with the record under way, not ahead of it.
    std::size_t held() const noexcept { return buffer_.capacity() + backlog_.capacity(); }

private:
    // False once a reset record has ended the feed.
    template <class Sink>
    bool cut(std::span<const std::uint8_t> bytes, Sink &sink)
    {
        while (!bytes.empty()) {
            if (!gather(bytes))
                continue; // the rest comes with a later read
            const std::span<std::uint8_t> record(buffer_);
            const Record r{record, static_cast<std::uint16_t>(record.size() - HeaderSize),
                           isResetRecord(record[0], record[1])};
            // The record's bytes stay in place while the sink runs; it is done with either way.
            try {
                sink(r);
            } catch (...) {
                sinkFailed(bytes, r.reset);
                throw;
            }
            buffer_.clear();
            if (r.reset) {
                // The connection closes: nothing after the reset is handed on.
                fitBuffer();
                return false;
            }
        }
        fitBuffer();
        return true;
    }

    // Moves bytes of the record under way from the front of `bytes` into the buffer; true
    // when the buffer then holds the whole record, unscrambled.
    bool gather(std::span<const std::uint8_t> &bytes);
    // The sink failed on the record in the buffer; `rest` is what followed it in the read.
    void sinkFailed(std::span<const std::uint8_t> rest, bool reset);
    void append(std::span<const std::uint8_t> bytes, std::size_t recordSize);
    void fitBuffer();

    std::vector<std::uint8_t> buffer_;  // the record under way, still scrambled until whole
    std::vector<std::uint8_t> backlog_; // the rest of a read whose sink failed
};

} // namespace bramblet::playerchannel
